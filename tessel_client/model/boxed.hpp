// An optional value kept behind a pointer. For a field that is rarely set in a record that is
// stored many times over: absent, it costs one pointer instead of the whole value, so the
// record (and every cache line it touches) stays small. Reads like std::optional.
#pragma once

#include <concepts>
#include <memory>
#include <type_traits>
#include <optional>
#include <utility>

namespace tessel {

template <class T>
class Boxed {
public:
    Boxed() = default;
    Boxed(std::nullopt_t) {}
    Boxed(T value) : value_(std::make_unique<T>(std::move(value))) {}
    Boxed(const Boxed& other) : value_(other.value_ ? std::make_unique<T>(*other.value_) : nullptr) {}
    Boxed(Boxed&&) noexcept = default;
    Boxed& operator=(const Boxed& other) {
        if (this != &other) value_ = other.value_ ? std::make_unique<T>(*other.value_) : nullptr;
        return *this;
    }
    Boxed& operator=(Boxed&&) noexcept = default;
    Boxed& operator=(std::nullopt_t) {
        value_.reset();
        return *this;
    }
    // From a std::optional of the same value (only that type, so that a plain value never has
    // two ways in).
    template <class U>
        requires std::same_as<std::remove_cvref_t<U>, std::optional<T>>
    Boxed& operator=(U&& value) {
        if (value)
            *this = T(*std::forward<U>(value));
        else
            reset();
        return *this;
    }
    Boxed& operator=(T value) {
        if (value_)
            *value_ = std::move(value);
        else
            value_ = std::make_unique<T>(std::move(value));
        return *this;
    }

    bool has_value() const { return value_ != nullptr; }
    explicit operator bool() const { return has_value(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return value_.get(); }
    const T* operator->() const { return value_.get(); }
    void reset() { value_.reset(); }
    // A copy for a record that keeps the value inline.
    std::optional<T> as_optional() const { return value_ ? std::optional<T>(*value_) : std::nullopt; }

    friend bool operator==(const Boxed& a, const Boxed& b) {
        return a.has_value() == b.has_value() && (!a.has_value() || *a == *b);
    }
    friend bool operator==(const Boxed& a, const T& b) { return a.has_value() && *a == b; }
    friend bool operator==(const Boxed& a, std::nullopt_t) { return !a.has_value(); }
    template <class U>
        requires std::same_as<U, T>
    friend bool operator==(const Boxed& a, const std::optional<U>& b) {
        return a.has_value() == b.has_value() && (!a.has_value() || *a == *b);
    }

private:
    std::unique_ptr<T> value_;
};

}  // namespace tessel
