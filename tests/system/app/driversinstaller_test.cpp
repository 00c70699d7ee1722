// The driver installer passes against real folders, signed catalogs and the driver
// installer stub (tsdpinst), which records its working folder and command line.
#include "app/setup/driversinstaller.h"
#include "support/testsupport.h"
#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/signature.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ts { namespace app { namespace setupInstall {
namespace {

using test::buildDir;
using test::readFile;

std::wstring e2eData(const std::wstring& name)
{
    return buildDir() + L"\\testdata\\e2e\\" + name;
}
std::wstring goodCatalog() { return e2eData(L"recorder\\payload\\VELA\\sub\\tessaline.cat"); }
std::wstring damagedSignatureCatalog() { return e2eData(L"badcatalog\\payload\\VELA\\sub\\tessaline.cat"); }
std::wstring changedListCatalog() { return e2eData(L"listchanged.cat"); }

// Collects this process's debugger output as a debug monitor does (the DBWIN_BUFFER
// shared section and its two events), for the life of the object.
class DebugOutputCapture {
public:
    DebugOutputCapture()
        : m_bufferReady(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY")),
          m_dataReady(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY")),
          m_section(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER")),
          m_view(m_section ? MapViewOfFile(m_section, FILE_MAP_READ, 0, 0, 4096) : nullptr)
    {
        if (m_view)
            m_reader = std::thread([this] { read(); });
    }
    ~DebugOutputCapture()
    {
        m_stop = true;
        if (m_reader.joinable())
            m_reader.join();
        if (m_view)
            UnmapViewOfFile(m_view);
        for (HANDLE handle : {m_section, m_dataReady, m_bufferReady})
            if (handle)
                CloseHandle(handle);
    }
    bool ready() const { return m_view != nullptr; }
    std::vector<std::string> lines()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }

private:
    void read()
    {
        const DWORD self = GetCurrentProcessId();
        SetEvent(m_bufferReady);
        while (!m_stop) {
            if (WaitForSingleObject(m_dataReady, 50) != WAIT_OBJECT_0)
                continue;
            const char* data = static_cast<const char*>(m_view);
            if (*reinterpret_cast<const DWORD*>(data) == self) {
                std::lock_guard<std::mutex> guard(m_lock);
                m_lines.emplace_back(data + sizeof(DWORD), strnlen(data + sizeof(DWORD), 4096 - sizeof(DWORD)));
            }
            SetEvent(m_bufferReady);
        }
    }

    HANDLE m_bufferReady;
    HANDLE m_dataReady;
    HANDLE m_section;
    void* m_view;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::string> m_lines;
    std::thread m_reader;
};

struct StubRun {
    std::wstring folder;
    std::wstring commandLine;
};

class DriversInstallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = test::makeTempDir(L"drivers");
        m_folder = m_dir + L"\\Ann Lee\\TS1234.tmp\\";
        CreateDirectoryW((m_dir + L"\\Ann Lee").c_str(), nullptr);
        CreateDirectoryW(m_folder.c_str(), nullptr);
        for (const wchar_t* sub : {L"DPINST32", L"DPINST64"}) {
            CreateDirectoryW((m_folder + sub).c_str(), nullptr);
            CopyFileW(e2eData(L"dpinst-signed.exe").c_str(), (m_folder + sub + L"\\DpInst.exe").c_str(), FALSE);
        }
        m_record = m_dir + L"\\record.txt";
        SetEnvironmentVariableW(L"TS_DPINST_RECORD", m_record.c_str());
        GetCurrentDirectoryW(MAX_PATH, m_previousDirectory);
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(m_previousDirectory);
        for (const wchar_t* name : {L"TS_DPINST_RECORD", L"TS_DPINST_EXIT", L"TS_DPINST_EXIT_VELA",
                                    L"TS_DPINST_EXIT_ONE", L"TS_DPINST_EXIT_TWO"})
            SetEnvironmentVariableW(name, nullptr);
        test::removeTree(m_dir);
    }

    // A driver folder with a copy of `catalog` (none when empty) in a subfolder.
    void driverFolder(const std::wstring& name, const std::wstring& catalog)
    {
        CreateDirectoryW((m_folder + name).c_str(), nullptr);
        CreateDirectoryW((m_folder + name + L"\\deep").c_str(), nullptr);
        if (!catalog.empty()) {
            ASSERT_TRUE(CopyFileW(catalog.c_str(), (m_folder + name + L"\\deep\\package.cat").c_str(), FALSE));
        }
    }

    DriverLayout layout(const std::vector<std::wstring>& folders, bool withInstaller = true)
    {
        std::vector<std::wstring> lines = {L"DPINST x64 DPINST64\\DpInst.exe", L"DPINST x86 DPINST32\\DpInst.exe"};
        if (!withInstaller)
            lines.clear();
        for (const std::wstring& folder : folders)
            for (const wchar_t* platform : {L"x86", L"x64"})
                lines.push_back(L"DRIVER \"Test Device\" " + std::wstring(platform) + L" * \"" + folder + L"\"");
        return parseDriverLayout(lines, sys::win32::isWow64(), static_cast<int32_t>(sys::win32::getOsVersion()));
    }

    std::vector<StubRun> runs()
    {
        std::vector<StubRun> out;
        std::wstring text = test::widen(readFile(m_record));
        size_t start = 0, end;
        while ((end = text.find(L"\r\n", start)) != std::wstring::npos) {
            std::wstring line = text.substr(start, end - start);
            size_t tab = line.find(L'\t');
            out.push_back({line.substr(0, tab), line.substr(tab + 1, line.find(L'\t', tab + 1) - tab - 1)});
            start = end + 2;
        }
        return out;
    }

    std::wstring folderPath(const wchar_t* name) { return m_folder + name; }

    std::wstring m_dir;
    std::wstring m_folder;
    std::wstring m_record;
    wchar_t m_previousDirectory[MAX_PATH];
};

TEST_F(DriversInstallerTest, StagingPassRunsTheStubInVelaWithQuotedPath)
{
    driverFolder(L"VELA", goodCatalog());
    DriversInstaller installer(m_folder, layout({L"VELA"}), 1, 1);
    EXPECT_EQ(Installer::Succeeded, installer.verify());
    EXPECT_EQ(Installer::Succeeded, installer.install());
    std::vector<StubRun> r = runs();
    ASSERT_EQ(1u, r.size());
    EXPECT_EQ(folderPath(L"VELA"), r[0].folder);
    EXPECT_EQ(L"\"" + folderPath(L"VELA") + L"\\DpInst.exe\" /q /se", r[0].commandLine);
    EXPECT_EQ(1u, installer.installedCount());
    EXPECT_EQ(0u, installer.skippedCount());
}

TEST_F(DriversInstallerTest, ProgressGoesToTheDebuggerOutput)
{
    driverFolder(L"ONE", goodCatalog());
    driverFolder(L"TWO", goodCatalog());
    SetEnvironmentVariableW(L"TS_DPINST_EXIT_ONE", L"0x80000000");
    SetEnvironmentVariableW(L"TS_DPINST_EXIT_TWO", L"0x40000000");
    DebugOutputCapture capture;
    ASSERT_TRUE(capture.ready());
    DriversInstaller installer(m_folder, layout({L"ONE", L"TWO"}), 2, 2);
    EXPECT_EQ(Installer::Failed, installer.install());
    // The monitor may still be reading the last line.
    for (int i = 0; i < 500 && capture.lines().size() < 6; ++i)
        Sleep(10);
    const std::string one = test::narrow(folderPath(L"ONE")), two = test::narrow(folderPath(L"TWO"));
    EXPECT_EQ((std::vector<std::string>{"Launching: \"" + one + "\\DpInst.exe\" /q", "Driver installation failed.",
                                        "Launching: \"" + two + "\\DpInst.exe\" /q", "Driver requires a reboot.",
                                        "Driver installed successfully.", "Driver installer returns failure."}),
              capture.lines());
}

TEST_F(DriversInstallerTest, DriverPassSkipsVela)
{
    driverFolder(L"VELA", goodCatalog());
    DriversInstaller installer(m_folder, layout({L"VELA"}), 2, 2);
    EXPECT_EQ(Installer::Succeeded, installer.install());
    EXPECT_TRUE(runs().empty());
    EXPECT_EQ(0u, installer.installedCount());
    EXPECT_EQ(1u, installer.skippedCount());
}

TEST_F(DriversInstallerTest, ModeTwoPassesOnlyQuiet)
{
    driverFolder(L"ONE", goodCatalog());
    DriversInstaller installer(m_folder, layout({L"ONE"}), 2, 2);
    EXPECT_EQ(Installer::Succeeded, installer.install());
    ASSERT_EQ(1u, runs().size());
    EXPECT_EQ(L"\"" + folderPath(L"ONE") + L"\\DpInst.exe\" /q", runs()[0].commandLine);
}

TEST_F(DriversInstallerTest, RestartBitMakesThePassAskForARestart)
{
    driverFolder(L"VELA", goodCatalog());
    SetEnvironmentVariableW(L"TS_DPINST_EXIT", L"0x40000001");
    DriversInstaller installer(m_folder, layout({L"VELA"}), 1, 1);
    EXPECT_EQ(Installer::RebootRequired, installer.install());
    EXPECT_EQ(1u, installer.installedCount());
}

TEST_F(DriversInstallerTest, FailingVelaPackageStopsThePass)
{
    driverFolder(L"VELA", goodCatalog());
    driverFolder(L"ONE", goodCatalog());
    SetEnvironmentVariableW(L"TS_DPINST_EXIT_VELA", L"0x80010000");
    DriversInstaller installer(m_folder, layout({L"VELA", L"ONE"}), 3, 1);
    EXPECT_EQ(Installer::Failed, installer.install());
    std::vector<StubRun> r = runs();
    ASSERT_EQ(1u, r.size());
    EXPECT_EQ(folderPath(L"VELA"), r[0].folder);
}

TEST_F(DriversInstallerTest, FailingOtherPackageOnlyCounts)
{
    driverFolder(L"ONE", goodCatalog());
    driverFolder(L"TWO", goodCatalog());
    SetEnvironmentVariableW(L"TS_DPINST_EXIT_ONE", L"0x80010000");
    SetEnvironmentVariableW(L"TS_DPINST_EXIT_TWO", L"0x40000000");
    DriversInstaller installer(m_folder, layout({L"ONE", L"TWO"}), 2, 1);
    EXPECT_EQ(Installer::Failed, installer.install());
    std::vector<StubRun> r = runs();
    ASSERT_EQ(2u, r.size());
    EXPECT_EQ(folderPath(L"ONE"), r[0].folder);
    EXPECT_EQ(folderPath(L"TWO"), r[1].folder);
    EXPECT_EQ(1u, installer.installedCount());
    // The current directory is put back, so that the temporary folder can be deleted.
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_STREQ(m_previousDirectory, current);
}

TEST_F(DriversInstallerTest, MissingInstallerProgramFailsVela)
{
    driverFolder(L"VELA", goodCatalog());
    DeleteFileW((m_folder + L"DPINST32\\DpInst.exe").c_str());
    DeleteFileW((m_folder + L"DPINST64\\DpInst.exe").c_str());
    DriversInstaller installer(m_folder, layout({L"VELA"}), 1, 1);
    EXPECT_EQ(Installer::Failed, installer.install());
}

TEST_F(DriversInstallerTest, NothingToRunIsNotRun)
{
    driverFolder(L"VELA", goodCatalog());
    EXPECT_EQ(Installer::NotRun, DriversInstaller(m_folder, layout({L"VELA"}, false), 3, 1).install());
    EXPECT_EQ(Installer::NotRun, DriversInstaller(m_folder, layout({}), 3, 1).install());
    EXPECT_EQ(Installer::NotRun, DriversInstaller(m_folder, layout({L"VELA"}), 3, 1).uninstall());
    EXPECT_TRUE(runs().empty());
}

TEST_F(DriversInstallerTest, VerifyNeedsATrustedCatalogInEveryFolder)
{
    driverFolder(L"VELA", goodCatalog());
    driverFolder(L"ONE", L"");
    driverFolder(L"TWO", damagedSignatureCatalog());
    EXPECT_EQ(Installer::Succeeded, DriversInstaller(m_folder, layout({L"VELA"}), 2, 2).verify());
    EXPECT_EQ(Installer::Succeeded, DriversInstaller(m_folder, layout({}), 2, 2).verify());
    // Every entry counts, whatever the pass.
    EXPECT_EQ(Installer::Failed, DriversInstaller(m_folder, layout({L"VELA", L"ONE"}), 1, 2).verify());
    EXPECT_EQ(Installer::Failed, DriversInstaller(m_folder, layout({L"VELA", L"TWO"}), 1, 2).verify());
    // One bad catalog among good ones is enough.
    CopyFileW(goodCatalog().c_str(), (folderPath(L"TWO") + L"\\good.cat").c_str(), FALSE);
    EXPECT_EQ(Installer::Failed, DriversInstaller(m_folder, layout({L"TWO"}), 2, 2).verify());
    // The driver installer program, signed by the maker or Microsoft, never by anyone else.
    for (const auto& program : {std::make_pair(e2eData(L"dpinst-microsoft.exe"), Installer::Succeeded),
                                std::make_pair(buildDir() + L"\\testdata\\signed-other.exe", Installer::Failed),
                                std::make_pair(buildDir() + L"\\bin\\tsdpinst.exe", Installer::Failed)}) {
        for (const wchar_t* sub : {L"DPINST32", L"DPINST64"})
            ASSERT_TRUE(CopyFileW(program.first.c_str(), (m_folder + sub + L"\\DpInst.exe").c_str(), FALSE));
        EXPECT_EQ(program.second, DriversInstaller(m_folder, layout({L"VELA"}), 2, 2).verify())
            << test::narrow(program.first);
    }
    for (const wchar_t* sub : {L"DPINST32", L"DPINST64"})
        DeleteFileW((m_folder + sub + L"\\DpInst.exe").c_str());
    DriversInstaller missing(m_folder, layout({L"VELA"}), 2, 2);
    EXPECT_EQ(Installer::Failed, missing.verify());
    EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), missing.unreadableFile().error);
}

TEST(DriverCatalog, SignedCatalogVerifiesAndADamagedSignatureDoesNot)
{
    EXPECT_TRUE(sys::win32::Signature::isSignedFileTrusted(goodCatalog().c_str()));
    EXPECT_FALSE(sys::win32::Signature::isSignedFileTrusted(damagedSignatureCatalog().c_str()));
    // Wine 8 reports the damaged signer signature as TRUST_E_CERT_SIGNATURE.
    if (test::runningUnderWine()) {
        EXPECT_EQ(0x80096004u, GetLastError());
    }
    EXPECT_EQ(L"TESSALINE (TEST CERTIFICATE)", sys::win32::Signature::fileSignedBy(goodCatalog().c_str()));
}

// Windows refuses a catalog whose list of hashes changed after signing. Wine 8's
// WinVerifyTrust checks the signature over the signed attributes but not the content's
// digest against them, so there the changed catalog still verifies.
TEST(DriverCatalog, ChangedListOfHashesAfterSigning)
{
    bool trusted = sys::win32::Signature::isSignedFileTrusted(changedListCatalog().c_str());
    if (test::runningUnderWine())
        EXPECT_TRUE(trusted) << "Wine now checks the content digest: make this expect false";
    else
        EXPECT_FALSE(trusted);
}

} // namespace
}}} // namespace ts::app::setupInstall
