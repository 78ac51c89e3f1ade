#include "base/Json.h"

#include <cmath>

namespace quorvel {

std::optional<Json> parseJson(std::string_view text) {
    Json value = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> jsonUnsigned(const Json& value, std::uint64_t maximum) {
    if (value.is_number_unsigned()) {
        auto number = value.get<std::uint64_t>();
        return number <= maximum ? std::optional(number) : std::nullopt;
    }
    if (value.is_number_integer()) {
        auto number = value.get<std::int64_t>();
        if (number < 0)
            return std::nullopt;
        auto unsignedNumber = static_cast<std::uint64_t>(number);
        return unsignedNumber <= maximum ? std::optional(unsignedNumber) : std::nullopt;
    }
    if (value.is_number_float()) {
        double number = value.get<double>();
        // 2^64 is the first double above every unsigned 64-bit value.
        if (!std::isfinite(number) || number != std::floor(number) || number < 0 ||
            number >= 18446744073709551616.0) {
            return std::nullopt;
        }
        auto whole = static_cast<std::uint64_t>(number);
        return whole <= maximum ? std::optional(whole) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::int64_t> jsonSigned(const Json& value, std::int64_t minimum,
                                       std::int64_t maximum) {
    std::optional<std::int64_t> number;
    if (value.is_number_unsigned()) {
        auto raw = value.get<std::uint64_t>();
        if (raw <= static_cast<std::uint64_t>(INT64_MAX))
            number = static_cast<std::int64_t>(raw);
    } else if (value.is_number_integer()) {
        number = value.get<std::int64_t>();
    } else if (value.is_number_float()) {
        double raw = value.get<double>();
        // -2^63 is exact; 2^63 is the first double above INT64_MAX.
        if (std::isfinite(raw) && raw == std::floor(raw) && raw >= -9223372036854775808.0 &&
            raw < 9223372036854775808.0) {
            number = static_cast<std::int64_t>(raw);
        }
    }
    if (!number || *number < minimum || *number > maximum) {
        return std::nullopt;
    }
    return number;
}

std::optional<bool> jsonBool(const Json& value) {
    if (!value.is_boolean())
        return std::nullopt;
    return value.get<bool>();
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
