#pragma once

// The manifest of a signed bundle: every entry below the bundle directory (the signature folder
// itself excepted) with its kind and, for files, its SHA-256; links with their target text.
//
// Text form, one line per entry after a header line, sorted by path (bytewise), no duplicates:
//
//     quorvel-codesign manifest 1
//     directory<TAB>-<TAB>Contents
//     file<TAB><sha256 hex><TAB>Contents/Info.plist
//     executable<TAB><sha256 hex><TAB>Contents/MacOS/Quorvel
//     link<TAB><target><TAB>Contents/Frameworks/libQuorvelShellBridge.so
//
// Paths are relative to the bundle directory. In paths and targets the bytes "%", TAB, LF, CR and
// the other control characters are written as "%XX" (upper-case hex); nothing else is escaped, so
// every manifest has exactly one text form.

#include <optional>
#include <string>
#include <vector>

namespace quorvel::codesign {

struct ManifestEntry {
    enum class Kind { directory, file, executable, link };
    Kind kind = Kind::file;
    std::string path;   // relative, "/"-separated, no "." or ".." components
    std::string digest; // 64 lower-case hex digits for files and executables; "" otherwise
    std::string target; // the link's target text for links; "" otherwise

    bool operator==(const ManifestEntry&) const = default;
};

struct BundleManifest {
    std::vector<ManifestEntry> entries; // sorted by path

    bool operator==(const BundleManifest&) const = default;

    std::string encode() const;
    // Nothing unless the text is a manifest in its one canonical form.
    static std::optional<BundleManifest> decode(const std::string& text);
};

std::string escapeManifestField(const std::string& raw);
std::optional<std::string> unescapeManifestField(const std::string& escaped);

} // namespace quorvel::codesign
