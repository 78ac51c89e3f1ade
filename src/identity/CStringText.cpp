#include "identity/CStringText.h"

#include <cstring>

namespace quorvel {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

bool isContinuation(unsigned char c) {
    return c >= 0x80 && c <= 0xBF;
}

// The length of the well-formed sequence at `at` (Unicode table 3-7), or, when it is ill-formed,
// 0 and in `subpart` the length of its maximal ill-formed subpart (at least 1).
std::size_t sequenceLength(std::string_view bytes, std::size_t at, std::size_t& subpart) {
    auto c = static_cast<unsigned char>(bytes[at]);
    subpart = 1;
    if (c < 0x80)
        return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF; // bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0)
            low = 0xA0;
        if (c == 0xED)
            high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0)
            low = 0x90;
        if (c == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= bytes.size())
            return 0;
        auto next = static_cast<unsigned char>(bytes[at + i]);
        bool fits = i == 1 ? (next >= low && next <= high) : isContinuation(next);
        if (!fits)
            return 0;
        subpart = i + 1;
    }
    return length;
}

} // namespace

std::string repairedUTF8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t subpart = 1;
        std::size_t length = sequenceLength(bytes, at, subpart);
        if (length) {
            text.append(bytes.substr(at, length));
            at += length;
        } else {
            text.append(replacement);
            at += subpart;
        }
    }
    return text;
}

std::optional<std::string> cStringText(const char* text, std::size_t maxLength) {
    if (!text)
        return std::nullopt;
    std::size_t length = ::strnlen(text, maxLength + 1);
    if (length > maxLength)
        return std::nullopt;
    auto repaired = repairedUTF8(std::string_view(text, length));
    if (repaired.size() > maxLength)
        return std::nullopt;
    return repaired;
}

} // namespace quorvel
