// Win32 only.
#include "sys/libutils/win32/library.h"

#include "sys/libutils/exception.h"
#include "sys/libutils/win32/win32nr.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace ts { namespace sys { namespace win32 {

namespace {

const uint32_t messageFunctionNotFound = 33;

HMODULE loadLibraryFile(const std::wstring& path)
{
    // The default search would look beside the program and in the current folder first.
    if (path.find_first_of(L"\\/:") == std::wstring::npos)
        return loadSystemLibrary(std::string(path.begin(), path.end()).c_str());
    return LoadLibraryExW(path.c_str(), nullptr, 0);
}

} // namespace

Library::Library(const std::wstring& path) : m_module(loadLibraryFile(path))
{
}

Library::Library(const char* fileName) : m_module(loadSystemLibrary(fileName))
{
}

Library::Library(const char* fileName, const char* function) : Library(fileName)
{
    m_function = getProcAddress(function);
    if (!m_function) {
        DWORD error = GetLastError();
        if (m_module)
            FreeLibrary(m_module);
        throw SystemMessageException(messageFunctionNotFound, error);
    }
}

Library::~Library()
{
    if (m_module)
        FreeLibrary(m_module);
}

void* Library::getProcAddress(const char* name)
{
    if (!m_module)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(m_module, name));
}

bool searchFlagsSupported()
{
    // The documented test: the update that brought the flags also brought this export.
    return LoadedModule(L"kernel32.dll").getProcAddress("AddDllDirectory") != nullptr;
}

HMODULE loadSystemLibrary(const char* fileName, bool searchFlags)
{
    if (std::strpbrk(fileName, "\\/:"))
        return LoadLibraryExA(fileName, nullptr, 0);
    const std::wstring name(fileName, fileName + std::strlen(fileName)); // system library names are ASCII
    if (searchFlags)
        return LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without the flags: the full path, and the library's dependencies looked for
    // beside it (the system folder) instead of beside the program.
    const std::wstring folder = getSystemDirectory(false);
    if (folder.empty())
        return nullptr;
    return LoadLibraryExW((folder + L"\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void* systemFunctionAddress(const char* fileName, const char* function)
{
    static std::mutex lock;
    // Never destroyed: callers keep the addresses in statics, some used while the
    // process ends.
    static auto* libraries = new std::map<std::string, std::unique_ptr<Library>>();
    std::lock_guard<std::mutex> guard(lock);
    std::unique_ptr<Library>& library = (*libraries)[fileName];
    if (!library || !library->loaded())
        library.reset(new Library(fileName));
    return library->getProcAddress(function);
}

}}} // namespace ts::sys::win32
