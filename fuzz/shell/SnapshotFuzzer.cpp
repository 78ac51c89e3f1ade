// Feeds arbitrary bytes to the snapshot decoder and, when one decodes, to the presentation: neither
// may crash, and a decoded snapshot always presents. Each input is also read as plain JSON by the
// document reader and by the JSON library we write with; any difference between them aborts.
#include "base/Json.h"
#include "base/JsonDocument.h"
#include "shell/RecorderSnapshot.h"
#include "shell/StatusPresentation.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

using namespace quorvel;

namespace {

constexpr auto max64 = std::numeric_limits<std::uint64_t>::max();
constexpr auto min64 = std::numeric_limits<std::int64_t>::min();
constexpr auto maxSigned64 = std::numeric_limits<std::int64_t>::max();

// The deepest nesting of a valid JSON text, counted outside strings.
std::size_t nesting(std::string_view text) {
    std::size_t depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            deepest = std::max(deepest, ++depth);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
}

// Whether the document's tree holds what the DOM holds: the same kinds, the same texts, integers
// written as such read alike, and for objects the same keys with the last duplicate's value.
bool same(JsonValue fast, const Json& dom) {
    switch (dom.type()) {
    case Json::value_t::null:
        return fast.isNull();
    case Json::value_t::boolean:
        return fast.boolValue() == dom.get<bool>();
    case Json::value_t::number_unsigned:
        return fast.unsignedValue(max64) == dom.get<std::uint64_t>();
    case Json::value_t::number_integer:
        return fast.signedValue(min64, maxSigned64) == dom.get<std::int64_t>();
    case Json::value_t::number_float:
        // The library reads a fraction or an exponent through a double, which is not exact.
        return fast.isNumber();
    case Json::value_t::string:
        return fast.stringValue() == std::string_view(dom.get_ref<const std::string&>());
    case Json::value_t::array: {
        if (!fast.isArray() || fast.size() != dom.size())
            return false;
        std::size_t i = 0;
        for (auto element : fast.elements()) {
            if (!same(element, dom[i++]))
                return false;
        }
        return i == dom.size();
    }
    case Json::value_t::object: {
        if (!fast.isObject())
            return false;
        std::size_t members = 0;
        for (auto member : fast.members()) {
            ++members;
            if (!dom.contains(std::string(member.key)))
                return false;
        }
        if (members != fast.size())
            return false;
        for (const auto& [key, value] : dom.items()) {
            auto found = fast.find(key);
            if (!found || !same(*found, value))
                return false;
        }
        return true;
    }
    default:
        return false;
    }
}

void checkReaders(std::string_view text) {
    auto fast = JsonDocument::read(text);
    // A NUL byte never belongs to JSON text; the DOM parser may stop reading at one.
    if (text.find('\0') != std::string_view::npos) {
        if (fast)
            __builtin_trap();
        return;
    }
    auto dom = parseJson(text);
    if (!dom) {
        if (fast)
            __builtin_trap();
        return;
    }
    if (!fast) {
        // Refusing valid text is right only beyond the reader's bounds.
        JsonLimits limits;
        if (text.size() <= limits.maximumBytes && nesting(text) <= limits.maximumDepth)
            __builtin_trap();
        return;
    }
    if (!same(fast->root(), *dom))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    checkReaders(text);
    if (auto snapshot = RecorderSnapshot::decode(text)) {
        auto presentation = StatusPresentation::make(snapshot, 0);
        if (presentation.title.empty())
            __builtin_trap();
    }
    return 0;
}
