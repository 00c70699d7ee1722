// Owner of an open registry key (RegCloseKey). Key handles are duplicated by opening
// the key again with the access wanted, so the owner only moves; RegistryKey copies.
// Opening a predefined key (HKEY_LOCAL_MACHINE...) with an empty subkey gives back the
// predefined handle itself, which is shared by the whole process and never closed here.
#pragma once
#include <windows.h>
#include <utility>

namespace ts { namespace sys { namespace win32 {

class KeyHandle {
public:
    KeyHandle() = default;
    explicit KeyHandle(HKEY key) : m_key(key) {}
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    KeyHandle(KeyHandle&& other) noexcept : m_key(std::exchange(other.m_key, nullptr)) {}
    KeyHandle& operator=(KeyHandle&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.m_key, nullptr));
        return *this;
    }
    ~KeyHandle() { reset(); }

    HKEY get() const { return m_key; }
    explicit operator bool() const { return m_key != nullptr; }
    void reset(HKEY key = nullptr)
    {
        if (m_key && !isPredefined(m_key))
            RegCloseKey(m_key);
        m_key = key;
    }
    // For out-parameters of Windows calls.
    HKEY* receive() { reset(); return &m_key; }

    static bool isPredefined(HKEY key)
    {
        ULONG_PTR value = reinterpret_cast<ULONG_PTR>(key);
        return value >= 0x80000000ul && value <= 0x80000007ul;
    }

private:
    HKEY m_key = nullptr;
};

}}} // namespace ts::sys::win32
