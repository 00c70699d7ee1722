// Where the logger puts its default file and where minidumps go.
#pragma once
#include <string>

namespace ts { namespace sys {

// The "DebugLocation" setting of "Core" when not empty (used unchanged); else, with
// `preferTemp`, the temporary directory if it can be opened; else the executable's
// directory if it can be opened, else the temporary directory if it can be opened,
// else "". Directories found here end in a backslash.
std::string debugLocation(bool preferTemp);
// True when the folder can be opened for writing (CreateFileA with backup semantics).
bool canOpenFolder(const std::string& path);
// The executable's full path; throws SystemError when Windows cannot tell it.
std::string executablePath();
// The executable's file name without directory and extension.
std::string executableBaseName();

}} // namespace ts::sys
