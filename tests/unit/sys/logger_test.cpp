#include "unit/sys/testlogger.h"
#include "support/testsupport.h"

#include "sys/libutils/logcipher.h"
#include "sys/libutils/logoutputs.h"
#include "sys/libutils/win32/thread.h"
#include "tk/libgui/resourcefunctions.h"

#include <gtest/gtest.h>
#include <thread>

using namespace ts;
using namespace ts::sys;
using ts::test::decodeFile;
using ts::tk::gui::resource::toNarrow;

namespace {

const bool kLoggerReady = (ts::test::testLogger(), true);

struct Probe : Logger::Logged {
    explicit Probe(const std::string& label, const std::string& module = "LoggerProbe")
        : Identity(module, ""), Logger::Logged(ts::test::testLogger(), module, label) {}
};

std::string narrow(const std::wstring& path) { return toNarrow(path); }

size_t countFiles(const std::wstring& pattern)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    size_t count = 0;
    do
        ++count;
    while (FindNextFileW(find, &data));
    FindClose(find);
    return count;
}

} // namespace

TEST(LoggerTexts, LevelsParseByNameOnly)
{
    EXPECT_EQ(3, parseLevel("warn", 6));
    EXPECT_EQ(6, parseLevel("VERBOSE", 1));
    EXPECT_EQ(0, parseLevel("Always", 4));
    EXPECT_EQ(4, parseLevel("3", 4));
    EXPECT_EQ(4, parseLevel("", 4));
    EXPECT_EQ(4, parseLevel("warning", 4));
}

TEST(LoggerTexts, FileSizeIsClamped)
{
    EXPECT_EQ(102400u, clampFileSize(50));
    EXPECT_EQ(10240000u, clampFileSize(99999999));
    EXPECT_EQ(500000u, clampFileSize(500000));
}

TEST(LoggerTexts, ShortAndFullLineForms)
{
    EXPECT_EQ("[Mod] hello", formatLogLine(0, 5, 4, "a.cpp", 3, "Mod", "", "T", "hello"));
    EXPECT_EQ("[Mod L1] hello", formatLogLine(0, 5, 4, "a.cpp", 3, "Mod", "L1", "T", "hello"));
    EXPECT_EQ("00:00:01.005\tworker\tMod\tL1\tWARN\ta.cpp:3\thello",
              formatLogLine(1, 1005, 3, "a.cpp", 3, "Mod", "L1", "worker", "hello"));
    // Hours are not wrapped at 24.
    EXPECT_EQ("25:01:02.003\t\tM\t\tVERBOSE\tf:1\tx", formatLogLine(2, 90062003, 6, "f", 1, "M", "", "", "x"));
}

TEST(LogCipher, LinesRoundTripAsOneChainPaddedTo16Bytes)
{
    encryption::LineEncoder encoder;
    std::string exact(16, 'a');
    std::string first = encoder.encode(exact);
    EXPECT_EQ(24u, first.size()); // 16 bytes: no padding block
    std::string second = encoder.encode("00:00:00.000\tx");
    EXPECT_EQ(24u, second.size());
    std::string third = encoder.encode("00:00:00.000\tx");
    EXPECT_NE(second, third); // the chaining value carries on

    encryption::LineDecoder decoder;
    std::string text;
    ASSERT_EQ(encryption::LineDecoder::Decoded, decoder.decode(first, text, false, true));
    EXPECT_EQ(exact, text);
    decoder.decode(second, text, false, true);
    EXPECT_EQ("00:00:00.000\tx  ", text);
    decoder.decode(third, text, false, true);
    EXPECT_EQ("00:00:00.000\tx  ", text);
    EXPECT_EQ(encryption::LineDecoder::BadBase64, decoder.decode("not*base64", text, false, false));
    EXPECT_EQ(encryption::LineDecoder::BadLength, decoder.decode("QUJD", text, false, false));
}

TEST(LogCipher, KeyRecordIsCheckedByLengthAndDigest)
{
    encryption::Key<16> key;
    ASSERT_TRUE(encryption::buildLogKey(key));
    uint8_t mask[17] = {};
    uint8_t out[16] = {};
    EXPECT_FALSE(encryption::buildKey(6, mask, out, 16)); // wrong mask
    EXPECT_FALSE(encryption::buildKey(9, mask, out, 16)); // no such record
    encryption::Key<16> copy = key;
    key.wipe();
    EXPECT_NE(0, memcmp(copy.data(), key.data(), 16));
}

TEST(Logger, WritesFullEncipheredLinesWithLabelAndThreadName)
{
    Probe probe("");
    char address[16];
    snprintf(address, sizeof address, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(
                                                  static_cast<const Identity*>(&probe))));
    setCurrentThreadName("main-test");
    TS_LOG(probe, 4) << "probe line " << 42;
    setCurrentThreadName(nullptr);
    std::vector<std::string> lines = ts::test::decodedCapture();
    ASSERT_FALSE(lines.empty());
    const std::string& last = lines.back();
    EXPECT_TRUE(logreader::isPlausibleLine(last)) << last;
    EXPECT_NE(std::string::npos, last.find("\tmain-test\tLoggerProbe\t" + std::string(address) + "\tINFO\tlogger_test.cpp:"))
        << last;
    EXPECT_NE(std::string::npos, last.find("\tprobe line 42")) << last;
    EXPECT_EQ(std::string::npos, last.find('/'));
}

TEST(Logger, DisabledLevelsAreNotWritten)
{
    ts::test::testSettings().set("TSUNIT\\Logger\\Modules", "QuietModule", "warn");
    Probe quiet("q", "QuietModule");
    EXPECT_TRUE(quiet.isEnabled(3));
    EXPECT_FALSE(quiet.isEnabled(4));
    size_t before = ts::test::CaptureSink::lines().size();
    TS_LOG(quiet, 5) << "never";
    EXPECT_EQ(before, ts::test::CaptureSink::lines().size());
    TS_LOG(quiet, 2) << "written";
    EXPECT_EQ(before + 1, ts::test::CaptureSink::lines().size());
}

TEST(Logger, ModuleOutputsComeFromTheSettingsWithTheirThresholds)
{
    const ts::test::TempFolder temp(L"configured");
    const std::wstring& dir = temp.path;
    ts::test::TestSettings& settings = ts::test::testSettings();
    settings.setKey("TSUNIT\\Logger\\Modules", "Configured");
    settings.set("TSUNIT\\Logger\\Modules\\Configured", "cfgfile", "warn");
    settings.set("TSUNIT\\Logger\\Modules\\Configured", "nosuchoutput", "error");
    settings.setMachine("TSUNIT\\Logger\\Outputs\\cfgfile", "filename", narrow(dir) + "\\cfg.log");
    settings.setMachine("TSUNIT\\Logger\\Outputs\\cfgfile", "Mode", "append");
    settings.set("TSUNIT\\Logger\\Outputs\\cfgfile", "line type", "0");
    {
        Probe probe("c", "Configured");
        EXPECT_TRUE(probe.isEnabled(6)); // the largest threshold, at least the default verbosity
        TS_LOG(probe, 3) << "to the file";
        TS_LOG(probe, 4) << "not to the file";
    }
    EXPECT_TRUE(ts::test::captureContains("\tnot to the file"));
    std::vector<std::string> lines = decodeFile(ts::test::readFile(dir + L"\\cfg.log"));
    EXPECT_EQ((std::vector<std::string>{"[Configured c] to the file"}), lines);
}

TEST(Logger, TwoThreadsWritingAtOnceKeepEveryLineWholeAndDecodable)
{
    // Counted from here: earlier texts of other tests may hold line feeds of their own.
    size_t before = ts::test::CaptureSink::lines().size();
    size_t decodedBefore = ts::test::decodedCapture().size();
    auto writer = [](const char* name) {
        Probe probe(name);
        setCurrentThreadName(name);
        for (int i = 0; i < 400; ++i)
            TS_LOG(probe, 4) << name << " line " << i << " with some text to pad it out";
        setCurrentThreadName(nullptr);
    };
    std::thread a(writer, "writerA"), b(writer, "writerB");
    a.join();
    b.join();
    std::vector<std::string> lines = ts::test::decodedCapture();
    ASSERT_EQ(ts::test::CaptureSink::lines().size() - before, lines.size() - decodedBefore);
    int seen[2] = {-1, -1};
    for (size_t i = decodedBefore; i < lines.size(); ++i) {
        ASSERT_TRUE(logreader::isPlausibleLine(lines[i])) << lines[i];
        for (int w = 0; w < 2; ++w) {
            std::string name = w ? "writerB" : "writerA";
            size_t at = lines[i].find("\t" + name + " line ");
            if (at == std::string::npos)
                continue;
            EXPECT_EQ(12u, lines[i].find('\t'));
            EXPECT_NE(std::string::npos, lines[i].find("\t" + name + "\tLoggerProbe\t" + name + "\t"));
            int n = atoi(lines[i].c_str() + at + name.size() + 7);
            EXPECT_EQ(seen[w] + 1, n);
            seen[w] = n;
        }
    }
    EXPECT_EQ(399, seen[0]);
    EXPECT_EQ(399, seen[1]);
}

TEST(FileOutputNames, ExtensionsAndPruning)
{
    std::string stem, ext;
    splitExtension("C:\\a.b\\TSS1A2B.log", stem, ext);
    EXPECT_EQ("C:\\a.b\\TSS1A2B", stem);
    EXPECT_EQ(".log", ext);
    splitExtension("C:\\a.b\\noext", stem, ext);
    EXPECT_EQ("C:\\a.b\\noext", stem);
    EXPECT_EQ("", ext);
    EXPECT_EQ("C:\\t\\TSS1A2B.old.log", oldFileName("C:\\t\\TSS1A2B.log"));

    std::vector<std::string> names = {"L20160101-000000.log", "L20160301-000000.log", "L20160201-000000.log",
                                      "L20160401-000000.log", "L20160501-000000.log"};
    std::vector<std::string> doomed = decoratedFilesToPrune(names, 3);
    EXPECT_EQ((std::vector<std::string>{"L20160201-000000.log", "L20160101-000000.log"}), doomed);
    EXPECT_TRUE(decoratedFilesToPrune(names, 256).empty());
    EXPECT_TRUE(decoratedFilesToPrune(names, 0).empty());
    EXPECT_EQ(4u, decoratedFilesToPrune(names, 257).size()); // low 8 bits: 1
}

TEST(FileOutput, AppendRestartsPastMaxSizeAsNewWithBanner)
{
    const ts::test::TempFolder temp(L"restart");
    const std::wstring& dir = temp.path;
    std::string path = narrow(dir) + "\\R.log";
    ts::test::writeFile(dir + L"\\R.old.log", "stale");
    {
        FileOutput output(path, FileOutput::Append, 2000, 1, 0);
        for (int i = 0; i < 40; ++i)
            output.write(i, 4, "x.cpp", i, "Mod", "L", "", "line " + std::to_string(i) + " of the restart test");
    }
    unsigned failures = 0;
    std::vector<std::string> old = decodeFile(ts::test::readFile(dir + L"\\R.old.log"), &failures);
    EXPECT_EQ(0u, failures);
    ASSERT_FALSE(old.empty());
    EXPECT_NE(std::string::npos, old[0].find("\tline 0 of the restart test"));
    std::vector<std::string> current = decodeFile(ts::test::readFile(dir + L"\\R.log"), &failures);
    EXPECT_EQ(0u, failures);
    ASSERT_GE(current.size(), 2u);
    EXPECT_NE(std::string::npos, current[0].find("\tALWAYS\t"));
    EXPECT_NE(std::string::npos, current[0].find("Version 7.9.1488.0. Built by Build Server, at "));
    EXPECT_NE(std::string::npos, current[0].find(". Log file restarted at "));
    EXPECT_NE(std::string::npos, current.back().find("\tline 39 of the restart test"));
    // One restart: every line is in one of the two files, once.
    for (int i = 0; i < 40; ++i) {
        std::string needle = "\tline " + std::to_string(i) + " of the restart test";
        size_t found = 0;
        for (const std::string& line : old)
            found += line.find(needle) != std::string::npos;
        for (const std::string& line : current)
            found += line.find(needle) != std::string::npos;
        EXPECT_EQ(1u, found) << needle;
    }
}

TEST(FileOutput, AppendingRunsStartNewChainsThatStillDecode)
{
    const ts::test::TempFolder temp(L"append");
    const std::wstring& dir = temp.path;
    std::string path = narrow(dir) + "\\A.log";
    for (int run = 0; run < 3; ++run) {
        FileOutput output(path, FileOutput::Append, 0, 1, 0);
        for (int i = 0; i < 3; ++i)
            output.write(i, 4, "x.cpp", i, "Mod", "L", "", "run " + std::to_string(run) + " line " + std::to_string(i));
    }
    unsigned failures = 0;
    std::vector<std::string> lines = decodeFile(ts::test::readFile(dir + L"\\A.log"), &failures);
    EXPECT_EQ(0u, failures);
    ASSERT_EQ(9u, lines.size());
    EXPECT_NE(std::string::npos, lines[3].find("\trun 1 line 0"));
    EXPECT_NE(std::string::npos, lines[8].find("\trun 2 line 2"));
}

TEST(FileOutput, DecoratedRestartsWithinOneSecondGoToFreshFiles)
{
    const ts::test::TempFolder temp(L"decorestart");
    const std::wstring& dir = temp.path;
    {
        FileOutput output(narrow(dir) + "\\S.log", FileOutput::Decorate, 1000, 1, 0);
        for (int i = 0; i < 40; ++i)
            output.write(i, 4, "x.cpp", i, "Mod", "L", "", "decorated line " + std::to_string(i));
    }
    size_t files = countFiles(dir + L"\\S*-*.log");
    // Forty lines of this size fill one file past 1000 bytes every tenth line or so:
    // four restarts, each into a fresh file even within the same second.
    EXPECT_EQ(5u, files);
}

TEST(FileOutput, NewRenamesTheExistingFileToOld)
{
    const ts::test::TempFolder temp(L"newmode");
    const std::wstring& dir = temp.path;
    std::string path = narrow(dir) + "\\N.log";
    ts::test::writeFile(dir + L"\\N.log", "previous run");
    ts::test::writeFile(dir + L"\\N.old.log", "older run");
    {
        FileOutput output(path, FileOutput::New, 0, 1, 0);
        output.write(0, 4, "x.cpp", 1, "Mod", "L", "", "fresh");
    }
    EXPECT_EQ("previous run", ts::test::readFile(dir + L"\\N.old.log"));
    std::vector<std::string> lines = decodeFile(ts::test::readFile(dir + L"\\N.log"));
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("\tfresh"));
}

TEST(FileOutput, DecoratePrunesToMaxFileCountBeforeCreatingTheNewFile)
{
    const ts::test::TempFolder temp(L"decorate");
    const std::wstring& dir = temp.path;
    const wchar_t* olds[] = {L"D20150101-000000.log", L"D20150201-000000.log", L"D20150301-000000.log",
                             L"D20150401-000000.log", L"D20150501-000000.log"};
    for (const wchar_t* name : olds)
        ts::test::writeFile(dir + L"\\" + name, "old");
    ts::test::writeFile(dir + L"\\D.log", "not decorated");
    {
        FileOutput output(narrow(dir) + "\\D.log", FileOutput::Decorate, 0, 1, 3);
        output.write(0, 4, "x.cpp", 1, "Mod", "L", "", "decorated");
        EXPECT_NE(std::string::npos, output.currentFile().find("\\D20"));
    }
    EXPECT_EQ(4u, countFiles(dir + L"\\D*-*.log")); // three older ones and the new one
    EXPECT_FALSE(ts::test::fileExists(dir + L"\\D20150101-000000.log"));
    EXPECT_FALSE(ts::test::fileExists(dir + L"\\D20150201-000000.log"));
    EXPECT_TRUE(ts::test::fileExists(dir + L"\\D20150301-000000.log"));
    EXPECT_TRUE(ts::test::fileExists(dir + L"\\D.log"));
    {
        FileOutput output(narrow(dir) + "\\D.log", FileOutput::Decorate, 0, 1, 256);
    }
    EXPECT_EQ(5u, countFiles(dir + L"\\D*-*.log")); // 256 prunes nothing; one more new file
}

// A link planted where a log file goes is never written through: a second name of another
// file (a hard link) under the name to append to, or a linked folder on the path.
TEST(FileOutput, LinksUnderTheNameOrOnThePathAreNeverWrittenThrough)
{
    const ts::test::TempFolder temp(L"links");
    const std::wstring& dir = temp.path;
    ts::test::writeFile(dir + L"\\victim.txt", "victim");
    ASSERT_TRUE(CreateHardLinkW((dir + L"\\H.log").c_str(), (dir + L"\\victim.txt").c_str(), nullptr));
    {
        FileOutput output(narrow(dir) + "\\H.log", FileOutput::Append, 0, 1, 0);
        output.write(0, 4, "x.cpp", 1, "Mod", "L", "", "beside the link");
        EXPECT_EQ(narrow(dir) + "\\H_1.log", output.currentFile()); // the next name
    }
    EXPECT_EQ("victim", ts::test::readFile(dir + L"\\victim.txt"));
    EXPECT_EQ(1u, decodeFile(ts::test::readFile(dir + L"\\H_1.log")).size());

    ASSERT_TRUE(CreateDirectoryW((dir + L"\\target").c_str(), nullptr));
    ASSERT_TRUE(ts::test::plantFolderLink(dir + L"\\linked", dir + L"\\target"));
    {
        FileOutput output(narrow(dir) + "\\linked\\L.log", FileOutput::New, 0, 1, 0);
        output.write(0, 4, "x.cpp", 1, "Mod", "L", "", "nowhere");
        EXPECT_EQ("", output.currentFile());
    }
    EXPECT_EQ(0u, countFiles(dir + L"\\target\\*.log"));
}

TEST(Tslog, DecodesRotatedFilesAndNamesACorruptedLine)
{
    const ts::test::TempFolder temp(L"tslog");
    const std::wstring& dir = temp.path;
    std::string path = narrow(dir) + "\\T.log";
    {
        FileOutput output(path, FileOutput::Append, 3000, 1, 0);
        for (int i = 0; i < 60; ++i)
            output.write(i, 4, "x.cpp", i, "Mod", "L", "", "entry " + std::to_string(i));
    }
    std::string content = ts::test::readFile(dir + L"\\T.log");
    // Corrupt the fifth line in place.
    size_t at = 0;
    for (int i = 0; i < 4; ++i)
        at = content.find('\n', at) + 1;
    content[at + 3] = '*';
    ts::test::writeFile(dir + L"\\T.log", content);

    std::wstring tslog = ts::test::buildDir() + L"\\bin\\tslog.exe";
    std::wstring out = dir + L"\\out.txt";
    ts::test::ProcessResult result = ts::test::runProcess(L"cmd /c \"\"" + tslog + L"\" \"" + dir +
                                                          L"\\T.old.log\" \"" + dir + L"\\T.log\" > \"" + out +
                                                          L"\" 2>&1\"");
    ASSERT_TRUE(result.started);
    EXPECT_EQ(1u, result.exitCode);
    std::string text = ts::test::readFile(out);
    EXPECT_NE(std::string::npos, text.find("T.log:5: cannot decode this line (not Base64)")) << text;
    EXPECT_NE(std::string::npos, text.find("<<tslog: line 5 not decoded>>")) << text;
    EXPECT_NE(std::string::npos, text.find("\tentry 0\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("\tentry 59\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("Log file restarted at")) << text;
}

TEST(Logger, DedicatedFileGetsItsOwnOutputAtInfoWithABanner)
{
    const ts::test::TempFolder temp(L"dedicated");
    const std::wstring& dir = temp.path;
    std::string stem = narrow(dir) + "\\Ded";
    struct Dedicated : Logger::Logged {
        explicit Dedicated(const std::string& stem)
            : Identity("DedicatedModule", ""), Logger::Logged("DedicatedModule", "d1", stem, 0, 0) {}
    };
    {
        Dedicated first(stem);
        EXPECT_TRUE(first.isEnabled(4));
        EXPECT_FALSE(first.isEnabled(5));
        TS_LOG(first, 4) << "into the dedicated file";
        TS_LOG(first, 5) << "too verbose";
        Dedicated second(stem); // the module's output exists already
        TS_LOG(second, 2) << "second object";
    }
    unsigned failures = 0;
    std::vector<std::string> lines = decodeFile(ts::test::readFile(dir + L"\\Ded.log"), &failures);
    EXPECT_EQ(0u, failures);
    ASSERT_EQ(3u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("\tDedicatedModule\td1\tALWAYS\t")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("\tVersion 7.9.1488.0. Built by Build Server, at ")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("Started at ")) << lines[0];
    EXPECT_NE(std::string::npos, lines[1].find("\tINFO\tlogger_test.cpp:")) << lines[1];
    EXPECT_NE(std::string::npos, lines[1].find("\tinto the dedicated file")) << lines[1];
    EXPECT_NE(std::string::npos, lines[2].find("\tsecond object")) << lines[2];
}

// The body of the child processes of the shared-file test; nothing without TS_CHILD.
TEST(LoggerChild, Run)
{
    const std::string what = ts::test::childCase();
    if (what != "shared-a-first" && what != "shared-b-first")
        return;
    // Module B names the logger's default file as its output; module A has no outputs.
    ts::test::TestSettings& settings = ts::test::testSettings();
    settings.set("TSUNIT\\Logger\\Modules\\SharedB", "shared", "VERBOSE");
    settings.setMachine("TSUNIT\\Logger\\Outputs\\shared", "filename", ts::test::testLogger().defaultFile());
    settings.setMachine("TSUNIT\\Logger\\Outputs\\shared", "Mode", "Append");
    settings.set("TSUNIT\\Logger\\Outputs\\shared", "line type", "1");
    std::unique_ptr<Probe> a, b;
    if (what == "shared-a-first") {
        a = std::make_unique<Probe>("a", "SharedA");
        TS_LOG(*a, 4) << "line from A";
        b = std::make_unique<Probe>("b", "SharedB");
    } else {
        b = std::make_unique<Probe>("b", "SharedB");
        a = std::make_unique<Probe>("a", "SharedA");
    }
    for (int i = 0; i < 3; ++i) {
        TS_LOG(*b, 4) << "line " << i << " from B";
        TS_LOG(*a, 4) << "line " << i << " from A";
    }
    ExitProcess(0x57);
}

TEST(Logger, AModuleWhoseOutputIsTheDefaultFileWritesOneChainIntoIt)
{
    for (const char* order : {"shared-a-first", "shared-b-first"}) {
        std::wstring dir = ts::test::makeTempDir(L"shared");
        std::wstring environment = L"TS_CHILD=" + ts::test::widen(order) + L'\0' + L"TS_CHILD_DIR=" + dir + L'\0';
        ts::test::ProcessResult result = ts::test::runProcess(
            L"\"" + ts::test::selfPath() + L"\" --gtest_filter=LoggerChild.Run", 60000, environment.c_str());
        ts::test::testSettings().removeTree("TSUNIT\\Logger\\Outputs\\shared");
        ts::test::testSettings().removeTree("TSUNIT\\Logger\\Modules\\SharedB");
        EXPECT_EQ(0x57u, result.exitCode) << order;
        unsigned failures = 0;
        std::vector<std::string> lines = decodeFile(ts::test::readFile(dir + L"\\TSUNIT.log"), &failures);
        EXPECT_EQ(0u, failures) << order;
        for (const char* module : {"A", "B"})
            for (int i = 0; i < 3; ++i) {
                std::string needle = "\tline " + std::to_string(i) + " from " + module;
                size_t found = 0;
                for (const std::string& line : lines)
                    found += line.find(needle) != std::string::npos;
                EXPECT_EQ(1u, found) << order << needle;
            }
        EXPECT_EQ(1u, countFiles(dir + L"\\TSUNIT*.log")) << order;
        ts::test::removeTree(dir);
    }
}
