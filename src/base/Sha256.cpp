#include "base/Sha256.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <unistd.h>
#include <vector>

namespace quorvel {

namespace {

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;

DigestContext newSha256Context() {
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return nullptr;
    }
    return context;
}

std::string finish(EVP_MD_CTX* context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    return std::string(reinterpret_cast<const char*>(digest), length);
}

} // namespace

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
    DigestContext context = newSha256Context();
    EVP_DigestUpdate(context.get(), bytes.data(), bytes.size());
    return finish(context.get());
}

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    std::string raw = sha256Raw(bytes);
    return hexEncode({reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()});
}

std::string sha256Hex(std::string_view text) {
    return sha256Hex({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

Expected<std::string, std::error_code> sha256OfFile(const FileURL& file) {
    int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return unexpected(std::error_code(errno, std::generic_category()));
    }
    DigestContext context = newSha256Context();
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
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(count));
    }
    ::close(fd);
    std::string raw = finish(context.get());
    return hexEncode({reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()});
}

} // namespace quorvel
