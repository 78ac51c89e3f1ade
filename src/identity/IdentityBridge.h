#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace quorvel::identitybridge {

// Limits of the identity C functions.
inline constexpr std::size_t maxSettingLength = 2048;      // each configure argument, in bytes
inline constexpr std::size_t maxCallbackURLLength = 65536; // the resume URL, in bytes
inline constexpr std::intptr_t maxTokenCapacity = 65536;   // the token copy's buffer
// How long a token copy waits for the main thread and the credentials manager.
inline constexpr std::chrono::milliseconds tokenCopyWait = std::chrono::seconds(30);
// The least remaining lifetime of a copied access token, in seconds.
inline constexpr std::int64_t tokenCopyMinTTL = 60;

// Shortens the token copy's wait (tests only; nothing restores tokenCopyWait).
void setTokenCopyWaitForTesting(std::optional<std::chrono::milliseconds> wait);

} // namespace quorvel::identitybridge
