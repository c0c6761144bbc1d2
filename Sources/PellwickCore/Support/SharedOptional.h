#pragma once

#include <memory>
#include <optional>
#include <utility>

namespace Pellwick {

/// An optional value whose copies share one stored value until one of them changes it (copy on
/// write), and otherwise behaves as `std::optional<T>`. For a large member of a record that is
/// copied many times over, into lists and the rows of trees: a copy costs a pointer instead of
/// the whole value. Changing access (`*`, `->` on a non-const object) makes the value this
/// object's own first. Copies may live on different threads; one object is not shared between
/// threads that change it, as with any value.
template<typename T>
class SharedOptional
{
public:
    SharedOptional() = default;

    SharedOptional(std::nullopt_t) {} // NOLINT(google-explicit-constructor): as optional's

    SharedOptional(const T &value) // NOLINT(google-explicit-constructor): as optional's
        : m_value(std::make_shared<T>(value))
    {}

    SharedOptional(T &&value) // NOLINT(google-explicit-constructor): as optional's
        : m_value(std::make_shared<T>(std::move(value)))
    {}

    SharedOptional(const std::optional<T> &value) // NOLINT(google-explicit-constructor)
    {
        if (value)
            m_value = std::make_shared<T>(*value);
    }

    SharedOptional(std::optional<T> &&value) // NOLINT(google-explicit-constructor)
    {
        if (value)
            m_value = std::make_shared<T>(std::move(*value));
    }

    bool has_value() const { return m_value != nullptr; } // NOLINT(readability-identifier-naming)

    explicit operator bool() const { return has_value(); }

    const T &operator*() const { return *m_value; }

    const T *operator->() const { return m_value.get(); }

    T &operator*() { return *owned(); }

    T *operator->() { return owned(); }

    void reset() { m_value.reset(); }

    friend bool operator==(const SharedOptional &a, const SharedOptional &b)
    {
        return a.m_value == b.m_value || (a.m_value && b.m_value && *a.m_value == *b.m_value);
    }

    friend bool operator==(const SharedOptional &a, std::nullopt_t) { return !a.m_value; }

    friend bool operator==(const SharedOptional &a, const std::optional<T> &b)
    {
        return a.m_value ? b && *a.m_value == *b : !b;
    }

private:
    T *owned()
    {
        if (m_value.use_count() > 1)
            m_value = std::make_shared<T>(std::as_const(*m_value));
        return m_value.get();
    }

    std::shared_ptr<T> m_value;
};

} // namespace Pellwick
