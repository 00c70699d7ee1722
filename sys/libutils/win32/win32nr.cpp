// Win32 only.
#include "sys/libutils/win32/win32nr.h"

#include <vector>

namespace ts { namespace sys { namespace win32 {

bool getModuleFileName(HMODULE module, std::wstring& out)
{
    std::vector<wchar_t> buffer(16);
    for (;;) {
        DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length != 0 && length < buffer.size()) {
            out.assign(buffer.data(), length);
            return true;
        }
        size_t next = buffer.size() * 2;
        if (next >= 0xFFFF)
            return false;
        buffer.resize(next);
    }
}

}}} // namespace ts::sys::win32
