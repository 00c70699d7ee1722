// Registry access by key path.
#pragma once
#include "sys/libutils/version.h"

namespace ts { namespace sys { namespace win32 { namespace registry {

// "Version" (REG_SZ, dotted) of HKLM\<subkeyPath> in the native view. False when
// the key or value is missing or not a version.
bool readInstalledVersion(const wchar_t* subkeyPath, Version& out);
bool readCoreVersion(Version& out);
bool readProductVersion(const wchar_t* product, Version& out);

}}}} // namespace ts::sys::win32::registry
