#include "base/Json.h"

namespace quorvel {

std::optional<Json> parseJson(std::string_view text) {
    Json value = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> jsonString(const Json& value) {
    if (!value.is_string())
        return std::nullopt;
    return value.get<std::string>();
}

std::string dumpCompact(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace quorvel
