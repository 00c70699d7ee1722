#include "sys/libutils/win32/tsassert.h"

#include "sys/libutils/win32/exception.h"
#include "sys/libutils/win32/library.h"
#include "sys/libutils/win32/registrydatastore.h"

#include <windows.h>
#include <cstdlib>
#include <sstream>

namespace ts { namespace sys {

std::string windowsSourcePath(const char* file)
{
    std::string path = file ? file : "";
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

namespace {
std::string assertText(const char* expression, const char* file, int line)
{
    std::ostringstream text;
    text << "Assert failure: " << (expression ? expression : "") << " at line " << line << " in file "
         << windowsSourcePath(file);
    return text.str();
}
} // namespace

AssertLogger::AssertLogger() : Identity("AssertLogger", ""), Logger::Logged(Logger::instance(), "AssertLogger", "")
{
}

void AssertLogger::handle(const char* expression, const char* file, int line)
{
    TS_LOG(*this, LogLevel::Error) << assertText(expression, file, line);
}

AssertMessager::AssertMessager()
    : Identity("AssertMessager", ""), Logger::Logged(Logger::instance(), "AssertMessager", "")
{
}

void AssertMessager::handle(const char* expression, const char* file, int line)
{
    TS_LOG(*this, LogLevel::Verbose) << "Warning user of assert failure.";
    int answer = MessageBoxA(nullptr, assertText(expression, file, line).c_str(), "Tessaline assert failure",
                             MB_ICONWARNING | MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST);
    if (answer == 0) {
        DWORD error = GetLastError();
        TS_LOG(*this, LogLevel::Error) << "Couldn't warn the user. Error code = " << error;
    }
}

AssertCrashDumper::AssertCrashDumper()
    : Identity("AssertCrashDumper", ""), Logger::Logged(Logger::instance(), "AssertCrashDumper", "")
{
}

void AssertCrashDumper::handle(const char*, const char*, int)
{
    runGuarded([] { RaiseException(1, 0, 0, nullptr); },
               [this](EXCEPTION_POINTERS* pointers) -> LONG {
                   writeMinidump(this, pointers);
                   return EXCEPTION_EXECUTE_HANDLER;
               });
}

void AssertAborter::handle(const char*, const char*, int)
{
    // The C runtime this program links (msvcrt) may not have _set_abort_behavior;
    // use it when the loaded one does.
    using SetAbortBehavior = unsigned (__cdecl*)(unsigned, unsigned);
    if (auto set = win32::LoadedModule(L"msvcrt.dll").getFunction<SetAbortBehavior>("_set_abort_behavior"))
        set((m_writeAbortMessage ? 0x1u : 0u) | (m_callReportFault ? 0x2u : 0u), 0x3u);
    abort();
}

void CompositeAssertHandler::handle(const char* expression, const char* file, int line)
{
    for (auto& handler : m_handlers)
        handler->handle(expression, file, line);
}

std::unique_ptr<CompositeAssertHandler> makeAssertHandlers(long behaviour)
{
    auto chain = std::make_unique<CompositeAssertHandler>();
    if (behaviour & 0x01)
        chain->add(std::make_shared<AssertLogger>());
    if (behaviour & 0x04)
        chain->add(std::make_shared<AssertMessager>());
    if (behaviour & 0x02)
        chain->add(std::make_shared<AssertCrashDumper>());
    if (behaviour & 0x08)
        chain->add(std::make_shared<AssertAborter>(true, true));
    if (behaviour & 0x10)
        chain->add(std::make_shared<AssertAborter>(false, false));
    return chain;
}

long assertBehaviour()
{
    option::Int behaviour("AssertBehaviour", 3, "", "");
    option::loadSetting(behaviour, "TessalineManager", false);
    return behaviour.getValue();
}

void runAssertHandlers(const char* expression, const char* file, int line)
{
    makeAssertHandlers(assertBehaviour())->handle(expression, file, line);
}

}} // namespace ts::sys

// The build links this file into every Windows program (it asks for this name), so that
// plain code's assertions run the handlers from the start.
extern "C" const bool tsWindowsAssertions = (ts::sys::setAssertionHandler(&ts::sys::runAssertHandlers), true);
