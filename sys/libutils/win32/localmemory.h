// Owner of memory that Windows hands out to be freed with LocalFree (FormatMessageW's
// allocated buffer, thread-local copies).
#pragma once
#include "sys/libutils/win32/uniqueowner.h"

#include <windows.h>

namespace ts { namespace sys { namespace win32 {

struct LocalMemoryTraits {
    using Type = HLOCAL;
    static HLOCAL none() { return nullptr; }
    static bool needsClose(HLOCAL) { return true; }
    static void close(HLOCAL memory) { LocalFree(memory); }
};
using LocalMemory = UniqueOwner<LocalMemoryTraits>;

}}} // namespace ts::sys::win32
