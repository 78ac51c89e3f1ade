#include "base/JsonDocument.h"

#include <charconv>
#include <limits>
#include <simdjson.h>
#include <type_traits>

namespace quorvel {

namespace ondemand = simdjson::ondemand;

namespace {

// Digits without a leading zero, at most 19 of them: a well-formed number below 2^63, the common
// case, which needs no conversion to be checked.
bool plainInteger(std::string_view text) {
    if (text.empty() || text.size() > 19 || (text[0] == '0' && text.size() > 1))
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// RFC 8259's number grammar, and a value that a double can hold (a number too small for one reads
// as zero, as the fast conversion reads it). For the spellings the fast conversion declines
// although they are well formed: many digits with a long exponent, say.
bool wellFormedNumber(std::string_view text) {
    const std::size_t n = text.size();
    std::size_t at = 0;
    auto digits = [&] {
        const std::size_t start = at;
        while (at < n && text[at] >= '0' && text[at] <= '9')
            ++at;
        return at - start;
    };
    if (at < n && text[at] == '-')
        ++at;
    if (at < n && text[at] == '0')
        ++at;
    else if (at >= n || text[at] < '1' || text[at] > '9' || digits() == 0)
        return false;
    const std::size_t integerEnd = at;
    if (at < n && text[at] == '.') {
        ++at;
        if (digits() == 0)
            return false;
    }
    if (at < n && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < n && (text[at] == '+' || text[at] == '-'))
            ++at;
        if (digits() == 0)
            return false;
    }
    if (at != n)
        return false;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + n, value);
    if (end != text.data() + n)
        return false;
    if (error == std::errc())
        return true;
    // Out of range: too large is refused, too small is zero. Which one it is follows from where
    // the first significant digit stands, with the exponent.
    std::int64_t magnitude = 0; // the power of ten of the first significant digit, plus one
    std::size_t digit = text[0] == '-' ? 1 : 0;
    while (digit < integerEnd && text[digit] == '0')
        ++digit;
    if (digit < integerEnd) {
        magnitude = static_cast<std::int64_t>(integerEnd - digit);
    } else if (integerEnd < n && text[integerEnd] == '.') {
        std::size_t fraction = integerEnd + 1;
        while (fraction < n && text[fraction] == '0')
            ++fraction;
        magnitude = -static_cast<std::int64_t>(fraction - integerEnd - 1);
    }
    std::int64_t exponent = 0;
    if (const auto e = text.find_first_of("eE"); e != std::string_view::npos) {
        std::size_t position = e + 1;
        const bool negative = text[position] == '-';
        if (text[position] == '+' || text[position] == '-')
            ++position;
        for (; position < n; ++position) {
            if (exponent < 1'000'000'000)
                exponent = exponent * 10 + (text[position] - '0');
        }
        if (negative)
            exponent = -exponent;
    }
    return magnitude + exponent <= 0;
}

bool jsonSpace(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// A document that is one scalar is that token alone, with nothing around it but whitespace. The
// parser does not look at a stray byte right after a scalar at the root ("null\x01\n").
bool wholeScalar(std::string_view text) {
    while (!text.empty() && jsonSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && jsonSpace(text.back()))
        text.remove_suffix(1);
    if (text == "null" || text == "true" || text == "false")
        return true;
    if (!text.empty() && text.front() == '"') {
        for (std::size_t i = 1; i < text.size(); ++i) {
            if (text[i] == '\\')
                ++i;
            else if (text[i] == '"')
                return i == text.size() - 1;
        }
        return false;
    }
    return wellFormedNumber(text);
}

} // namespace

// Walks a whole document once, depth first, and appends a node for every value. Every value is
// visited, so that the parser checks all of it, not only what a decoder later reads.
class JsonTreeBuilder {
public:
    JsonTreeBuilder(JsonDocument& document, std::uint32_t maximumDepth, const char* documentEnd)
        : document_(document), maximumDepth_(maximumDepth), documentEnd_(documentEnd) {}

    // Whether the builder itself has checked a scalar document to its end.
    bool readToTheEnd() const { return readToTheEnd_; }

    bool root(ondemand::document& json) {
        ondemand::json_type type;
        if (json.type().get(type))
            return false;
        switch (type) {
        case ondemand::json_type::object:
        case ondemand::json_type::array: {
            ondemand::value value;
            return !json.get_value().get(value) && add(value, 1);
        }
        default:
            // A scalar document has no value handle of its own; it reads the same way.
            return scalar(json, type);
        }
    }

private:
    static bool rawToken(ondemand::document& json, std::string_view& text) {
        return !json.raw_json_token().get(text);
    }
    static bool rawToken(ondemand::value& value, std::string_view& text) {
        text = value.raw_json_token();
        return true;
    }

    template <class Source> bool scalar(Source& source, ondemand::json_type type) {
        auto& node = append(JsonValue::Kind::null);
        switch (type) {
        case ondemand::json_type::string: {
            std::string_view text;
            if (source.get_string().get(text))
                return false;
            setText(document_.nodes_.size() - 1, text);
            document_.nodes_.back().kind = JsonValue::Kind::string;
            return true;
        }
        case ondemand::json_type::number: {
            // The text is kept as written; the conversion only checks that the number is well
            // formed and fits in a double. A plain integer inside a container needs no check; a
            // scalar document must be read to its end.
            constexpr bool wholeDocument = std::is_same_v<Source, ondemand::document>;
            std::string_view text;
            double ignored;
            if (!rawToken(source, text))
                return false;
            // The raw token of a scalar document may run on into trailing whitespace.
            while (!text.empty() && (text.back() == ' ' || text.back() == '\n' ||
                                     text.back() == '\r' || text.back() == '\t'))
                text.remove_suffix(1);
            if ((wholeDocument || !plainInteger(text)) && source.get_double().get(ignored)) {
                if (!wellFormedNumber(text))
                    return false;
                // The parser, which declined the number, has not moved past it: what follows
                // it up to the end of the document is checked here.
                if constexpr (wholeDocument) {
                    for (const char* at = text.data() + text.size(); at < documentEnd_; ++at) {
                        if (*at != ' ' && *at != '\n' && *at != '\r' && *at != '\t')
                            return false;
                    }
                    readToTheEnd_ = true;
                }
            }
            setText(document_.nodes_.size() - 1, text);
            document_.nodes_.back().kind = JsonValue::Kind::number;
            return true;
        }
        case ondemand::json_type::boolean: {
            bool value;
            if (source.get_bool().get(value))
                return false;
            node.kind = JsonValue::Kind::boolean;
            node.boolean = value;
            return true;
        }
        case ondemand::json_type::null: {
            bool isNull = false;
            if (!source.is_null().get(isNull) && isNull)
                return true;
            // At the root the parser's own test declines "null" followed by whitespace; there the
            // document's whole text is checked to be that one token instead (wholeScalar).
            if constexpr (std::is_same_v<Source, ondemand::document>) {
                readToTheEnd_ = true;
                return true;
            }
            return false;
        }
        default:
            return false;
        }
    }

    bool add(ondemand::value& value, std::uint32_t depth) {
        ondemand::json_type type;
        if (value.type().get(type))
            return false;
        if (type != ondemand::json_type::object && type != ondemand::json_type::array)
            return scalar(value, type);
        if (depth > maximumDepth_)
            return false;
        auto index = static_cast<std::uint32_t>(document_.nodes_.size());
        std::uint32_t count = 0;
        if (type == ondemand::json_type::object) {
            append(JsonValue::Kind::object);
            ondemand::object object;
            if (value.get_object().get(object))
                return false;
            for (auto field : object) {
                std::string_view key;
                ondemand::value member;
                if (field.unescaped_key().get(key))
                    return false;
                append(JsonValue::Kind::string);
                setText(document_.nodes_.size() - 1, key);
                document_.nodes_.back().end = static_cast<std::uint32_t>(document_.nodes_.size());
                if (field.value().get(member) || !add(member, depth + 1))
                    return false;
                ++count;
            }
        } else {
            append(JsonValue::Kind::array);
            ondemand::array array;
            if (value.get_array().get(array))
                return false;
            for (auto element : array) {
                ondemand::value item;
                if (element.get(item) || !add(item, depth + 1))
                    return false;
                ++count;
            }
        }
        auto& node = document_.nodes_[index];
        node.length = count;
        node.end = static_cast<std::uint32_t>(document_.nodes_.size());
        return true;
    }

    JsonDocument::Node& append(JsonValue::Kind kind) {
        auto& node = document_.nodes_.emplace_back();
        node.kind = kind;
        node.end = static_cast<std::uint32_t>(document_.nodes_.size());
        return node;
    }

    void setText(std::size_t index, std::string_view text) {
        auto& node = document_.nodes_[index];
        node.offset = static_cast<std::uint32_t>(document_.text_.size());
        node.length = static_cast<std::uint32_t>(text.size());
        document_.text_.append(text);
    }

    JsonDocument& document_;
    std::uint32_t maximumDepth_;
    const char* documentEnd_; // just past the document's text
    bool readToTheEnd_ = false;
};

std::optional<JsonDocument> JsonDocument::read(std::string_view text, const JsonLimits& limits) {
    if (text.size() > limits.maximumBytes ||
        text.size() > std::numeric_limits<std::uint32_t>::max() / 2)
        return std::nullopt;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    // One parser per thread keeps its buffers between documents; the input is copied into a
    // buffer with the padding the parser reads past the end.
    thread_local ondemand::parser parser;
    thread_local std::string padded;
    padded.assign(text);
    padded.append(simdjson::SIMDJSON_PADDING, '\0');
    ondemand::document json;
    if (parser.iterate(padded.data(), text.size(), padded.size()).get(json))
        return std::nullopt;
    JsonDocument document;
    document.nodes_.reserve(text.size() / 8 + 1);
    document.text_.reserve(text.size());
    JsonTreeBuilder builder(document, limits.maximumDepth, padded.data() + text.size());
    if (!builder.root(json))
        return std::nullopt;
    // Anything but whitespace after the value.
    const char* rest = nullptr;
    if (!builder.readToTheEnd() && !json.current_location().get(rest))
        return std::nullopt;
    const auto rootKind = document.nodes_.front().kind;
    if (rootKind != JsonValue::Kind::array && rootKind != JsonValue::Kind::object &&
        !wholeScalar(text))
        return std::nullopt;
    return document;
}

namespace {

// The exact value of a number's text, when it is a whole number of at most 64 bits of
// magnitude: sign, digits, an optional fraction and an optional exponent, as RFC 8259 writes
// them (the parser has checked the form).
struct WholeNumber {
    bool negative = false;
    std::uint64_t magnitude = 0;
};

std::optional<WholeNumber> wholeNumber(std::string_view text) {
    WholeNumber result;
    if (plainInteger(text)) {
        for (char digit : text)
            result.magnitude = result.magnitude * 10 + static_cast<std::uint64_t>(digit - '0');
        return result;
    }
    std::size_t at = 0;
    if (at < text.size() && text[at] == '-') {
        result.negative = true;
        ++at;
    }
    std::string_view digits; // integer and fraction digits, without the point
    std::string integerAndFraction;
    auto integerStart = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9')
        ++at;
    std::string_view integerPart = text.substr(integerStart, at - integerStart);
    std::string_view fractionPart;
    if (at < text.size() && text[at] == '.') {
        auto fractionStart = ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9')
            ++at;
        fractionPart = text.substr(fractionStart, at - fractionStart);
    }
    // The exponent saturates far beyond any exponent that matters for 20 digits.
    std::int64_t exponent = 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        bool negativeExponent = false;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            negativeExponent = text[at++] == '-';
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
            if (exponent < 1'000'000'000)
                exponent = exponent * 10 + (text[at] - '0');
        }
        if (negativeExponent)
            exponent = -exponent;
    }
    if (at != text.size() || integerPart.empty())
        return std::nullopt;
    // The value is digits × 10^(exponent − fraction length); drop leading zeros of the integer
    // part and trailing zeros of the whole digit string.
    integerAndFraction.reserve(integerPart.size() + fractionPart.size());
    integerAndFraction.append(integerPart).append(fractionPart);
    exponent -= static_cast<std::int64_t>(fractionPart.size());
    digits = integerAndFraction;
    while (!digits.empty() && digits.front() == '0')
        digits.remove_prefix(1);
    while (!digits.empty() && digits.back() == '0') {
        digits.remove_suffix(1);
        ++exponent;
    }
    if (digits.empty())
        return result; // zero, whatever its exponent
    if (exponent < 0)
        return std::nullopt; // a fraction remains
    if (static_cast<std::int64_t>(digits.size()) + exponent > 20)
        return std::nullopt; // at least 10^20
    constexpr std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (char digit : digits) {
        auto d = static_cast<std::uint64_t>(digit - '0');
        if (value > (top - d) / 10)
            return std::nullopt;
        value = value * 10 + d;
    }
    for (std::int64_t i = 0; i < exponent; ++i) {
        if (value > top / 10)
            return std::nullopt;
        value *= 10;
    }
    result.magnitude = value;
    return result;
}

} // namespace

std::optional<double> JsonValue::doubleValue() const {
    const auto& node = document_->node(index_);
    if (node.kind != Kind::number)
        return std::nullopt;
    // The reader has checked that the text is a JSON number within the range of a double.
    auto text = document_->text(node);
    double value = 0;
    auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() && error != std::errc::result_out_of_range)
        return std::nullopt;
    return value;
}

bool JsonValue::writtenAsInteger() const {
    const auto& node = document_->node(index_);
    return node.kind == Kind::number &&
           document_->text(node).find_first_of(".eE") == std::string_view::npos;
}

std::optional<std::uint64_t> JsonValue::unsignedValue(std::uint64_t maximum) const {
    const auto& node = document_->node(index_);
    if (node.kind != Kind::number)
        return std::nullopt;
    auto number = wholeNumber(document_->text(node));
    if (!number || (number->negative && number->magnitude != 0) || number->magnitude > maximum)
        return std::nullopt;
    return number->magnitude;
}

std::optional<std::int64_t> JsonValue::signedValue(std::int64_t minimum,
                                                   std::int64_t maximum) const {
    const auto& node = document_->node(index_);
    if (node.kind != Kind::number)
        return std::nullopt;
    auto number = wholeNumber(document_->text(node));
    if (!number)
        return std::nullopt;
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    std::int64_t value;
    if (!number->negative) {
        if (number->magnitude > largest)
            return std::nullopt;
        value = static_cast<std::int64_t>(number->magnitude);
    } else {
        if (number->magnitude > largest + 1)
            return std::nullopt;
        value = number->magnitude == largest + 1 ? std::numeric_limits<std::int64_t>::min()
                                                 : -static_cast<std::int64_t>(number->magnitude);
    }
    if (value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

bool readNullableString(JsonValue object, std::string_view key, std::optional<std::string>& out) {
    auto found = object.find(key);
    if (!found || found->isNull()) {
        out.reset();
        return true;
    }
    auto text = found->stringValue();
    if (!text)
        return false;
    out = std::string(*text);
    return true;
}

} // namespace quorvel
