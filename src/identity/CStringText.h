#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The text of UTF-8 bytes, with every ill-formed sequence replaced by U+FFFD (one replacement per
// maximal ill-formed subpart, as the Unicode standard recommends).
std::string repairedUTF8(std::string_view bytes);

// The repaired text of a NUL-terminated C string, when its length (in UTF-8 bytes, after repair)
// is at most `maxLength`; nothing for a null pointer or a longer text. A longer string is not read
// past the limit: repair never makes a text shorter.
std::optional<std::string> cStringText(const char* text, std::size_t maxLength);

} // namespace quorvel
