// Security identifiers and group membership of the current process.
#pragma once
#include "sys/libutils/win32/uniqueowner.h"

#include <windows.h>

namespace ts { namespace sys { namespace win32 {

// Owner of a SID made by AllocateAndInitializeSid (FreeSid).
struct SidTraits {
    using Type = PSID;
    static PSID none() { return nullptr; }
    static bool needsClose(PSID) { return true; }
    static void close(PSID sid) { FreeSid(sid); }
};
using SidHandle = UniqueOwner<SidTraits>;

// The process token is a member of the local Administrators group (built-in alias 544).
// Any failure to ask counts as not being a member.
bool isAdministrator();
// The process is elevated, holds the Administrators group enabled or runs as
// LocalSystem: what unelevated programs write must not steer it. Asked once; a failure
// to ask counts as privileged.
bool isPrivilegedProcess();

}}} // namespace ts::sys::win32
