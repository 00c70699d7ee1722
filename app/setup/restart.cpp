#include "app/setup/restart.h"

#include "app/setup/resource.h"
#include "sys/libutils/exception.h"
#include "sys/libutils/logger.h"
#include "sys/libutils/win32/handle.h"
#include "tk/libgui/resourcefunctions.h"

#include <windows.h>

namespace ts { namespace app { namespace setupInstall {

namespace {

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
    TS_LOG(log, sys::LogLevel::Error) << "Restart not started: " << step << " failed, "
                                      << tk::gui::resource::toNarrow(sys::windowsErrorText(error));
    return false;
}
} // namespace

RestartService::RestartService(std::wstring productName, uint16_t language)
    : m_productName(std::move(productName)), m_language(language)
{
}

const unsigned kRestartQuestionStyle = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SETFOREGROUND;

RestartQuestion restartQuestion(const std::wstring& productName, uint16_t language)
{
    using namespace tk::gui::resource;
    static const wchar_t* const fallback =
        L"Windows must restart to finish installing %1. Restart now? Programs with unsaved work will ask you to save "
        L"it first. Choose No to restart later.";
    const std::wstring question = loadString(IDS_RESTART_QUESTION, fallback, language);
    return {formatMessage(question.empty() ? fallback : question, productName),
            formatMessage(loadString(IDS_CAPTION, L"Install Tessaline Software for %1", language), productName)};
}

bool RestartService::askToRestart()
{
    const RestartQuestion question = restartQuestion(m_productName, m_language);
    return MessageBoxW(nullptr, question.text.c_str(), question.caption.c_str(), kRestartQuestionStyle) == IDYES;
}

bool RestartService::restart(bool forceApplicationsClosed)
{
    RestartLog log;
    sys::win32::Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.receive()))
        return failed(log, "OpenProcessToken");
    if (!setShutdownPrivilege(token.get(), true))
        return failed(log, "enabling SeShutdownPrivilege");
    TS_LOG(log, sys::LogLevel::Info) << "Restarting the machine"
        << (forceApplicationsClosed ? ", applications closed" : ", applications may ask to save");
    if (!InitiateSystemShutdownExA(nullptr, nullptr, 0, forceApplicationsClosed, TRUE,
                                   SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                                       SHTDN_REASON_FLAG_PLANNED))
        return failed(log, "InitiateSystemShutdownExA");
    setShutdownPrivilege(token.get(), false);
    TS_LOG(log, sys::LogLevel::Info) << "Restart started";
    return true;
}

}}} // namespace ts::app::setupInstall
