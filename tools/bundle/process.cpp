#include "tools/bundle/process.h"

#include "tools/bundle/peimage.h"
#include "tools/bundle/productfolder.h"

#include <cstdio>

#ifdef _WIN32
#include "sys/libutils/text.h"
#include "sys/libutils/win32/process.h"
#include <io.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace ts { namespace bundle {

namespace {

#ifdef _WIN32
std::wstring wide(const std::string& utf8)
{
    std::u16string units;
    utf8ToUtf16(utf8, units);
    return std::wstring(units.begin(), units.end());
}
#else
// Waits for `pid`; its exit code, 128 + the signal that ended it, or -1 when lost.
int waitFor(pid_t pid)
{
    int status;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

// Restores the current folder on every way out.
struct FolderChange {
    fs::path previous = fs::current_path();
    explicit FolderChange(const fs::path& folder) { fs::current_path(folder); }
    ~FolderChange()
    {
        std::error_code ignored;
        fs::current_path(previous, ignored);
    }
};

} // namespace

void runTool(const std::vector<std::string>& args, const fs::path& directory, bool showOutput, const std::string& hint)
{
    int status;
    std::fflush(stdout);
    {
        FolderChange change(directory);
#ifdef _WIN32
        (void)showOutput; // a console child draws on the console it shares
        std::wstring line;
        for (const std::string& arg : args)
            line += (line.empty() ? L"" : L" ") + ts::sys::quotedArgument(wide(arg));
        DWORD code = 0;
        if (!ts::sys::win32::runProcess(line, code))
            throw BundleError(args[0] + " did not start (error " + std::to_string(code) + ")" + hint);
        status = static_cast<int>(code);
#else
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!showOutput)
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid;
        int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            throw BundleError(args[0] + " did not start" + hint);
        status = waitFor(pid);
        if (status < 0)
            throw BundleError(args[0] + " was lost");
#endif
    }
    if (status != 0)
        throw BundleError(args[0] + " failed with exit code " + std::to_string(status));
}

int runShell(const std::string& command)
{
    std::fflush(stdout);
#ifdef _WIN32
    // The system's own cmd.exe, not one found in the current folder.
    std::wstring shell = ts::sys::win32::systemProgramPath(L"cmd.exe");
    DWORD code = 0;
    if (!ts::sys::win32::runProcess(L"cmd.exe /d /s /c \"" + wide(command) + L"\"", code, shell))
        return -1;
    return static_cast<int>(code);
#else
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return -1;
    return waitFor(pid);
#endif
}

std::string shellQuoted(const fs::path& path)
{
    std::string text = path.u8string();
#ifdef _WIN32
    // cmd.exe takes no escapes; no Windows path holds a double quote.
    return "\"" + text + "\"";
#else
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
#endif
}

bool outputIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(1) != 0;
#endif
}

}} // namespace ts::bundle
