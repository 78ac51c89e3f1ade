#include "base/Sha256.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace quorvel {

namespace {

constexpr std::array<std::uint32_t, 64> roundConstants{
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

std::string rawString(const Sha256::Digest& digest) {
    return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

} // namespace

void Sha256::compress(const std::uint8_t* block) {
    std::uint32_t w[64];
    for (std::size_t i = 0; i < 16; ++i)
        w[i] = bigEndian32(block + 4 * i);
    for (std::size_t i = 16; i < 64; ++i) {
        std::uint32_t s0 = std::rotr(w[i - 15], 7) ^ std::rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        std::uint32_t s1 = std::rotr(w[i - 2], 17) ^ std::rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    auto [a, b, c, d, e, f, g, h] = state_;
    for (std::size_t i = 0; i < 64; ++i) {
        std::uint32_t s1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
        std::uint32_t choice = (e & f) ^ (~e & g);
        std::uint32_t t1 = h + s1 + choice + roundConstants[i] + w[i];
        std::uint32_t s0 = std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22);
        std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        std::uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
    state_[5] += f;
    state_[6] += g;
    state_[7] += h;
}

void Sha256::update(std::span<const std::uint8_t> bytes) {
    totalBytes_ += bytes.size();
    const std::uint8_t* next = bytes.data();
    std::size_t left = bytes.size();
    if (pendingSize_ > 0) {
        std::size_t taken = std::min(left, pending_.size() - pendingSize_);
        std::memcpy(pending_.data() + pendingSize_, next, taken);
        pendingSize_ += taken;
        next += taken;
        left -= taken;
        if (pendingSize_ < pending_.size())
            return;
        compress(pending_.data());
        pendingSize_ = 0;
    }
    for (; left >= 64; next += 64, left -= 64)
        compress(next);
    if (left > 0)
        std::memcpy(pending_.data(), next, left);
    pendingSize_ = left;
}

void Sha256::update(std::string_view text) {
    update({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

Sha256::Digest Sha256::finish() {
    const std::uint64_t bits = totalBytes_ * 8;
    // A one bit, zeros up to 56 bytes into a block, then the length in bits, big-endian.
    std::uint8_t tail[72] = {0x80};
    std::size_t padding = (pendingSize_ < 56 ? 56 : 120) - pendingSize_;
    for (std::size_t i = 0; i < 8; ++i)
        tail[padding + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    update({tail, padding + 8});
    Digest digest;
    for (std::size_t i = 0; i < state_.size(); ++i) {
        for (std::size_t j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * j));
    }
    return digest;
}

std::string hexEncode(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

std::string sha256Raw(std::span<const std::uint8_t> bytes) {
    Sha256 digest;
    digest.update(bytes);
    return rawString(digest.finish());
}

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    Sha256 digest;
    digest.update(bytes);
    return hexEncode(digest.finish());
}

std::string sha256Hex(std::string_view text) {
    return sha256Hex({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

Expected<std::string, std::error_code> sha256OfFile(const FileURL& file) {
    int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return unexpected(std::error_code(errno, std::generic_category()));
    }
    Sha256 digest;
    std::vector<std::uint8_t> buffer(1024 * 1024);
    for (;;) {
        ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR)
                continue;
            auto error = std::error_code(errno, std::generic_category());
            ::close(fd);
            return unexpected(error);
        }
        if (count == 0)
            break;
        digest.update({buffer.data(), static_cast<std::size_t>(count)});
    }
    ::close(fd);
    return hexEncode(digest.finish());
}

} // namespace quorvel
