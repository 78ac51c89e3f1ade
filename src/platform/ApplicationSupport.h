#pragma once

#include "base/FileURL.h"

#include <optional>

namespace quorvel {

// The user's application-support directory: $XDG_DATA_HOME when it is an absolute path, else
// $HOME/.local/share; absent when neither is usable.
std::optional<FileURL> userApplicationSupportDirectory();

// "<application support>/com.quorvel.desktop": the folder of this system's own files.
std::optional<FileURL> quorvelApplicationSupportFolder();

inline constexpr const char* hostBundleIdentifier = "com.quorvel.desktop";
inline constexpr const char* logSubsystem = "com.quorvel.desktop";

} // namespace quorvel
