// Helpers shared by the test programs (they run under Wine).
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace ts { namespace test {

// ASCII-only conversions for test paths.
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);
// Windows path of a folder named by a Unix path (Wine's Z: drive).
std::wstring fromUnix(const std::string& unixPath);
// The build tree (TS_BUILD) and source tree (TS_SOURCE) as Windows paths.
std::wstring buildDir();
std::wstring sourceDir();
// A Setup bundle made for the end-to-end tests: <build>\testdata\e2e\<name>.exe.
std::wstring e2eBundle(const wchar_t* name);
// A 7z archive made for the extraction tests: <build>\testdata\archives\<name>.
std::wstring archivePath(const wchar_t* name);
// A fresh empty folder of the test's own under the temporary folder.
std::wstring makeTempDir(const std::wstring& hint);
void removeTree(const std::wstring& path);
// A fresh folder (makeTempDir) removed with its content when the object goes, also
// when an assertion ends the test early.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& hint) : path(makeTempDir(hint)) {}
    ~TempFolder() { removeTree(path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring path;
};
std::string readFile(const std::wstring& path);
void writeFile(const std::wstring& path, const std::string& content);
bool fileExists(const std::wstring& path);
// The temporary folder (GetTempPathW, ends in a backslash) and the names in it that
// match a wildcard pattern ("TSS????.log").
std::wstring tempPath();
std::set<std::wstring> tempNames(const wchar_t* pattern);
// The same for any folder (with or without its final backslash).
std::set<std::wstring> namesIn(const std::wstring& folder, const wchar_t* pattern);
// Setup's working folders ("TS*.tmp" folders of the working locations), full paths.
std::set<std::wstring> workingFolders();
// The Windows error of opening the file for writing; 0 when that worked.
unsigned long openForWriting(const std::wstring& path);

// The library logs in `folder` with their sizes, taken before a run.
using LogSizes = std::map<std::wstring, std::string::size_type>;
LogSizes libraryLogsIn(const std::wstring& folder);
// The deciphered lines the run added to the library logs, then the reader's complaints:
// new files whole, and the grown end of a file
// that existed before (a random log name can meet a file left by an earlier run). New
// files are deleted after reading.
std::string newLibraryLogs(const std::wstring& folder, const LogSizes& before);

// The current environment block with "NAME=value\0...\0" additions in front (they win).
std::vector<wchar_t> environmentWith(const wchar_t* additions);

// True when this program runs under Wine (ntdll exports wine_get_version).
bool runningUnderWine();

struct ProcessResult {
    bool started = false;
    bool timedOut = false;
    uint32_t exitCode = 0;
    int windowsClosed = 0; // with closeWindows: the windows the process showed
};
// Not the foundation's runProcess: a test needs a time-out, the child's output, an
// environment of its own and the child's windows closed, which Setup never does.
// Runs a command line and waits; the exit code is the full 32-bit value. A process
// still running after the time-out is killed (timedOut). `environmentAdditions` is a
// "NAME=value\0...\0" block that overrides the inherited environment; `stdoutPath`
// receives the child's standard output and error.
// With `closeWindows`, every visible window of the process (a message box waits for a
// click under the test display) is sent WM_CLOSE, or answered No when it asks a question,
// and counted, except Setup's progress window, which closes by itself.
ProcessResult runProcess(const std::wstring& commandLine, uint32_t timeoutMs = 120000,
                         const wchar_t* environmentAdditions = nullptr, const std::wstring& stdoutPath = L"",
                         bool closeWindows = false);

// Makes `link` a symbolic link to the folder `target`: CreateSymbolicLinkW, or where that
// makes nothing (Wine 8 only reports success), the host's ln on the Unix paths. True when
// the link is there.
bool plantFolderLink(const std::wstring& link, const std::wstring& target);

// The exit codes of Setup programs (programs whose version resource describes them as
// "Tessaline Setup": Setup.exe, its copies and the bundles) that runProcess has seen in
// this test program, each with the first test that saw it.
const std::map<uint32_t, std::string>& observedSetupExitCodes();

}} // namespace ts::test
