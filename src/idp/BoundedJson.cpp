#include "idp/BoundedJson.h"

namespace quorvel::idp {

namespace {

// Depth of the deepest array or object, counting only brackets outside strings.
std::size_t nestingDepth(std::string_view text, std::size_t stopAbove) {
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > deepest)
                deepest = depth;
            if (deepest > stopAbove)
                return deepest;
        } else if ((c == '}' || c == ']') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

} // namespace

std::optional<Json> parseJsonObject(std::string_view text, std::size_t maxDepth) {
    if (nestingDepth(text, maxDepth) > maxDepth)
        return std::nullopt;
    auto value = parseJson(text);
    if (!value || !value->is_object())
        return std::nullopt;
    return value;
}

std::string describeJson(const Json& value) {
    return dumpCompact(value);
}

} // namespace quorvel::idp
