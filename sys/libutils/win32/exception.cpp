// Win32 only: the Windows error text, and the texts of the exceptions that carry one.
#include "sys/libutils/exception.h"

#include <windows.h>
#include <cwchar>

namespace ts { namespace sys {

std::wstring windowsErrorText(uint32_t windowsError, bool bare)
{
    wchar_t message[1000] = L"Unknown";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                   nullptr, windowsError, 0, message, 1000, nullptr);
    std::wstring text = message;
    // MAX_WIDTH_MASK leaves a trailing blank where the line break was.
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\r' || text.back() == L'\n'))
        text.pop_back();
    if (bare)
        return text;
    wchar_t code[16];
    swprintf(code, 16, L"%08x", windowsError);
    return MessageFormatter(L"win32 0x%1: %2").add(code).add(text).format();
}

std::wstring SystemError::getText() const
{
    return ErrorCodeException::getText() + L", " + windowsErrorText(m_windowsError);
}

void SystemMessageException::addInserts(MessageFormatter& formatter) const
{
    MessageException::addInserts(formatter);
    formatter.add(windowsErrorText(m_windowsError));
}

std::wstring SystemErrorCodeException::getText() const
{
    return windowsErrorText(m_windowsError);
}

}} // namespace ts::sys

// ---- structured exceptions ------------------------------------------------------------

#include "sys/libutils/win32/exception.h"

#include "sys/libutils/win32/debuglocation.h"
#include "sys/libutils/win32/handle.h"
#include "sys/libutils/win32/library.h"
#include "sys/libutils/win32/registrydatastore.h"
#include "sys/libutils/win32/commandline.h"
#include "sys/libutils/win32/safefile.h"

#include <dbghelp.h>
#include <cstdio>
#include <cstdlib>

namespace ts { namespace sys {

namespace {

struct GuardFrame {
    EXCEPTION_REGISTRATION_RECORD record; // first: the dispatcher hands us its address
    const std::function<LONG(EXCEPTION_POINTERS*)>* filter;
    void* jump[5];
    DWORD code;
};

#if !defined(__i386__)
#error "Frame-based exception handlers on fs:[0] exist on 32-bit x86 only"
#endif

// The head of the thread's exception registration chain (fs:[0]).
EXCEPTION_REGISTRATION_RECORD* chainHead()
{
    EXCEPTION_REGISTRATION_RECORD* head;
    __asm__ volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void setChainHead(EXCEPTION_REGISTRATION_RECORD* head)
{
    __asm__ volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

EXCEPTION_DISPOSITION NTAPI guardHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT* context, void*)
{
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    GuardFrame* frame = static_cast<GuardFrame*>(establisher);
    EXCEPTION_POINTERS pointers = {record, context};
    LONG verdict = (*frame->filter)(&pointers);
    if (verdict == EXCEPTION_CONTINUE_EXECUTION)
        return ExceptionContinueExecution;
    if (verdict != EXCEPTION_EXECUTE_HANDLER)
        return ExceptionContinueSearch;
    frame->code = record->ExceptionCode;
    __builtin_longjmp(frame->jump, 1);
}

thread_local bool t_translate = false;

} // namespace

bool runGuarded(const std::function<void()>& body, const std::function<LONG(EXCEPTION_POINTERS*)>& filter,
                DWORD* code)
{
    GuardFrame frame;
    frame.record.Next = chainHead();
    frame.record.Handler = guardHandler;
    frame.filter = &filter;
    frame.code = 0;
    if (__builtin_setjmp(frame.jump)) {
        // Back from the handler: drop this frame and every deeper one with it.
        setChainHead(frame.record.Next);
        if (code)
            *code = frame.code;
        return false;
    }
    setChainHead(&frame.record);
    try {
        body();
    } catch (...) {
        setChainHead(frame.record.Next);
        throw;
    }
    setChainHead(frame.record.Next);
    return true;
}

void installStructuredExceptionTranslator()
{
    t_translate = true;
}

bool isStructuredExceptionTranslatorInstalled()
{
    return t_translate;
}

void runTranslated(const std::function<void()>& body)
{
    DWORD code = 0;
    auto filter = [](EXCEPTION_POINTERS*) -> LONG {
        if (!t_translate)
            return EXCEPTION_CONTINUE_SEARCH;
        // No crash reporter is registered in this program, so no dump is written here.
        t_translate = false;
        return EXCEPTION_EXECUTE_HANDLER;
    };
    if (!runGuarded(body, filter, &code))
        throw StructuredException(code);
}

void runAtThreadTop(const Logger::Logged& reporter, const std::function<void()>& body)
{
    try {
        installStructuredExceptionTranslator();
        runTranslated(body);
    } catch (...) {
        if (reporter.isEnabled(LogLevel::Fatal)) {
            TS_LOG(reporter, LogLevel::Fatal) << "Top level exception: " << describeCurrentException();
        }
        abort();
    }
}

std::string minidumpFileName(const std::string& base, bool unique, const SYSTEMTIME& time,
                             const std::function<bool(const std::string&)>& taken)
{
    char stamp[40] = "";
    if (unique)
        snprintf(stamp, sizeof stamp, "%04u%02u%02u-%02u%02u%02u_%03u", time.wYear, time.wMonth, time.wDay,
                 time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
    std::string path = base + stamp + ".dmp";
    for (int n = 1; taken(path); ++n) {
        if (n > 10)
            return "";
        path = base + stamp + "-" + std::to_string(n) + ".dmp";
    }
    return path;
}

bool writeMinidump(const Logger::Logged* reporter, EXCEPTION_POINTERS* pointers)
{
    std::string path;
    std::string tried;
    win32::FileHandle file;
    try {
        SYSTEMTIME now;
        GetLocalTime(&now);
        option::Bool unique("EnableUniqueDmpFiles", false, "", "");
        option::loadSetting(unique, "Core", true);
        // Created, never overwritten or followed: a taken name or a link moves on.
        path = minidumpFileName(debugLocation(false) + executableBaseName(), unique.getValue(), now,
                                [&](const std::string& p) {
                                    tried = p;
                                    file = win32::createNewFile(win32::fromAnsi(p), GENERIC_READ | GENERIC_WRITE, 0);
                                    DWORD error = GetLastError();
                                    return !file && (error == ERROR_FILE_EXISTS || error == win32::kLinkRefused);
                                });
    } catch (...) {
        if (reporter) {
            TS_LOG(*reporter, LogLevel::Error) << "Failed to get minidump";
        }
        return false;
    }
    if (!file.valid()) {
        if (reporter) {
            TS_LOG(*reporter, LogLevel::Error) << "Failed to open file " << (path.empty() ? tried : path)
                                               << " to write minidump";
        }
        return false;
    }
    MINIDUMP_EXCEPTION_INFORMATION information;
    information.ThreadId = GetCurrentThreadId();
    information.ExceptionPointers = pointers;
    information.ClientPointers = TRUE;
    // dbghelp is no known DLL: from the system folder, and only when a dump is due.
    auto writeDump = win32::systemFunction<decltype(&MiniDumpWriteDump)>("dbghelp.dll", "MiniDumpWriteDump");
    bool written = writeDump && writeDump(GetCurrentProcess(), GetCurrentProcessId(), file.get(), MiniDumpNormal,
                                          pointers ? &information : nullptr, nullptr, nullptr) != FALSE;
    if (reporter) {
        if (written) {
            TS_LOG(*reporter, LogLevel::Error) << "Minidump saved in " << path;
        } else {
            TS_LOG(*reporter, LogLevel::Error) << "Failed to get minidump";
        }
    }
    return written;
}

}} // namespace ts::sys
