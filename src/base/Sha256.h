#pragma once

#include "base/Expected.h"
#include "base/FileURL.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace quorvel {

// SHA-256 (FIPS 180-4), fed in pieces. Our own, so that the launcher, which digests executables
// and bundles on every launch, does not have to map a whole cryptography library for it.
class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    void update(std::span<const std::uint8_t> bytes);
    void update(std::string_view text);
    // The digest of everything fed so far; the object is then spent (reset() starts over).
    Digest finish();
    void reset() { *this = Sha256(); }

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingSize_ = 0;
    std::uint64_t totalBytes_ = 0;
};

// SHA-256 digests, rendered as 64 lower-case hex digits.
std::string sha256Hex(std::span<const std::uint8_t> bytes);
std::string sha256Hex(std::string_view text);
// The raw 32-byte digest.
std::string sha256Raw(std::span<const std::uint8_t> bytes);

// Digest of a file's contents, read in 1 MiB steps. The error carries errno of the failed call.
Expected<std::string, std::error_code> sha256OfFile(const FileURL& file);

std::string hexEncode(std::span<const std::uint8_t> bytes);

} // namespace quorvel
