// Which Windows runs, and whether Setup supports it.
#pragma once

namespace ts { namespace sys { namespace win32 {

// True when this 32-bit process runs on 64-bit Windows (cached).
bool isWow64();
// Windows 7 / Server 2008 R2 up to (not including) 10.1.
bool isOsSupported();

}}} // namespace ts::sys::win32
