#include "sys/libutils/win32/osinfo.h"
#include "app/setup/mainflow.h"
#include "sys/libutils/setuprunlog.h"
#include "sys/libutils/win32/keyhandle.h"
#include "support/setuprun.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <vector>

namespace win32 = ts::sys::win32;
namespace test = ts::test;
using win32::OsVersion;

namespace {

// Rewrites the Windows version values of the test prefix for one test and puts the
// original data (or absence) back afterwards.
class RegistryVersionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(nullptr, m_kept.key()); }

    void setVersion(DWORD major, DWORD minor, const wchar_t* build)
    {
        RegSetValueExW(m_key, L"CurrentMajorVersionNumber", 0, REG_DWORD, reinterpret_cast<BYTE*>(&major), 4);
        RegSetValueExW(m_key, L"CurrentMinorVersionNumber", 0, REG_DWORD, reinterpret_cast<BYTE*>(&minor), 4);
        if (build)
            RegSetValueExW(m_key, L"CurrentBuildNumber", 0, REG_SZ, reinterpret_cast<const BYTE*>(build),
                           static_cast<DWORD>((wcslen(build) + 1) * sizeof(wchar_t)));
        else
            RegDeleteValueW(m_key, L"CurrentBuildNumber");
    }
    void removeVersionNumbers()
    {
        RegDeleteValueW(m_key, L"CurrentMajorVersionNumber");
        RegDeleteValueW(m_key, L"CurrentMinorVersionNumber");
    }

    test::KeptVersionValues m_kept;
    const HKEY m_key = static_cast<HKEY>(m_kept.key());
};

// A copy of the probe program carrying Setup.exe's manifest, so that it gets the
// answers Setup gets.
class ProbeCopy {
public:
    ProbeCopy(const std::wstring& name, bool withSetupManifest)
        : m_folder(L"osprobe"), m_name(name), m_path(m_folder.path + L"\\" + name)
    {
        CopyFileW((test::buildDir() + L"\\bin\\tsosprobe.exe").c_str(), m_path.c_str(), FALSE);
        if (withSetupManifest)
            copyManifest(test::buildDir() + L"\\bin\\Setup.exe", m_path);
    }
    ~ProbeCopy()
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, appDefaults().c_str());
    }
    // The probe's answer under the given Wine version name.
    uint32_t run(const wchar_t* wineVersion)
    {
        win32::KeyHandle key;
        RegCreateKeyExW(HKEY_CURRENT_USER, appDefaults().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.receive(),
                        nullptr);
        RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(wineVersion),
                       static_cast<DWORD>((wcslen(wineVersion) + 1) * sizeof(wchar_t)));
        test::ProcessResult result = test::runProcess(L"\"" + m_path + L"\"");
        EXPECT_TRUE(result.started && !result.timedOut) << wineVersion;
        return result.exitCode;
    }

private:
    std::wstring appDefaults() const { return L"Software\\Wine\\AppDefaults\\" + m_name; }
    static void copyManifest(const std::wstring& from, const std::wstring& to)
    {
        HMODULE source = LoadLibraryExW(from.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, source);
        HRSRC found = FindResourceW(source, MAKEINTRESOURCEW(1), RT_MANIFEST);
        ASSERT_NE(nullptr, found);
        void* data = LockResource(LoadResource(source, found));
        HANDLE update = BeginUpdateResourceW(to.c_str(), FALSE);
        ASSERT_NE(nullptr, update);
        EXPECT_TRUE(UpdateResourceW(update, RT_MANIFEST, MAKEINTRESOURCEW(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                    data, SizeofResource(source, found)));
        EXPECT_TRUE(EndUpdateResourceW(update, FALSE));
        FreeLibrary(source);
    }

    const test::TempFolder m_folder;
    std::wstring m_name;
    std::wstring m_path;
};

struct ProbeAnswer {
    explicit ProbeAnswer(uint32_t code)
        : version(static_cast<int>(code & 0xFF)), supported((code & 0x100) != 0), wow64((code >> 16) & 0xFF),
          productType(code >> 24)
    {
    }
    int version;
    bool supported;
    uint32_t wow64;
    uint32_t productType;
};

std::wstring probeName(const wchar_t* tag)
{
    return L"tsosprobe-" + std::wstring(tag) + L"-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
}

} // namespace

TEST(OsInfoTest, Wow64AnswerMatchesTheProcessAndStays)
{
    BOOL flag = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &flag));
    EXPECT_EQ(flag ? 1 : 0, win32::isWow64());
    EXPECT_EQ(flag ? 1 : 0, win32::isWow64());
}

// Wine runs on no ARM64 machine: Setup's check meets one through a double of the answer
// that IsWow64Process2 gives. The real answer here is that of an x86 or x64 machine.
TEST(OsInfoTest, NativeMachineOtherThanX86OrX64IsRefusedWithMessage36)
{
    struct PresentedMachine : win32::INativeMachine {
        USHORT machine;
        explicit PresentedMachine(USHORT presented) : machine(presented) {}
        USHORT nativeMachine() const override { return machine; }
    };
    const USHORT real = win32::WindowsNativeMachine().nativeMachine();
    EXPECT_EQ(win32::isWow64() ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386, real);
    const test::TempFolder folder(L"oscheck");
    for (USHORT machine : {USHORT(IMAGE_FILE_MACHINE_ARM64), real, USHORT(IMAGE_FILE_MACHINE_UNKNOWN)}) {
        const std::wstring path = folder.path + L"\\" + std::to_wstring(machine) + L".log";
        ts::sys::SetupRunLog log;
        log.open(path);
        const int exitCode = ts::app::setupInstall::checkOperatingSystem(PresentedMachine(machine), log, true);
        log.close();
        EXPECT_EQ(machine == IMAGE_FILE_MACHINE_ARM64 ? 1633 : 0, exitCode) << machine;
        EXPECT_EQ(exitCode != 0, test::readFile(path).find("ERROR  \tTessaline Graphics cannot be installed on "
                                                           "this operating system.") != std::string::npos);
    }
}

TEST(OsInfoTest, VersionQuestions)
{
    EXPECT_TRUE(win32::isVersionAtLeast(5, 0, 0, 0));
    EXPECT_TRUE(win32::isVersionAtLeast(6, 0, 0, 0));
    EXPECT_FALSE(win32::isVersionAtLeast(99, 0, 0, 0));
    OSVERSIONINFOEXA info;
    win32::getVersionInfo(info);
    WORD major = static_cast<WORD>(info.dwMajorVersion);
    WORD minor = static_cast<WORD>(info.dwMinorVersion);
    EXPECT_TRUE(win32::isVersionAtLeast(major, minor, info.wServicePackMajor, 0));
    EXPECT_FALSE(win32::isVersionAtLeast(major, minor, info.wServicePackMajor + 1, 0));
    EXPECT_FALSE(win32::isVersionAtLeast(major, static_cast<WORD>(minor + 1), 0, 0));
    EXPECT_EQ(sizeof info, info.dwOSVersionInfoSize);
    EXPECT_GE(info.dwMajorVersion, 6u);
    EXPECT_EQ(info.wProductType != VER_NT_WORKSTATION, win32::isServer());
    EXPECT_FALSE(win32::isMultiPointServer(info));
}

TEST(OsInfoTest, SetupClassifiesEachWindowsVersion)
{
    ProbeCopy probe(probeName(L"setup"), true);
    ProbeAnswer vista(probe.run(L"vista"));
    EXPECT_EQ(static_cast<int>(OsVersion::vista), vista.version);
    EXPECT_FALSE(vista.supported);
    EXPECT_EQ(static_cast<uint32_t>(win32::isWow64()), vista.wow64);

    // Wine may present 6.1 as a server; both kinds are supported.
    ProbeAnswer seven(probe.run(L"win7"));
    EXPECT_EQ(static_cast<int>(seven.productType == VER_NT_WORKSTATION ? OsVersion::win7 : OsVersion::server2008R2),
              seven.version);
    EXPECT_TRUE(seven.supported);

    ProbeAnswer eight(probe.run(L"win8"));
    EXPECT_EQ(static_cast<int>(OsVersion::win8), eight.version);
    EXPECT_TRUE(eight.supported);

    ProbeAnswer eightOne(probe.run(L"win81"));
    EXPECT_EQ(static_cast<int>(OsVersion::win8_1), eightOne.version) << "Setup's manifest names Windows 8.1";
    EXPECT_TRUE(eightOne.supported);
}

TEST(OsInfoTest, WithoutTheManifestWindows81ReadsAs8)
{
    ProbeCopy probe(probeName(L"plain"), false);
    ProbeAnswer answer(probe.run(L"win81"));
    EXPECT_EQ(static_cast<int>(OsVersion::win8), answer.version);
    EXPECT_TRUE(answer.supported);
}

TEST_F(RegistryVersionTest, Windows10IsRecognisedFromTheRegistry)
{
    ProbeCopy probe(probeName(L"win10"), true);
    setVersion(10, 0, L"10586");
    ProbeAnswer answer(probe.run(L"win10"));
    EXPECT_EQ(static_cast<int>(OsVersion::win10), answer.version);
    EXPECT_TRUE(answer.supported);
    setVersion(10, 0, L"19045");
    answer = ProbeAnswer(probe.run(L"win10"));
    EXPECT_EQ(static_cast<int>(OsVersion::win10Later), answer.version);
    EXPECT_TRUE(answer.supported);
    setVersion(10, 1, L"19045");
    answer = ProbeAnswer(probe.run(L"win10"));
    EXPECT_EQ(static_cast<int>(OsVersion::win10_1), answer.version);
    EXPECT_FALSE(answer.supported);
}

TEST_F(RegistryVersionTest, BuildSplitAndLaterVersions)
{
    struct Case { DWORD major; DWORD minor; const wchar_t* build; OsVersion expected; bool supported; } cases[] = {
        {10, 0, L"10586", OsVersion::win10, true},
        {10, 0, L"10587", OsVersion::win10Later, true},
        {10, 0, L"22631", OsVersion::win10Later, true},
        {10, 0, L"not a number", OsVersion::win10, true},
        {10, 0, nullptr, OsVersion::win10, true},
        {0x1000A, 0x20000, L"10587", OsVersion::win10Later, true},  // only the low 16 bits count
        {10, 1, L"10240", OsVersion::win10_1, false},
        {11, 0, L"10240", OsVersion::win10_1, false},
    };
    for (const Case& c : cases) {
        setVersion(c.major, c.minor, c.build);
        EXPECT_EQ(c.expected, win32::getOsVersion()) << c.major << "." << c.minor << " " << (c.build ? c.build : L"-");
        EXPECT_EQ(c.supported, win32::isOsSupported()) << c.major << "." << c.minor;
    }
    // Below 10 the registry numbers do not decide.
    setVersion(6, 3, L"9600");
    EXPECT_LT(win32::getOsVersion(), OsVersion::win10);
}

TEST_F(RegistryVersionTest, RegistryReaders)
{
    setVersion(10, 0, L"  10587xyz");
    WORD major = 0;
    WORD minor = 7;
    ASSERT_TRUE(win32::readRegistryVersion(major, minor));
    EXPECT_EQ(10, major);
    EXPECT_EQ(0, minor);
    EXPECT_TRUE(win32::isRegistryVersionAtLeast(10, 0));
    EXPECT_TRUE(win32::isRegistryVersionAtLeast(9, 5));
    EXPECT_FALSE(win32::isRegistryVersionAtLeast(10, 1));
    int build = 0;
    EXPECT_TRUE(win32::readBuildNumber(build));
    EXPECT_EQ(10587, build);

    setVersion(10, 0, L"abc");
    build = 5;
    EXPECT_FALSE(win32::readBuildNumber(build));
    EXPECT_EQ(0, build) << "an unreadable number is 0";
    setVersion(10, 0, nullptr);
    build = 5;
    EXPECT_FALSE(win32::readBuildNumber(build));
    EXPECT_EQ(5, build) << "a missing value leaves the output alone";

    removeVersionNumbers();
    major = minor = 3;
    EXPECT_FALSE(win32::readRegistryVersion(major, minor));
    EXPECT_FALSE(win32::isRegistryVersionAtLeast(0, 0));
}
