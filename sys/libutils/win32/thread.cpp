// Win32 only: the thread-name slot lives in one process-wide TLS index.
#include "sys/libutils/win32/thread.h"

#include "sys/libutils/win32/localmemory.h"

#include <windows.h>
#include <cstring>

namespace ts { namespace sys {

namespace {
DWORD nameSlot()
{
    static const DWORD slot = TlsAlloc();
    return slot;
}
} // namespace

void setCurrentThreadName(const char* name)
{
    DWORD slot = nameSlot();
    if (slot == TLS_OUT_OF_INDEXES)
        return;
    char* copy = nullptr;
    if (name) {
        size_t size = strlen(name) + 1;
        copy = static_cast<char*>(LocalAlloc(LMEM_FIXED, size));
        if (copy)
            memcpy(copy, name, size);
    }
    win32::LocalMemory previous(TlsGetValue(slot));
    TlsSetValue(slot, copy);
}

std::string getCurrentThreadName()
{
    DWORD slot = nameSlot();
    if (slot == TLS_OUT_OF_INDEXES)
        return "";
    const char* name = static_cast<const char*>(TlsGetValue(slot));
    return name ? name : "";
}

}} // namespace ts::sys
