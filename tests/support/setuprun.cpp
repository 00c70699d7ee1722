#include "support/setuprun.h"

#include <windows.h>
#include <sstream>

namespace ts { namespace test {

SetupRun::SetupRun(const std::wstring& hint) : m_temp(hint), dir(m_temp.path), logPath(dir + L"\\run.log") {}

ProcessResult SetupRun::run(const std::wstring& arguments, const std::wstring& program, const wchar_t* environment,
                            uint32_t timeoutMs)
{
    std::wstring args = arguments;
    for (size_t at; (at = args.find(L"{log}")) != std::wstring::npos;)
        args.replace(at, 5, logPath);
    std::wstring exe = program.empty() ? setupExe() : program;
    return runProcess(L"\"" + exe + L"\" " + args, timeoutMs, environment, dir + L"\\stdout.txt", true);
}

std::vector<std::string> SetupRun::logLines() const
{
    std::vector<std::string> lines;
    std::istringstream in(log());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(withoutTime(line));
    }
    return lines;
}

std::string withoutTime(const std::string& line)
{
    size_t end = line.find("] ");
    return line.size() > 1 && line[0] == '[' && end != std::string::npos ? line.substr(end + 2) : line;
}

WineVersionOverride::WineVersionOverride(const std::wstring& exeName, const std::wstring& version)
    : m_key(L"Software\\Wine\\AppDefaults\\" + exeName)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, m_key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                       static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

WineVersionOverride::~WineVersionOverride()
{
    RegDeleteKeyW(HKEY_CURRENT_USER, m_key.c_str());
}

std::wstring setupExe()
{
    return buildDir() + L"\\bin\\Setup.exe";
}

std::wstring testdata(const std::wstring& name)
{
    return buildDir() + L"\\testdata\\" + name;
}

}} // namespace ts::test
