// Win32 only.
#include "sys/libutils/win32/library.h"

#include "sys/libutils/exception.h"

namespace ts { namespace sys { namespace win32 {

namespace {
const uint32_t messageFunctionNotFound = 33;
}

Library::Library(const std::wstring& path) : m_module(LoadLibraryExW(path.c_str(), nullptr, 0))
{
}

Library::Library(const char* fileName, const char* function) : m_module(LoadLibraryExA(fileName, nullptr, 0))
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

}}} // namespace ts::sys::win32
