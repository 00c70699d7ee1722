// Win32 only.
#include "sys/libutils/win32/security.h"

#include "sys/libutils/win32/handle.h"

namespace ts { namespace sys { namespace win32 {

bool isAdministrator()
{
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    SidHandle administrators;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, administrators.receive()))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators.get(), &member))
        return false;
    return member != FALSE;
}

namespace {

bool askPrivileged()
{
    if (isAdministrator())
        return true;
    Handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()))
        return true;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size))
        return true;
    if (elevation.TokenIsElevated)
        return true;
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size))
        return true;
    return IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, WinLocalSystemSid) != FALSE;
}

} // namespace

bool isPrivilegedProcess()
{
    static const bool privileged = askPrivileged();
    return privileged;
}

}}} // namespace ts::sys::win32
