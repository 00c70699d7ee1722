// Owner of an open registry key (RegCloseKey). RegistryKey copies a key by opening it
// again with the access wanted, so this owner only moves.
#pragma once
#include "sys/libutils/win32/uniqueowner.h"

#include <windows.h>

namespace ts { namespace sys { namespace win32 {

struct KeyHandleTraits {
    using Type = HKEY;
    static HKEY none() { return nullptr; }
    // Opening a predefined key (HKEY_LOCAL_MACHINE...) with an empty subkey gives back
    // the predefined handle itself, which the whole process shares: never closed here.
    static bool needsClose(HKEY key)
    {
        ULONG_PTR value = reinterpret_cast<ULONG_PTR>(key);
        return value < 0x80000000ul || value > 0x80000007ul;
    }
    static void close(HKEY key) { RegCloseKey(key); }
};
using KeyHandle = UniqueOwner<KeyHandleTraits>;

}}} // namespace ts::sys::win32
