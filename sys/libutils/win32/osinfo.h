// Which Windows runs, whether this 32-bit program runs on 64-bit Windows, and whether
// Setup supports the running Windows. Only the WOW64 answer is cached.
#pragma once
#include "sys/libutils/osnames.h"

#include <windows.h>
#include <string>

namespace ts { namespace sys { namespace win32 {

using sys::Architecture;
using sys::OsVersion;

// Newest first: the registry's version numbers for 10 and later, the
// version-verification API below. Throws SystemErrorCodeException when
// GetVersionExA fails while telling a 6.1 server apart.
OsVersion getOsVersion();
// 1 when this 32-bit process runs on 64-bit Windows, else 0; asked once per process.
int isWow64();
// The machine that the running Windows itself is built for. Tests put a double in, since
// Wine runs on no ARM64 machine.
class INativeMachine {
public:
    virtual ~INativeMachine() = default;
    // An IMAGE_FILE_MACHINE_* value; IMAGE_FILE_MACHINE_UNKNOWN when Windows cannot tell.
    virtual USHORT nativeMachine() const = 0;
};

// IsWow64Process2 of the system folder's kernel32, resolved at run time. Windows before
// 10 version 1511 lacks it: unknown there.
class WindowsNativeMachine : public INativeMachine {
public:
    USHORT nativeMachine() const override;
};

// Setup carries software and drivers for x86 and x64 only. Unknown counts as supported:
// the Windows that cannot tell runs on nothing else.
bool isMachineSupported(USHORT nativeMachine);

// Windows 7 / Server 2008 R2 and later, but not 10.1 or later, on a machine that
// isMachineSupported accepts.
bool isOsSupported(const INativeMachine& machine);
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

// The driver configuration's names (sys/libutils/osnames.h).
using sys::architectureFromName;
using sys::osVersionFromName;

// Decimal conversion as the C library does it (leading blanks and a sign allowed,
// stops at the first non-digit). False without digits or out of the int range.
bool parseDecimalInt(const std::wstring& text, int& out);

}}} // namespace ts::sys::win32
