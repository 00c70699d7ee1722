#include "unit/sys/testlogger.h"
#include "support/testsupport.h"

#include "sys/libutils/exception.h"
#include "sys/libutils/win32/exception.h"
#include "sys/libutils/win32/tsassert.h"
#include "tk/libgui/resourcefunctions.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <stdexcept>
#include <string>

using namespace ts::sys;
using ts::tk::gui::resource::toNarrow;

namespace {

const bool kLoggerReady = (ts::test::testLogger(), true);

std::string describe(const std::function<void()>& thrower)
{
    try {
        thrower();
    } catch (...) {
        return describeCurrentException();
    }
    return "nothing thrown";
}

// Reads the byte at a null address on purpose.
void touchNull()
{
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

// Executes an undefined instruction on purpose.
void executeUd2()
{
    __asm__ volatile("ud2");
}

// What a null access arrives as. Under qemu-user (TS_EMULATED=1, set by the test scripts
// where 32-bit code is emulated) the signal context handed to Wine carries trap number -1
// instead of the page fault's 14, and Wine reports a fault with an unknown trap as an
// illegal instruction.
struct Fault {
    DWORD code;
    const char* text;
};
Fault nullAccessFault()
{
    const char* emulated = getenv("TS_EMULATED");
    if (emulated && std::string(emulated) == "1")
        return {0xC000001D, "Structured Exception C000001D Illegal Instruction"};
    return {0xC0000005, "Structured Exception C0000005 Access Violation"};
}

struct Worker : Logger::Logged {
    Worker() : Identity("CrashWorker", ""), Logger::Logged(ts::test::testLogger(), "CrashWorker", "") {}
};

DWORD WINAPI crashingThread(void*)
{
    Worker worker;
    runAtThreadTop(worker, [] { touchNull(); });
    return 0;
}

uint32_t runChild(const std::string& childCase, std::wstring& dir)
{
    return ts::test::runChildCase("ChildProcess.Run", childCase, dir);
}

} // namespace

// The body of the child processes started by the tests below.
TEST(ChildProcess, Run)
{
    std::string what = ts::test::childCase();
    if (what.empty())
        GTEST_SKIP() << "runs only as a child process of the tests below";
    if (what == "assert8") {
        ts::test::testSettings().setMachine("TessalineManager", "AssertBehaviour", "8");
        assertFailed("1 == 2", "child.cpp", 7);
        ExitProcess(0x55);
    } else if (what == "worker-av") {
        HANDLE thread = CreateThread(nullptr, 0, crashingThread, nullptr, 0, nullptr);
        WaitForSingleObject(thread, 30000);
        ExitProcess(0x56);
    }
    FAIL() << "unknown child case " << what;
}

TEST(MessageFormatter, InsertsAndEscapes)
{
    EXPECT_EQ(L"a-X-b", MessageFormatter(L"a-%1-b").add(L"X").format());
    EXPECT_EQ(L"100%", MessageFormatter(L"100%%").format());
    EXPECT_EQ(L"[]", MessageFormatter(L"[%0]").add(L"X").format());
    EXPECT_EQ(L"[]", MessageFormatter(L"[%3]").add(L"X").format());
    EXPECT_EQ(L"%x%", MessageFormatter(L"%x%").format());
    EXPECT_EQ(L"ends in %", MessageFormatter(L"ends in %").format());
    EXPECT_EQ(L"%1", MessageFormatter(L"%1").add(L"%1").format()); // an insert is not expanded again
    MessageFormatter reused(L"%1");
    reused.add(L"once").format();
    EXPECT_EQ(L"", reused.format()); // inserts are cleared after formatting
}

TEST(ExceptionTexts, CodesMessagesAndWindowsErrors)
{
    EXPECT_EQ(L"Message 0x0000000C", MessageException(12).getText());
    EXPECT_EQ(L"Message 0x00000001", ErrorCodeException(12).getText());
    EXPECT_EQ(L"Message 0x00000005", ErrorCodeException(5).getText());
    EXPECT_EQ(L"", ErrorCodeException(0).getText());
    std::wstring system = SystemError(5).getText();
    std::wstring expected = L"Message 0x00000001, win32 0x00000005: " + windowsErrorText(5, true);
    EXPECT_EQ(expected, system);
    EXPECT_EQ(std::wstring::npos, system.find(L'\n'));
    EXPECT_EQ(L"Internal error \"Message 0x00000001\", option::GroupOption should never be cloned",
              InternalError(L"option::GroupOption should never be cloned").getText());
    EXPECT_EQ(L"Message 0x00000021", SystemMessageException(33, 126).getText());
    EXPECT_EQ(windowsErrorText(2), SystemErrorCodeException(2).getText());
    EXPECT_EQ(0u, windowsErrorText(2).find(L"win32 0x00000002: "));
    EXPECT_EQ(toNarrow(SystemError(5).getText()), std::string(SystemError(5).what()));
}

TEST(ExceptionTexts, DescribeCurrentExceptionTakesEveryKind)
{
    EXPECT_EQ("Message 0x0000000C", describe([] { throw MessageException(12); }));
    EXPECT_EQ("bad thing", describe([] { throw std::runtime_error("bad thing"); }));
    EXPECT_EQ("plain text", describe([] { throw "plain text"; }));
    EXPECT_EQ("Structured Exception C0000005 Access Violation",
              describe([] { throw StructuredException(0xC0000005); }));
    EXPECT_EQ("Structured Exception E0000001 Unknown", describe([] { throw StructuredException(0xE0000001); }));
    EXPECT_EQ("Unknown exception type", describe([] { throw 42; }));
    std::unique_ptr<Exception> copy(SystemError(5).clone());
    EXPECT_EQ(toNarrow(SystemError(5).getText()), describe([&] { copy->raise(); }));
}

TEST(StructuredExceptions, GuardedBlockTakesARaisedExceptionAndRunGoesOn)
{
    DWORD code = 0;
    int after = 0;
    bool completed = runGuarded([&] { RaiseException(0xE0001234, 0, 0, nullptr); after = 1; },
                                [](EXCEPTION_POINTERS* p) -> LONG {
                                    return p->ExceptionRecord->ExceptionCode == 0xE0001234
                                               ? EXCEPTION_EXECUTE_HANDLER
                                               : EXCEPTION_CONTINUE_SEARCH;
                                },
                                &code);
    EXPECT_FALSE(completed);
    EXPECT_EQ(0xE0001234u, code);
    EXPECT_EQ(0, after);
    // The frame is gone: a nested pair works again, and C++ exceptions pass through.
    EXPECT_TRUE(runGuarded([] {}, [](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_EXECUTE_HANDLER; }));
    EXPECT_THROW(runGuarded([] { throw std::runtime_error("x"); },
                            [](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_EXECUTE_HANDLER; }),
                 std::runtime_error);
    DWORD inner = 0;
    EXPECT_FALSE(runGuarded([&] {
        runGuarded([] { RaiseException(0xE0000002, 0, 0, nullptr); },
                   [](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_CONTINUE_SEARCH; });
    }, [](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_EXECUTE_HANDLER; }, &inner));
    EXPECT_EQ(0xE0000002u, inner);
}

TEST(StructuredExceptions, AccessViolationIsTranslatedOnceOnAThreadWithTheTranslator)
{
    installStructuredExceptionTranslator();
    try {
        runTranslated(touchNull);
        FAIL() << "no exception";
    } catch (const StructuredException& e) {
        EXPECT_EQ(nullAccessFault().code, e.code());
        EXPECT_STREQ(nullAccessFault().text, e.what());
    }
    EXPECT_FALSE(isStructuredExceptionTranslatorInstalled());
}

TEST(StructuredExceptions, IllegalInstructionIsTranslated)
{
    installStructuredExceptionTranslator();
    try {
        runTranslated(executeUd2);
        FAIL() << "no exception";
    } catch (const StructuredException& e) {
        EXPECT_EQ(0xC000001Du, e.code());
        EXPECT_STREQ("Structured Exception C000001D Illegal Instruction", e.what());
    }
    EXPECT_FALSE(isStructuredExceptionTranslatorInstalled());
}

TEST(StructuredExceptions, WorkerAccessViolationIsLoggedAtTopLevelAndEndsTheProcess)
{
    std::wstring dir;
    uint32_t code = runChild("worker-av", dir);
    EXPECT_EQ(3u, code); // abort()
    std::vector<std::string> lines = ts::test::decodeFile(ts::test::readFile(dir + L"\\TSUNIT.log"));
    bool found = false;
    for (const std::string& line : lines)
        found |= line.find("\tCrashWorker\t") != std::string::npos &&
                 line.find("\tFATAL\t") != std::string::npos &&
                 line.find(std::string("\tTop level exception: ") + nullAccessFault().text) != std::string::npos;
    EXPECT_TRUE(found) << (lines.empty() ? "no log" : lines.back());
    ts::test::removeTree(dir);
}

TEST(Minidump, FileNamesPlainUniqueAndTheTenAlternatives)
{
    SYSTEMTIME t = {};
    t.wYear = 2016; t.wMonth = 2; t.wDay = 12; t.wHour = 14; t.wMinute = 47; t.wSecond = 4; t.wMilliseconds = 7;
    auto none = [](const std::string&) { return false; };
    EXPECT_EQ("C:\\d\\Setup.dmp", minidumpFileName("C:\\d\\Setup", false, t, none));
    EXPECT_EQ("C:\\d\\Setup20160212-144704_007.dmp", minidumpFileName("C:\\d\\Setup", true, t, none));
    auto first = [](const std::string& p) { return p == "S20160212-144704_007.dmp"; };
    EXPECT_EQ("S20160212-144704_007-1.dmp", minidumpFileName("S", true, t, first));
    auto all = [](const std::string&) { return true; };
    EXPECT_EQ("", minidumpFileName("S", true, t, all)); // never overwritten
    EXPECT_EQ("S-1.dmp", minidumpFileName("S", false, t, [](const std::string& p) { return p == "S.dmp"; }));
}

TEST(Assertions, BehaviourChoosesTheHandlersInOrder)
{
    EXPECT_TRUE(makeAssertHandlers(0)->handlers().empty());
    auto chain = makeAssertHandlers(0x1F);
    ASSERT_EQ(5u, chain->handlers().size());
    EXPECT_NE(nullptr, dynamic_cast<AssertLogger*>(chain->handlers()[0].get()));
    EXPECT_NE(nullptr, dynamic_cast<AssertMessager*>(chain->handlers()[1].get()));
    EXPECT_NE(nullptr, dynamic_cast<AssertCrashDumper*>(chain->handlers()[2].get()));
    EXPECT_NE(nullptr, dynamic_cast<AssertAborter*>(chain->handlers()[3].get()));
    EXPECT_EQ(3, assertBehaviour());
    // An Int option read from the store: an unsigned decimal number, 0 when there is none.
    const std::pair<const char*, long> texts[] = {{"not a number", 0}, {"0x10", 0}, {"12abc", 12}, {"16", 16}};
    for (const auto& text : texts) {
        ts::test::testSettings().setMachine("TessalineManager", "AssertBehaviour", text.first);
        EXPECT_EQ(text.second, assertBehaviour()) << text.first;
    }
    ts::test::testSettings().set("TessalineManager", "AssertBehaviour", "0"); // the user scope is not read
    EXPECT_EQ(16, assertBehaviour());
    ts::test::testSettings().erase("TessalineManager", "AssertBehaviour");
    ts::test::testSettings().eraseMachine("TessalineManager", "AssertBehaviour");
    EXPECT_EQ(3, assertBehaviour());
}

TEST(Assertions, DefaultBehaviourLogsWritesAMinidumpAndGoesOn)
{
    std::wstring dir = ts::test::makeTempDir(L"dump");
    ts::test::testSettings().setMachine("Core", "DebugLocation", toNarrow(dir) + "\\");
    assertFailed("x != 0", "sample.cpp", 12);
    ts::test::testSettings().eraseMachine("Core", "DebugLocation");
    EXPECT_TRUE(ts::test::captureContains("\tAssertLogger\t"));
    EXPECT_TRUE(ts::test::captureContains("\tERROR\t"));
    EXPECT_TRUE(ts::test::captureContains("\tAssert failure: x != 0 at line 12 in file sample.cpp"));
    std::string dump = ts::test::readFile(dir + L"\\ts_unit.dmp");
    ASSERT_GT(dump.size(), 32u);
    EXPECT_EQ("MDMP", dump.substr(0, 4));
    EXPECT_TRUE(ts::test::captureContains("\tMinidump saved in " + toNarrow(dir) + "\\ts_unit.dmp"));
    ts::test::removeTree(dir);
}

TEST(Assertions, UniqueDumpFilesGetTimeStampedNames)
{
    std::wstring dir = ts::test::makeTempDir(L"udump");
    ts::test::testSettings().setMachine("Core", "DebugLocation", toNarrow(dir) + "\\");
    ts::test::testSettings().set("Core", "EnableUniqueDmpFiles", "1");
    ts::test::testSettings().setMachine("TessalineManager", "AssertBehaviour", "2");
    assertFailed("y", "sample.cpp", 13);
    ts::test::testSettings().eraseMachine("Core", "DebugLocation");
    ts::test::testSettings().erase("Core", "EnableUniqueDmpFiles");
    ts::test::testSettings().eraseMachine("TessalineManager", "AssertBehaviour");
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\ts_unit2*_*.dmp").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    FindClose(find);
    EXPECT_EQ("MDMP", ts::test::readFile(dir + L"\\" + data.cFileName).substr(0, 4));
    ts::test::removeTree(dir);
}

TEST(Assertions, BehaviourZeroDoesNothingAndEightEndsTheProcess)
{
    ts::test::testSettings().setMachine("TessalineManager", "AssertBehaviour", "0");
    size_t before = ts::test::CaptureSink::lines().size();
    assertFailed("quiet", "sample.cpp", 14);
    EXPECT_EQ(before, ts::test::CaptureSink::lines().size());
    ts::test::testSettings().eraseMachine("TessalineManager", "AssertBehaviour");

    std::wstring dir;
    EXPECT_EQ(3u, runChild("assert8", dir));
    ts::test::testSettings().eraseMachine("TessalineManager", "AssertBehaviour"); // the child set it
    ts::test::removeTree(dir);
}
