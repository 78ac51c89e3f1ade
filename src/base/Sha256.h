#pragma once

#include "base/Expected.h"
#include "base/FileURL.h"

#include <cstdint>
#include <span>
#include <string>
#include <system_error>

namespace quorvel {

// SHA-256 digests, rendered as 64 lower-case hex digits.
std::string sha256Hex(std::span<const std::uint8_t> bytes);
std::string sha256Hex(std::string_view text);
// The raw 32-byte digest.
std::string sha256Raw(std::span<const std::uint8_t> bytes);

// Digest of a file's contents, read in 1 MiB steps. The error carries errno of the failed call.
Expected<std::string, std::error_code> sha256OfFile(const FileURL& file);

std::string hexEncode(std::span<const std::uint8_t> bytes);

} // namespace quorvel
