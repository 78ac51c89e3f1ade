#pragma once

#include <cstddef>
#include <string_view>

namespace quorvel {

// Counts the characters a reader sees in UTF-8 text: grapheme clusters, not bytes or code points.
// A base character with its combining marks, variation selectors and emoji modifiers is one;
// emoji joined by U+200D ZERO WIDTH JOINER are one; two regional indicators (a flag) are one; a
// Hangul syllable written as jamo is one; CR LF is one. An invalid byte counts as one character.
std::size_t userPerceivedLength(std::string_view utf8);

} // namespace quorvel
