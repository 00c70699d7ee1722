// The system's INF files and device setup classes, through setupapi.dll. The library is
// loaded at run time from the system folder, never imported. None of these throws.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace ts { namespace sys { namespace win32 {

// The INF folder of the shared Windows folder ("<windows>\inf"); empty when unknown.
std::wstring getInfDirectory();

// One SetupGetInfFileListW call for the INF_STYLE_WIN4 files of `folder`, into the whole
// of `buffer`. `requiredSize` receives the size the call reports, in characters with
// the list's final NUL (0 when it reports none). Returns the call's own result.
bool getInfFileList(const std::wstring& folder, std::vector<wchar_t>& buffer, DWORD& requiredSize);

// SetupDiClassNameFromGuidW (256 characters). False when the class is not installed or
// setupapi.dll cannot be had; `name` is then unchanged.
bool getClassNameFromGuid(const GUID& classGuid, std::wstring& name);

// The ClassGUID of an INF file (SetupDiGetINFClassW, 256-character class-name buffer).
// False when the file is missing or has no usable [Version] section; `classGuid` is then
// unchanged.
bool getInfClass(const std::wstring& infPath, GUID& classGuid);

}}} // namespace ts::sys::win32
