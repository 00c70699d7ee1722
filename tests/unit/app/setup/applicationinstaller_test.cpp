#include "app/setup/applicationinstaller.h"

#include "app/setup/payload.h"
#include "unit/app/setup/resourcemodule.h"
#include "support/testsupport.h"
#include "sys/libutils/text.h"
#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/process.h"
#include "sys/libutils/win32/win32nr.h"
#include "tk/libgui/resourcefunctions.h"

#include <gtest/gtest.h>

namespace ts { namespace app { namespace setupInstall {
namespace {

using test::fileExists;
using test::readFile;

CoreArguments germanSilent64()
{
    CoreArguments in;
    in.language = 1031;
    in.is64BitWindows = true;
    in.settings.silent = true;
    in.settings.systemCheck = SystemCheck::Ignore;
    in.productName = L"Tessaline Graphics\\Pro";
    in.brandingUpgradeCode = L"{11111111-2222-3333-4444-555555555555}";
    in.newDeviceActivity = L"Default";
    in.folder = L"C:\\Temp\\TS2.tmp\\";
    in.logPath = L"C:\\Users\\Ann Lee\\Temp\\TSC0A1F.LOG";
    return in;
}

TEST(CoreArgumentText, SilentGermanRunOn64BitWindows)
{
    EXPECT_EQ(L"/exelang 1031 ALLOW64BIT=Yes TS_PRODUCT_NAME=\"Tessaline Graphics\\Pro\" TS_IGNORE_SYSTEM_CHECK=Yes"
              L" TS_BRANDING_UPGRADE_CODE=\"{11111111-2222-3333-4444-555555555555}\""
              L" TS_BRANDING_NEW_DEVICE_ACTIVITY=default /qn"
              L" TS_COREDRIVER_PATH=\"C:\\Temp\\TS2.tmp\\VELA\\TessalineUsb.inf\""
              L" /lv \"C:\\Users\\Ann Lee\\Temp\\TSC0A1F.LOG\"",
              coreArgumentText(germanSilent64()));
}

TEST(CoreArgumentText, InteractiveRunWithEveryOptionalPart)
{
    CoreArguments in;
    in.language = 1033;
    in.settings.suppressEula = true;
    in.settings.systemCheck = SystemCheck::Skip;
    in.productName = L"Tessaline Graphics";
    in.brandingRegPath = L"C:\\T\\TS1.tmp";
    in.brandingBannerPath = L"C:\\T\\TS2.tmp";
    in.newDeviceActivity = L"OpenPanel";
    in.folder = L"C:\\T";
    EXPECT_EQ(L"/exelang 1033 ALLOW64BIT=No TS_NO_EULA=Yes TS_PRODUCT_NAME=\"Tessaline Graphics\""
              L" TS_SKIP_SYSTEM_CHECK=Yes TS_BRANDING_UPGRADE_CODE=\"\" TS_BRANDING_REG=\"C:\\T\\TS1.tmp\""
              L" TS_BRANDING_BANNER=\"C:\\T\\TS2.tmp\" TS_BRANDING_NEW_DEVICE_ACTIVITY=openpanel"
              L" TS_COREDRIVER_PATH=\"C:\\T\\VELA\\TessalineUsb.inf\"",
              coreArgumentText(in));
}

TEST(ProductArgumentText, RestartOfTheManagerDependsOnHowTheCoreIsInstalled)
{
    InstallSettings interactive;
    interactive.installCore = true;
    EXPECT_EQ(L"AUTOMATICUPDATECHECK=no TS_RESTART_TSM=No /qn /lv \"C:\\T\\TSP0001.LOG\"",
              productArgumentText(interactive, L"C:\\T\\TSP0001.LOG"));
    InstallSettings silent = interactive;
    silent.silent = true;
    silent.noReboot = true;
    EXPECT_EQ(L"AUTOMATICUPDATECHECK=no TS_RESTART_TSM=Yes /norestart /qn", productArgumentText(silent, L""));
    EXPECT_EQ(L"AUTOMATICUPDATECHECK=no TS_RESTART_TSM=Yes /qn", productArgumentText(InstallSettings(), L""));
}

TEST(InstallerExitCodes, MapToResults)
{
    struct Case {
        bool started;
        uint32_t code;
        Installer::Result result;
    } cases[] = {
        {true, 0, Installer::Succeeded},       {true, 1641, Installer::RebootRequired},
        {true, 3010, Installer::RebootRequired}, {true, 1, Installer::Failed},
        {true, 1603, Installer::Failed},       {true, 0xC0000005, Installer::Failed},
        {true, 3010 + 0x10000, Installer::Failed}, {false, 0, Installer::Failed},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, mapInstallerExitCode(c.started, c.code)) << c.started << " " << c.code;
}

TEST(InstallerCommandLine, ProgramPathIsQuoted)
{
    EXPECT_EQ(L"\"C:\\Users\\Ann Lee\\Temp\\TS2.tmp\\TS1.exe\" /qn",
              programCommandLine(L"C:\\Users\\Ann Lee\\Temp\\TS2.tmp\\TS1.exe", L"/qn"));
    EXPECT_EQ(L"\"\"", sys::quotedArgument(L""));
}

TEST(InstallerLogPath, UniqueNameInTheTemporaryFolder)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    sys::win32::FileHandle held;
    const std::wstring path = installerLogPath(L"TSC", held);
    // Made and held: the installer may write it, nobody may put another file in its place.
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_TRUE(sys::win32::FileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                   nullptr, CREATE_ALWAYS, 0, nullptr)));
    held.reset();
    EXPECT_TRUE(DeleteFileW(path.c_str()));
    ASSERT_EQ(std::wstring(temp).size() + 11, path.size());
    EXPECT_EQ(std::wstring(temp) + L"TSC", path.substr(0, path.size() - 8));
    EXPECT_EQ(L".LOG", path.substr(path.size() - 4));
    EXPECT_EQ(std::wstring::npos, path.substr(path.size() - 8, 4).find_first_not_of(L"0123456789ABCDEF"));
}

class ApplicationInstallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_record = m_folder + L"\\record.txt";
        SetEnvironmentVariableW(L"TS_RECORD_FILE", m_record.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"TS_RECORD_FILE", nullptr);
        SetEnvironmentVariableW(L"TS_RECORD_EXIT", nullptr);
    }
    std::wstring signedRecorder(const wchar_t* name)
    {
        const std::wstring path = m_folder + L"\\" + name;
        CopyFileW((test::buildDir() + L"\\testdata\\e2e\\recorder-signed.exe").c_str(), path.c_str(), FALSE);
        return path;
    }
    // A folder with a space, as under a user named "Ann Lee".
    const test::TempFolder m_temp{L"app installer"};
    const std::wstring& m_folder = m_temp.path;
    std::wstring m_record;
};

TEST_F(ApplicationInstallerTest, RunsAnExeCopyOfTheProgramFromAFolderWithSpaces)
{
    const std::wstring program = signedRecorder(L"TS1A2B.tmp");
    ApplicationInstaller installer(program, L"ALLOW64BIT=No /qn", L"SOFTWARE\\TessalineTest", L"GUID");
    EXPECT_EQ(Installer::Succeeded, installer.verify());
    EXPECT_EQ(Installer::Succeeded, installer.install());
    EXPECT_EQ("\"" + tk::gui::resource::toNarrow(m_folder) + "\\TS1A2B.exe\" ALLOW64BIT=No /qn\r\n",
              readFile(m_record));
    EXPECT_FALSE(fileExists(m_folder + L"\\TS1A2B.exe"));
    EXPECT_TRUE(fileExists(program));
}

TEST_F(ApplicationInstallerTest, ExitCodeOfTheProgramGivesTheResult)
{
    ApplicationInstaller installer(signedRecorder(L"product.exe"), L"/qn", L"SOFTWARE\\TessalineTest", L"GUID");
    const std::pair<const wchar_t*, Installer::Result> cases[] = {
        {L"3010", Installer::RebootRequired}, {L"1641", Installer::RebootRequired},
        {L"1603", Installer::Failed},         {L"0x80070005", Installer::Failed}};
    for (const auto& c : cases) {
        SetEnvironmentVariableW(L"TS_RECORD_EXIT", c.first);
        EXPECT_EQ(c.second, installer.install()) << tk::gui::resource::toNarrow(c.first);
    }
    ApplicationInstaller missing(m_folder + L"\\missing.exe", L"/qn", L"SOFTWARE\\TessalineTest", L"GUID");
    EXPECT_EQ(Installer::Failed, missing.install());
}

TEST_F(ApplicationInstallerTest, OnlySignedExecutablesVerify)
{
    const std::wstring unsignedProgram = m_folder + L"\\unsigned.dat";
    CopyFileW((test::buildDir() + L"\\bin\\tsrecorder.exe").c_str(), unsignedProgram.c_str(), FALSE);
    EXPECT_EQ(Installer::Failed, ApplicationInstaller(unsignedProgram, L"", L"", L"").verify());
    test::writeFile(m_folder + L"\\text.exe", "not a program");
    EXPECT_EQ(Installer::Failed, ApplicationInstaller(m_folder + L"\\text.exe", L"", L"", L"").verify());
    EXPECT_EQ(Installer::Failed, ApplicationInstaller(m_folder + L"\\missing.exe", L"", L"", L"").verify());
    EXPECT_EQ(Installer::Succeeded, ApplicationInstaller(signedRecorder(L"core.dat"), L"", L"", L"").verify());
}

TEST_F(ApplicationInstallerTest, UninstallNeedsAProductCodeString)
{
    const wchar_t* key = L"SOFTWARE\\TessalineTest\\ApplicationInstaller";
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                                             nullptr));
    DWORD number = 7;
    RegSetValueExW(handle, L"ProductCode", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), sizeof number);
    RegCloseKey(handle);
    EXPECT_EQ(Installer::Failed, ApplicationInstaller(L"x", L"", key, L"ProductCode").uninstall());
    EXPECT_EQ(Installer::Failed, ApplicationInstaller(L"x", L"", key, L"Missing").uninstall());
    EXPECT_EQ(Installer::Failed, ApplicationInstaller(L"x", L"", L"SOFTWARE\\TessalineTest\\None", L"GUID").uninstall());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TessalineTest");
}

TEST_F(ApplicationInstallerTest, UninstallRunsMsiexecWithTheProductCode)
{
    const wchar_t* key = L"SOFTWARE\\TessalineTest\\Uninstall";
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                                             nullptr));
    const std::wstring code = L"{8E0B2D5A-1C3F-4A6B-9D7E-0F1A2B3C4D5E}";
    RegSetValueExW(handle, L"GUID", 0, REG_SZ, reinterpret_cast<const BYTE*>(code.c_str()),
                   static_cast<DWORD>((code.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    // The recorder stands in for msiexec.
    ApplicationInstaller installer(L"unused.exe", L"", key, L"GUID");
    installer.setUninstallProgram(test::buildDir() + L"\\bin\\tsrecorder.exe");
    const std::pair<const wchar_t*, Installer::Result> cases[] = {
        {L"0", Installer::Succeeded}, {L"3010", Installer::RebootRequired}, {L"1641", Installer::RebootRequired},
        {L"1605", Installer::Failed}};
    std::string expected;
    for (const auto& c : cases) {
        SetEnvironmentVariableW(L"TS_RECORD_EXIT", c.first);
        EXPECT_EQ(c.second, installer.uninstall()) << tk::gui::resource::toNarrow(c.first);
        expected += "msiexec /qr /x {8E0B2D5A-1C3F-4A6B-9D7E-0F1A2B3C4D5E}\r\n";
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TessalineTest");
    EXPECT_EQ(expected, readFile(m_record));
}

// An msiexec.exe in the current folder (a Downloads folder) is never the one that runs.
TEST_F(ApplicationInstallerTest, UninstallRunsTheSystemFoldersMsiexec)
{
    ApplicationInstaller installer(L"unused.exe", L"", L"SOFTWARE\\TessalineTest\\None", L"GUID");
    EXPECT_EQ(sys::win32::getSystemDirectory(false) + L"\\msiexec.exe", installer.uninstallProgram());

    // The planted one records nothing.
    CopyFileW((test::buildDir() + L"\\bin\\tsexit.exe").c_str(), (m_folder + L"\\msiexec.exe").c_str(), FALSE);
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(m_folder.c_str());
    SetEnvironmentVariableW(L"TS_RECORD_EXIT", L"0");
    DWORD exitCode = 0;
    // The command line names msiexec, the program given runs: here the recorder itself,
    // so no real uninstall starts.
    const bool started =
        sys::win32::runProcess(L"msiexec /qr /x {0}", exitCode, test::buildDir() + L"\\bin\\tsrecorder.exe");
    SetCurrentDirectoryW(previous);
    EXPECT_TRUE(started);
    EXPECT_EQ("msiexec /qr /x {0}\r\n", readFile(m_record));
}

TEST_F(ApplicationInstallerTest, ProductProgramIsWrittenOutOfItsResource)
{
    test::ResourceModule module({{ProductInstaller32, "product 32"}, {ProductInstaller64, "product 64"}});
    ASSERT_TRUE(module.ok());
    InstallSettings settings;
    settings.silent = true;
    std::unique_ptr<Installer> installer = makeProductInstaller(m_folder + L"\\", module.get(), settings);
    ASSERT_TRUE(installer);
    auto* application = dynamic_cast<ApplicationInstaller*>(installer.get());
    ASSERT_TRUE(application);
    EXPECT_EQ(m_folder + L"\\TS", application->programPath().substr(0, m_folder.size() + 3));
    EXPECT_EQ(sys::win32::isWow64() ? "product 64" : "product 32", readFile(application->programPath()));
    EXPECT_EQ(0u, application->arguments().find(L"AUTOMATICUPDATECHECK=no TS_RESTART_TSM=Yes /qn /lv \""));

    test::ResourceModule none({});
    EXPECT_FALSE(makeProductInstaller(m_folder + L"\\", none.get(), settings));
}

TEST_F(ApplicationInstallerTest, CoreBrandingFilesAreWrittenIntoTheFolder)
{
    test::ResourceModule module({{BrandingData, "REGEDIT4"}, {BrandingBanner, "BANNER"}});
    ASSERT_TRUE(module.ok());
    const std::wstring folder = m_folder + L"\\";
    std::unique_ptr<Installer> installer = makeCoreInstaller(folder, module.get(), InstallSettings(), 1033);
    auto* application = dynamic_cast<ApplicationInstaller*>(installer.get());
    ASSERT_TRUE(application);
    EXPECT_EQ(folder + (sys::win32::isWow64() ? L"VELA\\TessalineCore64.dat" : L"VELA\\TessalineCore.dat"),
              application->programPath());
    const std::wstring& arguments = application->arguments();
    auto valueOf = [&](const std::wstring& name) {
        size_t at = arguments.find(L" " + name + L"=\"");
        if (at == std::wstring::npos)
            return std::wstring();
        at += name.size() + 3;
        return arguments.substr(at, arguments.find(L'"', at) - at);
    };
    EXPECT_EQ("REGEDIT4", readFile(valueOf(L"TS_BRANDING_REG")));
    EXPECT_EQ("BANNER", readFile(valueOf(L"TS_BRANDING_BANNER")));
    EXPECT_EQ(folder, valueOf(L"TS_BRANDING_REG").substr(0, folder.size()));
    EXPECT_EQ(0u, arguments.find(L"/exelang 1033 ALLOW64BIT="));
}

}
}}} // namespace ts::app::setupInstall
