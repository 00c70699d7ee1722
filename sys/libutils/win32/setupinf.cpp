// Win32 only.
#include "sys/libutils/win32/setupinf.h"

#include "sys/libutils/win32/library.h"
#include "sys/libutils/win32/win32nr.h"

#include <setupapi.h>

namespace ts { namespace sys { namespace win32 {

namespace {

const DWORD kClassNameSize = 256;

template <typename Fn>
Fn setupapi(const char* function)
{
    return systemFunction<Fn>("setupapi.dll", function);
}

} // namespace

std::wstring getInfDirectory()
{
    const std::wstring windows = getWindowsDirectory();
    return windows.empty() ? std::wstring() : joinPath(windows, L"inf");
}

bool getInfFileList(const std::wstring& folder, std::vector<wchar_t>& buffer, DWORD& requiredSize)
{
    requiredSize = 0;
    static const auto list = setupapi<decltype(&SetupGetInfFileListW)>("SetupGetInfFileListW");
    if (!list)
        return false;
    return list(folder.c_str(), INF_STYLE_WIN4, buffer.data(), static_cast<DWORD>(buffer.size()), &requiredSize) !=
           FALSE;
}

bool getClassNameFromGuid(const GUID& classGuid, std::wstring& name)
{
    static const auto className = setupapi<decltype(&SetupDiClassNameFromGuidW)>("SetupDiClassNameFromGuidW");
    wchar_t buffer[kClassNameSize] = L"";
    if (!className || !className(&classGuid, buffer, kClassNameSize, nullptr))
        return false;
    name = buffer;
    return true;
}

bool getInfClass(const std::wstring& infPath, GUID& classGuid)
{
    static const auto infClass = setupapi<decltype(&SetupDiGetINFClassW)>("SetupDiGetINFClassW");
    wchar_t className[kClassNameSize] = L"";
    GUID found = {};
    if (!infClass || !infClass(infPath.c_str(), &found, className, kClassNameSize, nullptr))
        return false;
    classGuid = found;
    return true;
}

}}} // namespace ts::sys::win32
