// TS_ASSERT and where a failed assertion goes. Plain code: each program chooses the
// handling (every Windows program gets the AssertBehaviour handlers of win32/tsassert.h
// before main); without a choice a failure is written to standard error and ends the
// process, so that a fuzzing run keeps the input as a finding.
#pragma once

namespace ts { namespace sys {

using AssertionHandler = void (*)(const char* expression, const char* file, int line);

// The handling of every later failure; null restores the default.
void setAssertionHandler(AssertionHandler handler);

// Hands a failed assertion to the handling; returns unless that ends the process.
void assertFailed(const char* expression, const char* file, int line);

}} // namespace ts::sys

#define TS_ASSERT(expression) \
    ((expression) ? (void)0 : ::ts::sys::assertFailed(#expression, __FILE__, __LINE__))
