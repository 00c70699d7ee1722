// tspnputil: stands in for pnputil.exe in test prefixes (Wine 8 has none). It appends
// its full command line (one UTF-8 line) to the file named by TS_PNPUTIL_RECORD, and for
// "-f -d <path>" removes that driver package from the INF folder through SetupAPI, as
// pnputil does. Exit code 0, or the Windows error of the removal.
#include "appendutf8.h"

#include <windows.h>
#include <setupapi.h>

#include <string>

namespace {

void record(const wchar_t* line)
{
    wchar_t path[MAX_PATH] = L"";
    if (GetEnvironmentVariableW(L"TS_PNPUTIL_RECORD", path, MAX_PATH))
        appendUtf8(path, std::wstring(line) + L"\r\n");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    record(GetCommandLineW());
    if (argc != 4 || std::wstring(argv[1]) != L"-f" || std::wstring(argv[2]) != L"-d")
        return ERROR_INVALID_PARAMETER;
    // pnputil takes a path; SetupAPI wants the published name (oem12.inf).
    std::wstring name = argv[3];
    size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
    if (!SetupUninstallOEMInfW(name.c_str(), SUOI_FORCEDELETE, nullptr))
        return static_cast<int>(GetLastError());
    return 0;
}
