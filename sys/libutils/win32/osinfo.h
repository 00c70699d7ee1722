// Which Windows runs, whether this 32-bit program runs on 64-bit Windows, and whether
// Setup supports the running Windows. Only the WOW64 answer is cached.
#pragma once
#include "sys/libutils/win32/osnames.h"

#include <windows.h>
#include <string>

namespace ts { namespace sys { namespace win32 {

// Newest first: the registry's version numbers for 10 and later, the
// version-verification API below. Throws SystemErrorCodeException when
// GetVersionExA fails while telling a 6.1 server apart.
OsVersion getOsVersion();
// 1 when this 32-bit process runs on 64-bit Windows, else 0; asked once per process.
int isWow64();
// Windows 7 / Server 2008 R2 and later, but not 10.1 or later.
bool isOsSupported();
// True for anything but a workstation (also when the question fails).
bool isServer();
// Whether the product type is Windows MultiPoint Server (0x38).
bool isMultiPointServer(const OSVERSIONINFOEXA& info);
bool isVersionAtLeast(WORD majorVersion, WORD minorVersion, WORD servicePackMajor, DWORD buildNumber);

// "CurrentMajorVersionNumber" and "CurrentMinorVersionNumber" of
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion (present from Windows 10 on).
bool readRegistryVersion(WORD& majorOut, WORD& minorOut);
bool isRegistryVersionAtLeast(WORD wantedMajor, WORD wantedMinor);
// "CurrentBuildNumber" as a decimal number. A missing value leaves `buildOut` alone;
// a value that is not a number sets it to 0. Both return false.
bool readBuildNumber(int& buildOut);
// GetVersionExA into a zeroed record; throws SystemErrorCodeException on failure.
void getVersionInfo(OSVERSIONINFOEXA& info);

// Decimal conversion as the C library does it (leading blanks and a sign allowed,
// stops at the first non-digit). False without digits or out of the int range.
bool parseDecimalInt(const std::wstring& text, int& out);

}}} // namespace ts::sys::win32
