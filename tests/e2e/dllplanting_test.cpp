// A browser's Downloads folder holds whatever a web page offered. DLLs planted there
// under the names of the system DLLs Setup loads must never run inside it: Wine is told
// to prefer a DLL found beside the program for each of those names, as Windows does
// for every DLL that is not a known DLL.
#include "support/testsupport.h"
#include "sys/libutils/win32/win32nr.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <set>
#include <string>
#include <vector>

namespace ts { namespace test {
namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
    return text;
}

// The DLL names of a 32-bit program's import table, lower case.
std::set<std::string> importedDlls(const std::wstring& program)
{
    const std::string image = readFile(program);
    auto at = [&image](size_t offset, size_t size) -> const char* {
        return offset + size <= image.size() ? image.data() + offset : nullptr;
    };
    std::set<std::string> names;
    const char* dos = at(0, sizeof(IMAGE_DOS_HEADER));
    if (!dos)
        return names;
    const size_t ntOffset = reinterpret_cast<const IMAGE_DOS_HEADER*>(dos)->e_lfanew;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(at(ntOffset, sizeof(IMAGE_NT_HEADERS32)));
    if (!nt)
        return names;
    const auto* sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
        at(ntOffset + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader,
           nt->FileHeader.NumberOfSections * sizeof(IMAGE_SECTION_HEADER)));
    if (!sections)
        return names;
    auto fileOffset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i)
            if (rva >= sections[i].VirtualAddress && rva < sections[i].VirtualAddress + sections[i].SizeOfRawData)
                return rva - sections[i].VirtualAddress + sections[i].PointerToRawData;
        return image.size();
    };
    size_t entry = fileOffset(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    for (;; entry += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(entry, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
        if (!import || import->Name == 0)
            break;
        const size_t name = fileOffset(import->Name);
        if (name < image.size())
            names.insert(lower(image.c_str() + name));
    }
    return names;
}

// Windows takes these from the system folder whatever the search order (known DLLs of
// Windows 7 and 10; COMCTL32 through the manifest). Wine has no known DLLs, so planting
// them would test Wine, not Setup.
const std::set<std::string> kKnownDlls = {
    "advapi32.dll", "clbcatq.dll", "comdlg32.dll", "difxapi.dll", "gdi32.dll",  "imagehlp.dll",
    "imm32.dll",    "kernel32.dll", "msctf.dll",   "msvcrt.dll",  "normaliz.dll", "nsi.dll",
    "ole32.dll",    "oleaut32.dll", "psapi.dll",   "rpcrt4.dll",  "sechost.dll", "setupapi.dll",
    "shell32.dll",  "shlwapi.dll",  "user32.dll",  "wldap32.dll", "ws2_32.dll",  "comctl32.dll"};

// Windows takes a known DLL's dependencies from the system folder too. Wine has no known
// DLLs and looks for them beside the program, some even before Setup's first line
// (user32 imports version.dll there; imagehlp, which wintrust loads, imports
// dbghelp.dll): what Wine would do with those tests Wine, not Setup.
std::set<std::string> knownDllsWithDependencies()
{
    const std::wstring system = sys::win32::getSystemDirectory(false);
    std::set<std::string> closure;
    std::vector<std::string> pending(kKnownDlls.begin(), kKnownDlls.end());
    while (!pending.empty()) {
        const std::string name = pending.back();
        pending.pop_back();
        if (!closure.insert(name).second)
            continue;
        for (const std::string& dependency : importedDlls(system + L"\\" + widen(name)))
            pending.push_back(dependency);
    }
    return closure;
}

// Loaded by Setup's own code at run time, and the libraries those and the windows it
// shows load in turn.
const std::vector<std::string> kLoadedAtRunTime = {
    "wintrust.dll", "crypt32.dll", "userenv.dll", "dbghelp.dll", "wtsapi32.dll", "msasn1.dll",
    "cryptsp.dll",  "rsaenh.dll",  "profapi.dll", "version.dll", "msi.dll",      "uxtheme.dll",
    "dwmapi.dll",   "secur32.dll", "netapi32.dll", "mpr.dll"};

// Tells Wine to prefer, for one program name, a DLL found beside the program over its
// own (as Windows does for every DLL that is not a known DLL), for the object's life.
// Child processes do not take WINEDLLOVERRIDES from their environment block; the
// program's AppDefaults key applies to every start.
class PreferDllsBesideProgram {
public:
    PreferDllsBesideProgram(const std::wstring& program, const std::set<std::string>& names)
        : m_program(L"Software\\Wine\\AppDefaults\\" + program), m_key(m_program + L"\\DllOverrides")
    {
        HKEY key;
        m_programExisted = RegOpenKeyExW(HKEY_CURRENT_USER, m_program.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (m_programExisted)
            RegCloseKey(key);
        EXPECT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_CURRENT_USER, m_key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
        const wchar_t order[] = L"native,builtin";
        for (const std::string& name : names)
            RegSetValueExW(key, widen(name.substr(0, name.size() - 4)).c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(order), sizeof order);
        RegCloseKey(key);
    }
    PreferDllsBesideProgram(const PreferDllsBesideProgram&) = delete;
    PreferDllsBesideProgram& operator=(const PreferDllsBesideProgram&) = delete;
    ~PreferDllsBesideProgram()
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, m_key.c_str());
        if (!m_programExisted)
            RegDeleteKeyW(HKEY_CURRENT_USER, m_program.c_str());
    }

private:
    std::wstring m_program, m_key;
    bool m_programExisted = false;
};

class DllPlanting : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = makeTempDir(L"planting");
        m_downloads = m_dir + L"\\Downloads";
        m_markers = m_dir + L"\\markers";
        CreateDirectoryW(m_downloads.c_str(), nullptr);
        CreateDirectoryW(m_markers.c_str(), nullptr);
    }
    void TearDown() override { removeTree(m_dir); }

    // Runs `bundle` as Downloads\Setup.exe, from Downloads, with a planted DLL beside it
    // for every name it imports or loads that is not a known DLL. The full exit code.
    uint32_t runPlanted(const std::wstring& bundle, const std::wstring& options)
    {
        const std::wstring setup = m_downloads + L"\\Setup.exe";
        EXPECT_TRUE(CopyFileW(bundle.c_str(), setup.c_str(), FALSE)) << narrow(bundle);
        std::set<std::string> names(kLoadedAtRunTime.begin(), kLoadedAtRunTime.end());
        for (const std::string& name : importedDlls(setup))
            names.insert(name);
        static const std::set<std::string> fromTheSystemFolder = knownDllsWithDependencies();
        for (const std::string& name : fromTheSystemFolder)
            names.erase(name);
        std::cout << "Planted:";
        for (const std::string& name : names)
            std::cout << " " << name;
        std::cout << std::endl;
        for (const std::string& name : names)
            EXPECT_TRUE(CopyFileW(planted().c_str(), (m_downloads + L"\\" + widen(name)).c_str(), FALSE));
        PreferDllsBesideProgram preferred(L"Setup.exe", names);
        const std::wstring environment = L"TS_PLANTED_MARKERS=" + m_markers + L'\0' + L'\0';
        wchar_t previous[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, previous);
        SetCurrentDirectoryW(m_downloads.c_str());
        ProcessResult result = runProcess(L"\"" + setup + L"\" " + options + L" -mupLogFile \"" + m_dir +
                                              L"\\run.log\"",
                                          240000, environment.c_str(), L"", true);
        SetCurrentDirectoryW(previous);
        EXPECT_TRUE(result.started);
        EXPECT_FALSE(result.timedOut);
        return result.exitCode;
    }

    // The planted DLLs that ran, with the program each ran in.
    std::string plantedThatRan() const
    {
        std::string ran;
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((m_markers + L"\\*.loaded").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE)
            return ran;
        do {
            const std::string program = readFile(m_markers + L"\\" + found.cFileName);
            ran += narrow(found.cFileName) + " in " +
                   narrow(std::wstring(reinterpret_cast<const wchar_t*>(program.data()), program.size() / 2)) + "\n";
        } while (FindNextFileW(find, &found));
        FindClose(find);
        return ran;
    }

    std::string runLog() const { return readFile(m_dir + L"\\run.log"); }

    static std::wstring planted() { return buildDir() + L"\\bin\\tsplanted.dll"; }

    std::wstring m_dir, m_downloads, m_markers;
};

TEST_F(DllPlanting, ThePlantedDllLeavesAMarkerWhenLoaded)
{
    const std::wstring copy = m_downloads + L"\\probe.dll";
    ASSERT_TRUE(CopyFileW(planted().c_str(), copy.c_str(), FALSE));
    SetEnvironmentVariableW(L"TS_PLANTED_MARKERS", m_markers.c_str());
    HMODULE module = LoadLibraryW(copy.c_str());
    SetEnvironmentVariableW(L"TS_PLANTED_MARKERS", nullptr);
    ASSERT_NE(nullptr, module);
    FreeLibrary(module);
    EXPECT_NE(std::string::npos, plantedThatRan().find("probe.dll.loaded in "));
}

// Without this, the tests below could pass with Wine ignoring the planted DLLs.
TEST_F(DllPlanting, ProgramsThatImportThemLoadThem)
{
    runPlanted(buildDir() + L"\\bin\\tstrustroot.exe", L""); // imports crypt32
    EXPECT_NE(std::string::npos, lower(plantedThatRan()).find("crypt32.dll.loaded in ")) << plantedThatRan();
}

TEST_F(DllPlanting, SetupImportsOnlyKnownDlls)
{
    for (const wchar_t* program : {L"\\bin\\Setup.exe", L"\\bin\\tslog.exe", L"\\bin\\tsbundle.exe"})
        for (const std::string& name : importedDlls(buildDir() + program))
            EXPECT_TRUE(kKnownDlls.count(name)) << narrow(program) << " imports " << name;
    EXPECT_TRUE(importedDlls(buildDir() + L"\\bin\\Setup.exe").count("kernel32.dll"));
}

TEST_F(DllPlanting, NoneRunsInATamperedSetup)
{
    EXPECT_EQ(1790u, runPlanted(buildDir() + L"\\testdata\\Setup-tampered.exe", L"-silent")) << runLog();
    EXPECT_EQ("", plantedThatRan());
}

TEST_F(DllPlanting, NoneRunsWhileExtractingDrivers)
{
    EXPECT_EQ(0u, runPlanted(e2eBundle(L"recorder"), L"-silent -extractAsDriver \"" + m_dir + L"\\drivers\"")) << runLog();
    EXPECT_TRUE(fileExists(m_dir + L"\\drivers\\Windows7-x86\\tessaline.sys"));
    EXPECT_EQ("", plantedThatRan());
}

// The demo product's real packages; removed again afterwards.
class DllPlantingDemo : public DllPlanting {
protected:
    void SetUp() override
    {
        DllPlanting::SetUp();
        removeDemo();
    }
    void TearDown() override
    {
        removeDemo();
        DllPlanting::TearDown();
    }

    static void removeDemo()
    {
        for (const wchar_t* key : {L"SOFTWARE\\Tessaline\\Core", L"SOFTWARE\\Tessaline\\Products\\Tessaline Graphics"}) {
            wchar_t code[64] = L"";
            DWORD size = sizeof code - sizeof(wchar_t);
            HKEY handle;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_64KEY, &handle) == ERROR_SUCCESS) {
                if (RegQueryValueExW(handle, L"ProductCode", nullptr, nullptr, reinterpret_cast<BYTE*>(code), &size) ==
                    ERROR_SUCCESS)
                    runProcess(L"msiexec /qn /x " + std::wstring(code));
                RegCloseKey(handle);
            }
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY, 0);
        }
    }
};

TEST_F(DllPlantingDemo, NoneRunsInAFullInstall)
{
    EXPECT_EQ(0u, runPlanted(e2eBundle(L"demo"), L"-silent")) << runLog();
    EXPECT_NE(std::string::npos, runLog().find("Installation completed successfully.")) << runLog();
    EXPECT_EQ("", plantedThatRan());
}

}
}} // namespace ts::test
