#pragma once

#include <memory>
#include <string>

namespace quorvel::idp {

// The common base of every error the identity provider client reports, so that an error can carry
// the error that caused it (a renewal failure carrying the token endpoint's answer, which in turn
// carries the network failure). Callers inspect a cause with errorAs<T>().
class Error {
public:
    virtual ~Error() = default;
    // A short human-readable text; never contains a token.
    virtual std::string message() const = 0;
};

using ErrorPointer = std::shared_ptr<const Error>;

template <class T> const T* errorAs(const ErrorPointer& error) {
    return dynamic_cast<const T*>(error.get());
}

template <class T> ErrorPointer makeError(T error) {
    return std::make_shared<const T>(std::move(error));
}

// An error that is only a message: a malformed setting, a request that could not be built, an
// answer that could not be decoded.
class ClientError final : public Error {
public:
    explicit ClientError(std::string text) : text_(std::move(text)) {}
    std::string message() const override { return text_; }

private:
    std::string text_;
};

} // namespace quorvel::idp
