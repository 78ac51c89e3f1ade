#include "idp/URLError.h"

namespace quorvel::idp {

const char* URLError::name(Code code) {
    switch (code) {
    case Code::badURL:
        return "bad_url";
    case Code::cannotFindHost:
        return "cannot_find_host";
    case Code::cannotConnectToHost:
        return "cannot_connect_to_host";
    case Code::timedOut:
        return "timed_out";
    case Code::networkConnectionLost:
        return "network_connection_lost";
    case Code::secureConnectionFailed:
        return "secure_connection_failed";
    case Code::dataLengthExceedsMaximum:
        return "data_length_exceeds_maximum";
    case Code::cancelled:
        return "cancelled";
    case Code::tooManyRequests:
        return "too_many_requests";
    case Code::unknown:
        return "unknown";
    }
    return "unknown";
}

std::string URLError::message() const {
    std::string text = std::string("URL loading failed (") + name(code_) + ")";
    if (!detail_.empty())
        text += ": " + detail_;
    return text;
}

} // namespace quorvel::idp
