#pragma once

#include <string_view>

namespace quorvel {

// Whether the bytes are well-formed UTF-8: no overlong form, no surrogate, nothing past U+10FFFF,
// no sequence cut short.
bool isValidUtf8(std::string_view text);

} // namespace quorvel
