// Processes, files and folders.
#pragma once
#include <windows.h>
#include <string>

namespace ts { namespace sys { namespace win32 {

// Full path of a module (null: the executable). False when it cannot be had.
bool getModuleFileName(HMODULE module, std::wstring& out);

}}} // namespace ts::sys::win32
