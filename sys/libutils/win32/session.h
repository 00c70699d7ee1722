// User sessions: impersonating the console user, loading a user's profile, and
// putting the calling thread on the interactive desktop.
#pragma once
#include "sys/libutils/logger.h"
#include "sys/libutils/win32/handle.h"

#include <windows.h>
#include <userenv.h>
#include <memory>

namespace ts { namespace sys { namespace win32 {

// Impersonates from construction to destruction, on the constructing thread.
class UserImpersonator {
public:
    virtual ~UserImpersonator() = default;
};

// Impersonates the user logged on at the console, if any. No console user, a missing
// session function or a failed token duplication leave the thread as it is. Throws
// MessageException (48) only when ImpersonateLoggedOnUser itself fails.
class LoggedOnUserImpersonator : public UserImpersonator {
public:
    LoggedOnUserImpersonator();
    LoggedOnUserImpersonator(const LoggedOnUserImpersonator&) = delete;
    LoggedOnUserImpersonator& operator=(const LoggedOnUserImpersonator&) = delete;
    ~LoggedOnUserImpersonator() override;
    bool impersonating() const { return m_impersonating; }

private:
    bool m_impersonating = false;
};

class UserImpersonatorFactory {
public:
    UserImpersonatorFactory() = default;
    UserImpersonatorFactory(const UserImpersonatorFactory&) = delete;
    UserImpersonatorFactory& operator=(const UserImpersonatorFactory&) = delete;
    virtual ~UserImpersonatorFactory() = default;
    virtual std::unique_ptr<UserImpersonator> createImpersonator() = 0;
};

class LoggedOnUserImpersonatorFactory : public UserImpersonatorFactory {
public:
    std::unique_ptr<UserImpersonator> createImpersonator() override;
};

// A factory holding the token of a particular session user. Setup makes none; the
// settings tree only asks whether a factory is of this kind.
class SessionUserImpersonatorFactory : public UserImpersonatorFactory {
public:
    // The session user's token (not owned); null when there is none.
    virtual HANDLE userToken() const { return nullptr; }
};

// The profile of the user of a token, loaded for the object's lifetime. Throws
// SystemMessageException (49) when it cannot be loaded.
class UserProfile {
public:
    explicit UserProfile(HANDLE userToken);
    UserProfile(const UserProfile&) = delete;
    UserProfile& operator=(const UserProfile&) = delete;
    ~UserProfile();
    // The root key of the user's registry hive.
    HKEY getProfileRoot() const { return static_cast<HKEY>(m_profile.hProfile); }

private:
    Handle m_token;
    PROFILEINFOA m_profile = {};
};

// The name of a desktop, for messages ("" when it cannot be had).
std::string desktopName(HDESK desktop);

// Puts the constructing thread on a desktop until destruction, which must happen on
// the same thread. Failures are logged and leave the thread on its own desktop.
class ConnectToDesktop {
public:
    ConnectToDesktop(const ConnectToDesktop&) = delete;
    ConnectToDesktop& operator=(const ConnectToDesktop&) = delete;
    virtual ~ConnectToDesktop();
    HDESK desktop() const { return m_desktop; }
    // The desktop the thread was on; null when no switch happened.
    HDESK previousDesktop() const { return m_previous; }

protected:
    explicit ConnectToDesktop(const Logger::Logged& logger) : m_logger(logger) {}
    // Takes ownership of `desktop` (may be null) and switches this thread to it.
    void connect(HDESK desktop);

private:
    HDESK switchThread(HDESK target);

    HDESK m_desktop = nullptr;
    DWORD m_threadId = 0;
    HDESK m_previous = nullptr;
    const Logger::Logged& m_logger;
};

// The desktop that receives user input: "Input", else "WinLogon", "Default",
// "Screen-Saver", the first that opens.
class ConnectToUserDesktop : public ConnectToDesktop {
public:
    explicit ConnectToUserDesktop(const Logger::Logged& logger);
};

}}} // namespace ts::sys::win32
