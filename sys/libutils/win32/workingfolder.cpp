// Win32 only.
#include "sys/libutils/win32/workingfolder.h"

#include "sys/libutils/win32/keyhandle.h"
#include "sys/libutils/win32/localmemory.h"
#include "sys/libutils/win32/win32nr.h"

#include <ntsecapi.h>
#include <sddl.h>
#include <cwchar>

namespace ts { namespace sys { namespace win32 {

const wchar_t* const kWorkingFolderSddl = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const wchar_t* const kWorkingFolderLock = L"Setup.lock";

namespace {

std::wstring s_current;

bool isFolder(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Every working folder is recorded here while it exists. Only administrators can write
// under HKLM\SOFTWARE, so what the cleanup finds here no user chose.
const wchar_t* const kRecordKey = L"SOFTWARE\\Tessaline\\Setup\\WorkingFolders";

void record(const std::wstring& folder)
{
    KeyHandle key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.receive(),
                        nullptr) == ERROR_SUCCESS)
        RegSetValueExW(key.get(), folder.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
}

void forget(const std::wstring& folder)
{
    KeyHandle key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, KEY_SET_VALUE, key.receive()) == ERROR_SUCCESS)
        RegDeleteValueW(key.get(), folder.c_str());
}

std::vector<std::wstring> recordedFolders()
{
    std::vector<std::wstring> folders;
    KeyHandle key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS)
        return folders;
    wchar_t name[MAX_PATH + 1];
    for (DWORD index = 0, length = MAX_PATH + 1;
         RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = MAX_PATH + 1)
        folders.push_back(name);
    return folders;
}

} // namespace

std::vector<std::wstring> workingLocations()
{
    const std::wstring windows = getWindowsDirectory();
    if (windows.empty())
        return {};
    return {joinPath(windows, L"SystemTemp"), joinPath(windows, L"Temp")};
}

std::wstring workingFolderName(uint32_t random)
{
    wchar_t name[16];
    swprintf(name, 16, L"TS%08X.tmp", random);
    return name;
}

FileHandle holdFile(const std::wstring& path)
{
    return FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

WorkingFolder::~WorkingFolder()
{
    remove();
}

bool WorkingFolder::create(const std::vector<std::wstring>& locations, DWORD& error, std::wstring& location)
{
    error = ERROR_SUCCESS;
    if (!m_path.empty())
        return false;
    LocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kWorkingFolderSddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive()),
            nullptr)) {
        error = GetLastError();
        return false;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.get(), FALSE};
    for (const std::wstring& place : locations) {
        location = joinPath(place, L"");
        if (!isFolder(place)) {
            error = ERROR_PATH_NOT_FOUND;
            continue;
        }
        // A few names: users may make folders here, and one of theirs is never used.
        for (int attempt = 0; attempt < 16; ++attempt) {
            uint32_t random = 0;
            if (!RtlGenRandom(&random, sizeof random)) {
                error = GetLastError();
                return false;
            }
            const std::wstring folder = joinPath(place, workingFolderName(random));
            if (!CreateDirectoryW(folder.c_str(), &attributes)) {
                error = GetLastError();
                if (error == ERROR_ALREADY_EXISTS)
                    continue;
                break;
            }
            // Recorded before its lock exists: a run killed from here on leaves a folder the
            // next run finds, and a live run's lock keeps it from taking this one.
            record(folder);
            const std::wstring lockPath = joinPath(folder, kWorkingFolderLock);
            FileHandle lock(CreateFileW(lockPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!lock) {
                error = GetLastError();
                forget(folder);
                RemoveDirectoryW(folder.c_str());
                continue;
            }
            // Best effort: what a killed run leaves goes at the next restart too.
            deleteAtRestart(lockPath);
            deleteAtRestart(folder);
            m_lock = std::move(lock);
            m_path = folder + L"\\";
            s_current = m_path;
            return true;
        }
    }
    return false;
}

bool WorkingFolder::remove()
{
    if (m_path.empty())
        return true;
    m_lock.reset();
    // Forgotten first: a recorded name must never come to stand for a folder someone
    // else made after this one went.
    const std::wstring folder = m_path.substr(0, m_path.size() - 1);
    forget(folder);
    if (!deleteDirectoryTree(m_path))
        return false;
    if (s_current == m_path)
        s_current.clear();
    m_path.clear();
    return true;
}

const std::wstring& WorkingFolder::current()
{
    return s_current;
}

unsigned removeStaleWorkingFolders()
{
    unsigned removed = 0;
    for (const std::wstring& folder : recordedFolders()) {
        // A live run holds its lock without sharing deletion; a killed run's lock goes.
        if (!DeleteFileW(joinPath(folder, kWorkingFolderLock).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
            GetLastError() != ERROR_PATH_NOT_FOUND)
            continue;
        forget(folder);
        removed += deleteDirectoryTree(folder) ? 1 : 0;
    }
    return removed;
}

}}} // namespace ts::sys::win32
