// Opening a document or address as the signed-in user, not as the elevated caller.
#pragma once
#include <windows.h>
#include <string>

namespace ts { namespace sys { namespace win32 {

// Asks the desktop shell (the shell window's IShellDispatch2::ShellExecute, which runs
// in the shell's own unelevated process) to open `file` with its default verb, shown
// normally (S_FALSE: the shell could not open it). Where the shell's automation cannot
// be reached, the system's URL handler
// (rundll32 url.dll,FileProtocolHandler) is started with the shell process's token.
// There is no fallback to opening it from this process: false, with the HRESULT of the
// first path's failing call in `result`, when neither works.
bool shellExecuteAsUser(const std::wstring& file, HRESULT& result);

}}} // namespace ts::sys::win32
