// The one way to call a library's function found at run time: an ILibrary and its
// getProcAddress, typed by getFunction. A loaded dynamic library, optionally with one
// function resolved at load time; the system libraries kept loaded once used; the
// libraries the process holds already; and the loading rules that keep a program's
// own folder out of the DLL search.
#pragma once
#include <windows.h>
#include <string>

namespace ts { namespace sys { namespace win32 {

class ILibrary {
public:
    virtual ~ILibrary() = default;
    // The export's address; null when the library is not loaded or lacks it.
    virtual void* getProcAddress(const char* name) = 0;
    // getProcAddress as a function of type Fn.
    template <typename Fn>
    Fn getFunction(const char* name)
    {
        return reinterpret_cast<Fn>(getProcAddress(name));
    }
};

class Library : public ILibrary {
public:
    // Loads the library file at `path`, a full path; a bare file name is taken as a
    // system library (loadSystemLibrary). Nothing is resolved; loaded() tells whether it
    // worked.
    explicit Library(const std::wstring& path);
    // Loads a system library by file name (loadSystemLibrary); nothing is resolved.
    explicit Library(const char* fileName);
    // Loads `fileName` and resolves `function` at once. A bare file name is taken from
    // the system folder only, never from the program's or the current folder. Throws
    // SystemMessageException (message 33, the Windows error) when the function cannot
    // be resolved.
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

// A library this process holds already (kernel32, the C runtime it was linked with),
// found by name: nothing is loaded, searched or released. Every export is null when the
// process does not hold it. Inline, so that a small tool using it links nothing more.
class LoadedModule : public ILibrary {
public:
    explicit LoadedModule(const wchar_t* name) : m_module(GetModuleHandleW(name)) {}

    void* getProcAddress(const char* name) override
    {
        return m_module ? reinterpret_cast<void*>(GetProcAddress(m_module, name)) : nullptr;
    }

private:
    HMODULE m_module;
};

// First thing a program does that may run elevated from a folder others can write:
// later loads, including those inside system libraries, search the system folder only
// (SetDefaultDllDirectories). Where that is missing (Windows 7 without KB2533623) only
// the current folder leaves the search (SetDllDirectoryW(L"")); false then.
bool restrictDllSearch();

// Whether LoadLibraryEx takes the LOAD_LIBRARY_SEARCH_* flags (Windows 8, or 7 with
// KB2533623).
bool searchFlagsSupported();

// Loads a system library by bare file name from the system folder, with its
// dependencies searched there first: with LOAD_LIBRARY_SEARCH_SYSTEM32 where
// `searchFlags`, else by full path. A name with a folder is loaded as given.
HMODULE loadSystemLibrary(const char* fileName, bool searchFlags = searchFlagsSupported());

// An export of a system library, loaded on first use and kept loaded until the process
// ends. Null, with the Windows error as the last error, when either is missing.
void* systemFunctionAddress(const char* fileName, const char* function);

template <typename Fn>
Fn systemFunction(const char* fileName, const char* function)
{
    return reinterpret_cast<Fn>(systemFunctionAddress(fileName, function));
}

// An export that a system library names by ordinal only (msi.dll), loaded the same way.
template <typename Fn>
Fn systemFunction(const char* fileName, WORD ordinal)
{
    return reinterpret_cast<Fn>(systemFunctionAddress(fileName, MAKEINTRESOURCEA(ordinal)));
}

}}} // namespace ts::sys::win32
