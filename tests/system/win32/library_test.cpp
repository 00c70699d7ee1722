// System libraries named by bare file name come from the system folder only.
#include "support/testsupport.h"
#include "sys/libutils/exception.h"
#include "sys/libutils/win32/library.h"
#include "sys/libutils/win32/win32nr.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace win32 = ts::sys::win32;
using namespace ts::test;

namespace {

std::wstring lower(std::wstring text)
{
    CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// The folder of the module an address lies in, lower case.
std::wstring moduleFolder(void* address)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return L"";
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    std::wstring file(path, length);
    return lower(file.substr(0, file.find_last_of(L'\\')));
}

// Under WoW64 a module loaded from the system folder names the 32-bit one.
bool inSystemFolder(void* address)
{
    const std::wstring folder = moduleFolder(address);
    const std::wstring wow64 = win32::getSystemDirectory(true);
    if (!wow64.empty() && folder == lower(wow64))
        return true;
    return !folder.empty() && folder == lower(win32::getSystemDirectory(false));
}

// A copy of the marker DLL under a name no system folder has, in the current folder.
class CurrentFolderDll : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = makeTempDir(L"library");
        ASSERT_TRUE(CopyFileW((buildDir() + L"\\bin\\tsplanted.dll").c_str(), (m_dir + L"\\tsnotsystem.dll").c_str(),
                              FALSE));
        GetCurrentDirectoryW(MAX_PATH, m_previous);
        SetCurrentDirectoryW(m_dir.c_str());
        SetEnvironmentVariableW(L"TS_PLANTED_MARKERS", m_dir.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"TS_PLANTED_MARKERS", nullptr);
        SetCurrentDirectoryW(m_previous);
        removeTree(m_dir);
    }
    bool ran() const { return fileExists(m_dir + L"\\tsnotsystem.dll.loaded"); }

    std::wstring m_dir;
    wchar_t m_previous[MAX_PATH] = L"";
};

} // namespace

TEST_F(CurrentFolderDll, IsNotLoadedByFileName)
{
    try {
        win32::Library library("tsnotsystem.dll", "Anything");
        ADD_FAILURE() << "loaded from the current folder";
    } catch (const ts::sys::SystemMessageException& e) {
        EXPECT_EQ(33u, e.messageId());
        EXPECT_EQ(static_cast<uint32_t>(ERROR_MOD_NOT_FOUND), e.windowsError());
    }
    EXPECT_EQ(nullptr, win32::systemFunctionAddress("tsnotsystem.dll", "Anything"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_FALSE(ran());
}

TEST_F(CurrentFolderDll, IsLoadedByPath)
{
    // A path is the caller's choice; the installer API binding loads its copy this way.
    win32::Library library(m_dir + L"\\tsnotsystem.dll");
    EXPECT_TRUE(library.loaded());
    EXPECT_TRUE(ran());
}

TEST(SystemFunction, ComesFromTheSystemFolderAndStaysResolved)
{
    void* verify = win32::systemFunctionAddress("wintrust.dll", "WinVerifyTrust");
    ASSERT_NE(nullptr, verify);
    EXPECT_TRUE(inSystemFolder(verify));
    EXPECT_EQ(verify, win32::systemFunctionAddress("wintrust.dll", "WinVerifyTrust"));

    EXPECT_EQ(nullptr, win32::systemFunctionAddress("wintrust.dll", "NoSuchExportAnywhere"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, win32::systemFunctionAddress("no-such-library.dll", "Anything"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST(LoadedModule, FindsTheExportsOfModulesTheProcessHoldsOnly)
{
    EXPECT_EQ(win32::systemFunctionAddress("kernel32.dll", "GetTickCount"),
              win32::LoadedModule(L"kernel32.dll").getProcAddress("GetTickCount"));
    EXPECT_EQ(nullptr, win32::LoadedModule(L"kernel32.dll").getProcAddress("NoSuchExportAnywhere"));
    EXPECT_EQ(nullptr, win32::LoadedModule(L"no-such-library.dll").getProcAddress("Anything"));
}

TEST(SystemLibrary, ComesFromTheSystemFolderWithAndWithoutTheSearchFlags)
{
    win32::Library library("dbghelp.dll", "MiniDumpWriteDump");
    EXPECT_TRUE(inSystemFolder(library.function()));
    for (bool searchFlags : {true, false}) {
        HMODULE module = win32::loadSystemLibrary("version.dll", searchFlags);
        ASSERT_NE(nullptr, module) << searchFlags;
        EXPECT_TRUE(inSystemFolder(reinterpret_cast<void*>(GetProcAddress(module, "GetFileVersionInfoSizeW"))));
        FreeLibrary(module);
    }
}

TEST_F(CurrentFolderDll, IsNotLoadedWithoutTheSearchFlagsEither)
{
    EXPECT_EQ(nullptr, win32::loadSystemLibrary("tsnotsystem.dll", false));
    EXPECT_FALSE(ran());
}
