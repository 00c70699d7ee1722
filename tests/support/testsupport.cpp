#include "support/testsupport.h"
#include "sys/libutils/win32/handle.h"
#include "sys/libutils/win32/library.h"
#include "sys/libutils/win32/win32nr.h"
#include "sys/libutils/win32/workingfolder.h"

#include "sys/libutils/logreader.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <set>
#include <vector>

namespace ts { namespace test {

std::set<std::wstring> workingFolders()
{
    std::set<std::wstring> out;
    for (const std::wstring& location : sys::win32::workingLocations())
        for (const std::wstring& name : namesIn(location, L"TS*.tmp"))
            if (GetFileAttributesW((location + L"\\" + name).c_str()) & FILE_ATTRIBUTE_DIRECTORY)
                out.insert(location + L"\\" + name);
    return out;
}

unsigned long openForWriting(const std::wstring& path)
{
    const sys::win32::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
    return file ? 0 : GetLastError();
}


std::wstring widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

std::wstring fromUnix(const std::string& unixPath)
{
    std::wstring out = L"Z:";
    for (char c : unixPath)
        out += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

namespace {
std::wstring envPath(const char* name)
{
    const char* value = getenv(name);
    return value && *value ? fromUnix(value) : L"";
}
}

std::wstring buildDir() { return envPath("TS_BUILD"); }
std::wstring sourceDir() { return envPath("TS_SOURCE"); }
std::wstring e2eBundle(const wchar_t* name) { return buildDir() + L"\\testdata\\e2e\\" + name + L".exe"; }
std::wstring archivePath(const wchar_t* name) { return buildDir() + L"\\testdata\\archives\\" + name; }

bool runningUnderWine()
{
    return sys::win32::LoadedModule(L"ntdll.dll").getProcAddress("wine_get_version") != nullptr;
}

std::wstring makeTempDir(const std::wstring& hint)
{
    static unsigned counter = 0;
    std::wstring path = tempPath() + L"tstest-" + hint + L"-" + std::to_wstring(GetCurrentProcessId()) +
                        L"-" + std::to_wstring(++counter);
    removeTree(path);
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

void removeTree(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child);
            else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

std::string readFile(const std::wstring& path)
{
    const sys::win32::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
    std::string content;
    char buffer[65536];
    DWORD got = 0;
    while (file && ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got)
        content.append(buffer, got);
    return content;
}

void writeFile(const std::wstring& path, const std::string& content)
{
    sys::win32::writeFileContents(path, content.data(), content.size());
}

bool fileExists(const std::wstring& path)
{
    return sys::win32::pathExists(path);
}

std::wstring tempPath()
{
    std::wstring temp;
    sys::win32::getTempPath(temp);
    return temp;
}

std::set<std::wstring> tempNames(const wchar_t* pattern)
{
    return namesIn(tempPath(), pattern);
}

std::set<std::wstring> namesIn(const std::wstring& folder, const wchar_t* pattern)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    const bool separated = !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/');
    HANDLE find = FindFirstFileW((folder + (separated ? L"" : L"\\") + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.insert(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

namespace {
std::wstring withBackslash(const std::wstring& folder)
{
    return folder.empty() || folder.back() == L'\\' ? folder : folder + L'\\';
}
} // namespace

LogSizes libraryLogsIn(const std::wstring& folder)
{
    LogSizes sizes;
    for (const std::wstring& name : namesIn(withBackslash(folder), L"TSS????.log"))
        sizes[name] = readFile(withBackslash(folder) + name).size();
    return sizes;
}

std::string newLibraryLogs(const std::wstring& folder, const LogSizes& before)
{
    std::ostringstream out, errors;
    sys::logreader::LogReader reader(out, errors);
    const std::wstring prefix = withBackslash(folder);
    for (const std::wstring& name : namesIn(prefix, L"TSS????.log")) {
        const std::wstring path = prefix + name;
        const std::string content = readFile(path);
        const auto old = before.find(name);
        const std::string::size_type from = old == before.end() ? 0 : old->second;
        if (from >= content.size())
            continue;
        reader.beginInput(narrow(name));
        std::istringstream in(content.substr(from));
        for (std::string line; std::getline(in, line);)
            reader.line(line);
        if (old == before.end())
            DeleteFileW(path.c_str());
    }
    return out.str() + errors.str();
}

std::vector<wchar_t> environmentWith(const wchar_t* additions)
{
    std::vector<wchar_t> environment;
    for (const wchar_t* p = additions; *p; p += wcslen(p) + 1)
        environment.insert(environment.end(), p, p + wcslen(p) + 1);
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1)
        environment.insert(environment.end(), p, p + wcslen(p) + 1);
    FreeEnvironmentStringsW(block);
    environment.push_back(L'\0');
    return environment;
}

namespace {
struct WindowSearch {
    DWORD processId;
    std::set<HWND> closed;
};

// Setup's progress window (the dialog with the marquee bar) closes by itself; how long it
// stays up depends on the machine's speed (under an emulator long enough to be seen).
bool isProgressWindow(HWND window)
{
    return FindWindowExW(window, nullptr, L"msctls_progress32", nullptr) != nullptr;
}

BOOL CALLBACK closeWindowOf(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window) || isProgressWindow(window) ||
        !search->closed.insert(window).second)
        return TRUE;
    // A question (a box with a No button, which WM_CLOSE cannot close) is answered No.
    if (HWND no = GetDlgItem(window, IDNO))
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), reinterpret_cast<LPARAM>(no));
    else
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// Every visible window with its texts, for a run that did not end in time: a box that
// waits for a click, or a window left by a child, usually says why.
BOOL CALLBACK describeWindow(HWND window, LPARAM parameter)
{
    if (!IsWindowVisible(window))
        return TRUE;
    auto* out = reinterpret_cast<std::string*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t text[512];
    GetWindowTextW(window, text, 512);
    *out += "  process " + std::to_string(owner) + ": \"" + narrow(text) + "\"";
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetWindowTextW(child, text, 512) > 0)
            *out += " | " + narrow(text);
    *out += "\n";
    return TRUE;
}
} // namespace

namespace {

std::map<uint32_t, std::string> g_setupExitCodes;

// The program of a command line: its first token, quoted or not.
std::wstring programOf(const std::wstring& commandLine)
{
    if (!commandLine.empty() && commandLine[0] == L'"')
        return commandLine.substr(1, commandLine.find(L'"', 1) - 1);
    return commandLine.substr(0, commandLine.find(L' '));
}

bool isSetupProgram(const std::wstring& path)
{
    HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!image)
        return false;
    bool setup = false;
    if (HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), RT_VERSION)) {
        const wchar_t* data = static_cast<const wchar_t*>(LockResource(LoadResource(image, found)));
        const std::wstring text(data, SizeofResource(image, found) / sizeof(wchar_t));
        // FileDescription's value; only Setup's version resource carries this text.
        setup = text.find(std::wstring(L"\0Tessaline Setup", 16) + L'\0') != std::wstring::npos;
    }
    FreeLibrary(image);
    return setup;
}

void noteExitCode(const std::wstring& commandLine, uint32_t code)
{
    if (g_setupExitCodes.count(code) || !isSetupProgram(programOf(commandLine)))
        return;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    g_setupExitCodes[code] = test ? std::string(test->test_suite_name()) + "." + test->name() : "(outside a test)";
}

} // namespace

const std::map<uint32_t, std::string>& observedSetupExitCodes()
{
    return g_setupExitCodes;
}

ProcessResult runProcess(const std::wstring& commandLine, uint32_t timeoutMs, const wchar_t* environmentAdditions,
                         const std::wstring& stdoutPath, bool closeWindows)
{
    ProcessResult result;
    std::vector<wchar_t> environment;
    if (environmentAdditions)
        environment = environmentWith(environmentAdditions);
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    sys::win32::FileHandle output;
    if (!stdoutPath.empty()) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        output.reset(CreateFileW(stdoutPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 CREATE_ALWAYS, 0, nullptr));
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output.get();
        startup.hStdError = output.get();
    }
    PROCESS_INFORMATION started = {};
    BOOL created = CreateProcessW(nullptr, line.data(), nullptr, nullptr, output.valid(), CREATE_UNICODE_ENVIRONMENT,
                                  environment.empty() ? nullptr : environment.data(), nullptr, &startup, &started);
    output.reset();
    if (!created)
        return result;
    result.started = true;
    const sys::win32::Handle process(started.hProcess);
    const sys::win32::Handle thread(started.hThread);
    WindowSearch search{started.dwProcessId, {}};
    DWORD waited = 0;
    const DWORD step = closeWindows ? 100 : timeoutMs;
    while (WaitForSingleObject(process.get(), step) == WAIT_TIMEOUT && (waited += step) < timeoutMs)
        EnumWindows(closeWindowOf, reinterpret_cast<LPARAM>(&search));
    result.windowsClosed = static_cast<int>(search.closed.size());
    if (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
        result.timedOut = true;
        std::string windows;
        EnumWindows(describeWindow, reinterpret_cast<LPARAM>(&windows));
        fprintf(stderr, "%s did not end within %u ms; windows open then:\n%s", narrow(commandLine).c_str(), timeoutMs,
                windows.c_str());
        TerminateProcess(process.get(), 0xDEAD);
        WaitForSingleObject(process.get(), 10000);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    result.exitCode = code;
    if (!result.timedOut)
        noteExitCode(commandLine, code);
    return result;
}

bool plantFolderLink(const std::wstring& link, const std::wstring& target)
{
    auto planted = [&] {
        DWORD attributes = GetFileAttributesW(link.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    };
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && planted())
        return true;
    using UnixName = char*(CDECL*)(const wchar_t*);
    auto unixName = sys::win32::LoadedModule(L"kernel32.dll").getFunction<UnixName>("wine_get_unix_file_name");
    if (!unixName)
        return false;
    char* from = unixName(target.c_str());
    char* to = unixName(link.c_str());
    if (from && to)
        runProcess(L"Z:\\bin\\ln -s \"" + widen(from) + L"\" \"" + widen(to) + L"\"");
    HeapFree(GetProcessHeap(), 0, from);
    HeapFree(GetProcessHeap(), 0, to);
    // Wine starts a host program without a Windows process to wait for: the link comes
    // when ln has run.
    for (int tries = 0; tries < 100 && !planted(); ++tries)
        Sleep(50);
    return planted();
}

}} // namespace ts::test
