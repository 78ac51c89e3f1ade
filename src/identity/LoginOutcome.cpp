#include "identity/LoginOutcome.h"

namespace quorvel {

std::optional<LoginOutcome> loginOutcomeFromCode(std::int32_t code) {
    if (code < rawValue(LoginOutcome::failed) || code > rawValue(LoginOutcome::timedOut))
        return std::nullopt;
    return static_cast<LoginOutcome>(code);
}

} // namespace quorvel
