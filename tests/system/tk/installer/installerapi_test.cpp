// The installer API binding with the project's own library (build/bin/tsinstallerapi.dll),
// steered and recorded through HKCU\Software\TessalineTest\InstallerApi.
#include "app/setup/mainflow.h"
#include "app/setup/restart.h"
#include "support/testsupport.h"
#include "sys/libutils/setuprunlog.h"
#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/workingfolder.h"
#include "tk/installer/libinstall/installerapi.h"
#include "tk/installer/libinstall/rebootproperties.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace ts { namespace tk { namespace install {
namespace {

const wchar_t* const kCoreKey = L"SOFTWARE\\Tessaline\\Core";
const wchar_t* const kSteering = L"Software\\TessalineTest\\InstallerApi";

class InstallerApiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = test::makeTempDir(L"api");
        m_library = m_dir + L"\\TsApi.dll";
        ASSERT_TRUE(CopyFileW(library(L"tsinstallerapi.dll").c_str(), m_library.c_str(), FALSE));
        RegDeleteTreeW(HKEY_CURRENT_USER, kSteering);
        setSteering(L"RecordFile", m_dir + L"\\calls.txt");
        DWORD error = 0;
        std::wstring location;
        ASSERT_TRUE(m_working.create(sys::win32::workingLocations(), error, location)) << error;
    }
    void TearDown() override
    {
        setLocation(nullptr);
        RegDeleteTreeW(HKEY_CURRENT_USER, kSteering);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\TessalineTest");
        test::removeTree(m_dir);
    }

    static std::wstring library(const wchar_t* name) { return test::buildDir() + L"\\bin\\" + name; }
    static REGSAM nativeView() { return sys::win32::isWow64() ? KEY_WOW64_64KEY : 0; }

    // Sets InstallerApiFileLocation in the native view; null deletes it.
    static void setLocation(const wchar_t* path)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kCoreKey, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS | nativeView(), nullptr, &key, nullptr));
        if (path)
            RegSetValueExW(key, L"InstallerApiFileLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                           static_cast<DWORD>((wcslen(path) + 1) * sizeof(wchar_t)));
        else
            RegDeleteValueW(key, L"InstallerApiFileLocation");
        RegCloseKey(key);
    }
    static void setSteering(const wchar_t* name, const std::wstring& text)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, kSteering, name, REG_SZ, text.c_str(),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    static void setSteering(const wchar_t* name, DWORD value)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, kSteering, name, REG_DWORD, &value, sizeof value);
    }
    sys::win32::WorkingFolder m_working; // where the copies go
    std::vector<std::string> calls() const
    {
        std::vector<std::string> out;
        std::string text = test::readFile(m_dir + L"\\calls.txt");
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            out.push_back(text.substr(start, end - start));
        return out;
    }

    std::wstring m_dir;
    std::wstring m_library;
};

TEST_F(InstallerApiTest, NoLibraryReadsAsNotInstalled)
{
    setLocation(nullptr);
    sys::Version version(1, 2, 3, 4);
    EXPECT_TRUE(getInstalledCoreVersion(version));
    EXPECT_TRUE(version.empty());
    EXPECT_FALSE(setSoftwareRequiresReboot(true));

    setLocation(m_dir.c_str()); // a folder
    version = sys::Version(1, 2, 3, 4);
    EXPECT_TRUE(getInstalledCoreVersion(version));
    EXPECT_TRUE(version.empty());
    InstallerApi api;
    EXPECT_FALSE(api.isLoaded());
    EXPECT_TRUE(calls().empty());
}

TEST_F(InstallerApiTest, LocationsOf260CharactersDoNotFitTheBuffer)
{
    // The same library through a path padded with ".\" (and one "a\..\" for odd
    // lengths) to 259 and to 260 characters.
    auto padded = [&](size_t length) {
        size_t rest = length - m_dir.size() - 10; // "\TsApi.dll"
        std::wstring path = m_dir + L"\\";
        if (rest % 2) {
            path += L"a\\..\\";
            rest -= 5;
        }
        for (; rest; rest -= 2)
            path += L".\\";
        return path + L"TsApi.dll";
    };
    const std::wstring fits = padded(259), tooLong = padded(260);
    ASSERT_EQ(259u, fits.size());
    ASSERT_EQ(260u, tooLong.size());
    setLocation(fits.c_str());
    EXPECT_EQ(fits, readInstallerApiLocation());
    {
        InstallerApi api;
        EXPECT_TRUE(api.isLoaded());
    }
    setLocation(tooLong.c_str());
    EXPECT_EQ(L"", readInstallerApiLocation());
    InstallerApi api;
    EXPECT_FALSE(api.isLoaded());
}

TEST_F(InstallerApiTest, OnlyACopyIsLoadedAndTheOriginalCanGo)
{
    SetFileAttributesW(m_library.c_str(), FILE_ATTRIBUTE_READONLY);
    setLocation(m_library.c_str());
    {
        InstallerApi api;
        ASSERT_TRUE(api.isLoaded());
        for (const char* name : {"tsInitialise", "tsUninitialise", "tsUninstallPackage", "tsUninstallCore",
                                 "tsReadUninstallPackageStatus", "tsWaitOnInstallerOp", "tsResetSpiAutoRunResults",
                                 "tsWriteSpiAutoRunResult", "tsGetInstalledProductVersion",
                                 "tsSetSoftwareRequiresReboot"})
            EXPECT_TRUE(api.binding(name).isResolved()) << name;
        const std::wstring copy = api.copyPath();
        EXPECT_EQ(m_working.path() + L"TS_", copy.substr(0, m_working.path().size() + 3));
        EXPECT_EQ(0u, GetFileAttributesW(copy.c_str()) & FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(nullptr, GetModuleHandleW(m_library.c_str()));
        SetFileAttributesW(m_library.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_TRUE(DeleteFileW(m_library.c_str())) << "the installed library is in use";
        ASSERT_FALSE(calls().empty());
        EXPECT_EQ("tsInitialise " + test::narrow(copy), calls()[0]);
    }
    EXPECT_EQ((std::vector<std::string>{calls()[0], "tsUninitialise"}), calls());
}

TEST_F(InstallerApiTest, InstalledCoreVersionThroughTheLibrary)
{
    setLocation(m_library.c_str());
    setSteering(L"Version", L"7.9.1488.0");
    sys::Version version;
    EXPECT_TRUE(getInstalledCoreVersion(version));
    EXPECT_EQ(sys::Version(7, 9, 1488, 0), version);
    std::vector<std::string> seen = calls();
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ("tsGetInstalledProductVersion {5B1C1A52-6F0B-4E53-9C38-1D2A6F0E7A00}", seen[1]);
    EXPECT_EQ("tsUninitialise", seen[2]);

    setSteering(L"VersionResult", 2);
    version = sys::Version(1, 0, 0, 0);
    EXPECT_FALSE(getInstalledCoreVersion(version));
    EXPECT_EQ(sys::Version(1, 0, 0, 0), version);
}

TEST_F(InstallerApiTest, FailedInitialisationStillUninitialisesOnce)
{
    setLocation(m_library.c_str());
    setSteering(L"InitialiseResult", 0);
    sys::Version version(1, 2, 3, 4);
    {
        InstallerApi api;
        EXPECT_FALSE(api.isLoaded());
        EXPECT_FALSE(api.binding("tsGetInstalledProductVersion").isResolved());
    }
    ASSERT_EQ(2u, calls().size());
    EXPECT_EQ("tsUninitialise", calls()[1]);
    EXPECT_TRUE(getInstalledCoreVersion(version));
    EXPECT_TRUE(version.empty());
}

TEST_F(InstallerApiTest, ALibraryWithoutUninitialiseIsUnloadedUnused)
{
    ASSERT_TRUE(CopyFileW(library(L"tsinstallerapi-noinit.dll").c_str(), m_library.c_str(), FALSE));
    setLocation(m_library.c_str());
    sys::Version version(1, 2, 3, 4);
    EXPECT_TRUE(getInstalledCoreVersion(version));
    EXPECT_TRUE(version.empty());
    EXPECT_TRUE(calls().empty()); // not even tsInitialise
}

TEST_F(InstallerApiTest, RequiredRestartIsRecordedWithTheCallerMagic)
{
    setLocation(m_library.c_str());
    EXPECT_TRUE(setSoftwareRequiresReboot(true));
    std::vector<std::string> seen = calls();
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ("tsSetSoftwareRequiresReboot 0x0B7C41E2 1", seen[1]);
    setSteering(L"RebootResult", 0);
    EXPECT_FALSE(setSoftwareRequiresReboot(false));
    EXPECT_EQ("tsSetSoftwareRequiresReboot 0x0B7C41E2 0", calls()[4]);
}

struct NoRestart : app::setupInstall::IRestartService {
    int calls = 0;
    bool askToRestart() override { return true; }
    bool restart(bool) override { ++calls; return false; }
};

TEST_F(InstallerApiTest, ARestartThatADriverPassNeedsIsRecordedByTheCoreSoftware)
{
    setLocation(m_library.c_str());
    RebootProperties reboot;
    NoRestart restart;
    sys::SetupRunLog log;
    int code = app::setupInstall::finishInstallation(1, true, app::setupInstall::InstallSettings(), false, false,
                                                     reboot, restart, [] {}, log).exitCode;
    EXPECT_EQ(1, code); // the failure outranks the restart, which is still recorded
    std::vector<std::string> seen = calls();
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ("tsSetSoftwareRequiresReboot 0x0B7C41E2 1", seen[1]);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCoreKey, 0, KEY_ALL_ACCESS | nativeView(), &key));
    wchar_t value[8] = L"";
    DWORD size = sizeof value - sizeof(wchar_t), type = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"SoftwareRequiresReboot", nullptr, &type,
                                              reinterpret_cast<BYTE*>(value), &size));
    EXPECT_STREQ(L"1", value);
    RegDeleteValueW(key, L"SoftwareRequiresReboot");
    RegCloseKey(key);
}

TEST(FunctionBinding, UnresolvedGetThrowsWithTheName)
{
    FunctionBinding binding;
    binding.bind("tsInitialise", nullptr);
    EXPECT_FALSE(binding.isResolved());
    try {
        binding.get();
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Function tsInitialise was not loaded", e.what());
    }
}

}
}}} // namespace ts::tk::install
