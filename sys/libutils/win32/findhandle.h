// Owner of a FindFirstFileW search handle. Search handles cannot be duplicated, so the
// owner only moves.
#pragma once
#include <windows.h>
#include <utility>

namespace ts { namespace sys { namespace win32 {

class FindHandle {
public:
    FindHandle() = default;
    explicit FindHandle(HANDLE handle) : m_handle(handle) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    FindHandle(FindHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, INVALID_HANDLE_VALUE)) {}
    ~FindHandle()
    {
        if (valid())
            FindClose(m_handle);
    }

    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    explicit operator bool() const { return valid(); }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

}}} // namespace ts::sys::win32
