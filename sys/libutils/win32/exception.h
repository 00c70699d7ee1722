// Win32 only: structured exceptions (hardware faults, RaiseException) and minidumps.
//
// mingw has neither __try/__except nor _set_se_translator. runGuarded registers a
// frame-based handler on the thread's exception chain (fs:[0]) around a call, so that
// it sees exactly the exceptions that no deeper frame handles, as an __except filter
// would; when its filter takes the exception, control returns to runGuarded through
// __builtin_setjmp/__builtin_longjmp and the chain is cut back to the outer frames.
#pragma once
#include "sys/libutils/logger.h"

#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>

namespace ts { namespace sys {

// Runs `body` inside a structured-exception frame. `filter` answers as an __except
// filter does. On EXCEPTION_EXECUTE_HANDLER the rest of `body` is abandoned (its locals
// are not destroyed), `*code` gets the exception code and the result is false; true
// when `body` returned. C++ exceptions pass through unchanged.
bool runGuarded(const std::function<void()>& body, const std::function<LONG(EXCEPTION_POINTERS*)>& filter,
                DWORD* code = nullptr);

// Turns on translation for the calling thread: runTranslated then throws a
// StructuredException for a structured exception that nothing deeper handled. The
// translation turns itself off once used, so a fault while unwinding is not translated
// again.
void installStructuredExceptionTranslator();
bool isStructuredExceptionTranslatorInstalled();
void runTranslated(const std::function<void()>& body);

// A worker thread's top level: installs the translator and runs `body`; whatever
// escapes is logged at FATAL as "Top level exception: " + its description, and the
// process ends with abort().
void runAtThreadTop(const Logger::Logged& reporter, const std::function<void()>& body);

// The dump file for base path `base`: base + ".dmp", or with `unique` base + stamp +
// ".dmp" (stamp "YYYYMMDD-HHMMSS_mmm" of `time`), then that name with "-" + n before
// ".dmp" for n = 1..10 while `taken` says the name cannot be had. "" when all are taken:
// a dump never overwrites a file.
std::string minidumpFileName(const std::string& base, bool unique, const SYSTEMTIME& time,
                             const std::function<bool(const std::string&)>& taken);

// Writes a minidump of this process (MiniDumpNormal) for `pointers` into the debug
// location (executable's folder first). Result lines go to `reporter` (may be null).
// Returns true when the dump was written.
bool writeMinidump(const Logger::Logged* reporter, EXCEPTION_POINTERS* pointers);

}} // namespace ts::sys
