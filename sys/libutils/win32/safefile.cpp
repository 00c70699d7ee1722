// Win32 only.
#include "sys/libutils/win32/safefile.h"

#include "sys/libutils/win32/win32nr.h"

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

FileHandle createNewFile(const std::wstring& path, DWORD access, DWORD share)
{
    FileHandle file(CreateFileW(path.c_str(), access | DELETE, share, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS)
            error = ERROR_FILE_EXISTS;
        return refuse(error);
    }
    if (!isAt(file.get(), path)) {
        // Made through a linked folder: take it away again, by handle.
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

FileHandle createUniqueFile(const std::wstring& folder, const std::wstring& prefix, const std::wstring& extension,
                            std::wstring& chosen)
{
    return openFirstFree([&](int) { return makeUniqueFileName(folder, prefix, extension); },
                         [](const std::wstring& name) {
                             // Made with the right to delete it (the link check may need it),
                             // then held with a read right that counts in sharing: with
                             // deleting not shared, nobody can take the name away.
                             const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
                             if (!createNewFile(name, FILE_READ_ATTRIBUTES, all))
                                 return FileHandle();
                             FileHandle held(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                         nullptr, OPEN_EXISTING,
                                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
                             if (!held)
                                 return refuse(GetLastError());
                             // Replaced in the moment between: a link or a second name is refused.
                             if (!isPlainFile(held.get()) || !isAt(held.get(), name))
                                 return refuse(kLinkRefused);
                             return held;
                         },
                         chosen);
}

namespace {

// The existing file `path`, opened for deleting or renaming when it is no link and is
// where the path says.
FileHandle openPlainFile(const std::wstring& path)
{
    FileHandle file(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!file || !GetFileInformationByHandle(file.get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        !isAt(file.get(), path))
        return FileHandle();
    return file;
}

} // namespace

bool deletePlainFile(const std::wstring& path)
{
    FileHandle file = openPlainFile(path);
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return file && SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
}

bool renamePlainFile(const std::wstring& from, const std::wstring& to)
{
    if (!openPlainFile(from))
        return false;
    // The new name is beside the old one, in the folder just checked.
    return MoveFileExW(from.c_str(), to.c_str(), 0) != FALSE;
}

}}} // namespace ts::sys::win32
