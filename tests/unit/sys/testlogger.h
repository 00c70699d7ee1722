// The unit test program's logger: named "TSUNIT", verbosity 6, every line also captured
// (enciphered) in memory, and the registry settings the tests change.
//
// A test that must end the process runs this program again with TS_CHILD=<case> and
// TS_CHILD_DIR=<folder>; the child's logger then also writes TSUNIT.log into that folder.
#pragma once
#include "sys/libutils/logger.h"
#include "sys/libutils/logreader.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace ts { namespace test {

// The settings the tests change, in the registry: the key Software\\Tessaline\\<path> of
// the user scope, or of the machine scope for the settings read only there.
class TestSettings {
public:
    void set(const std::string& path, const std::string& name, const std::string& value)
    {
        setIn(HKEY_CURRENT_USER, path, name, value);
    }
    void setMachine(const std::string& path, const std::string& name, const std::string& value)
    {
        setIn(HKEY_LOCAL_MACHINE, path, name, value);
    }
    // A subkey `name` of `path`.
    void setKey(const std::string& path, const std::string& name)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, (kRoot + path + "\\" + name).c_str(), 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr) == ERROR_SUCCESS)
            RegCloseKey(key);
    }
    void erase(const std::string& path, const std::string& name) { eraseIn(HKEY_CURRENT_USER, path, name); }
    void eraseMachine(const std::string& path, const std::string& name) { eraseIn(HKEY_LOCAL_MACHINE, path, name); }
    // Removes Software\\Tessaline\\<path> of both scopes with everything below it.
    void removeTree(const std::string& path)
    {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            RegDeleteTreeA(root, (kRoot + path).c_str());
    }

private:
    static void setIn(HKEY root, const std::string& path, const std::string& name, const std::string& value)
    {
        RegSetKeyValueA(root, (kRoot + path).c_str(), name.c_str(), REG_SZ, value.c_str(),
                        static_cast<DWORD>(value.size() + 1));
    }
    static void eraseIn(HKEY root, const std::string& path, const std::string& name)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, (kRoot + path).c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, name.c_str());
            RegCloseKey(key);
        }
    }
    static constexpr const char* kRoot = "Software\\Tessaline\\";
};

// Keeps every Base64 line the logger hands to the extra sink.
class CaptureSink : public sys::Logger::OutputWriter {
public:
    static std::vector<std::string>& lines()
    {
        static std::vector<std::string> captured;
        return captured;
    }
    void write(const std::string& text, int) override { lines().push_back(text); }
};

// The first use removes what an earlier run of the program left of its logger's settings.
inline TestSettings& testSettings()
{
    static TestSettings* settings = [] {
        auto* created = new TestSettings;
        created->removeTree("TSUNIT");
        return created;
    }();
    return *settings;
}

inline std::string childCase()
{
    const char* value = getenv("TS_CHILD");
    return value ? value : "";
}

inline sys::Logger& testLogger()
{
    static sys::Logger& logger = [] () -> sys::Logger& {
        const char* dir = getenv("TS_CHILD_DIR");
        testSettings();
        if (!(dir && *dir))
            return sys::Logger::create("TSUNIT", 6, 0, false, new CaptureSink);
        // The global "directory" is read once, at creation: it is set only for that moment,
        // in the machine scope, the only one this privileged program takes it from.
        testSettings().setMachine("Logger", "directory", dir);
        sys::Logger& created = sys::Logger::create("TSUNIT", 6, 1, false, new CaptureSink);
        testSettings().eraseMachine("Logger", "directory");
        return created;
    }();
    return logger;
}

// Decodes a file written by the logger: its lines and the number that failed.
inline std::vector<std::string> decodeFile(const std::string& content, unsigned* failures = nullptr)
{
    std::ostringstream out, errors;
    sys::logreader::LogReader reader(out, errors);
    reader.beginInput("file");
    std::istringstream in(content);
    for (std::string line; std::getline(in, line);)
        reader.line(line);
    if (failures)
        *failures = reader.failures();
    std::vector<std::string> lines;
    std::istringstream text(out.str());
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

// Every line the sink captured, decoded as the one chain it is.
inline std::vector<std::string> decodedCapture()
{
    std::string content;
    for (const std::string& line : CaptureSink::lines())
        content += line + "\n";
    return decodeFile(content);
}

inline bool captureContains(const std::string& text)
{
    for (const std::string& line : decodedCapture())
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

// The path of this test program.
inline std::wstring selfPath()
{
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// Runs this program again with only `filter` and TS_CHILD=`childCase`; the child's log
// goes into the new folder `dir`. Returns the child's full exit code.
inline uint32_t runChildCase(const std::string& filter, const std::string& childCase, std::wstring& dir)
{
    dir = makeTempDir(L"child");
    std::wstring environment = L"TS_CHILD=" + widen(childCase) + L'\0' + L"TS_CHILD_DIR=" + dir + L'\0';
    ProcessResult result =
        runProcess(L"\"" + selfPath() + L"\" --gtest_filter=" + widen(filter), 60000, environment.c_str());
    EXPECT_TRUE(result.started);
    return result.exitCode;
}

}} // namespace ts::test
