#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/process.h"
#include "sys/libutils/win32/win32nr.h"
#include "sys/libutils/win32/workingfolder.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <cwctype>
#include <initializer_list>

namespace win32 = ts::sys::win32;
namespace test = ts::test;

namespace {

const wchar_t* const sessionManager = L"System\\CurrentControlSet\\Control\\Session Manager";

std::vector<std::wstring> pendingRenames()
{
    std::vector<std::wstring> entries;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return entries;
    DWORD size = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 2);
        if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                             &size) == ERROR_SUCCESS) {
            // Pairs of names; an empty name is not the end here, so walk by size.
            size_t count = size / sizeof(wchar_t);
            for (size_t i = 0; i < count;) {
                std::wstring entry(&data[i]);
                entries.push_back(entry);
                i += entry.size() + 1;
            }
        }
    }
    RegCloseKey(key);
    return entries;
}

bool deletionPending(const std::wstring& path)
{
    std::vector<std::wstring> entries = pendingRenames();
    for (size_t i = 0; i + 1 < entries.size(); i += 2)
        if (_wcsicmp(entries[i].c_str(), (L"\\??\\" + path).c_str()) == 0 && entries[i + 1].empty())
            return true;
    return false;
}

// Keeps the test prefix from collecting restart deletions of the tests' own files.
void forgetPendingDeletion(const std::wstring& path)
{
    std::vector<std::wstring> entries = pendingRenames();
    std::wstring data;
    for (size_t i = 0; i + 1 < entries.size(); i += 2) {
        if (_wcsicmp(entries[i].c_str(), (L"\\??\\" + path).c_str()) == 0)
            continue;
        data += entries[i] + L'\0' + entries[i + 1] + L'\0';
    }
    data += L'\0';
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    if (data.size() <= 1)
        RegDeleteValueW(key, L"PendingFileRenameOperations");
    else
        RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    RegCloseKey(key);
}

bool isDirectory(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Entries ending in "\\" are folders, the others small files; parents come first.
void makeTree(const std::wstring& root, std::initializer_list<const wchar_t*> entries)
{
    for (std::wstring entry : entries) {
        if (entry.back() == L'\\')
            CreateDirectoryW((root + L"\\" + entry).c_str(), nullptr);
        else
            test::writeFile(root + L"\\" + entry, "x");
    }
}

std::wstring upper(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(towupper(c)); });
    return text;
}

} // namespace

TEST(FilesTest, ModuleAndSystemFolders)
{
    std::wstring self = L"unchanged";
    ASSERT_TRUE(win32::getModuleFileName(nullptr, self));
    EXPECT_EQ(L"TS_SYSTEM.EXE", upper(self.substr(self.size() - 13)));
    EXPECT_TRUE(test::fileExists(self));
    std::wstring kernel;
    ASSERT_TRUE(win32::getModuleFileName(GetModuleHandleW(L"kernel32.dll"), kernel));
    EXPECT_EQ(L"KERNEL32.DLL", upper(kernel.substr(kernel.size() - 12)));

    std::wstring out = L"unchanged";
    EXPECT_FALSE(win32::getModuleFileName(reinterpret_cast<HMODULE>(0x10), out));
    EXPECT_EQ(L"unchanged", out);

    std::wstring system = win32::getSystemDirectory(false);
    EXPECT_TRUE(isDirectory(system)) << system;
    EXPECT_NE(L'\\', system.back());
    // Only 64-bit Windows has a separate 32-bit system folder.
    std::wstring wow64 = win32::getSystemDirectory(true);
    EXPECT_EQ(win32::isWow64(), !wow64.empty()) << wow64;
    if (!wow64.empty()) {
        EXPECT_TRUE(isDirectory(wow64));
    }
    std::wstring windows = win32::getWindowsDirectory();
    EXPECT_TRUE(isDirectory(windows)) << windows;
    EXPECT_EQ(upper(windows), upper(system.substr(0, windows.size())));
}

TEST(FilesTest, TempAndFullPaths)
{
    std::wstring temp;
    ASSERT_TRUE(win32::getTempPath(temp));
    EXPECT_EQ(L'\\', temp.back());
    EXPECT_TRUE(isDirectory(temp));

    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    std::wstring full;
    ASSERT_TRUE(win32::getFullPathName(L"some\\..\\relative.txt", full));
    EXPECT_EQ(win32::joinPath(current, L"relative.txt"), full);
    std::wstring longName = L"C:\\" + std::wstring(400, L'x');
    ASSERT_TRUE(win32::getFullPathName(longName, full));
    EXPECT_EQ(longName, full);
}

TEST(FilesTest, FindFilesReachesExactlyTheGivenDepth)
{
    const test::TempFolder temp(L"find");
    const std::wstring& root = temp.path;
    std::wstring folder = root;
    std::vector<std::wstring> expected;
    for (int level = 0; level <= 11; ++level) {
        test::writeFile(folder + L"\\level.cat", "x");
        test::writeFile(folder + L"\\level.inf", "x");
        if (level <= 10)
            expected.push_back(folder + L"\\level.cat");
        folder += L"\\d" + std::to_wstring(level);
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    // A folder that matches the pattern is not a file.
    CreateDirectoryW((root + L"\\folder.cat").c_str(), nullptr);

    EXPECT_EQ(expected, win32::findFiles(root, L"*.cat", 10));
    EXPECT_EQ(std::vector<std::wstring>{root + L"\\level.cat"}, win32::findFiles(root, L"*.cat", 0));
    EXPECT_EQ(std::vector<std::wstring>{root + L"\\level.cat"}, win32::findFiles(root + L"\\", L"*.cat", 0));
    EXPECT_TRUE(win32::findFiles(root + L"\\missing", L"*.cat", 10).empty());
}

TEST(FilesTest, FindFilesListsAFoldersOwnMatchesFirst)
{
    const test::TempFolder temp(L"find");
    const std::wstring& root = temp.path;
    makeTree(root, {L"a\\", L"b\\", L"a\\one.cat", L"b\\two.cat", L"z.cat"});
    std::vector<std::wstring> found = win32::findFiles(root, L"*.cat", 1);
    ASSERT_EQ(3u, found.size());
    EXPECT_EQ(root + L"\\z.cat", found[0]);
    std::sort(found.begin() + 1, found.end());
    EXPECT_EQ(root + L"\\a\\one.cat", found[1]);
    EXPECT_EQ(root + L"\\b\\two.cat", found[2]);
}

TEST(FilesTest, MakeUniqueFileNameAvoidsExistingFiles)
{
    const test::TempFolder temp(L"unique");
    const std::wstring& folder = temp.path;
    std::wstring first = win32::makeUniqueFileName(folder, L"TS", L"log");
    ASSERT_EQ(folder.size() + 1 + 2 + 4 + 4, first.size()) << first;
    std::wstring name = first.substr(folder.size() + 1);
    EXPECT_EQ(L"TS", name.substr(0, 2));
    EXPECT_EQ(std::wstring::npos, name.substr(2, 4).find_first_not_of(L"0123456789ABCDEF")) << name;
    EXPECT_EQ(L".log", name.substr(6));
    EXPECT_FALSE(test::fileExists(first)) << "the name is not created";
    test::writeFile(first, "taken");
    std::wstring second = win32::makeUniqueFileName(folder, L"TS", L"log");
    EXPECT_NE(first, second);
    EXPECT_FALSE(test::fileExists(second));
}

TEST(FilesTest, CreateTempDirectoryMakesANewFolderDeletedAtRestart)
{
    std::wstring temp;
    ASSERT_TRUE(win32::getTempPath(temp));
    std::wstring first;
    std::wstring second;
    ASSERT_TRUE(win32::createTempDirectory(first));
    ASSERT_TRUE(win32::createTempDirectory(second));
    EXPECT_NE(first, second);
    for (const std::wstring& made : {first, second}) {
        EXPECT_EQ(L'\\', made.back());
        EXPECT_TRUE(isDirectory(made));
        std::wstring folder = made.substr(0, made.size() - 1);
        EXPECT_EQ(upper(temp), upper(folder.substr(0, temp.size())));
        std::wstring name = folder.substr(temp.size());
        EXPECT_EQ(L"TS", name.substr(0, 2)) << name;
        EXPECT_EQ(L".TMP", upper(name.substr(name.size() - 4))) << name;
        EXPECT_TRUE(deletionPending(folder)) << folder;
        forgetPendingDeletion(folder);
        RemoveDirectoryW(folder.c_str());
    }
}

TEST(FilesTest, CreateTempFileNameMakesAnEmptyFileDeletedAtRestart)
{
    const test::TempFolder temp(L"tempfile");
    const std::wstring& folder = temp.path;
    std::wstring name;
    ASSERT_TRUE(win32::createTempFileName(folder, L"TS", name));
    EXPECT_EQ(upper(folder + L"\\TS"), upper(name.substr(0, folder.size() + 3)));
    EXPECT_TRUE(test::fileExists(name));
    EXPECT_TRUE(test::readFile(name).empty());
    EXPECT_TRUE(deletionPending(name)) << name;
    std::wstring other;
    ASSERT_TRUE(win32::createTempFileName(folder, L"TS", other));
    EXPECT_NE(name, other);
    forgetPendingDeletion(name);
    forgetPendingDeletion(other);

    std::wstring unchanged = L"unchanged";
    EXPECT_FALSE(win32::createTempFileName(folder + L"\\missing", L"TS", unchanged));
    EXPECT_EQ(L"unchanged", unchanged);
}

TEST(FilesTest, ShellDeleteReportsTheShellsCode)
{
    const test::TempFolder temp(L"shelldel");
    makeTree(temp.path, {L"inner\\", L"inner\\file.txt"});
    EXPECT_EQ(0, win32::shellDelete(temp.path + L"\\inner"));
    EXPECT_FALSE(test::fileExists(temp.path + L"\\inner"));
    EXPECT_NE(0, win32::shellDelete(temp.path + L"\\missing"));
}

TEST(FilesTest, DeleteFileForcedTakesReadOnlyFiles)
{
    const test::TempFolder temp(L"delfile");
    const std::wstring file = temp.path + L"\\locked.txt";
    test::writeFile(file, "x");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(win32::deleteFileForced(file));
    EXPECT_FALSE(test::fileExists(file));
    EXPECT_FALSE(win32::deleteFileForced(file));
}

TEST(FilesTest, DeleteDirectoryTreeRemovesEverythingBelow)
{
    const test::TempFolder temp(L"deltree");
    const std::wstring& root = temp.path;
    makeTree(root, {L"sub\\", L"sub\\deeper\\", L"top.txt", L"sub\\deeper\\bottom.txt"});
    SetFileAttributesW((root + L"\\top.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(win32::deleteDirectoryTree(root + L"\\"));
    EXPECT_FALSE(test::fileExists(root));

    const test::TempFolder otherTemp(L"deltree");
    const std::wstring& other = otherTemp.path;
    test::writeFile(other + L"\\file.txt", "x");
    EXPECT_FALSE(win32::deleteDirectoryTree(other + L"\\file.txt")) << "a file is not a folder";
    EXPECT_TRUE(test::fileExists(other + L"\\file.txt"));
    EXPECT_FALSE(win32::deleteDirectoryTree(other + L"\\missing"));
    EXPECT_FALSE(win32::deleteDirectoryTree(L"C"));
    EXPECT_FALSE(win32::deleteDirectoryTree(L"\\"));
    EXPECT_FALSE(win32::deleteDirectoryTree(L""));
    EXPECT_TRUE(win32::deleteDirectoryTree(other));
    EXPECT_FALSE(test::fileExists(other));
}

// A working folder in the first location that takes one; what it holds refuses writers
// and deleters and still runs.
TEST(WorkingFolderTest, MadeInTheFirstLocationThatTakesOneAndHeld)
{
    const test::TempFolder temp(L"working");
    DWORD error = 0;
    std::wstring location;
    win32::WorkingFolder folder;
    ASSERT_TRUE(folder.create({temp.path + L"\\missing", temp.path}, error, location)) << error;
    EXPECT_EQ(temp.path + L"\\", location);
    EXPECT_EQ(folder.path(), win32::WorkingFolder::current());
    EXPECT_EQ(temp.path.size() + 16, folder.path().size());
    const std::wstring program = folder.path() + L"tsexit.exe";
    ASSERT_TRUE(CopyFileW((test::buildDir() + L"\\bin\\tsexit.exe").c_str(), program.c_str(), FALSE));
    {
        const win32::FileHandle held = win32::holdFile(program);
        ASSERT_TRUE(held);
        EXPECT_EQ(static_cast<unsigned long>(ERROR_SHARING_VIOLATION), test::openForWriting(program));
        EXPECT_FALSE(DeleteFileW(program.c_str()));
        DWORD exitCode = 0;
        EXPECT_TRUE(win32::runProcess(L"\"" + program + L"\" 7", exitCode));
        EXPECT_EQ(7u, exitCode);
    }
    EXPECT_EQ(0u, test::openForWriting(program));
    const std::wstring path = folder.path();
    EXPECT_TRUE(folder.remove());
    EXPECT_FALSE(test::fileExists(path));
    EXPECT_EQ(L"", win32::WorkingFolder::current());
}
