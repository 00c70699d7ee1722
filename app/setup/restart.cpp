#include "app/setup/restart.h"

#include "sys/libutils/exception.h"
#include "sys/libutils/logger.h"
#include "sys/libutils/win32/handle.h"
#include "tk/libgui/resourcefunctions.h"

#include <windows.h>

namespace ts { namespace app { namespace setupInstall {

namespace {
const int kError = 2;
const int kInfo = 4;

struct RestartLog : sys::Logger::Logged {
    RestartLog() : sys::Identity("RestartService", ""), Logged(sys::Logger::instance(), "RestartService", "") {}
};

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

bool failed(RestartLog& log, const char* step)
{
    DWORD error = GetLastError();
    TS_LOG(log, kError) << "Restart not started: " << step << " failed, "
                        << tk::gui::resource::toNarrow(sys::windowsErrorText(error));
    return false;
}
} // namespace

bool RestartService::restart()
{
    RestartLog log;
    sys::win32::Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.receive()))
        return failed(log, "OpenProcessToken");
    if (!setShutdownPrivilege(token.get(), true))
        return failed(log, "enabling SeShutdownPrivilege");
    TS_LOG(log, kInfo) << "Restarting the machine";
    if (!InitiateSystemShutdownA(nullptr, nullptr, 0, TRUE, TRUE))
        return failed(log, "InitiateSystemShutdownA");
    setShutdownPrivilege(token.get(), false);
    TS_LOG(log, kInfo) << "Restart started";
    return true;
}

}}} // namespace ts::app::setupInstall
