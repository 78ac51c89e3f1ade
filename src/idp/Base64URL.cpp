#include "idp/Base64URL.h"

#include <array>

namespace quorvel::idp {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr std::array<std::int8_t, 256> makeDecodeTable() {
    std::array<std::int8_t, 256> table{};
    for (auto& entry : table)
        entry = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr auto decodeTable = makeDecodeTable();

} // namespace

std::string base64URLEncode(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve((bytes.size() * 4 + 2) / 3);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t block =
            (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        text.push_back(alphabet[(block >> 18) & 63]);
        text.push_back(alphabet[(block >> 12) & 63]);
        text.push_back(alphabet[(block >> 6) & 63]);
        text.push_back(alphabet[block & 63]);
    }
    std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        std::uint32_t block = std::uint32_t{bytes[i]} << 16;
        text.push_back(alphabet[(block >> 18) & 63]);
        text.push_back(alphabet[(block >> 12) & 63]);
    } else if (rest == 2) {
        std::uint32_t block = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8);
        text.push_back(alphabet[(block >> 18) & 63]);
        text.push_back(alphabet[(block >> 12) & 63]);
        text.push_back(alphabet[(block >> 6) & 63]);
    }
    return text;
}

std::string base64URLEncode(std::string_view bytes) {
    return base64URLEncode(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::optional<Bytes> base64URLDecode(std::string_view text) {
    if (text.size() % 4 == 1)
        return std::nullopt;
    Bytes bytes;
    bytes.reserve(text.size() * 3 / 4);
    std::uint32_t block = 0;
    int bits = 0;
    for (char c : text) {
        std::int8_t value = decodeTable[static_cast<unsigned char>(c)];
        if (value < 0)
            return std::nullopt;
        block = (block << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<std::uint8_t>((block >> bits) & 0xFF));
        }
    }
    // Leftover bits (2 or 4) belong to no byte; a canonical encoding leaves them zero.
    if (bits > 0 && (block & ((1u << bits) - 1)) != 0)
        return std::nullopt;
    return bytes;
}

} // namespace quorvel::idp
