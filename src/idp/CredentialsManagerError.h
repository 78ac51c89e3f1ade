#pragma once

#include "idp/Error.h"

#include <cstdint>
#include <string>

namespace quorvel::idp {

// An error of the credentials manager, with a stable code and a fixed message.
class CredentialsManagerError final : public Error {
public:
    enum class Kind {
        noCredentials,
        noRefreshToken,
        renewFailed,
        apiExchangeFailed,
        ssoExchangeFailed,
        storeFailed,
        revokeFailed,
        clearFailed,
        biometricsFailed,
        largeMinTTL,
        unknown,
    };

    CredentialsManagerError() : CredentialsManagerError(Kind::unknown) {}
    explicit CredentialsManagerError(Kind kind, ErrorPointer cause = nullptr)
        : kind_(kind), cause_(std::move(cause)) {}
    // The large-minTTL error: the requested minimum and the renewed token's lifetime, in seconds.
    static CredentialsManagerError largeMinTTL(std::int64_t minTTL, std::int64_t lifetime);

    Kind kind() const { return kind_; }
    const ErrorPointer& cause() const { return cause_; }
    // Stable text of the kind, e.g. "renew_failed".
    std::string code() const;
    std::string message() const override;

    bool operator==(Kind kind) const { return kind_ == kind; }

private:
    Kind kind_;
    ErrorPointer cause_;
    std::int64_t minTTL_ = 0;
    std::int64_t lifetime_ = 0;
};

} // namespace quorvel::idp
