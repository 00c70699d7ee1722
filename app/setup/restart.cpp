#include "app/setup/restart.h"

#include "sys/libutils/win32/handle.h"

#include <windows.h>

namespace ts { namespace app { namespace setupInstall {

namespace {
bool setShutdownPrivilege(HANDLE token, bool enable)
{
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
        return false;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    SetLastError(0);
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    // Also ERROR_NOT_ALL_ASSIGNED: the privilege was not granted.
    return GetLastError() == 0;
}
} // namespace

bool RestartService::restart()
{
    sys::win32::Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.receive()))
        return false;
    if (!setShutdownPrivilege(token.get(), true))
        return false;
    if (!InitiateSystemShutdownA(nullptr, nullptr, 0, TRUE, TRUE))
        return false;
    setShutdownPrivilege(token.get(), false);
    return true;
}

}}} // namespace ts::app::setupInstall
