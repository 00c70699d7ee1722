// What a failed assertion does in a Windows program: the handlers the AssertBehaviour
// setting chooses.
#pragma once
#include "sys/libutils/assertion.h"
#include "sys/libutils/logger.h"

#include <memory>
#include <string>
#include <vector>

namespace ts { namespace sys {

class IAssertFailureHandler {
public:
    virtual ~IAssertFailureHandler() = default;
    virtual void handle(const char* expression, const char* file, int line) = 0;
};

// "Assert failure: <expression> at line <line> in file <file>" at ERROR.
class AssertLogger : public IAssertFailureHandler, public Logger::Logged {
public:
    AssertLogger();
    void handle(const char* expression, const char* file, int line) override;
};

// Shows the assertion text in a message box ("Tessaline assert failure").
class AssertMessager : public IAssertFailureHandler, public Logger::Logged {
public:
    AssertMessager();
    void handle(const char* expression, const char* file, int line) override;
};

// Raises a software exception and writes a minidump for it; execution continues.
class AssertCrashDumper : public IAssertFailureHandler, public Logger::Logged {
public:
    AssertCrashDumper();
    void handle(const char* expression, const char* file, int line) override;
};

// Ends the process with abort().
class AssertAborter : public IAssertFailureHandler {
public:
    AssertAborter(bool writeAbortMessage, bool callReportFault)
        : m_writeAbortMessage(writeAbortMessage), m_callReportFault(callReportFault) {}
    [[noreturn]] void handle(const char* expression, const char* file, int line) override;
private:
    bool m_writeAbortMessage;
    bool m_callReportFault;
};

class CompositeAssertHandler : public IAssertFailureHandler {
public:
    void add(std::shared_ptr<IAssertFailureHandler> handler) { m_handlers.push_back(std::move(handler)); }
    void handle(const char* expression, const char* file, int line) override;
    const std::vector<std::shared_ptr<IAssertFailureHandler>>& handlers() const { return m_handlers; }
private:
    std::vector<std::shared_ptr<IAssertFailureHandler>> m_handlers;
};

// The chain for AssertBehaviour bits: 0x01 logger, 0x04 messager, 0x02 crash dumper,
// 0x08 aborter (both flags), 0x10 aborter (no flags), in that order.
std::unique_ptr<CompositeAssertHandler> makeAssertHandlers(long behaviour);
// "AssertBehaviour" of "TessalineManager" (machine scope), 3 when unset or unreadable.
long assertBehaviour();

// A source path as __FILE__ gives it (relative to the source root), with every "/"
// turned into "\" as a build on Windows prints it; "" for null.
std::string windowsSourcePath(const char* file);

// Runs the handlers of assertBehaviour(); returns unless one of them ends the process.
// The assertion handling of every Windows program (set before main).
void runAssertHandlers(const char* expression, const char* file, int line);

}} // namespace ts::sys
