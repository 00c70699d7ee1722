// Owner types for Windows handles. Each closes its handle in the destructor; copying
// duplicates the handle (DuplicateHandle), so every owner closes its own.
#pragma once
#include <windows.h>
#include <utility>

namespace ts { namespace sys { namespace win32 {

template <HANDLE (*Invalid)()>
class BasicHandle {
public:
    BasicHandle() = default;
    explicit BasicHandle(HANDLE handle) : m_handle(handle) {}
    BasicHandle(const BasicHandle& other) : m_handle(duplicate(other.m_handle)) {}
    BasicHandle(BasicHandle&& other) noexcept : m_handle(other.release()) {}
    BasicHandle& operator=(BasicHandle other) noexcept { std::swap(m_handle, other.m_handle); return *this; }
    ~BasicHandle() { reset(); }

    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != Invalid() && m_handle != nullptr; }
    explicit operator bool() const { return valid(); }
    HANDLE release() { HANDLE h = m_handle; m_handle = Invalid(); return h; }
    void reset(HANDLE handle = Invalid())
    {
        if (valid())
            CloseHandle(m_handle);
        m_handle = handle;
    }
    // For out-parameters of Windows calls.
    HANDLE* receive() { reset(); return &m_handle; }

private:
    static HANDLE duplicate(HANDLE handle)
    {
        if (handle == Invalid() || handle == nullptr)
            return Invalid();
        HANDLE copy = Invalid();
        if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
            return Invalid();
        return copy;
    }
    HANDLE m_handle = Invalid();
};

inline HANDLE nullHandleValue() { return nullptr; }
inline HANDLE invalidHandleValue() { return INVALID_HANDLE_VALUE; }

// Kernel objects whose "no handle" is null: processes, threads, mutexes, tokens, events.
using Handle = BasicHandle<nullHandleValue>;
// Files, whose "no handle" is INVALID_HANDLE_VALUE.
using FileHandle = BasicHandle<invalidHandleValue>;

}}} // namespace ts::sys::win32
