// Win32 only.
#include "sys/libutils/win32/process.h"

#include "sys/libutils/win32/handle.h"
#include "sys/libutils/win32/library.h"
#include "sys/libutils/win32/uniqueowner.h"
#include "sys/libutils/win32/win32nr.h"
#include "sys/libutils/win32/workingfolder.h"

#include <lmcons.h>
#include <userenv.h>
#include <cwchar>
#include <vector>

namespace ts { namespace sys { namespace win32 {

HANDLE duplicateOwnToken()
{
    Handle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, GetCurrentProcessId()));
    if (!process)
        return nullptr;
    Handle token;
    if (!OpenProcessToken(process.get(), MAXIMUM_ALLOWED, token.receive()))
        return nullptr;
    HANDLE duplicate = nullptr;
    if (!DuplicateTokenEx(token.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &duplicate))
        return nullptr;
    return duplicate;
}

namespace {

// The writable command-line copy that CreateProcess*W may modify.
std::vector<wchar_t> writableCopy(const std::wstring& commandLine)
{
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    return buffer;
}

struct EnvironmentStringsTraits {
    using Type = wchar_t*;
    static wchar_t* none() { return nullptr; }
    static bool needsClose(wchar_t*) { return true; }
    static void close(wchar_t* block) { FreeEnvironmentStringsW(block); }
};
using EnvironmentStrings = UniqueOwner<EnvironmentStringsTraits>;

// The environment of a child of this run; empty (inherit ours) without a working folder.
std::vector<wchar_t> childEnvironment()
{
    const std::wstring& folder = WorkingFolder::current();
    if (folder.empty())
        return {};
    EnvironmentStrings block(GetEnvironmentStringsW());
    return environmentWithTemp(block.get(), folder);
}

void resetStartup(STARTUPINFOW& startup)
{
    startup = STARTUPINFOW();
    startup.cb = sizeof startup;
}

// Loads the current user's profile for a token and unloads it again when destroyed.
class LoadedProfile {
public:
    explicit LoadedProfile(HANDLE token) : m_token(token)
    {
        DWORD size = UNLEN + 1;
        if (!GetUserNameW(m_userName, &size))
            m_userName[0] = L'\0';
        m_profile.dwSize = sizeof m_profile;
        m_profile.dwFlags = PI_NOUI;
        m_profile.lpUserName = m_userName;
        // userenv is no known DLL: from the system folder, when a profile is needed.
        auto load = systemFunction<decltype(&LoadUserProfileW)>("userenv.dll", "LoadUserProfileW");
        m_loaded = load && load(m_token, &m_profile) != FALSE;
    }
    LoadedProfile(const LoadedProfile&) = delete;
    LoadedProfile& operator=(const LoadedProfile&) = delete;
    ~LoadedProfile()
    {
        if (m_loaded)
            systemFunction<decltype(&UnloadUserProfile)>("userenv.dll", "UnloadUserProfile")(m_token,
                                                                                             m_profile.hProfile);
    }

private:
    HANDLE m_token;
    wchar_t m_userName[UNLEN + 1] = {};
    PROFILEINFOW m_profile = {};
    bool m_loaded = false;
};

} // namespace

PROCESS_INFORMATION launchProcess(const std::wstring& commandLine, DWORD& error, STARTUPINFOW& startup,
                                  DWORD creationFlags, const std::wstring& program)
{
    const wchar_t* application = program.empty() ? nullptr : program.c_str();
    std::vector<wchar_t> environment = childEnvironment();
    void* environmentBlock = environment.empty() ? nullptr : environment.data();
    if (environmentBlock)
        creationFlags |= CREATE_UNICODE_ENVIRONMENT;
    Handle token(duplicateOwnToken());
    std::vector<wchar_t> buffer = writableCopy(commandLine);
    PROCESS_INFORMATION info = {};
    resetStartup(startup);
    if (token.get() != INVALID_HANDLE_VALUE && token) {
        LoadedProfile profile(token.get());
        if (!CreateProcessAsUserW(token.get(), application, buffer.data(), nullptr, nullptr, FALSE, creationFlags,
                                  environmentBlock, nullptr, &startup, &info)) {
            error = GetLastError();
            buffer = writableCopy(commandLine);
            info = PROCESS_INFORMATION();
            resetStartup(startup);
        }
    }
    if (!info.hProcess) {
        if (!CreateProcessW(application, buffer.data(), nullptr, nullptr, FALSE, creationFlags, environmentBlock,
                            nullptr, &startup, &info)) {
            error = GetLastError();
            info = PROCESS_INFORMATION();
        }
    }
    Handle thread(info.hThread);
    info.hThread = nullptr;
    return info;
}

DWORD startProcess(const std::wstring& commandLine, const std::wstring& program)
{
    DWORD error = 0;
    STARTUPINFOW startup;
    PROCESS_INFORMATION info = launchProcess(commandLine, error, startup, 0, program);
    Handle process(info.hProcess);
    // A fallback start is still a start: reporting the first attempt's error would
    // make a caller think nothing runs.
    return process ? 0 : error;
}

bool runProcess(const std::wstring& commandLine, DWORD& exitCode, const std::wstring& program)
{
    STARTUPINFOW startup;
    PROCESS_INFORMATION info = launchProcess(commandLine, exitCode, startup, 0, program);
    Handle process(info.hProcess);
    if (!process)
        return false;
    WaitForSingleObject(process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &exitCode);
    return true;
}

std::vector<wchar_t> environmentWithTemp(const wchar_t* block, const std::wstring& folder)
{
    std::wstring value = folder;
    if (value.size() > 3 && (value.back() == L'\\' || value.back() == L'/'))
        value.pop_back();
    std::vector<wchar_t> out;
    bool temp = false, tmp = false;
    for (const wchar_t* entry = block; entry && *entry; entry += wcslen(entry) + 1) {
        std::wstring text = entry;
        if (_wcsnicmp(entry, L"TEMP=", 5) == 0) {
            text = L"TEMP=" + value;
            temp = true;
        } else if (_wcsnicmp(entry, L"TMP=", 4) == 0) {
            text = L"TMP=" + value;
            tmp = true;
        }
        out.insert(out.end(), text.c_str(), text.c_str() + text.size() + 1);
    }
    for (const std::wstring& missing : {temp ? L"" : L"TEMP=" + value, tmp ? L"" : L"TMP=" + value})
        if (!missing.empty())
            out.insert(out.end(), missing.c_str(), missing.c_str() + missing.size() + 1);
    out.push_back(L'\0');
    return out;
}

std::wstring systemProgramPath(const wchar_t* fileName)
{
    const std::wstring folder = getSystemDirectory(false);
    return folder.empty() ? fileName : folder + L"\\" + fileName;
}

}}} // namespace ts::sys::win32
