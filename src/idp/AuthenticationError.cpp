#include "idp/AuthenticationError.h"

#include "base/Utf8.h"
#include "idp/BoundedJson.h"
#include "idp/URLSession.h"

namespace quorvel::idp {

namespace {

std::optional<std::string> infoString(const Json& info, const char* key) {
    if (!info.is_object())
        return std::nullopt;
    auto found = info.find(key);
    if (found == info.end())
        return std::nullopt;
    return jsonString(*found);
}

} // namespace

AuthenticationError::AuthenticationError(Json info, long statusCode, ErrorPointer cause)
    : info_(std::move(info)), statusCode_(statusCode), cause_(std::move(cause)) {}

AuthenticationError AuthenticationError::fromResponse(const HTTPResponse& response) {
    if (auto object = parseJsonObject(response.body)) {
        return AuthenticationError(std::move(*object), response.statusCode);
    }
    if (!response.body.empty() && isValidUtf8(response.body)) {
        return plain(response.body, response.statusCode);
    }
    return AuthenticationError(Json{{"code", emptyCode}, {"description", "Empty response body."}},
                               response.statusCode);
}

AuthenticationError AuthenticationError::fromURLError(const URLError& error) {
    Json info{{"code", plainCode},
              {"description", "Unable to complete the operation."},
              {"cause", error.message()}};
    return AuthenticationError(std::move(info), 0, makeError(error));
}

AuthenticationError AuthenticationError::plain(std::string description, long statusCode,
                                               ErrorPointer cause) {
    Json info{{"code", plainCode}, {"description", std::move(description)}};
    if (cause)
        info["cause"] = cause->message();
    return AuthenticationError(std::move(info), statusCode, std::move(cause));
}

std::string AuthenticationError::code() const {
    if (auto error = infoString(info_, "error"))
        return *error;
    if (auto code = infoString(info_, "code"))
        return *code;
    return unknownCode;
}

std::string AuthenticationError::message() const {
    if (auto description = infoString(info_, "description"))
        return *description;
    if (auto description = infoString(info_, "error_description"))
        return *description;
    std::string errorCode = code();
    if (errorCode != unknownCode)
        return "Received error with code " + errorCode;
    return "Failed with unknown error: " + describeJson(info_);
}

bool AuthenticationError::isNetworkError() const {
    return errorAs<URLError>(cause_) != nullptr;
}

} // namespace quorvel::idp
