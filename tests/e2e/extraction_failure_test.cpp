// A failure names its real cause: a full disk, a missing temporary folder, a damaged
// archive or a missing Core package is never reported as a modified package.
#include "support/setuprun.h"
#include "support/testsupport.h"
#include "sys/libutils/exception.h"
#include "sys/libutils/win32/win32nr.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

namespace ts { namespace test {
namespace {

const char* const kModified = "The software package appears to have been modified.";

// One Setup run of a bundle whose installer programs record their command lines.
struct FailedRun {
    uint32_t exitCode = 0;
    int windowsClosed = 0;
    std::string runLog;
    std::string libraryLog;
    bool installerStarted = false;
};

class SetupFailureCause : public ::testing::Test {
protected:
    // Runs `program` with `options` and the run log; `temp` becomes TEMP and TMP when
    // not empty. The library log is looked for in `libraryFolder`.
    FailedRun run(const std::wstring& program, const std::wstring& options, const std::wstring& temp,
                  const std::wstring& libraryFolder)
    {
        const std::wstring record = m_run.dir + L"\\record.txt";
        std::wstring environment = L"TS_RECORD_FILE=" + record + L'\0';
        if (!temp.empty())
            environment += L"TEMP=" + temp + L'\0' + L"TMP=" + temp + L'\0';
        environment += L'\0';
        const LogSizes before = libraryLogsIn(libraryFolder);
        ProcessResult result = m_run.run(options + L" -mupLogFile {log}", program, environment.c_str());
        FailedRun out;
        out.exitCode = result.started ? result.exitCode : 0xFFFFFFFF;
        out.windowsClosed = result.windowsClosed;
        out.runLog = m_run.log();
        out.libraryLog = newLibraryLogs(libraryFolder, before);
        out.installerStarted = fileExists(record);
        return out;
    }

    // The ERROR line of the run log that holds `text`, without its time stamp.
    static std::string errorLine(const std::string& log, const std::string& text)
    {
        std::istringstream in(log);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.find("ERROR  \t") != std::string::npos && line.find(text) != std::string::npos)
                return withoutTime(line);
        }
        return "";
    }

    SetupRun m_run{L"cause"};
};

// A folder renamed for the life of the object (a working location of a test's run).
class RenamedFolder {
public:
    RenamedFolder(const std::wstring& from, const std::wstring& to)
        : m_from(from), m_to(to), m_moved(MoveFileW(from.c_str(), to.c_str()) != FALSE)
    {
    }
    ~RenamedFolder()
    {
        if (m_moved)
            MoveFileW(m_to.c_str(), m_from.c_str());
    }
    bool moved() const { return m_moved; }

private:
    std::wstring m_from, m_to;
    bool m_moved;
};

std::wstring windowsFolder(const wchar_t* name)
{
    return sys::win32::getWindowsDirectory() + L"\\" + name;
}

TEST_F(SetupFailureCause, FullTemporaryDiskStopsAtOnceWithTheSystemsText)
{
    const char* small = getenv("TS_SMALL_TEMP");
    if (!small || !*small)
        GTEST_SKIP() << "TS_SMALL_TEMP is not set: CTest mounts the small temporary folder for this test";
    const std::string refused = readFile(fromUnix(std::string(small) + ".refused"));
    if (!refused.empty())
        GTEST_SKIP() << "mounting a small tmpfs was refused: " << refused;
    const std::wstring temp = fromUnix(small);
    ASSERT_TRUE(fileExists(temp + L"\\.mounted")) << "the small temporary folder is not mounted";
    // The Windows folder's SystemTemp is linked to its folder "active": Setup unpacks
    // there while it exists.
    removeTree(temp + L"\\active");
    ASSERT_TRUE(CreateDirectoryW((temp + L"\\active").c_str(), nullptr));
    struct Deactivate {
        std::wstring folder;
        ~Deactivate() { removeTree(folder); }
    } deactivate{temp + L"\\active"};
    ASSERT_TRUE(fileExists(windowsFolder(L"SystemTemp") + L"\\.")) << "SystemTemp does not lead to the small folder";

    FailedRun r = run(e2eBundle(L"recorder"), L"-silent", L"", tempPath());
    EXPECT_EQ(1u, r.exitCode) << r.runLog;
    const std::string line = errorLine(r.runLog, "Unpacking the payload failed while ");
    // The system's own text ("There is not enough space on the disk." on Windows).
    const std::string diskFull = narrow(sys::windowsErrorText(ERROR_DISK_FULL, true));
    EXPECT_NE(std::string::npos, line.find(", system error 112: " + diskFull)) << r.runLog;
    EXPECT_NE(std::string::npos, r.libraryLog.find("\tERROR\t")) << r.libraryLog;
    EXPECT_NE(std::string::npos, r.libraryLog.find(line.substr(line.find("Unpacking")))) << r.libraryLog;
    EXPECT_EQ(std::string::npos, r.runLog.find(kModified));
    EXPECT_EQ(std::string::npos, r.runLog.find("Installation failed."));
    EXPECT_FALSE(r.installerStarted);
    EXPECT_TRUE(namesIn(temp + L"\\active", L"TS*.tmp").empty()) << "the unpacked files were left behind";
}

TEST_F(SetupFailureCause, MissingTemporaryFolderIsNamedWithItsCause)
{
    // Neither working location: the Windows folder's Temp is away for the run.
    if (!runningUnderWine())
        GTEST_SKIP() << "moves the Windows folder's Temp away: a test prefix's only";
    ASSERT_FALSE(fileExists(windowsFolder(L"SystemTemp")));
    RenamedFolder away(windowsFolder(L"Temp"), windowsFolder(L"Temp.away"));
    ASSERT_TRUE(away.moved());
    const std::wstring program = e2eBundle(L"recorder");
    FailedRun r = run(program, L"-silent", L"", tempPath());
    EXPECT_EQ(1u, r.exitCode) << r.runLog;
    const std::string line = errorLine(r.runLog, "Unpacking the payload failed while creating the temporary folder in ");
    EXPECT_NE(std::string::npos, line.find(narrow(windowsFolder(L"Temp")) + "\\: archive result 0, system error "))
        << r.runLog;
    EXPECT_EQ(std::string::npos, line.find("system error 0")) << line;
    EXPECT_NE(std::string::npos, r.libraryLog.find(line.substr(line.find("Unpacking")))) << r.libraryLog;
    EXPECT_EQ(std::string::npos, r.runLog.find(kModified));
    EXPECT_FALSE(r.installerStarted);

    // Not quiet: the cause is also shown in exactly one box.
    FailedRun shown = run(program, L"", L"", tempPath());
    EXPECT_EQ(1u, shown.exitCode);
    EXPECT_EQ(1, shown.windowsClosed);
    EXPECT_FALSE(shown.installerStarted);
}

TEST_F(SetupFailureCause, DamagedArchiveInAGoodBundleGivesTheArchiveResult)
{
    const std::set<std::wstring> before = workingFolders();
    FailedRun r = run(e2eBundle(L"damaged"), L"-silent", L"", tempPath());
    EXPECT_EQ(1u, r.exitCode) << r.runLog;
    const std::string line = errorLine(r.runLog, "Unpacking the payload failed while unpacking ");
    ASSERT_FALSE(line.empty()) << r.runLog;
    EXPECT_NE(std::string::npos, line.find("additional.7z: archive result ")) << line;
    EXPECT_EQ(std::string::npos, line.find("archive result 0,")) << line;
    EXPECT_NE(std::string::npos, r.libraryLog.find(line.substr(line.find("Unpacking")))) << r.libraryLog;
    EXPECT_EQ(std::string::npos, r.runLog.find(kModified));
    EXPECT_FALSE(r.installerStarted);
    std::set<std::wstring> left;
    for (const std::wstring& name : workingFolders())
        if (!before.count(name))
            left.insert(name);
    EXPECT_TRUE(left.empty()) << "the unpacked files were left behind";
}

TEST_F(SetupFailureCause, MissingCorePackageIsReportedAsMissing)
{
    FailedRun r = run(e2eBundle(L"nocore"), L"-silent", L"", tempPath());
    EXPECT_EQ(1u, r.exitCode) << r.runLog;
    const std::string line = errorLine(r.runLog, "The installation file ");
    EXPECT_NE(std::string::npos, line.find("TessalineCore")) << r.runLog;
    EXPECT_NE(std::string::npos, line.find(".dat is missing or cannot be read: system error 2: ")) << line;
    EXPECT_NE(std::string::npos, r.libraryLog.find(line.substr(line.find("The installation file ")))) << r.libraryLog;
    EXPECT_NE(std::string::npos, r.libraryLog.find("Installation failed.")) << r.libraryLog;
    EXPECT_EQ(std::string::npos, r.runLog.find(kModified));
    EXPECT_FALSE(r.installerStarted);
}

TEST_F(SetupFailureCause, UnsignedCorePackageKeepsTheModifiedMessage)
{
    FailedRun r = run(e2eBundle(L"unsigned"), L"-silent", L"", tempPath());
    EXPECT_EQ(1u, r.exitCode);
    EXPECT_NE(std::string::npos, errorLine(r.runLog, kModified).find(kModified)) << r.runLog;
    EXPECT_NE(std::string::npos, r.libraryLog.find(kModified)) << r.libraryLog;
    EXPECT_FALSE(r.installerStarted);
}

}
}} // namespace ts::test
