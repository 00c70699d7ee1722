// Win32 only.
#include "sys/libutils/win32/safefile.h"

#include <vector>

namespace ts { namespace sys { namespace win32 {

namespace {

std::wstring fullPath(const std::wstring& path)
{
    DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(length + 1);
    length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    return length && length < buffer.size() ? std::wstring(buffer.data(), length) : std::wstring();
}

// Where the folders of a full path begin: after "C:\" or "\\server\share\".
size_t firstFolder(const std::wstring& path)
{
    if (path.compare(0, 2, L"\\\\") != 0)
        return path.size() >= 3 && path[1] == L':' ? 3 : std::wstring::npos;
    size_t share = path.find(L'\\', 2);
    size_t end = share == std::wstring::npos ? share : path.find(L'\\', share + 1);
    return end == std::wstring::npos ? end : end + 1;
}

bool isLink(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring withoutPrefix(std::wstring path)
{
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\" + path.substr(7);
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path.substr(4);
    return path;
}

std::wstring longPath(const std::wstring& path)
{
    DWORD length = GetLongPathNameW(path.c_str(), nullptr, 0);
    if (length == 0)
        return path;
    std::vector<wchar_t> buffer(length + 1);
    length = GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    return length && length < buffer.size() ? std::wstring(buffer.data(), length) : path;
}

// The open file is where `path` says: no link anywhere on the way led elsewhere.
bool isAt(HANDLE file, const std::wstring& path)
{
    wchar_t buffer[MAX_PATH * 2];
    DWORD length = GetFinalPathNameByHandleW(file, buffer, MAX_PATH * 2, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= MAX_PATH * 2)
        return false;
    std::wstring expected = fullPath(path);
    size_t slash = expected.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return false;
    expected = longPath(expected.substr(0, slash)) + expected.substr(slash);
    std::wstring actual = withoutPrefix(std::wstring(buffer, length));
    return CompareStringOrdinal(actual.c_str(), static_cast<int>(actual.size()), expected.c_str(),
                                static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
}

bool isPlainFile(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(file, &information) &&
           !(information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
           information.nNumberOfLinks == 1;
}

FileHandle refuse(DWORD error)
{
    SetLastError(error);
    return FileHandle();
}

} // namespace

bool pathHasLinkedFolder(const std::wstring& path)
{
    std::wstring full = fullPath(path);
    size_t next = firstFolder(full);
    while (next != std::wstring::npos && next < full.size()) {
        size_t end = full.find(L'\\', next);
        if (end == std::wstring::npos)
            break; // the last component is the file itself
        std::wstring folder = full.substr(0, end);
        if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
            return false;
        if (isLink(folder))
            return true;
        next = end + 1;
    }
    return false;
}

FileHandle createNewFile(const std::wstring& path, DWORD access, DWORD share)
{
    if (pathHasLinkedFolder(path))
        return refuse(kLinkRefused);
    FileHandle file(CreateFileW(path.c_str(), access | DELETE, share, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS)
            error = ERROR_FILE_EXISTS;
        return refuse(error);
    }
    if (!isAt(file.get(), path)) {
        // Made through a link swapped in after the check: take it away again, by handle.
        FILE_DISPOSITION_INFO disposition = {TRUE};
        SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
        return refuse(kLinkRefused);
    }
    return file;
}

FileHandle openFileToAppend(const std::wstring& path, DWORD share)
{
    FileHandle file = createNewFile(path, GENERIC_WRITE, share);
    if (file || GetLastError() != ERROR_FILE_EXISTS)
        return file;
    file.reset(CreateFileW(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return refuse(GetLastError());
    if (!isPlainFile(file.get()) || !isAt(file.get(), path))
        return refuse(kLinkRefused);
    SetFilePointer(file.get(), 0, nullptr, FILE_END);
    return file;
}

FileHandle openFirstFree(const std::function<std::wstring(int)>& candidate,
                         const std::function<FileHandle(const std::wstring&)>& open, std::wstring& chosen)
{
    for (int n = 0; n < kMaxNameTries; ++n) {
        std::wstring name = candidate(n);
        if (name.empty())
            break;
        FileHandle file = open(name);
        if (file) {
            chosen = name;
            return file;
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != kLinkRefused)
            return refuse(error);
    }
    return refuse(ERROR_FILE_EXISTS);
}

bool deletePlainFile(const std::wstring& path)
{
    if (pathHasLinkedFolder(path) || isLink(path))
        return false;
    return DeleteFileW(path.c_str()) != FALSE;
}

bool renamePlainFile(const std::wstring& from, const std::wstring& to)
{
    if (pathHasLinkedFolder(from) || pathHasLinkedFolder(to) || isLink(from))
        return false;
    return MoveFileExW(from.c_str(), to.c_str(), 0) != FALSE;
}

std::wstring fromAnsi(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length > 0 ? length : 0, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

}}} // namespace ts::sys::win32
