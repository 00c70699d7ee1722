// tsexit: a child program for the process tests. "tsexit <code> [file]" writes its
// command line to the file, when one is named, and exits with the code (decimal or
// 0x-hexadecimal, the full 32 bits).
#include <windows.h>
#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc > 2) {
        HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            std::wstring line = GetCommandLineW();
            DWORD written = 0;
            WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
            CloseHandle(file);
        }
    }
    return argc > 1 ? static_cast<int>(wcstoul(argv[1], nullptr, 0)) : 0;
}
