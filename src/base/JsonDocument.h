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
struct JsonLimits {
    std::size_t maximumBytes = 1024 * 1024;
    // Nested arrays and objects; the outermost container is depth 1.
    std::uint32_t maximumDepth = 64;
};

class JsonDocument;

// One value of a JsonDocument: a small handle, valid while the document (not moved since) is
// alive. The typed accessors answer nothing for a value of another kind. Numbers keep the text
// they were written as, so that integers are read exactly: a number counts as whole also when
// written with a fraction or an exponent ("1.0", "1e2", "18446744073709551615.0"), as long as
// the value it denotes is whole and in range ("1.00000000000000000001" and "1e-400" are not).
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
    // The nearest double to a number, whatever its spelling.
    std::optional<double> doubleValue() const;
    // Whether this is a number written without a fraction or an exponent.
    bool writtenAsInteger() const;
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
    friend class JsonDocument;
    JsonValue(const JsonDocument* document, std::uint32_t index)
        : document_(document), index_(index) {}

    const JsonDocument* document_;
    std::uint32_t index_;
};

struct JsonValue::Member {
    std::string_view key;
    JsonValue value;
};

// A JSON text received from outside, read strictly (RFC 8259) into a compact read-only tree. It
// refuses, as a whole: any syntax error anywhere (also inside values nobody reads), invalid
// UTF-8, a bad escape, a raw control character in a string, a number that overflows a double,
// anything but whitespace after the value, and a document beyond the limits. A UTF-8 byte order
// mark at the very start is skipped. Never throws.
class JsonDocument {
public:
    static std::optional<JsonDocument> read(std::string_view text, const JsonLimits& limits = {});

    JsonValue root() const { return JsonValue(this, 0); }

private:
    friend class JsonValue;
    friend class JsonTreeBuilder;

    // One value. Containers are followed by their contents (for objects, a key node then a value
    // node per member); `end` is the index just past the value's last node, so that siblings can
    // be skipped in one step. Strings, keys and numbers point into `text_`: strings decoded,
    // numbers as written.
    struct Node {
        JsonValue::Kind kind = JsonValue::Kind::null;
        bool boolean = false;
        std::uint32_t end = 0;
        std::uint32_t offset = 0;
        std::uint32_t length = 0; // strings and numbers: bytes; containers: members or elements
    };

    JsonDocument() = default;
    const Node& node(std::uint32_t index) const { return nodes_[index]; }
    std::string_view text(const Node& node) const {
        return {text_.data() + node.offset, node.length};
    }

    std::vector<Node> nodes_;
    std::string text_;
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
        return {document_->text(document_->node(index_)), JsonValue(document_, index_ + 1)};
    }
    MemberIterator& operator++() {
        index_ = document_->node(index_ + 1).end;
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
    MemberIterator(const JsonDocument* document, std::uint32_t index)
        : document_(document), index_(index) {}
    const JsonDocument* document_ = nullptr;
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
    JsonValue operator*() const { return JsonValue(document_, index_); }
    ElementIterator& operator++() {
        index_ = document_->node(index_).end;
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
    ElementIterator(const JsonDocument* document, std::uint32_t index)
        : document_(document), index_(index) {}
    const JsonDocument* document_ = nullptr;
    std::uint32_t index_ = 0;
};

inline JsonValue::Kind JsonValue::kind() const {
    return document_->node(index_).kind;
}

inline std::optional<bool> JsonValue::boolValue() const {
    const auto& node = document_->node(index_);
    if (node.kind != Kind::boolean)
        return std::nullopt;
    return node.boolean;
}

inline std::optional<std::string_view> JsonValue::stringValue() const {
    const auto& node = document_->node(index_);
    if (node.kind != Kind::string)
        return std::nullopt;
    return document_->text(node);
}

inline std::size_t JsonValue::size() const {
    const auto& node = document_->node(index_);
    return node.kind == Kind::array || node.kind == Kind::object ? node.length : 0;
}

inline std::optional<JsonValue> JsonValue::find(std::string_view key) const {
    const auto& object = document_->node(index_);
    if (object.kind != Kind::object)
        return std::nullopt;
    std::optional<JsonValue> found;
    for (std::uint32_t index = index_ + 1; index < object.end;
         index = document_->node(index + 1).end) {
        const auto& name = document_->node(index);
        if (name.length == key.size() && document_->text(name) == key)
            found = JsonValue(document_, index + 1);
    }
    return found;
}

inline JsonValue::Range<JsonValue::MemberIterator> JsonValue::members() const {
    const auto& node = document_->node(index_);
    std::uint32_t first = node.kind == Kind::object ? index_ + 1 : node.end;
    return {MemberIterator(document_, first), MemberIterator(document_, node.end)};
}

inline JsonValue::Range<JsonValue::ElementIterator> JsonValue::elements() const {
    const auto& node = document_->node(index_);
    std::uint32_t first = node.kind == Kind::array ? index_ + 1 : node.end;
    return {ElementIterator(document_, first), ElementIterator(document_, node.end)};
}

// A string member that may be absent or null (then out is empty); false, with out untouched,
// for a member of any other kind.
bool readNullableString(JsonValue object, std::string_view key, std::optional<std::string>& out);

} // namespace quorvel
