#pragma once

#include "base/FileURL.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// An application bundle on disk: Name.app/Contents/Info.plist and Contents/MacOS/<executable>.
struct BundleInfo {
    FileURL bundleURL;
    std::optional<std::string> identifier;     // CFBundleIdentifier
    std::optional<std::string> executableName; // CFBundleExecutable
    // Every top-level string value of the information dictionary.
    std::map<std::string, std::string> strings;

    bool operator==(const BundleInfo&) const = default;

    // Contents/MacOS/<executable>; absent when the bundle names no executable.
    std::optional<FileURL> executableURL() const;
    std::optional<std::string> string(std::string_view key) const;
};

// Reads the bundle's information dictionary (XML or binary property list); nothing when the
// bundle has no readable Info.plist.
std::optional<BundleInfo> readBundle(const FileURL& bundleURL);

// The bundle an executable lies in (three components up from Contents/MacOS/<executable>), or,
// for an executable outside any bundle, the folder that holds it.
FileURL bundleURLForExecutable(const FileURL& executable);

// This process's executable, as the kernel names it, and the bundle it lies in.
FileURL currentExecutableURL();
FileURL mainBundleURL();

} // namespace quorvel
