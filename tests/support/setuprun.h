// Running a built Setup.exe from a test and reading what it left behind.
#pragma once
#include "support/testsupport.h"

#include <string>
#include <vector>

namespace ts { namespace test {

// One run of a Setup program with its own run log and captured standard output.
struct SetupRun {
    explicit SetupRun(const std::wstring& hint);

    // Runs `program` (default: the signed build/bin/Setup.exe) with the arguments; the
    // text "{log}" in them is replaced by this run's log path.
    // Windows the program shows are closed and counted (ProcessResult::windowsClosed).
    ProcessResult run(const std::wstring& arguments, const std::wstring& program = L"",
                      const wchar_t* environment = nullptr, uint32_t timeoutMs = 120000);

private:
    TempFolder m_temp;

public:
    const std::wstring dir;
    const std::wstring logPath;
    std::string log() const { return readFile(logPath); }
    std::vector<std::string> logLines() const;
    std::string output() const { return readFile(dir + L"\\stdout.txt"); }
};

// The text of a run-log line without its time stamp ("INFO   \tStart Tessaline Setup").
std::string withoutTime(const std::string& line);

// Sets HKCU\Software\Wine\AppDefaults\<exe>\Version for the life of the object.
class WineVersionOverride {
public:
    WineVersionOverride(const std::wstring& exeName, const std::wstring& version);
    ~WineVersionOverride();
private:
    std::wstring m_key;
};

std::wstring setupExe();
std::wstring testdata(const std::wstring& name);

}} // namespace ts::test
