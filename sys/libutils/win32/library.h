// A loaded dynamic library, optionally with one function resolved at load time.
#pragma once
#include <windows.h>
#include <string>

namespace ts { namespace sys { namespace win32 {

class ILibrary {
public:
    virtual ~ILibrary() = default;
    // The export's address; null when the library is not loaded or lacks it.
    virtual void* getProcAddress(const char* name) = 0;
};

class Library : public ILibrary {
public:
    // Loads `path`; nothing is resolved. loaded() tells whether it worked.
    explicit Library(const std::wstring& path);
    // Loads `fileName` and resolves `function` at once. Throws SystemMessageException
    // (message 33, the Windows error) when the function cannot be resolved.
    Library(const char* fileName, const char* function);
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library() override;

    void* getProcAddress(const char* name) override;
    bool loaded() const { return m_module != nullptr; }
    // The function resolved by the second constructor (null otherwise).
    void* function() const { return m_function; }
    template <typename Fn>
    Fn functionAs() const { return reinterpret_cast<Fn>(m_function); }

private:
    HMODULE m_module = nullptr;
    void* m_function = nullptr;
};

}}} // namespace ts::sys::win32
