#include "base/JsonReader.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace quorvel {

namespace {

constexpr std::uint32_t noParent = std::numeric_limits<std::uint32_t>::max();

// Bytes that a string may hold as they are: printable ASCII other than the quote and the
// backslash. Everything else needs a closer look (end, escape, control character, UTF-8).
constexpr std::array<bool, 256> plainStringBytes = [] {
    std::array<bool, 256> plain{};
    for (int byte = 0x20; byte < 0x80; ++byte)
        plain[static_cast<std::size_t>(byte)] = true;
    plain['"'] = false;
    plain['\\'] = false;
    return plain;
}();

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isWhitespace(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

unsigned char byteAt(const char* p) {
    return static_cast<unsigned char>(*p);
}

// The scanning loops work on local pointers, which the compiler keeps in registers.
const char* pastPlainStringBytes(const char* p, const char* end) {
    while (p < end && plainStringBytes[byteAt(p)])
        ++p;
    return p;
}

const char* pastDigits(const char* p, const char* end) {
    while (p < end && isDigit(*p))
        ++p;
    return p;
}

const char* pastWhitespace(const char* p, const char* end) {
    while (p < end && isWhitespace(*p))
        ++p;
    return p;
}

bool isContinuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return byte >= low && byte <= high;
}

// The length of the well-formed UTF-8 sequence at `p` whose lead byte is 0x80 or above, or 0.
// Follows the table of well-formed byte sequences of Unicode (section 3.9): no overlong form, no
// surrogate, nothing beyond U+10FFFF.
std::size_t utf8SequenceLength(const char* p, const char* end) {
    auto lead = byteAt(p);
    auto remaining = static_cast<std::size_t>(end - p);
    auto at = [&](std::size_t i) { return byteAt(p + i); };
    if (lead >= 0xC2 && lead <= 0xDF)
        return remaining >= 2 && isContinuation(at(1)) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (remaining < 3)
            return 0;
        unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return isContinuation(at(1), low, high) && isContinuation(at(2)) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (remaining < 4)
            return 0;
        unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return isContinuation(at(1), low, high) && isContinuation(at(2)) && isContinuation(at(3))
                   ? 4
                   : 0;
    }
    return 0;
}

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A number token that is not a plain integer in range, as the nearest double. A value too large
// for a double is refused; one too small becomes a zero of its sign, as strtod answers.
std::optional<double> realValue(const char* first, const char* last) {
    double value = 0;
    auto [stop, error] = std::from_chars(first, last, value);
    if (error == std::errc())
        return stop == last ? std::optional(value) : std::nullopt;
    if (error != std::errc::result_out_of_range)
        return std::nullopt;

    // Out of range: tell overflow from underflow by the decimal position of the first significant
    // digit (the two are hundreds of powers of ten apart).
    bool negative = *first == '-';
    const char* p = negative ? first + 1 : first;
    std::int64_t integerDigits = 0;
    while (p < last && isDigit(*p))
        ++integerDigits, ++p;
    std::int64_t leadingFractionZeros = 0;
    bool integerIsZero = integerDigits == 1 && first[negative ? 1 : 0] == '0';
    if (p < last && *p == '.') {
        ++p;
        while (p < last && *p == '0')
            ++leadingFractionZeros, ++p;
        while (p < last && isDigit(*p))
            ++p;
    }
    std::int64_t exponent = 0;
    if (p < last && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negativeExponent = *p == '-';
        if (*p == '-' || *p == '+')
            ++p;
        for (; p < last; ++p) {
            if (exponent < 1'000'000'000)
                exponent = exponent * 10 + (*p - '0');
        }
        if (negativeExponent)
            exponent = -exponent;
    }
    std::int64_t magnitude =
        integerIsZero ? exponent - leadingFractionZeros - 1 : exponent + integerDigits - 1;
    if (magnitude > 0)
        return std::nullopt;
    return negative ? -0.0 : 0.0;
}

} // namespace

class JsonParser {
public:
    JsonParser(JsonReader& out, std::string_view text, const JsonReaderLimits& limits)
        : out_(out), p_(text.data()), end_(text.data() + text.size()), limits_(limits) {}

    bool parse() {
        static constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
        if (std::string_view(p_, static_cast<std::size_t>(end_ - p_)).starts_with(byteOrderMark)) {
            p_ += byteOrderMark.size();
        }
        out_.nodes_.reserve(static_cast<std::size_t>(end_ - p_) / 8 + 4);
        for (;;) {
            // A value is expected here.
            skipWhitespace();
            if (p_ == end_)
                return false;
            char c = *p_;
            if (c == '{' || c == '[') {
                if (!open(c == '{' ? JsonValue::Kind::object : JsonValue::Kind::array))
                    return false;
                skipWhitespace();
                if (p_ == end_)
                    return false;
                if (*p_ == (c == '{' ? '}' : ']')) {
                    ++p_;
                    close();
                } else if (c == '{') {
                    if (!key())
                        return false;
                    continue;
                } else {
                    continue;
                }
            } else if (!scalar()) {
                return false;
            }
            // A value is complete: what follows ends its containers, or leads to the next value.
            if (!afterValue())
                return false;
            if (current_ == noParent) {
                skipWhitespace();
                return p_ == end_;
            }
        }
    }

private:
    using Kind = JsonValue::Kind;
    using Form = JsonReader::Form;
    using Node = JsonReader::Node;

    // Consumes separators and closing brackets after a value. True when the next value may be
    // read, or when the outermost value is complete (current_ is then noParent).
    bool afterValue() {
        while (current_ != noParent) {
            skipWhitespace();
            if (p_ == end_)
                return false;
            char c = *p_;
            bool isObject = out_.nodes_[current_].kind == Kind::object;
            if (c == ',') {
                ++p_;
                return isObject ? key() : true;
            }
            if (c != (isObject ? '}' : ']'))
                return false;
            ++p_;
            close();
        }
        return true;
    }

    Node& append(Kind kind) {
        if (current_ != noParent)
            ++out_.nodes_[current_].length;
        auto& node = out_.nodes_.emplace_back();
        node.kind = kind;
        node.end = static_cast<std::uint32_t>(out_.nodes_.size());
        return node;
    }

    // While a container is open, its `end` holds the index of the container around it.
    bool open(Kind kind) {
        if (depth_ == limits_.maximumDepth)
            return false;
        ++depth_;
        ++p_;
        auto index = static_cast<std::uint32_t>(out_.nodes_.size());
        append(kind).end = current_;
        current_ = index;
        return true;
    }

    void close() {
        auto& node = out_.nodes_[current_];
        current_ = node.end;
        node.end = static_cast<std::uint32_t>(out_.nodes_.size());
        --depth_;
    }

    // A member's key and its colon. The key is a node of its own, not counted as a member.
    bool key() {
        skipWhitespace();
        if (p_ == end_ || *p_ != '"')
            return false;
        --out_.nodes_[current_].length;
        if (!string())
            return false;
        skipWhitespace();
        if (p_ == end_ || *p_ != ':')
            return false;
        ++p_;
        return true;
    }

    bool scalar() {
        switch (*p_) {
        case '"':
            return string();
        case 't':
            return literal("true", Kind::boolean, true);
        case 'f':
            return literal("false", Kind::boolean, false);
        case 'n':
            return literal("null", Kind::null, false);
        default:
            return number();
        }
    }

    bool literal(std::string_view word, Kind kind, bool value) {
        if (!std::string_view(p_, static_cast<std::size_t>(end_ - p_)).starts_with(word))
            return false;
        p_ += word.size();
        append(kind).number.boolean = value;
        return true;
    }

    bool number() {
        const char* first = p_;
        bool negative = p_ < end_ && *p_ == '-';
        if (negative)
            ++p_;
        if (p_ == end_ || !isDigit(*p_))
            return false;
        const char* digits = p_;
        p_ = *p_ == '0' ? p_ + 1 : pastDigits(p_, end_);
        std::uint64_t whole = 0;
        bool fits = std::from_chars(digits, p_, whole).ec == std::errc();
        bool real = false;
        if (p_ < end_ && *p_ == '.') {
            ++p_;
            if (p_ == end_ || !isDigit(*p_))
                return false;
            p_ = pastDigits(p_, end_);
            real = true;
        }
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-'))
                ++p_;
            if (p_ == end_ || !isDigit(*p_))
                return false;
            p_ = pastDigits(p_, end_);
            real = true;
        }
        // An integer token is kept as an integer when it fits one; any other number as a double.
        constexpr auto negativeLimit = std::uint64_t{1} << 63;
        if (!real && fits && !negative) {
            auto& node = append(Kind::number);
            node.form = Form::whole;
            node.number.whole = whole;
            return true;
        }
        if (!real && fits && negative && whole <= negativeLimit) {
            auto& node = append(Kind::number);
            node.form = Form::negative;
            node.number.negative = whole == negativeLimit ? std::numeric_limits<std::int64_t>::min()
                                                          : -static_cast<std::int64_t>(whole);
            return true;
        }
        auto value = realValue(first, p_);
        if (!value)
            return false;
        auto& node = append(Kind::number);
        node.form = Form::real;
        node.number.real = *value;
        return true;
    }

    // A string at the opening quote. Text without escapes stays a view into the input.
    bool string() {
        ++p_;
        const char* start = p_;
        for (;;) {
            p_ = pastPlainStringBytes(p_, end_);
            if (p_ == end_)
                return false;
            auto byte = byteAt(p_);
            if (byte == '"') {
                auto& node = append(Kind::string);
                node.form = Form::view;
                node.offset = static_cast<std::uint32_t>(start - out_.text_.data());
                node.length = static_cast<std::uint32_t>(p_ - start);
                ++p_;
                return true;
            }
            if (byte == '\\')
                return decodedString(start);
            if (byte < 0x20)
                return false;
            auto length = utf8SequenceLength(p_, end_);
            if (length == 0)
                return false;
            p_ += length;
        }
    }

    // The rest of a string that holds an escape, decoded into the document's buffer.
    bool decodedString(const char* start) {
        auto& buffer = out_.decoded_;
        auto offset = buffer.size();
        buffer.append(start, p_);
        for (;;) {
            const char* run = p_;
            p_ = pastPlainStringBytes(p_, end_);
            buffer.append(run, p_);
            if (p_ == end_)
                return false;
            auto byte = byteAt(p_);
            if (byte == '"') {
                ++p_;
                auto& node = append(Kind::string);
                node.form = Form::decoded;
                node.offset = static_cast<std::uint32_t>(offset);
                node.length = static_cast<std::uint32_t>(buffer.size() - offset);
                return true;
            }
            if (byte == '\\') {
                if (!escape(buffer))
                    return false;
                continue;
            }
            if (byte < 0x20)
                return false;
            auto length = utf8SequenceLength(p_, end_);
            if (length == 0)
                return false;
            buffer.append(p_, length);
            p_ += length;
        }
    }

    bool escape(std::string& buffer) {
        ++p_;
        if (p_ == end_)
            return false;
        char c = *p_++;
        switch (c) {
        case '"':
            buffer += '"';
            return true;
        case '\\':
            buffer += '\\';
            return true;
        case '/':
            buffer += '/';
            return true;
        case 'b':
            buffer += '\b';
            return true;
        case 'f':
            buffer += '\f';
            return true;
        case 'n':
            buffer += '\n';
            return true;
        case 'r':
            buffer += '\r';
            return true;
        case 't':
            buffer += '\t';
            return true;
        case 'u':
            break;
        default:
            return false;
        }
        auto code = hex4();
        if (!code)
            return false;
        if (*code >= 0xDC00 && *code <= 0xDFFF)
            return false;
        if (*code >= 0xD800 && *code <= 0xDBFF) {
            // A high surrogate counts only with the low surrogate escape right after it.
            if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u')
                return false;
            p_ += 2;
            auto low = hex4();
            if (!low || *low < 0xDC00 || *low > 0xDFFF)
                return false;
            code = 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
        }
        appendUtf8(buffer, *code);
        return true;
    }

    std::optional<std::uint32_t> hex4() {
        if (end_ - p_ < 4)
            return std::nullopt;
        std::uint32_t code = 0;
        for (int i = 0; i < 4; ++i, ++p_) {
            char c = *p_;
            std::uint32_t digit;
            if (c >= '0' && c <= '9')
                digit = static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return std::nullopt;
            code = code * 16 + digit;
        }
        return code;
    }

    void skipWhitespace() { p_ = pastWhitespace(p_, end_); }

    JsonReader& out_;
    const char* p_;
    const char* end_;
    const JsonReaderLimits& limits_;
    std::uint32_t current_ = noParent;
    std::uint32_t depth_ = 0;
};

std::optional<JsonReader> JsonReader::read(std::string_view text, const JsonReaderLimits& limits) {
    // Offsets are 32-bit.
    if (text.size() > limits.maximumBytes ||
        text.size() >= std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    JsonReader reader;
    reader.text_ = text;
    if (!JsonParser(reader, text, limits).parse())
        return std::nullopt;
    return reader;
}

std::optional<std::uint64_t> JsonValue::unsignedValue(std::uint64_t maximum) const {
    const auto& node = reader_->node(index_);
    if (node.kind != Kind::number)
        return std::nullopt;
    switch (node.form) {
    case JsonReader::Form::whole:
        return node.number.whole <= maximum ? std::optional(node.number.whole) : std::nullopt;
    case JsonReader::Form::negative: {
        if (node.number.negative < 0)
            return std::nullopt;
        auto value = static_cast<std::uint64_t>(node.number.negative);
        return value <= maximum ? std::optional(value) : std::nullopt;
    }
    case JsonReader::Form::real: {
        double number = node.number.real;
        // 2^64 is the first double above every unsigned 64-bit value.
        if (!std::isfinite(number) || number != std::floor(number) || number < 0 ||
            number >= 18446744073709551616.0) {
            return std::nullopt;
        }
        auto whole = static_cast<std::uint64_t>(number);
        return whole <= maximum ? std::optional(whole) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<std::int64_t> JsonValue::signedValue(std::int64_t minimum,
                                                   std::int64_t maximum) const {
    const auto& node = reader_->node(index_);
    if (node.kind != Kind::number)
        return std::nullopt;
    std::optional<std::int64_t> number;
    switch (node.form) {
    case JsonReader::Form::whole:
        if (node.number.whole <=
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            number = static_cast<std::int64_t>(node.number.whole);
        }
        break;
    case JsonReader::Form::negative:
        number = node.number.negative;
        break;
    case JsonReader::Form::real: {
        double raw = node.number.real;
        // -2^63 is exact; 2^63 is the first double above INT64_MAX.
        if (std::isfinite(raw) && raw == std::floor(raw) && raw >= -9223372036854775808.0 &&
            raw < 9223372036854775808.0) {
            number = static_cast<std::int64_t>(raw);
        }
        break;
    }
    default:
        break;
    }
    if (!number || *number < minimum || *number > maximum)
        return std::nullopt;
    return number;
}

std::optional<double> JsonValue::doubleValue() const {
    const auto& node = reader_->node(index_);
    if (node.kind != Kind::number)
        return std::nullopt;
    switch (node.form) {
    case JsonReader::Form::whole:
        return static_cast<double>(node.number.whole);
    case JsonReader::Form::negative:
        return static_cast<double>(node.number.negative);
    default:
        return node.number.real;
    }
}

} // namespace quorvel
