#pragma once

#include <cassert>
#include <utility>
#include <variant>

namespace quorvel {

template <class E> struct Unexpected { E error; };

template <class E> Unexpected<std::decay_t<E>> unexpected(E&& error) {
    return {std::forward<E>(error)};
}

// A value or the error that prevented it. Used inside the core wherever an operation can fail with
// something the caller may want to inspect; nothing of it crosses the C interface.
template <class T, class E> class Expected {
public:
    Expected(T value) : storage_(std::in_place_index<0>, std::move(value)) {}
    template <class G>
    Expected(Unexpected<G> failure) : storage_(std::in_place_index<1>, std::move(failure.error)) {}

    bool hasValue() const { return storage_.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    T& value() & { return std::get<0>(storage_); }
    const T& value() const& { return std::get<0>(storage_); }
    T&& value() && { return std::get<0>(std::move(storage_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const E& error() const { return std::get<1>(storage_); }

private:
    std::variant<T, E> storage_;
};

template <class E> class Expected<void, E> {
public:
    Expected() = default;
    template <class G>
    Expected(Unexpected<G> failure) : error_(std::move(failure.error)), failed_(true) {}

    bool hasValue() const { return !failed_; }
    explicit operator bool() const { return hasValue(); }
    const E& error() const {
        assert(failed_);
        return error_;
    }

private:
    E error_{};
    bool failed_ = false;
};

} // namespace quorvel
