// Starting child programs. The child gets a primary duplicate of this process's own
// token with the user profile loaded; a plain CreateProcessW is the fallback. Nothing
// here throws.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace ts { namespace sys { namespace win32 {

// A primary duplicate of this process's token; null when any step fails. The caller
// closes it.
HANDLE duplicateOwnToken();

// Starts `commandLine`. `startup` is reset (size 68) before each attempt. Each failed
// attempt stores its GetLastError() in `error`; a successful one leaves it alone. The
// thread handle is closed; the process handle (null when nothing started) belongs to
// the caller. While a WorkingFolder exists, the child gets it as TEMP and TMP. A
// non-empty `program` is the file that runs, whatever the command line names first:
// nothing is then searched for.
PROCESS_INFORMATION launchProcess(const std::wstring& commandLine, DWORD& error, STARTUPINFOW& startup,
                                  DWORD creationFlags, const std::wstring& program = std::wstring());

// Starts `commandLine` (`program` as for launchProcess) without waiting. 0 when a process
// started, else the Windows error of the last attempt.
DWORD startProcess(const std::wstring& commandLine, const std::wstring& program = std::wstring());

// Starts `commandLine` (`program` as for launchProcess) and waits for it without time
// limit. True with the child's full exit code in `exitCode`; false when nothing started,
// `exitCode` then holding the Windows error.
bool runProcess(const std::wstring& commandLine, DWORD& exitCode, const std::wstring& program = std::wstring());

// An environment block ("NAME=value\0...\0\0") with TEMP and TMP set to `folder`
// (its final backslash dropped) in place of their old values (names in any case),
// added at the end where missing. What the children of a run get: the user's own
// temporary folder is the user's to change.
std::vector<wchar_t> environmentWithTemp(const wchar_t* block, const std::wstring& folder);

// The full path of a program of the system folder ("msiexec.exe"). An elevated process
// that names a system program without a path would find one planted in its own or the
// current folder first.
std::wstring systemProgramPath(const wchar_t* fileName);

}}} // namespace ts::sys::win32
