// The process's own command line as Windows keeps it (UTF-16), UTF-8 for handing it to
// the narrow option parser without losing characters outside the ANSI code page, and the
// ANSI code page's text of the narrow paths back to UTF-16.
#pragma once
#include <string>

namespace ts { namespace sys { namespace win32 {

// What follows the program name, as WinMain receives it: the name runs to its closing
// quote when it starts with one, else to the first space or tab; the blanks after it
// are skipped.
std::wstring argumentsAfterProgram(const std::wstring& commandLine);
// argumentsAfterProgram of GetCommandLineW().
std::wstring processArguments();

// Invalid UTF-16 or UTF-8 converts with replacement characters; never throws.
std::string toUtf8(const std::wstring& text);
std::wstring fromUtf8(const std::string& text);
// Text of the ANSI code page, for the narrow paths of the logger and the dump writer.
std::wstring fromAnsi(const std::string& text);

}}} // namespace ts::sys::win32
