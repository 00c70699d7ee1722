#include "sys/libutils/assertion.h"

#include <cstdio>
#include <cstdlib>

namespace ts { namespace sys {

namespace {
// Constant-initialised: set before any dynamic initialisation can fail an assertion.
AssertionHandler g_handler = nullptr;
} // namespace

void setAssertionHandler(AssertionHandler handler)
{
    g_handler = handler;
}

void assertFailed(const char* expression, const char* file, int line)
{
    if (g_handler) {
        g_handler(expression, file, line);
        return;
    }
    fprintf(stderr, "Assert failure: %s at line %d in file %s\n", expression ? expression : "", line, file ? file : "");
    abort();
}

}} // namespace ts::sys
