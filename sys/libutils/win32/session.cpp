// Win32 only.
#include "sys/libutils/win32/session.h"

#include "sys/libutils/exception.h"
#include "sys/libutils/win32/library.h"
#include "sys/libutils/text.h"

#include <vector>

namespace ts { namespace sys { namespace win32 {

namespace {

const uint32_t messageImpersonationFailed = 48;
const uint32_t messageProfileFailed = 49;

using ActiveConsoleSessionFn = DWORD(WINAPI*)();
using QueryUserTokenFn = BOOL(WINAPI*)(ULONG, PHANDLE);

DWORD activeConsoleSession()
{
    static const auto fn = systemFunction<ActiveConsoleSessionFn>("kernel32.dll", "WTSGetActiveConsoleSessionId");
    return fn ? fn() : 0;
}

bool queryUserToken(DWORD session, Handle& token)
{
    static const auto fn = systemFunction<QueryUserTokenFn>("wtsapi32.dll", "WTSQueryUserToken");
    return fn && fn(session, token.receive()) && token;
}

struct Win32Logger : Logger::Logged {
    Win32Logger() : Identity("ts::sys::Win32", ""), Logger::Logged(Logger::instance(), "ts::sys::Win32", "") {}
};

const Logger::Logged& win32Logger()
{
    static Win32Logger logger;
    return logger;
}

std::string errorText(DWORD error)
{
    return toNarrow(windowsErrorText(error));
}

} // namespace

LoggedOnUserImpersonator::LoggedOnUserImpersonator()
{
    DWORD session = activeConsoleSession();
    Handle token;
    if (!queryUserToken(session, token))
        return;
    Handle duplicate;
    if (!DuplicateTokenEx(token.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenImpersonation,
                          duplicate.receive()))
        return;
    if (!ImpersonateLoggedOnUser(duplicate.get()))
        throw MessageException(messageImpersonationFailed);
    m_impersonating = true;
}

LoggedOnUserImpersonator::~LoggedOnUserImpersonator()
{
    if (m_impersonating)
        RevertToSelf();
}

std::unique_ptr<UserImpersonator> LoggedOnUserImpersonatorFactory::createImpersonator()
{
    return std::unique_ptr<UserImpersonator>(new LoggedOnUserImpersonator());
}

UserProfile::UserProfile(HANDLE userToken)
{
    const Logger::Logged& log = win32Logger();
    DWORD size = 0;
    if (GetTokenInformation(userToken, TokenUser, nullptr, 0, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        DWORD error = GetLastError();
        TS_LOG(log, LogLevel::Warn) << "Failed to get SID from user token";
        throw SystemMessageException(messageProfileFailed, error);
    }
    std::vector<BYTE> user(size);
    if (!GetTokenInformation(userToken, TokenUser, user.data(), size, &size)) {
        DWORD error = GetLastError();
        TS_LOG(log, LogLevel::Warn) << "Failed to get SID from user token";
        throw SystemMessageException(messageProfileFailed, error);
    }
    PSID source = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    std::vector<BYTE> sid(GetLengthSid(source));
    CopySid(static_cast<DWORD>(sid.size()), sid.data(), source);

    char name[256] = "";
    char domain[256] = "";
    DWORD nameSize = sizeof name;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, sid.data(), name, &nameSize, domain, &domainSize, &use))
        name[0] = '\0';
    if (name[0] == '\0') {
        DWORD error = GetLastError();
        TS_LOG(log, LogLevel::Warn) << "Failed to get account name from SID";
        throw SystemMessageException(messageProfileFailed, error);
    }
    if (!DuplicateToken(userToken, SecurityImpersonation, m_token.receive())) {
        DWORD error = GetLastError();
        TS_LOG(log, LogLevel::Warn) << "Failed to duplicate user token for account " << name;
        throw SystemMessageException(messageProfileFailed, error);
    }
    m_profile.dwSize = sizeof m_profile;
    m_profile.lpUserName = name;
    // userenv is no known DLL: from the system folder, when a profile is needed.
    auto loadProfile = systemFunction<decltype(&LoadUserProfileA)>("userenv.dll", "LoadUserProfileA");
    if (!loadProfile || !loadProfile(m_token.get(), &m_profile)) {
        DWORD error = GetLastError();
        TS_LOG(log, LogLevel::Warn) << "Failed to load user profile ";
        throw SystemMessageException(messageProfileFailed, error);
    }
    // The name buffer ends with this constructor.
    m_profile.lpUserName = nullptr;
}

UserProfile::~UserProfile()
{
    // Loaded by the constructor, so this resolves.
    systemFunction<decltype(&UnloadUserProfile)>("userenv.dll", "UnloadUserProfile")(m_token.get(), m_profile.hProfile);
}

std::string desktopName(HDESK desktop)
{
    wchar_t name[256] = L"";
    DWORD needed = 0;
    if (!desktop || !GetUserObjectInformationW(desktop, UOI_NAME, name, sizeof name - sizeof(wchar_t), &needed))
        return std::string();
    return toNarrow(name);
}

ConnectToDesktop::~ConnectToDesktop()
{
    if (!m_desktop)
        return;
    if (m_previous)
        switchThread(m_previous);
    std::string name = desktopName(m_desktop);
    if (!CloseDesktop(m_desktop)) {
        TS_LOG(m_logger, LogLevel::Error) << "Unable to close desktop " << name << ":" << errorText(GetLastError());
    }
}

void ConnectToDesktop::connect(HDESK desktop)
{
    m_desktop = desktop;
    if (!m_desktop)
        return;
    m_threadId = GetCurrentThreadId();
    m_previous = switchThread(m_desktop);
}

HDESK ConnectToDesktop::switchThread(HDESK target)
{
    if (!target)
        return nullptr;
    HDESK current = GetThreadDesktop(GetCurrentThreadId());
    if (current == target || SetThreadDesktop(target))
        return current;
    DWORD error = GetLastError();
    TS_LOG(m_logger, LogLevel::Error) << "*** Failed to set the thread desktop to " << desktopName(target) << ": "
                        << errorText(error);
    return nullptr;
}

ConnectToUserDesktop::ConnectToUserDesktop(const Logger::Logged& logger) : ConnectToDesktop(logger)
{
    HDESK desktop = OpenInputDesktop(0, FALSE, MAXIMUM_ALLOWED);
    if (!desktop) {
        TS_LOG(logger, LogLevel::Warn) << "Failed to open Input desktop: " << errorText(GetLastError());
    }
    for (const char* name : {"WinLogon", "Default", "Screen-Saver"}) {
        if (desktop)
            break;
        desktop = OpenDesktopA(name, 0, FALSE, MAXIMUM_ALLOWED);
        if (!desktop) {
            TS_LOG(logger, LogLevel::Warn) << "Failed to open " << name << " desktop: " << errorText(GetLastError());
        }
    }
    if (!desktop) {
        TS_LOG(logger, LogLevel::Error) << "*** Failed to find desktop";
        return;
    }
    connect(desktop);
}

}}} // namespace ts::sys::win32
