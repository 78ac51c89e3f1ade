#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace quorvel {

// How a login ended; the codes are what the host app's login callback receives.
enum class LoginOutcome : std::int32_t {
    failed = 0,      // an error not covered below
    succeeded = 1,   // credentials were obtained and stored
    cancelled = 2,   // the user cancelled, or the identity provider answered "access_denied"
    unreachable = 3, // the identity provider or the network was out of reach
    timedOut = 4,    // nobody came back from the browser in time
};

constexpr std::int32_t rawValue(LoginOutcome outcome) {
    return static_cast<std::int32_t>(outcome);
}

// Nothing for a number outside 0 to 4.
std::optional<LoginOutcome> loginOutcomeFromCode(std::int32_t code);

// What the identity owner keeps of the login in progress: its completion (present while a login
// runs) and the generation that tells the current login from earlier ones.
struct LoginCompletionSlot {
    std::function<void(LoginOutcome)> completion;
    std::uint64_t generation = 0;
};

} // namespace quorvel
