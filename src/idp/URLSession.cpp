#include "idp/URLSession.h"

namespace quorvel::idp {

std::optional<std::string> HTTPResponse::header(std::string_view lowerCaseName) const {
    for (const auto& [name, value] : headers) {
        if (name == lowerCaseName)
            return value;
    }
    return std::nullopt;
}

} // namespace quorvel::idp
