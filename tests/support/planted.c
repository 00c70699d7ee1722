/* A DLL planted under a system DLL's name. Loading it leaves "<its file name>.loaded"
   in the folder named by TS_PLANTED_MARKERS, holding the loading program's path. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t marker[MAX_PATH * 2];
    DWORD length = GetEnvironmentVariableW(L"TS_PLANTED_MARKERS", marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    wchar_t self[MAX_PATH];
    DWORD selfLength = GetModuleFileNameW(instance, self, MAX_PATH);
    const wchar_t* name = self;
    for (DWORD i = 0; i < selfLength; ++i)
        if (self[i] == L'\\' || self[i] == L'/')
            name = self + i + 1;
    lstrcatW(marker, L"\\");
    lstrcatW(marker, name);
    lstrcatW(marker, L".loaded");
    wchar_t program[MAX_PATH];
    DWORD programLength = GetModuleFileNameW(NULL, program, MAX_PATH);
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(file, program, programLength * sizeof(wchar_t), &written, NULL);
        CloseHandle(file);
    }
    return TRUE;
}
