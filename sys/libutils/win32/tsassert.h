// Assertions. The handlers run are chosen by the AssertBehaviour setting.
#pragma once

namespace ts { namespace sys {

// Runs the assertion handlers; returns unless one of them ends the process.
void assertFailed(const char* expression, const char* file, int line);

}} // namespace ts::sys

#define TS_ASSERT(expression) \
    ((expression) ? (void)0 : ::ts::sys::assertFailed(#expression, __FILE__, __LINE__))
