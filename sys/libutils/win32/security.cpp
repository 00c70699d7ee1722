// Win32 only.
#include "sys/libutils/win32/security.h"

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

}}} // namespace ts::sys::win32
