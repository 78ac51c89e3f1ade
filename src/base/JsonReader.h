#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// Bounds on one document. Beyond either, the text is refused as a whole.
struct JsonReaderLimits {
    std::size_t maximumBytes = 1024 * 1024;
    // Nested arrays and objects; the outermost container is depth 1.
    std::uint32_t maximumDepth = 64;
};

class JsonReader;

// One value of a document read by JsonReader: a small handle, valid while the reader (not moved
// since) and the text it read are alive. The typed accessors answer nothing for a value of another
// kind, and follow the strict readers of base/Json.h: a number counts as whole also when written
// with a fraction or an exponent, as long as its value (as the nearest double) is whole and in
// range.
class JsonValue {
public:
    enum class Kind : std::uint8_t { null, boolean, number, string, array, object };

    Kind kind() const;
    bool isNull() const { return kind() == Kind::null; }
    bool isBoolean() const { return kind() == Kind::boolean; }
    bool isNumber() const { return kind() == Kind::number; }
    bool isString() const { return kind() == Kind::string; }
    bool isArray() const { return kind() == Kind::array; }
    bool isObject() const { return kind() == Kind::object; }

    std::optional<std::uint64_t> unsignedValue(std::uint64_t maximum) const;
    std::optional<std::int64_t> signedValue(std::int64_t minimum, std::int64_t maximum) const;
    std::optional<double> doubleValue() const;
    std::optional<bool> boolValue() const;
    // The decoded text (escapes resolved; valid UTF-8, which may hold NUL from "\u0000").
    std::optional<std::string_view> stringValue() const;

    // Members of an object or elements of an array; 0 for any other value.
    std::size_t size() const;

    // The value of a key of an object; when the key occurs more than once, the last one counts.
    // Nothing when the key is absent or this is not an object.
    std::optional<JsonValue> find(std::string_view key) const;

    struct Member;
    class MemberIterator;
    class ElementIterator;
    template <class Iterator> struct Range {
        Iterator first;
        Iterator last;
        Iterator begin() const { return first; }
        Iterator end() const { return last; }
    };
    // In document order, duplicates included. Empty for anything but an object / an array.
    Range<MemberIterator> members() const;
    Range<ElementIterator> elements() const;

private:
    friend class JsonReader;
    JsonValue(const JsonReader* reader, std::uint32_t index) : reader_(reader), index_(index) {}

    const JsonReader* reader_;
    std::uint32_t index_;
};

struct JsonValue::Member {
    std::string_view key;
    JsonValue value;
};

// A strict RFC 8259 reader for decoders of outside input that must be fast. One pass over the
// bytes builds a compact read-only tree: strings without escapes are views into the text, the
// others are decoded into a buffer of the document. It refuses, as a whole: any syntax error,
// invalid UTF-8 (overlong forms, surrogates, values beyond U+10FFFF), a lone surrogate escape, a
// raw control character in a string, a number whose value overflows a double, anything but
// whitespace after the value, and a document beyond the limits. A UTF-8 byte order mark at the
// very start is skipped. No exceptions; nesting is handled without recursion.
class JsonReader {
public:
    static std::optional<JsonReader> read(std::string_view text,
                                          const JsonReaderLimits& limits = {});

    JsonValue root() const { return JsonValue(this, 0); }

private:
    friend class JsonValue;
    friend class JsonParser;

    enum class Form : std::uint8_t { none, whole, negative, real, view, decoded };

    // One value. Containers are followed by their contents (for objects, a key node then a value
    // node per member); `end` is the index just past the value's last node, so that siblings can
    // be skipped in one step.
    struct Node {
        JsonValue::Kind kind = JsonValue::Kind::null;
        Form form = Form::none;
        std::uint32_t end = 0;
        std::uint32_t offset = 0; // strings: start in the text or in `decoded_`
        std::uint32_t length = 0; // strings: bytes; containers: members or elements
        union Number {
            std::uint64_t whole;
            std::int64_t negative;
            double real;
            bool boolean;
        } number{0};
    };

    JsonReader() = default;
    const Node& node(std::uint32_t index) const { return nodes_[index]; }
    std::string_view text(const Node& node) const {
        const char* base = node.form == Form::decoded ? decoded_.data() : text_.data();
        return {base + node.offset, node.length};
    }

    std::string_view text_;
    std::vector<Node> nodes_;
    std::string decoded_;
};

class JsonValue::MemberIterator {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Member;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Member;

    MemberIterator() = default;
    Member operator*() const {
        return {reader_->text(reader_->node(index_)), JsonValue(reader_, index_ + 1)};
    }
    MemberIterator& operator++() {
        index_ = reader_->node(index_ + 1).end;
        return *this;
    }
    MemberIterator operator++(int) {
        MemberIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const MemberIterator& other) const { return index_ == other.index_; }

private:
    friend class JsonValue;
    MemberIterator(const JsonReader* reader, std::uint32_t index)
        : reader_(reader), index_(index) {}
    const JsonReader* reader_ = nullptr;
    std::uint32_t index_ = 0;
};

class JsonValue::ElementIterator {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = JsonValue;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = JsonValue;

    ElementIterator() = default;
    JsonValue operator*() const { return JsonValue(reader_, index_); }
    ElementIterator& operator++() {
        index_ = reader_->node(index_).end;
        return *this;
    }
    ElementIterator operator++(int) {
        ElementIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const ElementIterator& other) const { return index_ == other.index_; }

private:
    friend class JsonValue;
    ElementIterator(const JsonReader* reader, std::uint32_t index)
        : reader_(reader), index_(index) {}
    const JsonReader* reader_ = nullptr;
    std::uint32_t index_ = 0;
};

inline JsonValue::Kind JsonValue::kind() const {
    return reader_->node(index_).kind;
}

inline std::optional<bool> JsonValue::boolValue() const {
    const auto& node = reader_->node(index_);
    if (node.kind != Kind::boolean)
        return std::nullopt;
    return node.number.boolean;
}

inline std::optional<std::string_view> JsonValue::stringValue() const {
    const auto& node = reader_->node(index_);
    if (node.kind != Kind::string)
        return std::nullopt;
    return reader_->text(node);
}

inline std::size_t JsonValue::size() const {
    const auto& node = reader_->node(index_);
    return node.kind == Kind::array || node.kind == Kind::object ? node.length : 0;
}

inline std::optional<JsonValue> JsonValue::find(std::string_view key) const {
    const auto& object = reader_->node(index_);
    if (object.kind != Kind::object)
        return std::nullopt;
    std::optional<JsonValue> found;
    for (std::uint32_t index = index_ + 1; index < object.end;
         index = reader_->node(index + 1).end) {
        const auto& name = reader_->node(index);
        if (name.length == key.size() && reader_->text(name) == key)
            found = JsonValue(reader_, index + 1);
    }
    return found;
}

inline JsonValue::Range<JsonValue::MemberIterator> JsonValue::members() const {
    const auto& node = reader_->node(index_);
    std::uint32_t first = node.kind == Kind::object ? index_ + 1 : node.end;
    return {MemberIterator(reader_, first), MemberIterator(reader_, node.end)};
}

inline JsonValue::Range<JsonValue::ElementIterator> JsonValue::elements() const {
    const auto& node = reader_->node(index_);
    std::uint32_t first = node.kind == Kind::array ? index_ + 1 : node.end;
    return {ElementIterator(reader_, first), ElementIterator(reader_, node.end)};
}

} // namespace quorvel
