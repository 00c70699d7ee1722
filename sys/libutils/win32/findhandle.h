// Owner of a FindFirstFileW search handle (FindClose).
#pragma once
#include "sys/libutils/win32/uniqueowner.h"

#include <windows.h>

namespace ts { namespace sys { namespace win32 {

struct FindHandleTraits {
    using Type = HANDLE;
    static HANDLE none() { return INVALID_HANDLE_VALUE; }
    static bool needsClose(HANDLE) { return true; }
    static void close(HANDLE handle) { FindClose(handle); }
};
using FindHandle = UniqueOwner<FindHandleTraits>;

}}} // namespace ts::sys::win32
