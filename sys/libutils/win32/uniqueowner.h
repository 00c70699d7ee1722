// Move-only owner for Windows handles that cannot be duplicated simply. `Traits` says
// what "no handle" is, which values need closing, and how to close.
#pragma once
#include <utility>

namespace ts { namespace sys { namespace win32 {

template <typename Traits>
class UniqueOwner {
public:
    using Type = typename Traits::Type;

    UniqueOwner() = default;
    explicit UniqueOwner(Type value) : m_value(value) {}
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;
    UniqueOwner(UniqueOwner&& other) noexcept : m_value(std::exchange(other.m_value, Traits::none())) {}
    UniqueOwner& operator=(UniqueOwner&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_value, Traits::none()));
        return *this;
    }
    ~UniqueOwner() { reset(); }

    Type get() const { return m_value; }
    bool valid() const { return m_value != Traits::none() && m_value != Type(); }
    explicit operator bool() const { return valid(); }
    void reset(Type value = Traits::none())
    {
        if (valid() && Traits::needsClose(m_value))
            Traits::close(m_value);
        m_value = value;
    }
    // Gives up ownership without closing.
    Type release() { return std::exchange(m_value, Traits::none()); }
    // For out-parameters of Windows calls.
    Type* receive() { reset(); return &m_value; }

private:
    Type m_value = Traits::none();
};

}}} // namespace ts::sys::win32
