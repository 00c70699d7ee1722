// Win32 only.
#include "sys/libutils/win32/win32nr.h"

#include "sys/libutils/win32/findhandle.h"
#include "sys/libutils/win32/handle.h"
#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/safefile.h"

#include <shellapi.h>
#include <cstdlib>
#include <cwchar>

namespace ts { namespace sys { namespace win32 {

bool getModuleFileName(HMODULE module, std::wstring& out)
{
    std::vector<wchar_t> buffer(16);
    for (;;) {
        DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length != 0 && length < buffer.size()) {
            out.assign(buffer.data(), length);
            return true;
        }
        size_t next = static_cast<size_t>(length) * 2;
        if (next == 0 || next >= 0xFFFF)
            return false;
        buffer.resize(next);
    }
}

namespace {

// Asks once with one character to learn the size, then with that size plus one.
template <typename Query>
std::wstring querySizedPath(Query query)
{
    wchar_t probe[1] = {};
    UINT size = query(probe, 1);
    if (size == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(size + 1);
    UINT length = query(buffer.data(), size + 1);
    if (length == 0 || length > size)
        return std::wstring();
    return std::wstring(buffer.data(), length);
}

} // namespace

std::wstring getSystemDirectory(bool wow64)
{
    return querySizedPath([wow64](wchar_t* buffer, UINT size) {
        return wow64 ? GetSystemWow64DirectoryW(buffer, size) : GetSystemDirectoryW(buffer, size);
    });
}

std::wstring getWindowsDirectory()
{
    return querySizedPath([](wchar_t* buffer, UINT size) { return GetSystemWindowsDirectoryW(buffer, size); });
}

std::wstring getNativeSystemDirectory()
{
    if (!isWow64())
        return getSystemDirectory(false);
    const std::wstring windows = getWindowsDirectory();
    return windows.empty() ? windows : joinPath(windows, L"Sysnative");
}

std::wstring joinPath(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty())
        return name;
    wchar_t last = folder.back();
    if (last == L'\\' || last == L'/')
        return folder + name;
    return folder + L'\\' + name;
}

std::wstring replaceDirectory(const std::wstring& path, const std::wstring& folder)
{
    if (path.empty())
        return std::wstring();
    size_t separator = path.find_last_of(L"\\/");
    std::wstring name = separator == std::wstring::npos ? path : path.substr(separator + 1);
    if (name.empty())
        return std::wstring();
    return joinPath(folder, name);
}

namespace {

void findEntries(const std::wstring& folder, const std::wstring& pattern, unsigned depth, bool wantFolders,
                 std::vector<std::wstring>& found)
{
    WIN32_FIND_DATAW data;
    {
        FindHandle find(FindFirstFileW(joinPath(folder, pattern).c_str(), &data));
        if (find) {
            do {
                bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                if (isFolder != wantFolders || wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0)
                    continue;
                found.push_back(joinPath(folder, data.cFileName));
            } while (FindNextFileW(find.get(), &data));
        }
    }
    if (depth == 0)
        return;
    std::vector<std::wstring> subfolders;
    findEntries(folder, L"*", 0, true, subfolders);
    for (const std::wstring& subfolder : subfolders)
        findEntries(subfolder, pattern, depth - 1, wantFolders, found);
}

} // namespace

std::vector<std::wstring> findFiles(const std::wstring& folder, const std::wstring& pattern, unsigned depth)
{
    std::vector<std::wstring> found;
    findEntries(folder, pattern, depth, false, found);
    return found;
}

bool getTempPath(std::wstring& out)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (length == 0 || length >= buffer.size())
        return false;
    out.assign(buffer.data(), length);
    return true;
}

bool setCurrentDirectory(const std::wstring& path)
{
    return SetCurrentDirectoryW(path.c_str()) != FALSE;
}

bool getCurrentDirectory(std::wstring& out)
{
    DWORD size = GetCurrentDirectoryW(0, nullptr);
    std::vector<wchar_t> buffer(size + 1);
    DWORD length = size ? GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data()) : 0;
    if (length == 0 || length >= buffer.size())
        return false;
    out.assign(buffer.data(), length);
    return true;
}

void writeDebugOutput(const std::wstring& text)
{
    OutputDebugStringW(text.c_str());
}

bool getFullPathName(const std::wstring& path, std::wstring& out)
{
    std::vector<wchar_t> buffer(1);
    DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    }
    if (length == 0 || length >= buffer.size())
        return false;
    out.assign(buffer.data(), length);
    return true;
}

std::wstring makeUniqueFileName(const std::wstring& folder, const std::wstring& prefix, const std::wstring& extension)
{
    // Seeded once: reseeding from the tick count inside the loop draws one name over and
    // over within a tick.
    srand(GetTickCount() ^ (GetCurrentProcessId() << 16));
    for (int tries = 0; tries < kMaxNameTries; ++tries) {
        unsigned long value = 0;
        for (int draw = 0; draw < 5; ++draw)
            value = ((value << 15) ^ static_cast<unsigned long>(rand())) & 0x7FFFFFFFul;
        wchar_t number[8];
        swprintf(number, 8, L"%04X", static_cast<unsigned>(value % 65536));
        std::wstring name = joinPath(folder, prefix + number + L"." + extension);
        // The attributes of a link are its own: a dangling one counts as taken too.
        if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
            return name;
    }
    return std::wstring();
}

bool pathExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD checkReadable(const std::wstring& path)
{
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? ERROR_SUCCESS : GetLastError();
}

bool isProgramFile(const std::wstring& path)
{
    DWORD type = 0;
    return GetBinaryTypeW(path.c_str(), &type) != FALSE;
}

bool deleteAtRestart(const std::wstring& path)
{
    return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool createTempDirectory(std::wstring& out, DWORD* error)
{
    DWORD ignored = 0;
    DWORD& failure = error ? *error : ignored;
    failure = ERROR_SUCCESS;
    std::wstring temp;
    if (!getTempPath(temp)) {
        failure = GetLastError();
        return false;
    }
    // GetTempFileNameW uses only the low 16 bits of the counter and creates a file
    // when they are zero, so the counter stops before it wraps.
    for (UINT counter = 2; counter <= 0xFFFF; ++counter) {
        wchar_t name[MAX_PATH];
        if (GetTempFileNameW(temp.c_str(), L"TS", counter, name) == 0) {
            failure = GetLastError();
            return false;
        }
        if (GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES)
            continue;
        if (!CreateDirectoryW(name, nullptr)) {
            failure = GetLastError();
            return false;
        }
        // Best effort: a run that ends abnormally still leaves nothing behind after a restart.
        deleteAtRestart(name);
        out = std::wstring(name) + L"\\";
        return true;
    }
    failure = ERROR_FILE_EXISTS;
    return false;
}

bool createTempFileName(const std::wstring& folder, const std::wstring& prefix, std::wstring& out)
{
    wchar_t name[MAX_PATH];
    if (GetTempFileNameW(folder.c_str(), prefix.c_str(), 0, name) == 0)
        return false;
    deleteAtRestart(name);
    out = name;
    return true;
}

bool isExistingFile(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool clearFileAttributes(const std::wstring& path, DWORD bits)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    return SetFileAttributesW(path.c_str(), attributes & ~bits) != FALSE;
}

bool deleteFileForced(const std::wstring& path)
{
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str()) != FALSE;
}

bool deleteDirectoryTree(const std::wstring& path)
{
    if (path.size() <= 1)
        return false;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    std::wstring from = path;
    if (from.back() == L'\\')
        from.pop_back();
    return shellDelete(from) == 0;
}

int shellDelete(const std::wstring& path)
{
    // SHFileOperationW takes a list of names ended by an empty one.
    std::wstring from = path;
    from.append(2, L'\0');
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    return SHFileOperationW(&operation);
}

DWORD OutputFile::create(const std::wstring& path)
{
    m_file.reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return m_file ? ERROR_SUCCESS : GetLastError();
}

DWORD OutputFile::write(const void* data, size_t size)
{
    const BYTE* next = static_cast<const BYTE*>(data);
    while (size > 0) {
        // One call for anything below 1 GiB; larger data in slices WriteFile can take.
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(m_file.get(), next, chunk, &written, nullptr))
            return GetLastError();
        if (written != chunk)
            return ERROR_DISK_FULL;
        next += chunk;
        size -= chunk;
    }
    return ERROR_SUCCESS;
}

DWORD OutputFile::close()
{
    if (m_file && !CloseHandle(m_file.release()))
        return GetLastError();
    return ERROR_SUCCESS;
}

DWORD writeFileContents(const std::wstring& path, const void* data, size_t size)
{
    OutputFile file;
    DWORD error = file.create(path);
    if (error == ERROR_SUCCESS)
        error = file.write(data, size);
    if (error == ERROR_SUCCESS)
        error = file.close();
    return error;
}

DWORD createDirectories(const std::wstring& path)
{
    if (path.empty() || pathExists(path))
        return ERROR_SUCCESS;
    size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0 && path[slash - 1] != L':')
        createDirectories(path.substr(0, slash));
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
        DWORD error = GetLastError();
        return error == ERROR_ALREADY_EXISTS ? ERROR_SUCCESS : error;
    }
    return ERROR_SUCCESS;
}

DWORD copyFile(const std::wstring& from, const std::wstring& to, bool overwrite)
{
    return CopyFileW(from.c_str(), to.c_str(), overwrite ? FALSE : TRUE) ? ERROR_SUCCESS : GetLastError();
}

}}} // namespace ts::sys::win32
