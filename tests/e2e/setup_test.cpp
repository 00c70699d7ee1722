// Setup bundles run end to end: installer programs that record their command lines,
// and the demo product with real Windows Installer packages. A recorder registered as
// the handler of the bundle's post-install page scheme records the addresses Setup opens.
#include "support/setuprun.h"
#include "support/testsupport.h"
#include "sys/libutils/logreader.h"
#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/win32nr.h"
#include "sys/libutils/win32/workingfolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <windows.h>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace ts { namespace test {
namespace {

std::wstring fromUtf8(const std::string& utf8)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], size);
    return out;
}

std::vector<std::wstring> lines(const std::wstring& text)
{
    std::vector<std::wstring> out;
    size_t start = 0, end;
    while ((end = text.find(L"\r\n", start)) != std::wstring::npos) {
        out.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return out;
}

// One run of the driver installer stub: its working folder, its command line, and
// whether the progress window was up ("window" or "-").
struct StubRun {
    std::wstring folder;
    std::wstring commandLine;
    std::wstring window;
};

std::vector<StubRun> stubRuns(const std::wstring& text)
{
    std::vector<StubRun> out;
    for (const std::wstring& line : lines(text)) {
        size_t first = line.find(L'\t'), second = line.rfind(L'\t');
        out.push_back({line.substr(0, first), line.substr(first + 1, second - first - 1), line.substr(second + 1)});
    }
    return out;
}

// One run of a bundle with recording installer programs.
struct BundleRun {
    uint32_t exitCode = 0xFFFFFFFF;
    std::vector<std::wstring> commandLines;     // of the installer programs
    std::vector<std::wstring> pages;            // the addresses opened
    std::vector<std::wstring> installerWindows; // per Core/product run: "window" or "-"
    std::vector<StubRun> driverRuns;
    std::string runLog;
    std::set<std::wstring> tempFoldersLeft; // Setup's working folders that were not deleted
    std::vector<std::wstring> security;     // with TS_RECORD_SECURITY: per installer run
    int windowsClosed = 0;
    std::string libraryLog; // the decoded TSS????.log files the run left (then deleted)
};

class SetupEndToEnd : public ::testing::Test {
protected:
    virtual const wchar_t* pageScheme() const { return L"tessaline-e2e"; }

    // `moreEnvironment`: further "NAME=value\0" entries.
    BundleRun run(const wchar_t* name, const std::wstring& options, const std::wstring& recordExit = L"0",
                 const std::wstring& moreEnvironment = L"")
    {
        if (!m_pages)
            m_pages.reset(new UrlSchemeRecorder(pageScheme(), m_dir));
        const std::wstring record = m_dir + L"\\record.txt";
        const std::wstring log = m_dir + L"\\run.log";
        const std::wstring stubRecord = m_dir + L"\\dpinst.txt";
        for (const std::wstring& file : {record, record + L".window", record + L".security", log, stubRecord})
            DeleteFileW(file.c_str());
        CreateDirectoryW((m_dir + L"\\copies").c_str(), nullptr);
        // Setup gets a temporary folder of its own, so that folders other test programs
        // make meanwhile in the shared one are not taken for Setup's leftovers. A TMP
        // given by the caller comes first and wins.
        const std::wstring temp = temporaryFolderOf(moreEnvironment);
        CreateDirectoryW(temp.c_str(), nullptr);
        std::wstring environment = moreEnvironment + L"TEMP=" + temp + L'\0' + L"TMP=" + temp + L'\0' +
                                   L"TS_RECORD_FILE=" + record + L'\0' + L"TS_RECORD_EXIT=" + recordExit + L'\0' +
                                   L"TS_RECORD_COPY=" + m_dir + L"\\copies" + L'\0' + L"TS_DPINST_RECORD=" + stubRecord +
                                   L'\0';
        // Tests that watch the progress window have the installer programs look for it.
        if (!m_closeWindows)
            environment += L"TS_DPINST_WINDOW=" + m_windowTitle + L'\0' + L"TS_RECORD_WINDOW=" + m_windowTitle + L'\0';
        m_pages->setEnvironment(environment);
        const std::set<std::wstring> before = workingFolders();
        const LogSizes logsBefore = libraryLogsIn(temp);
        // Windows the run shows are closed (a box waits for a click under the test display).
        ProcessResult result = runProcess(L"\"" + e2eBundle(name) + L"\" " + options +
                                              (m_runLog ? L" -mupLogFile " + log : L""), 120000,
                                          (environment + L'\0').c_str(), L"", m_closeWindows);
        BundleRun out;
        out.exitCode = result.started ? result.exitCode : 0xFFFFFFFF;
        out.windowsClosed = result.windowsClosed;
        EXPECT_TRUE(m_pages->waitForHandlers());
        for (const std::wstring& line : lines(fromUtf8(readFile(record))))
            if (!m_pages->isRecorderLine(line))
                out.commandLines.push_back(line);
        out.pages = m_pages->addresses(lines(fromUtf8(readFile(record))));
        out.installerWindows = lines(fromUtf8(readFile(record + L".window")));
        out.driverRuns = stubRuns(fromUtf8(readFile(stubRecord)));
        out.runLog = readFile(log);
        out.libraryLog = newLibraryLogs(temp, logsBefore);
        for (const std::wstring& folder : workingFolders())
            if (!before.count(folder))
                out.tempFoldersLeft.insert(folder);
        out.security = lines(fromUtf8(readFile(record + L".security")));
        return out;
    }

    std::string copied(const wchar_t* name) { return readFile(m_dir + L"\\copies\\" + name); }

    // The temporary folder a run with these environment additions uses, with a final
    // backslash: the caller's TMP, else the test's own.
    std::wstring temporaryFolderOf(const std::wstring& moreEnvironment) const
    {
        size_t at = 0;
        while (at < moreEnvironment.size()) {
            const size_t end = std::min(moreEnvironment.find(L'\0', at), moreEnvironment.size());
            if (moreEnvironment.compare(at, 4, L"TMP=") == 0 && end > at + 4) {
                std::wstring folder = moreEnvironment.substr(at + 4, end - at - 4);
                return folder.back() == L'\\' ? folder : folder + L'\\';
            }
            at = end + 1;
        }
        return tempFolder();
    }
    std::wstring tempFolder() const { return m_dir + L"\\tmp\\"; }

    const TempFolder m_temp{L"e2e"};
    const std::wstring& m_dir = m_temp.path;
    // Registered on the first run; gone before the folder that holds its program.
    std::unique_ptr<UrlSchemeRecorder> m_pages;
    // Windows the run shows are closed unless a test watches the progress window.
    bool m_closeWindows = true;
    // Runs get -mupLogFile unless a test clears this.
    bool m_runLog = true;
    // The progress window's title: product string 0 of the bundle.
    std::wstring m_windowTitle = L"Tessaline E2E Test";
};

const std::wstring kE2ePage = L"tessaline-e2e://e2e.tessaline.com/support/installcomplete.php";

// The Setup folder a recorded command line ran from: the quoted program's folder.
std::wstring programFolder(const std::wstring& commandLine)
{
    size_t end = commandLine.find(L'"', 1);
    std::wstring program = commandLine.substr(1, end - 1);
    return program.substr(0, program.find_last_of(L'\\') + 1);
}

// The quoted value of NAME="..." (or of /option "...") in a command line.
std::wstring valueOf(const std::wstring& commandLine, const std::wstring& name)
{
    const std::wstring separator = name[0] == L'/' ? L" \"" : L"=\"";
    size_t at = commandLine.find(L" " + name + separator);
    if (at == std::wstring::npos)
        return L"<none>";
    at += name.size() + 3;
    return commandLine.substr(at, commandLine.find(L'"', at) - at);
}

// Only SYSTEM and Administrators can change it: either owns it, its DACL is protected
// (nothing inherited from a folder users may change), and every entry is for one of them.
bool administratorsOnly(const std::wstring& sddl)
{
    std::wstring rest = sddl;
    for (const wchar_t* trustee : {L";;;SY)", L";;;BA)"})
        for (size_t at; (at = rest.find(trustee)) != std::wstring::npos;)
            rest.erase(rest.rfind(L'(', at), at + 6 - rest.rfind(L'(', at));
    for (const wchar_t* header : {L"O:BAD:P", L"O:SYD:P", L"O:BAD:PAI", L"O:SYD:PAI"})
        if (rest == header)
            return true;
    return false;
}

// A new folder of the Windows folder's Temp (SystemTemp where Windows has one).
bool isWorkingFolder(const std::wstring& folder)
{
    for (const std::wstring& location : sys::win32::workingLocations())
        if (_wcsnicmp(folder.c_str(), (location + L"\\TS").c_str(), location.size() + 3) == 0)
            return true;
    return false;
}

TEST_F(SetupEndToEnd, CoreAndProductGetTheirExactCommandLines)
{
    BundleRun r = run(L"recorder", L"-silent", L"0", std::wstring(L"TS_RECORD_SECURITY=1") + L'\0');
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    ASSERT_EQ(2u, r.commandLines.size()) << r.runLog;
    const std::wstring& core = r.commandLines[0];
    const std::wstring folder = programFolder(core);
    const bool wow64 = sys::win32::isWow64();
    const std::wstring reg = valueOf(core, L"TS_BRANDING_REG");
    const std::wstring banner = valueOf(core, L"TS_BRANDING_BANNER");
    const std::wstring coreLog = valueOf(core, L"/lv");
    EXPECT_EQ(L"\"" + folder + (wow64 ? L"TessalineCore64.exe" : L"TessalineCore.exe") + L"\" /exelang " +
                  std::to_wstring(GetUserDefaultUILanguage()) + (wow64 ? L" ALLOW64BIT=Yes" : L" ALLOW64BIT=No") +
                  L" TS_PRODUCT_NAME=\"Tessaline E2E Test\" TS_BRANDING_UPGRADE_CODE=\"\" TS_BRANDING_REG=\"" + reg +
                  L"\" TS_BRANDING_BANNER=\"" + banner +
                  L"\" TS_BRANDING_NEW_DEVICE_ACTIVITY=mixedcase /qn TS_COREDRIVER_PATH=\"" + folder +
                  L"TessalineUsb.inf\"",
              core.substr(0, core.find(L" /lv ")));
    EXPECT_EQ(L"VELA\\", folder.substr(folder.size() - 5));
    // Read while each ran: the folder of the product installer (the working folder), its
    // owner and DACL, and the TEMP it was given.
    ASSERT_EQ(2u, r.security.size());
    const std::wstring& seen = r.security[1];
    const std::wstring working = seen.substr(0, seen.find(L'\t'));
    const std::wstring sddl = seen.substr(working.size() + 1, seen.rfind(L'\t') - working.size() - 1);
    EXPECT_TRUE(isWorkingFolder(working)) << narrow(seen);
    // Wine keeps no security descriptor of a file; it shows one made of the Unix mode.
    if (!runningUnderWine()) {
        EXPECT_TRUE(administratorsOnly(sddl)) << narrow(sddl);
    }
    EXPECT_EQ(0, _wcsicmp(working.c_str(), seen.substr(seen.rfind(L'\t') + 1).c_str())) << narrow(seen);
    EXPECT_EQ(0, _wcsicmp((working + L"\\VELA\\").c_str(), folder.c_str())) << narrow(folder);
    EXPECT_EQ(tempFolder() + L"TSC", coreLog.substr(0, tempFolder().size() + 3));
    EXPECT_EQ(L".LOG", coreLog.substr(coreLog.size() - 4));
    // The branding files were written out for the Core installer.
    EXPECT_EQ("REGEDIT4\r\n[branding]\r\n", copied(L"TS_BRANDING_REG"));
    EXPECT_EQ("BANNER-DATA", copied(L"TS_BRANDING_BANNER"));

    const std::wstring& product = r.commandLines[1];
    const std::wstring productLog = valueOf(product, L"/lv");
    EXPECT_EQ(L"AUTOMATICUPDATECHECK=no TS_RESTART_TSM=Yes /qn /lv \"" + productLog + L"\"",
              product.substr(product.find(L".exe\" ") + 6));
    EXPECT_EQ(tempFolder() + L"TSP", productLog.substr(0, tempFolder().size() + 3));
    EXPECT_NE(std::string::npos, r.runLog.find("Installation completed successfully."));
    EXPECT_TRUE(r.tempFoldersLeft.empty());
}

TEST_F(SetupEndToEnd, DriverFileLargerThanABlockArrivesWhole)
{
    BundleRun r = run(L"large", L"-silent");
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    EXPECT_EQ(2u, r.commandLines.size()) << r.runLog;
    const std::string inf = copied(L"TS_COREDRIVER_PATH");
    const std::string line = "; a large driver file, padded.\r\n";
    ASSERT_EQ(200u * 1048576, inf.size());
    size_t wrong = 0;
    while (wrong < inf.size() && inf.compare(wrong, line.size(), line) == 0)
        wrong += line.size();
    EXPECT_EQ(inf.size(), wrong) << "first wrong line at byte " << wrong;
    EXPECT_TRUE(r.tempFoldersLeft.empty());
}

// CTest runs this once more with a German user (LC_ALL=de_DE.UTF-8) and
// TS_EXPECT_UI_LANGUAGE=1031.
TEST_F(SetupEndToEnd, UserLanguageAndIgnoredCompatibility)
{
    const char* expected = getenv("TS_EXPECT_UI_LANGUAGE");
    const std::wstring language = std::to_wstring(GetUserDefaultUILanguage());
    if (expected) {
        EXPECT_EQ(fromUtf8(expected), language);
    }
    BundleRun r = run(L"recorder", L"-silent -ignoreCompatibility -noreboot");
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    ASSERT_EQ(2u, r.commandLines.size());
    EXPECT_NE(std::wstring::npos, r.commandLines[0].find(L"\" /exelang " + language + L" ALLOW64BIT="));
    EXPECT_NE(std::wstring::npos, r.commandLines[0].find(L"\" TS_IGNORE_SYSTEM_CHECK=Yes TS_BRANDING_UPGRADE_CODE="));
    EXPECT_NE(std::wstring::npos, r.commandLines[1].find(L" TS_RESTART_TSM=Yes /norestart /qn /lv "));
    EXPECT_TRUE(r.tempFoldersLeft.empty());
}

TEST_F(SetupEndToEnd, UserTemporaryFolderWithASpace)
{
    // As for a user named "Ann Lee": the installers' logs have a space in their path; the
    // programs run from the working folder, not from the user's.
    const std::wstring temp = m_dir + L"\\Ann Lee";
    CreateDirectoryW(temp.c_str(), nullptr);
    BundleRun r = run(L"recorder", L"-silent", L"0", L"TEMP=" + temp + L'\0' + L"TMP=" + temp + L'\0');
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    ASSERT_EQ(2u, r.commandLines.size()) << r.runLog;
    EXPECT_TRUE(isWorkingFolder(programFolder(r.commandLines[0]))) << narrow(r.commandLines[0]);
    EXPECT_TRUE(isWorkingFolder(programFolder(r.commandLines[1]))) << narrow(r.commandLines[1]);
    EXPECT_EQ(L"\"" + temp + L"\\TSC", r.commandLines[0].substr(r.commandLines[0].find(L" /lv ") + 5, temp.size() + 5));
    EXPECT_TRUE(namesIn(temp, L"TS*.tmp").empty()) << "Setup unpacked into the user's folder";
    EXPECT_TRUE(r.tempFoldersLeft.empty());
}

TEST_F(SetupEndToEnd, InstallerExitCodesDecideTheOutcome)
{
    BundleRun failed = run(L"recorder", L"-silent", L"1603");
    EXPECT_EQ(1u, failed.exitCode);
    EXPECT_EQ(1u, failed.commandLines.size()); // the product installer did not run
    EXPECT_NE(std::string::npos, failed.runLog.find("ERROR  \tInstallation failed."));
    EXPECT_TRUE(failed.tempFoldersLeft.empty());

    // A restart the installers need and Setup does not perform: 3010, and both logs say
    // why, with each installer's exit code and log, just before the end.
    BundleRun restart = run(L"recorder", L"-silent -noreboot", L"3010");
    EXPECT_EQ(3010u, restart.exitCode) << restart.runLog;
    EXPECT_EQ(2u, restart.commandLines.size());
    for (const std::string& log : {restart.runLog, restart.libraryLog}) {
        const size_t core = log.find("exited with 3010 (restart required), log " + narrow(tempFolder()) + "TSC");
        const size_t product = log.find("Product installer: ", core), exit = log.find("Exit code: 3010", product);
        EXPECT_LT(log.find("Restart: needed by an installer, left to the user", product), exit) << log;
        EXPECT_LT(exit, log.rfind("Stop Tessaline Setup")) << log;
    }
    EXPECT_TRUE(restart.tempFoldersLeft.empty());
}

// Killed as a power cut, Task Manager or a deployment tool's time-out kills it: once its
// working folder exists, while the Core installer runs, while the product installer
// runs. Each leaves its folder, which the next run removes; a complete run leaves nothing.
TEST_F(SetupEndToEnd, KilledRunsLeaveNothingOnceARunCompletes)
{
    // The desktop (Wine's explorer) runs outside the job, or the job's end would take it.
    GetDesktopWindow();
    const std::set<std::wstring> before = workingFolders();
    const std::wstring record = m_dir + L"\\killed.txt";
    CreateDirectoryW(tempFolder().c_str(), nullptr);
    for (size_t moment = 0; moment < 3; ++moment) {
        SCOPED_TRACE(moment);
        DeleteFileW(record.c_str());
        const std::wstring additions = L"TS_RECORD_FILE=" + record + L'\0' + L"TS_RECORD_HANG=" +
                                       (moment == 2 ? L"2" : L"1") + L'\0' + L"TEMP=" + tempFolder() + L'\0' +
                                       L"TMP=" + tempFolder() + L'\0';
        std::vector<wchar_t> environment = environmentWith(additions.c_str());
        std::wstring commandLine = L"\"" + e2eBundle(L"recorder") + L"\" -silent";
        // The job takes the installer Setup runs along with it.
        HANDLE job = CreateJobObjectW(nullptr, nullptr);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE,
                                   CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup,
                                   &info));
        AssignProcessToJobObject(job, info.hProcess);
        ResumeThread(info.hThread);
        auto reached = [&] {
            if (moment == 0) {
                for (const std::wstring& folder : workingFolders())
                    if (!before.count(folder) && fileExists(folder + L"\\Setup.lock"))
                        return true;
                return false;
            }
            const std::string text = readFile(record);
            return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= moment;
        };
        for (int waited = 0; waited < 60000 && !reached(); waited += 20)
            Sleep(20);
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(info.hProcess, 0)) << "Setup ended by itself";
        TerminateJobObject(job, 1);
        WaitForSingleObject(info.hProcess, 30000);
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
        for (int waited = 0; waited < 30000 &&
                             QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                                       sizeof accounting, nullptr) &&
                             accounting.ActiveProcesses > 0;
             waited += 50)
            Sleep(50);
        for (HANDLE handle : {info.hThread, info.hProcess, job})
            CloseHandle(handle);
        // Its own; each run removes those that earlier killed runs left.
        EXPECT_EQ(before.size() + 1, workingFolders().size()) << "a killed run leaves its folder";
    }
    BundleRun r = run(L"recorder", L"-silent");
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    for (const std::wstring& folder : workingFolders())
        EXPECT_TRUE(before.count(folder)) << narrow(folder) << " was left";
}

// An administrator's mistakes and a run without a run log: the library log says it all.
TEST_F(SetupEndToEnd, LibraryLogRecordsARunWithoutRunLog)
{
    m_runLog = false;
    BundleRun r = run(L"recorder", L"-silent /silent noreboot");
    EXPECT_EQ(0u, r.exitCode) << r.libraryLog;
    for (const char* line : {"\tWARN\tsetuprunlog.cpp:", "\tIgnored argument (options start with -): /silent\n",
                             "\tIgnored argument (options start with -): noreboot\n",
                             "\tINFO\tsetuprunlog.cpp:", "\tInstallation completed successfully.\n", "\tExit code: 0\n"})
        EXPECT_NE(std::string::npos, r.libraryLog.find(line)) << line << r.libraryLog;
    BundleRun unknown = run(L"recorder", L"-silent -Silent");
    EXPECT_EQ(1u, unknown.exitCode);
    EXPECT_NE(std::string::npos, unknown.libraryLog.find("\tUnknown argument: -Silent\n")) << unknown.libraryLog;
}

// The product installer fails while a driver pass asks for a restart: the failure is the
// exit code; the restart is still recorded and named.
TEST_F(SetupEndToEnd, FailureOutranksAPendingRestart)
{
    BundleRun r = run(L"extradriver", L"-silent -noreboot", L"0",
                      std::wstring(L"TS_RECORD_EXIT_PRODUCT=1603") + L'\0' + L"TS_DPINST_EXIT_EXTRA=0x40000000" + L'\0');
    EXPECT_EQ(1u, r.exitCode) << r.runLog;
    for (const char* line : {"ERROR  \tInstallation failed.", "exited with 1603 (failed), log ",
                             "INFO   \tRestart: needed, not started because the installation failed",
                             "\\EXTRA\\DpInst.exe exited with 0x40000000 (restart required), log "})
        EXPECT_NE(std::string::npos, r.runLog.find(line)) << line << r.runLog;
}

TEST_F(SetupEndToEnd, UnsignedCorePackageStopsBeforeAnythingRuns)
{
    BundleRun r = run(L"unsigned", L"-silent");
    EXPECT_EQ(1u, r.exitCode);
    EXPECT_TRUE(r.commandLines.empty());
    EXPECT_NE(std::string::npos, r.runLog.find("The software package appears to have been modified. Installation "
                                               "aborted. Please contact your vendor for assistance."));
    EXPECT_NE(std::string::npos, r.runLog.find("Installation failed."));
    EXPECT_TRUE(r.tempFoldersLeft.empty());
}

TEST_F(SetupEndToEnd, ShortExtendedPropertiesEndTheRun)
{
    BundleRun r = run(L"short", L"-silent");
    EXPECT_EQ(1u, r.exitCode);
    EXPECT_TRUE(r.commandLines.empty());
    EXPECT_NE(std::string::npos, r.runLog.find("ERROR  \tInstaller Extended Properties could not be loaded"));
    EXPECT_TRUE(r.tempFoldersLeft.empty());
}

TEST_F(SetupEndToEnd, DriversExtractedIntoARelativeFolder)
{
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(m_dir.c_str());
    BundleRun r = run(L"recorder", L"-silent -extractAsDriver drivers");
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    EXPECT_TRUE(r.commandLines.empty());
    for (const wchar_t* os : {L"Windows7", L"Windows8", L"Windows8.1", L"W2K8R2", L"W2K12", L"W2K12R2"})
        for (const wchar_t* architecture : {L"-x86", L"-x64"}) {
            const std::wstring destination = m_dir + L"\\drivers\\" + os + architecture;
            EXPECT_EQ("driver\r\n", readFile(destination + L"\\tessaline.sys"));
            EXPECT_TRUE(fileExists(destination + L"\\TessalineUsb.inf"));
            EXPECT_TRUE(fileExists(destination + L"\\TessalineCore64.dat"));
            EXPECT_FALSE(fileExists(destination + L"\\DPInst.xml"));
            EXPECT_EQ("nested\r\n", readFile(destination + L"\\sub\\nested.txt"));
            EXPECT_TRUE(fileExists(destination + L"\\sub\\tessaline.cat"));
        }
    EXPECT_NE(std::string::npos, r.runLog.find("Extracting drivers."));
    EXPECT_TRUE(r.tempFoldersLeft.empty());
}

// The VELA folder of the payload a stub run was started in.
bool isVelaFolder(const std::wstring& folder)
{
    return folder.size() > 5 && folder.substr(folder.size() - 5) == L"\\VELA";
}

TEST_F(SetupEndToEnd, StageDriversRunsTheStubInVelaSilently)
{
    // As the real DpInst.exe, a driver installer program signed by Microsoft runs too.
    for (const wchar_t* bundleName : {L"recorder", L"dpinstms"}) {
        SCOPED_TRACE(narrow(bundleName));
        BundleRun r = run(bundleName, L"-silent -stageDrivers");
        EXPECT_EQ(0u, r.exitCode) << r.runLog;
        EXPECT_TRUE(r.commandLines.empty()); // neither the Core nor the product installer
        ASSERT_EQ(1u, r.driverRuns.size()) << r.runLog;
        const StubRun& stub = r.driverRuns[0];
        EXPECT_TRUE(isVelaFolder(stub.folder)) << narrow(stub.folder);
        EXPECT_EQ(L"\"" + stub.folder + L"\\DpInst.exe\" /q /se", stub.commandLine);
        EXPECT_NE(std::string::npos, r.runLog.find("Installation completed successfully."));
        EXPECT_TRUE(r.tempFoldersLeft.empty());
    }
}

TEST_F(SetupEndToEnd, StagedDriverAskingForARestartEndsWith3010)
{
    BundleRun r = run(L"recorder", L"-silent -stageDrivers -noreboot", L"0",
                      std::wstring(L"TS_DPINST_EXIT=0x40000001") + L'\0');
    EXPECT_EQ(3010u, r.exitCode) << r.runLog;
    EXPECT_EQ(1u, r.driverRuns.size());
    EXPECT_EQ(std::string::npos, r.runLog.find("Installation completed successfully."));
    EXPECT_EQ(std::string::npos, r.runLog.find("Installation failed."));
    EXPECT_TRUE(r.tempFoldersLeft.empty());
}

TEST_F(SetupEndToEnd, FailingStagedDriverFailsTheRun)
{
    BundleRun r = run(L"recorder", L"-silent -stageDrivers", L"0",
                      std::wstring(L"TS_DPINST_EXIT=0x80010000") + L'\0');
    EXPECT_EQ(1u, r.exitCode) << r.runLog;
    EXPECT_EQ(1u, r.driverRuns.size());
    EXPECT_NE(std::string::npos, r.runLog.find("Installation failed."));
}

TEST_F(SetupEndToEnd, InteractiveStagingShowsItsOwnProgressWindow)
{
    m_closeWindows = false; // no message box is expected; the progress window must stay
    BundleRun r = run(L"recorder", L"-stageDrivers");
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    ASSERT_EQ(1u, r.driverRuns.size()) << r.runLog;
    // User-interface mode 3: " /se", and the installer's own progress window is up.
    EXPECT_EQ(L"\"" + r.driverRuns[0].folder + L"\\DpInst.exe\" /q /se", r.driverRuns[0].commandLine);
    if (getenv("DISPLAY")) {
        EXPECT_EQ(L"window", r.driverRuns[0].window);
    }
}

TEST_F(SetupEndToEnd, NormalRunSkipsVelaAndHidesTheProgressWindowWhileInstallersRun)
{
    m_closeWindows = false;
    BundleRun r = run(L"recorder", L"-suppressUpToDateInfo");
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    EXPECT_TRUE(r.driverRuns.empty()); // the driver pass leaves VELA to the Core installer
    ASSERT_EQ(2u, r.commandLines.size());
    // The Core and product installers, then the post-install page's handler.
    EXPECT_EQ((std::vector<std::wstring>{L"-", L"-", L"-"}), r.installerWindows);
    EXPECT_EQ(1u, r.pages.size());
    EXPECT_TRUE(r.tempFoldersLeft.empty());
}

TEST_F(SetupEndToEnd, StagingFromAUserFolderWithASpace)
{
    const std::wstring temp = m_dir + L"\\Ann Lee";
    CreateDirectoryW(temp.c_str(), nullptr);
    BundleRun r = run(L"recorder", L"-silent -stageDrivers", L"0", L"TEMP=" + temp + L'\0' + L"TMP=" + temp + L'\0');
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    ASSERT_EQ(1u, r.driverRuns.size());
    EXPECT_TRUE(isWorkingFolder(r.driverRuns[0].commandLine.substr(1))) << narrow(r.driverRuns[0].commandLine);
    EXPECT_EQ(L"\\VELA\\DpInst.exe\" /q /se",
              r.driverRuns[0].commandLine.substr(r.driverRuns[0].commandLine.size() - 24));
}

TEST_F(SetupEndToEnd, MissingOrUntrustedCatalogStopsBeforeAnythingRuns)
{
    // An unsigned driver installer program is refused as a damaged catalog is.
    for (const wchar_t* bundleName : {L"nocatalog", L"badcatalog", L"dpinstunsigned"}) {
        for (const wchar_t* options : {L"-silent", L"-silent -stageDrivers"}) {
            BundleRun r = run(bundleName, options);
            EXPECT_EQ(1u, r.exitCode) << narrow(bundleName) << " " << narrow(options);
            EXPECT_TRUE(r.commandLines.empty());
            EXPECT_TRUE(r.driverRuns.empty());
            EXPECT_NE(std::string::npos,
                      r.runLog.find("ERROR  \tThe software package appears to have been modified. Installation "
                                    "aborted. Please contact your vendor for assistance."));
            EXPECT_NE(std::string::npos, r.runLog.find("Installation failed."));
            EXPECT_TRUE(r.tempFoldersLeft.empty());
        }
    }
}


TEST_F(SetupEndToEnd, PayloadWithoutThe64BitCorePackageCannotStageOrExtractDrivers)
{
    const char* const error = "ERROR  \tUSB driver does not embed Core installer. Unable to stage drivers.";
    for (const std::wstring& options :
         {std::wstring(L"-silent -stageDrivers"), L"-silent -extractAsDriver \"" + m_dir + L"\\out\""}) {
        SCOPED_TRACE(narrow(options));
        BundleRun r = run(L"core32only", options);
        EXPECT_EQ(1u, r.exitCode) << r.runLog;
        EXPECT_TRUE(r.commandLines.empty());
        EXPECT_NE(std::string::npos, r.runLog.find(error)) << r.runLog;
        EXPECT_NE(std::string::npos, r.runLog.find("INFO   \tStop Tessaline Setup")) << r.runLog;
        EXPECT_TRUE(r.tempFoldersLeft.empty());
    }
    EXPECT_FALSE(fileExists(m_dir + L"\\out"));
}

TEST_F(SetupEndToEnd, DriverExtractionErrorEndsTheRun)
{
    writeFile(m_dir + L"\\blocked", "a file where the target folder should be");
    BundleRun r = run(L"recorder", L"-silent -extractAsDriver \"" + m_dir + L"\\blocked\"");
    EXPECT_EQ(1u, r.exitCode) << r.runLog;
    EXPECT_TRUE(r.commandLines.empty());
    EXPECT_NE(std::string::npos,
              r.runLog.find("ERROR  \tFailed to create directory " + narrow(m_dir) + "\\blocked\\Windows7-x86\r\n"))
        << r.runLog;
    EXPECT_TRUE(r.tempFoldersLeft.empty());
}

TEST_F(SetupEndToEnd, PostInstallPageOpensOnceOnSuccess)
{
    BundleRun r = run(L"recorder", L"");
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    EXPECT_EQ(2u, r.commandLines.size());
    // No maker device is attached: no "&pid=".
    EXPECT_EQ(std::vector<std::wstring>{kE2ePage + L"?version=2.1.40.0&productId=e2e"}, r.pages) << r.libraryLog;
    EXPECT_NE(std::string::npos, r.runLog.find("Installation completed successfully."));
}

TEST_F(SetupEndToEnd, PostInstallPageListsTheMakersAttachedDevices)
{
    FakeUsbDevice dock(L"USB\\VID_2F1C&PID_01A0\\TSE2E0001",
                       {L"USB\\VID_2F1C&PID_01A0&REV_0100", L"USB\\VID_2F1C&PID_01A0"});
    FakeUsbDevice secondDock(L"USB\\VID_2F1C&PID_01A0\\TSE2E0002", {L"USB\\VID_2F1C&PID_01A0&REV_0200"});
    FakeUsbDevice adapter(L"USB\\VID_2F1C&PID_0003\\TSE2E0003", {L"usb\\vid_2f1c&pid_0003"});
    FakeUsbDevice mouse(L"USB\\VID_1234&PID_0005\\TSE2E0004", {L"USB\\VID_1234&PID_0005&REV_0001"});
    for (const FakeUsbDevice* device : {&dock, &secondDock, &adapter, &mouse})
        ASSERT_TRUE(device->registered()) << device->error();
    BundleRun r = run(L"recorder", L"");
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    EXPECT_EQ(std::vector<std::wstring>{kE2ePage + L"?version=2.1.40.0&productId=e2e&pid=3,1a0"}, r.pages);
}

TEST_F(SetupEndToEnd, PostInstallPageOnlyAfterAWantedSuccess)
{
    BundleRun silent = run(L"recorder", L"-silent");
    EXPECT_EQ(0u, silent.exitCode) << silent.runLog;
    EXPECT_TRUE(silent.pages.empty());

    BundleRun disabled = run(L"recorder", L"-disableInstallCompleteNotification");
    EXPECT_EQ(0u, disabled.exitCode) << disabled.runLog;
    EXPECT_EQ(2u, disabled.commandLines.size());
    EXPECT_TRUE(disabled.pages.empty());

    BundleRun notWanted = run(L"pageno", L""); // product string 6 "yes": the comparison is exact
    EXPECT_EQ(0u, notWanted.exitCode) << notWanted.runLog;
    EXPECT_EQ(2u, notWanted.commandLines.size());
    EXPECT_TRUE(notWanted.pages.empty());

    BundleRun failed = run(L"recorder", L"", L"1603");
    EXPECT_EQ(1u, failed.exitCode) << failed.runLog;
    EXPECT_TRUE(failed.pages.empty());
    EXPECT_NE(std::string::npos, failed.runLog.find("Installation failed."));
}

// The Core software's request to restart now ("RebootNeededNow" = "1", set here by the
// Core installer stand-in). Wine has no real shutdown: InitiateSystemShutdownA only
// reports success, which the restart service logs.
class RebootFlags : public SetupEndToEnd {
protected:
    void SetUp() override
    {
        SetupEndToEnd::SetUp();
        clear();
    }
    void TearDown() override
    {
        clear();
        SetupEndToEnd::TearDown();
    }
    static void clear()
    {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tessaline\\Core\\Volatile");
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            RegDeleteKeyValueA(root, "Software\\Tessaline\\Logger", "directory");
        RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Tessaline\\Logger", "verbosity");
        RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Tessaline\\Core", "DebugLocation");
    }
    static std::wstring rebootNow(const wchar_t* text)
    {
        return std::wstring(L"TS_RECORD_REBOOT_NOW=") + text + L'\0';
    }
};

TEST_F(RebootFlags, CoreAskingForARestartNowRestartsAndEndsWithZero)
{
    BundleRun r = run(L"recorder", L"-silent", L"0", rebootNow(L"1"));
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    // Silent: the administrator asked for the restart; nobody is asked.
    EXPECT_NE(std::string::npos, r.runLog.find("INFO   \tRestart: started, as the Core software asked")) << r.runLog;
    EXPECT_NE(std::string::npos, r.libraryLog.find("\tRestarting the machine, applications closed")) << r.libraryLog;
    EXPECT_EQ(0, r.windowsClosed);
    EXPECT_EQ(2u, r.commandLines.size());
    EXPECT_NE(std::string::npos, r.libraryLog.find("\tRestartService\t")) << r.libraryLog;
    EXPECT_NE(std::string::npos, r.libraryLog.find("\tINFO\trestart.cpp:")) << r.libraryLog;
    EXPECT_NE(std::string::npos, r.libraryLog.find("\tRestart started")) << r.libraryLog;
    EXPECT_EQ(std::string::npos, r.runLog.find("Installation completed successfully.")) << r.runLog;
    EXPECT_NE(std::string::npos, r.runLog.find("Stop Tessaline Setup"));
    EXPECT_TRUE(r.tempFoldersLeft.empty());
}

TEST_F(RebootFlags, NoRebootOrAnotherTextDoesNotRestart)
{
    // The Core software needs the restart: a deployment tool must see 3010.
    BundleRun noReboot = run(L"recorder", L"-silent -noreboot", L"0", rebootNow(L"1"));
    EXPECT_EQ(3010u, noReboot.exitCode) << noReboot.runLog;
    EXPECT_EQ(std::string::npos, noReboot.libraryLog.find("\tRestartService\t")) << noReboot.libraryLog;
    EXPECT_NE(std::string::npos, noReboot.runLog.find("Restart: needed, not started (-noreboot)"));

    BundleRun other = run(L"recorder", L"-silent", L"0", rebootNow(L"true"));
    EXPECT_EQ(0u, other.exitCode) << other.runLog;
    EXPECT_EQ(std::string::npos, other.libraryLog.find("\tRestartService\t")) << other.libraryLog;
    EXPECT_NE(std::string::npos, other.runLog.find("Installation completed successfully."));
}

// Nobody loses unsaved work to a restart they were not asked about; "not now" is 3010.
TEST_F(RebootFlags, InteractiveRunAsksBeforeRestarting)
{
    BundleRun r = run(L"recorder", L"", L"0", rebootNow(L"1"));
    EXPECT_EQ(3010u, r.exitCode) << r.runLog;
    EXPECT_EQ(getenv("TS_XDISPLAY") ? 1 : 0, r.windowsClosed); // the question, answered No
    EXPECT_NE(std::string::npos, r.runLog.find("INFO   \tRestart: needed, the user chose not now")) << r.runLog;
    EXPECT_EQ(std::string::npos, r.libraryLog.find("\tRestartService\t")) << r.libraryLog;
}

// The library log's folder and level, set in the registry alone (Software\Tessaline\Logger:
// the folder of the machine scope, the level of the user's), change what Setup writes;
// the restart lines are INFO.
TEST_F(RebootFlags, LoggerFolderAndLevelComeFromTheRegistry)
{
    const char* const key = "Software\\Tessaline\\Logger";
    auto configure = [&](const std::wstring& folder, const char* verbosity) {
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::string directory = narrow(folder);
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, "directory", REG_SZ, directory.c_str(),
                        static_cast<DWORD>(directory.size() + 1));
        if (verbosity)
            RegSetKeyValueA(HKEY_CURRENT_USER, key, "verbosity", REG_SZ, verbosity,
                            static_cast<DWORD>(strlen(verbosity) + 1));
        else
            RegDeleteKeyValueA(HKEY_CURRENT_USER, key, "verbosity");
    };
    // The decoded lines of the logger's files in `folder`, and how many did not decode.
    auto logsIn = [](const std::wstring& folder, unsigned& failures) {
        std::ostringstream out, errors;
        sys::logreader::LogReader reader(out, errors);
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((folder + L"\\TSS????.log").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                reader.beginInput(narrow(data.cFileName));
                std::istringstream in(readFile(folder + L"\\" + data.cFileName));
                for (std::string line; std::getline(in, line);)
                    reader.line(line);
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
        failures = reader.failures();
        return out.str();
    };
    struct Case { const wchar_t* folder; const char* verbosity; bool infoLines; };
    for (const Case& c : {Case{L"verbose", nullptr, true}, Case{L"warn", "warn", false}, Case{L"number", "3", true}}) {
        const std::wstring folder = m_dir + L"\\" + c.folder;
        configure(folder, c.verbosity);
        BundleRun r = run(L"recorder", L"-silent", L"0", rebootNow(L"1"));
        EXPECT_EQ(0u, r.exitCode) << r.runLog;
        EXPECT_EQ("", r.libraryLog) << "a log in the temporary folder";
        unsigned failures = 0;
        const std::string log = logsIn(folder, failures);
        EXPECT_EQ(0u, failures);
        EXPECT_NE(std::string::npos, log.find("\tALWAYS\t")) << narrow(c.folder) << ": " << log;
        EXPECT_EQ(c.infoLines, log.find("\tINFO\t") != std::string::npos) << narrow(c.folder) << ": " << log;
        EXPECT_EQ(c.infoLines, log.find("\tRestart started") != std::string::npos) << narrow(c.folder);
    }
}

// Any program of the user can write its Software\Tessaline: the elevated Setup takes no
// folder from there, and its library log (in the temporary folder) says so.
TEST_F(RebootFlags, PerUserFoldersAreIgnoredWithAWarning)
{
    const std::wstring system = sys::win32::getSystemDirectory(false);
    ASSERT_FALSE(system.empty());
    const std::string folder = narrow(system) + "\\";
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Tessaline\\Logger", "directory", REG_SZ, folder.c_str(),
                    static_cast<DWORD>(folder.size() + 1));
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Tessaline\\Core", "DebugLocation", REG_SZ, folder.c_str(),
                    static_cast<DWORD>(folder.size() + 1));
    auto logsThere = [&] {
        std::set<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((std::wstring(system) + L"\\TSS*").c_str(), &data);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data))
            names.insert(data.cFileName);
        if (find != INVALID_HANDLE_VALUE)
            FindClose(find);
        return names;
    };
    const std::set<std::wstring> before = logsThere();
    BundleRun r = run(L"recorder", L"-silent");
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    EXPECT_EQ(before, logsThere()) << "a file in the system folder";
    std::istringstream lines(r.libraryLog);
    std::set<std::string> warned;
    for (std::string line; std::getline(lines, line);)
        for (const char* name : {"directory", "DebugLocation"})
            if (line.find("\tPersistRegAccess\t") != std::string::npos && line.find("\tWARN\t") != std::string::npos &&
                line.find("Ignoring the value \"" + std::string(name) + "\" of HKEY_CURRENT_USER\\Software") !=
                    std::string::npos)
                warned.insert(name);
    EXPECT_EQ((std::set<std::string>{"DebugLocation", "directory"}), warned) << r.libraryLog;
}

// The installed Core version through the project's installer API library.
class InstalledCoreVersion : public SetupEndToEnd {
protected:
    void TearDown() override
    {
        setLocation(L"");
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TessalineTest\\InstallerApi");
        SetupEndToEnd::TearDown();
    }
    static void setLocation(const std::wstring& path)
    {
        HKEY key = nullptr;
        REGSAM view = sys::win32::isWow64() ? KEY_WOW64_64KEY : 0;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tessaline\\Core", 0, nullptr, 0, KEY_ALL_ACCESS | view,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        if (path.empty())
            RegDeleteValueW(key, L"InstallerApiFileLocation");
        else
            RegSetValueExW(key, L"InstallerApiFileLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                           static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
};

TEST_F(InstalledCoreVersion, PreviousVersionComesFromTheLibrary)
{
    const std::wstring calls = m_dir + L"\\calls.txt";
    const std::wstring version = L"7.8.1400.2";
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\TessalineTest\\InstallerApi", L"RecordFile", REG_SZ, calls.c_str(),
                    static_cast<DWORD>((calls.size() + 1) * sizeof(wchar_t)));
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\TessalineTest\\InstallerApi", L"Version", REG_SZ, version.c_str(),
                    static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
    setLocation(buildDir() + L"\\bin\\tsinstallerapi.dll");
    BundleRun r = run(L"recorder", L"-silent");
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    EXPECT_NE(std::string::npos, r.runLog.find("INFO   \tPrevious version: 7.8.1400.2\r\n")) << r.runLog;
    const std::string recorded = readFile(calls);
    ASSERT_EQ(0u, recorded.find("tsInitialise ")) << recorded;
    const std::wstring copy = widen(recorded.substr(13, recorded.find("\r\n") - 13));
    EXPECT_TRUE(isWorkingFolder(copy)) << recorded;
    EXPECT_EQ(L"\\TS_", copy.substr(copy.find_last_of(L'\\'), 4)) << recorded;
    EXPECT_NE(std::string::npos, recorded.find("\r\ntsGetInstalledProductVersion {5B1C1A52-6F0B-4E53-9C38-1D2A6F0E7A00}"
                                               "\r\ntsUninitialise\r\n")) << recorded;

    setLocation(L"");
    BundleRun none = run(L"recorder", L"-silent");
    EXPECT_NE(std::string::npos, none.runLog.find("INFO   \tPrevious version: Not installed\r\n")) << none.runLog;
}

// The demo product installs for real; its keys and packages are removed afterwards.
class DemoProduct : public SetupEndToEnd {
protected:
    void SetUp() override { uninstall(); }
    void TearDown() override { uninstall(); }

    const wchar_t* pageScheme() const override { return L"tessaline-demo"; }

    static std::wstring machineString(const wchar_t* key, const wchar_t* value)
    {
        HKEY handle = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS)
            return L"";
        wchar_t buffer[256] = L"";
        DWORD size = sizeof buffer - sizeof(wchar_t), type = 0;
        LONG status = RegQueryValueExW(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(handle);
        return status == ERROR_SUCCESS && type == REG_SZ ? buffer : L"";
    }

    // The product codes of the Windows Installer registrations (Add/Remove Programs
    // entries) named `displayName`.
    static std::vector<std::wstring> registrations(const wchar_t* displayName)
    {
        std::vector<std::wstring> codes;
        const wchar_t* const uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, uninstall, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
            return codes;
        wchar_t name[256];
        for (DWORD i = 0, length = 256; RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) ==
                                        ERROR_SUCCESS;
             ++i, length = 256)
            if (machineString((std::wstring(uninstall) + L"\\" + name).c_str(), L"DisplayName") == displayName)
                codes.push_back(name);
        RegCloseKey(key);
        return codes;
    }

    // The current release's versions and one registration per package.
    void expectCurrentReleaseOnly()
    {
        EXPECT_EQ(L"7.9.1488.0", machineString(kCore, L"Version"));
        EXPECT_EQ(L"2.1.40.0", machineString(kProduct, L"Version"));
        EXPECT_EQ(1u, registrations(L"Tessaline Core").size());
        EXPECT_EQ(1u, registrations(L"Tessaline Graphics").size());
    }

    void uninstall()
    {
        for (const wchar_t* name : {L"Tessaline Core", L"Tessaline Graphics"})
            for (const std::wstring& code : registrations(name))
                runProcess(L"msiexec /qn /x " + code);
        for (const wchar_t* key : {kCore, kProduct})
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY, 0);
    }

    static constexpr const wchar_t* kCore = L"SOFTWARE\\Tessaline\\Core";
    static constexpr const wchar_t* kProduct = L"SOFTWARE\\Tessaline\\Products\\Tessaline Graphics";
};

TEST_F(DemoProduct, StagesItsVelaPackageThroughTheStub)
{
    BundleRun r = run(L"demo", L"-silent -stageDrivers");
    EXPECT_EQ(0u, r.exitCode) << r.runLog;
    ASSERT_EQ(1u, r.driverRuns.size()) << r.runLog;
    EXPECT_TRUE(isVelaFolder(r.driverRuns[0].folder));
    EXPECT_EQ(L"\"" + r.driverRuns[0].folder + L"\\DpInst.exe\" /q /se", r.driverRuns[0].commandLine);
    EXPECT_EQ(L"", machineString(kCore, L"Version")); // staging installs no Core software
}

TEST_F(DemoProduct, InstallsThenIsUpToDate)
{
    const std::set<std::wstring> logsBefore = namesIn(tempFolder(), L"TS?????.LOG");
    BundleRun first = run(L"demo", L"-silent");
    EXPECT_EQ(0u, first.exitCode) << first.runLog;
    EXPECT_EQ(L"7.9.1488.0", machineString(kCore, L"Version"));
    EXPECT_EQ(L"2.1.40.0", machineString(kProduct, L"Version"));
    EXPECT_EQ(38u, machineString(kCore, L"GUID").size());
    EXPECT_EQ(machineString(kCore, L"GUID"), machineString(kCore, L"ProductCode"));
    EXPECT_EQ(38u, machineString(kProduct, L"ProductCode").size());
    EXPECT_EQ(sys::win32::isWow64() ? L"Yes" : L"No", machineString(kCore, L"Allow64Bit"));
    EXPECT_EQ(L"Tessaline Graphics", machineString(kCore, L"InstalledFor"));
    int coreLogs = 0, productLogs = 0;
    for (const std::wstring& name : namesIn(tempFolder(), L"TS?????.LOG"))
        if (!logsBefore.count(name)) {
            coreLogs += name.compare(0, 3, L"TSC") == 0;
            productLogs += name.compare(0, 3, L"TSP") == 0;
        }
    EXPECT_EQ(1, coreLogs);
    EXPECT_EQ(1, productLogs);
    EXPECT_TRUE(first.tempFoldersLeft.empty());
    EXPECT_TRUE(first.pages.empty()); // silent

    BundleRun second = run(L"demo", L"");
    EXPECT_EQ(15622u, second.exitCode) << second.runLog;
    EXPECT_NE(std::string::npos, second.runLog.find("INFO   \tPrevious version: 7.9.1488.0\r\n")) << second.runLog;
    // The up-to-date box, and nothing else (without a display no box can be shown).
    EXPECT_EQ(getenv("TS_XDISPLAY") ? 1 : 0, second.windowsClosed);
    EXPECT_NE(std::string::npos, second.runLog.find("Tessaline Graphics software is already up to date"));
    EXPECT_TRUE(second.pages.empty());

    BundleRun forced = run(L"demo", L"-suppressUpToDateInfo");
    EXPECT_EQ(0u, forced.exitCode) << forced.runLog;
    EXPECT_NE(std::string::npos, forced.runLog.find("Installation completed successfully."));
    EXPECT_TRUE(forced.tempFoldersLeft.empty());
    EXPECT_EQ(std::vector<std::wstring>{L"tessaline-demo://www.tessaline.com/support/installcomplete.php"
                                        L"?version=2.1.40.0&productId=demo"},
              forced.pages);
}

// As most customers meet it: the current release over an older one, then the older one
// run again.
TEST_F(DemoProduct, ReplacesAnOlderReleaseAndNeverDowngrades)
{
    BundleRun older = run(L"demo-old", L"-silent");
    EXPECT_EQ(0u, older.exitCode) << older.runLog;
    EXPECT_NE(std::string::npos, older.runLog.find("INFO   \tPrevious version: Not installed\r\n")) << older.runLog;
    EXPECT_EQ(L"7.8.1300.0", machineString(kCore, L"Version"));
    EXPECT_EQ(L"2.0.0.0", machineString(kProduct, L"Version"));

    BundleRun current = run(L"demo", L"-silent");
    EXPECT_EQ(0u, current.exitCode) << current.runLog;
    EXPECT_NE(std::string::npos, current.runLog.find("INFO   \tPrevious version: 7.8.1300.0\r\n")) << current.runLog;
    expectCurrentReleaseOnly();
    EXPECT_TRUE(current.tempFoldersLeft.empty());

    BundleRun again = run(L"demo-old", L"");
    EXPECT_EQ(15622u, again.exitCode) << again.runLog;
    EXPECT_NE(std::string::npos, again.runLog.find("INFO   \tPrevious version: 7.9.1488.0\r\n")) << again.runLog;
    expectCurrentReleaseOnly();
}

}
}} // namespace ts::test
