// Win32 only. Apart from the rest of the library code, so that small tools calling it
// link nothing more than kernel32 for it.
#include "sys/libutils/win32/library.h"

namespace ts { namespace sys { namespace win32 {

bool restrictDllSearch()
{
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    // Resolved at run time: Windows 7 has it only with KB2533623. Kernel32 is always
    // loaded, so asking for it by name searches nothing.
    auto setDefault =
        LoadedModule(L"kernel32.dll").getFunction<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return true;
    SetDllDirectoryW(L"");
    return false;
}

}}} // namespace ts::sys::win32
