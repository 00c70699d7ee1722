// tsresedit: adds or replaces resources of an executable.
//   tsresedit <exe> <type> <id> <language> <data-file> [<type> <id> <language> <data-file>]...
// <type> is a number (6 string table, 10 RCDATA) or a name ("EXE"); <language> is a
// decimal language identifier (0 neutral). Exit code 0 when every resource was written.
#include "sys/libutils/win32/library.h"

#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

bool readAll(const wchar_t* path, std::vector<char>& out)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) != FALSE;
    out.resize(ok ? static_cast<size_t>(size.QuadPart) : 0);
    DWORD got = 0;
    if (ok && !out.empty())
        ok = ReadFile(file, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) && got == out.size();
    CloseHandle(file);
    return ok;
}

const wchar_t* resourceName(const wchar_t* text)
{
    wchar_t* end = nullptr;
    unsigned long number = wcstoul(text, &end, 10);
    return end && *end == 0 && end != text ? MAKEINTRESOURCEW(number) : text;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // The bundler on Windows may run elevated from a folder others can write to.
    ts::sys::win32::restrictDllSearch();
    if (argc < 6 || (argc - 2) % 4 != 0) {
        fwprintf(stderr, L"usage: tsresedit <exe> (<type> <id> <language> <file>)...\n");
        return 2;
    }
    std::vector<std::vector<char>> data((argc - 2) / 4);
    for (int i = 2, k = 0; i < argc; i += 4, ++k)
        if (!readAll(argv[i + 3], data[k])) {
            fwprintf(stderr, L"tsresedit: cannot read %ls\n", argv[i + 3]);
            return 1;
        }
    HANDLE update = BeginUpdateResourceW(argv[1], FALSE);
    if (!update) {
        fwprintf(stderr, L"tsresedit: cannot open %ls (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    for (int i = 2, k = 0; i < argc; i += 4, ++k) {
        WORD language = static_cast<WORD>(wcstoul(argv[i + 2], nullptr, 10));
        if (!UpdateResourceW(update, resourceName(argv[i]), resourceName(argv[i + 1]), language,
                             data[k].empty() ? nullptr : data[k].data(), static_cast<DWORD>(data[k].size()))) {
            fwprintf(stderr, L"tsresedit: cannot update %ls %ls (%lu)\n", argv[i], argv[i + 1], GetLastError());
            EndUpdateResourceW(update, TRUE);
            return 1;
        }
    }
    if (!EndUpdateResourceW(update, FALSE)) {
        fwprintf(stderr, L"tsresedit: cannot write %ls (%lu)\n", argv[1], GetLastError());
        return 1;
    }
    return 0;
}
