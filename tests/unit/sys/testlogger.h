// The unit test program's logger: named "TSUNIT", verbosity 6, every line also captured
// (enciphered) in memory, and a settings source the tests can fill.
//
// A test that must end the process runs this program again with TS_CHILD=<case> and
// TS_CHILD_DIR=<folder>; the child's logger then also writes TSUNIT.log into that folder.
#pragma once
#include "sys/libutils/logger.h"
#include "sys/libutils/logreader.h"
#include "sys/libutils/settingssource.h"
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

class TestSettings : public sys::ISettingsSource {
public:
    sys::SettingsSnapshot snapshot(const std::string& path, bool) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_keys.find(path);
        return it == m_keys.end() ? sys::SettingsSnapshot() : it->second;
    }
    void set(const std::string& path, const std::string& name, const std::string& value)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_keys[path][name] = sys::SettingsEntry{true, value};
    }
    void setKey(const std::string& path, const std::string& name)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_keys[path][name] = sys::SettingsEntry{false, ""};
    }
    void erase(const std::string& path, const std::string& name)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_keys[path].erase(name);
    }
private:
    std::mutex m_lock;
    std::map<std::string, sys::SettingsSnapshot> m_keys;
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

inline TestSettings& testSettings()
{
    static std::shared_ptr<TestSettings> settings = [] {
        auto created = std::make_shared<TestSettings>();
        sys::setSettingsSource(created);
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
        if (dir && *dir)
            testSettings().set("Logger", "directory", dir);
        else
            testSettings();
        return sys::Logger::create("TSUNIT", 6, dir && *dir ? 1 : 0, false, new CaptureSink);
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
