// Opening a document or address as the signed-in user, not as the elevated caller.
#pragma once
#include <windows.h>
#include <string>

namespace ts { namespace sys { namespace win32 {

// Asks the desktop shell (the shell window's IShellDispatch2::ShellExecute, which runs
// in the shell's own unelevated process) to open `file` with its default verb, shown
// normally. There is no fallback to opening it from this process: false, with the
// failing call's HRESULT in `result`, when the shell cannot be reached.
bool shellExecuteAsUser(const std::wstring& file, HRESULT& result);

}}} // namespace ts::sys::win32
