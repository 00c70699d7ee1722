// tsrun <program> [arguments...]: runs a program, waits for it and prints its full
// 32-bit exit code ("exit code: 3010"); Wine itself passes on only the low 8 bits.
// Exits with 0 when the program ran, 2 when it could not be started.
#include <windows.h>
#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: tsrun <program> [arguments...]\n");
        return 2;
    }
    std::wstring line = L"\"" + std::wstring(argv[1]) + L"\"";
    for (int i = 2; i < argc; ++i)
        line += L" " + std::wstring(argv[i]);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        fprintf(stderr, "tsrun: cannot start %ls (error %lu)\n", argv[1], GetLastError());
        return 2;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("exit code: %lu\n", code);
    return 0;
}
