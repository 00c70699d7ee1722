// The two foundation calls that the host's parsers link against but that need Windows
// behind them. On the host an assertion failure is a finding, and no parser may ever
// ask for a Windows error text.
#include "sys/libutils/exception.h"
#include "sys/libutils/win32/tsassert.h"

#include <cstdio>
#include <cstdlib>

namespace ts { namespace sys {

void assertFailed(const char* expression, const char* file, int line)
{
    fprintf(stderr, "Assert failure: %s at line %d in file %s\n", expression, line, file);
    abort();
}

std::wstring windowsErrorText(uint32_t windowsError, bool)
{
    fprintf(stderr, "Windows error text of 0x%08x asked for on the host\n", windowsError);
    abort();
}

}} // namespace ts::sys
