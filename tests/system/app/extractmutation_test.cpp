// extractArchive on damaged copies of real archives, each into a fresh folder: it always
// returns, with a result a damaged archive can have, and never writes beside its folder.
// TS_MUTATION_CASES sets the number of cases (300, under an emulator 100, unless set;
// `make fuzz` runs 10000), TS_MUTATION_FIRST the number of the first.
// The cases come from a fixed seed, so a case number names the same damage every time;
// the archive of a failed case is kept in <build>\testdata\mutation-failures.
#include "app/setup/payload.h"
#include "support/testsupport.h"
#include "sys/libutils/win32/thread.h"

extern "C" {
#include <7zCrc.h>
}

#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace ts { namespace test {
namespace {

using namespace app::setupInstall;

const uint32_t kSeed = 0x7E55A11E;
const wchar_t* const kSeeds[] = {L"seed-lzma2.7z", L"seed-plainheader.7z", L"seed-copy.7z", L"seed-bcj.7z"};
// Cases that once failed, run with the first ones every time: 5605 lost the names
// property, and the decoder has no name table then.
const uint32_t kFound[] = {5605};

// The 7z start header: signature, version, its own CRC, then where the header lies.
const size_t kStartHeaderSize = 32;

uint32_t read32(const std::string& data, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<uint8_t>(data[at + i]);
    return v;
}
uint64_t read64(const std::string& data, size_t at)
{
    return uint64_t(read32(data, at + 4)) << 32 | read32(data, at);
}
void write32(std::string& data, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        data[at + i] = static_cast<char>(v >> (8 * i));
}
void write64(std::string& data, size_t at, uint64_t v)
{
    write32(data, at, static_cast<uint32_t>(v));
    write32(data, at + 4, static_cast<uint32_t>(v >> 32));
}

// Where the (end) header lies in an intact archive.
struct HeaderSpan {
    size_t offset = 0;
    size_t size = 0;
};
HeaderSpan headerOf(const std::string& data)
{
    HeaderSpan span;
    span.offset = kStartHeaderSize + static_cast<size_t>(read64(data, 12));
    span.size = static_cast<size_t>(read64(data, 20));
    return span;
}

// Makes the start header's CRC right again, so that the decoder reads on.
void fixStartChecksum(std::string& data)
{
    write32(data, 8, CrcCalc(data.data() + 12, 20));
}
// The same for the header's CRC and then the start header's.
void fixChecksums(std::string& data, const HeaderSpan& header)
{
    write32(data, 28, CrcCalc(data.data() + header.offset, header.size));
    fixStartChecksum(data);
}

class Damage {
public:
    explicit Damage(uint32_t caseNumber) : m_random(kSeed + caseNumber) {}

    // Damages `data` in one of eight ways; returns what it did.
    std::string apply(std::string& data)
    {
        const HeaderSpan header = headerOf(data);
        const size_t size = data.size();
        const size_t at = pick(size);
        switch (pick(8)) {
        case 0: {
            const size_t bits = 1 + pick(4);
            for (size_t i = 0; i < bits; ++i)
                data[pick(size)] ^= static_cast<char>(1 << pick(8));
            return std::to_string(bits) + " bits flipped";
        }
        case 1: {
            const size_t count = 1 + pick(8);
            for (size_t i = 0; i < count; ++i)
                data[pick(size)] = static_cast<char>(pick(256));
            return std::to_string(count) + " bytes overwritten";
        }
        case 2:
            data.resize(at);
            return "cut at " + std::to_string(at);
        case 3: {
            const size_t count = 1 + pick(16);
            std::string bytes;
            for (size_t i = 0; i < count; ++i)
                bytes += static_cast<char>(pick(256));
            data.insert(at, bytes);
            return std::to_string(count) + " bytes inserted at " + std::to_string(at);
        }
        case 4: {
            const size_t count = 1 + pick(std::min<size_t>(64, size - at));
            data.erase(at, count);
            return std::to_string(count) + " bytes removed at " + std::to_string(at);
        }
        case 5: {
            const size_t count = 1 + pick(4);
            for (size_t i = 0; i < count; ++i)
                data[header.offset + pick(header.size)] = static_cast<char>(pick(256));
            fixChecksums(data, header);
            return std::to_string(count) + " header bytes overwritten, checksums fixed";
        }
        case 6: {
            static const uint64_t values[] = {0, 1, 0x7F, 0x80, 0xFF, 0x7FFFFFFF, 0xFFFFFFFF, ~0ull};
            const uint64_t value = values[pick(8)];
            const size_t width = size_t(1) << pick(4);
            const size_t place = header.offset + pick(header.size > width ? header.size - width : 1);
            for (size_t i = 0; i < width && place + i < data.size(); ++i)
                data[place + i] = static_cast<char>(value >> (8 * (i % 8)));
            fixChecksums(data, header);
            return "header field of " + std::to_string(width) + " bytes set to " + std::to_string(value) +
                   ", checksums fixed";
        }
        default: {
            static const int64_t shifts[] = {-1, 1, -8, 8, -(1ll << 31), 1ll << 32};
            const bool offset = pick(2) == 0;
            const uint64_t old = read64(data, offset ? 12 : 20);
            const uint64_t value = pick(4) == 0 ? pick(0x10000) : old + shifts[pick(6)];
            write64(data, offset ? 12 : 20, value);
            fixStartChecksum(data);
            return std::string(offset ? "header offset" : "header size") + " set to " + std::to_string(value);
        }
        }
    }

private:
    size_t pick(size_t n) { return n ? m_random() % n : 0; }
    std::mt19937 m_random;
};

// One extraction on a thread of its own, so that a hang cannot hold up the test.
class Extraction : public sys::Thread {
public:
    Extraction(const std::wstring& archive, const std::wstring& folder)
        : Identity("Extraction", ""), Thread("Extraction"), m_archive(archive), m_folder(folder)
    {
    }
    ~Extraction() override { join(-1); }

    std::atomic<bool> started{false};
    ExtractResult result = ExtractOther;
    ExtractDetail detail;

private:
    uint32_t run() override
    {
        started = true;
        result = extractArchive(m_archive, m_folder, &detail);
        return 0;
    }
    const std::wstring m_archive;
    const std::wstring m_folder;
};

// The case being run, also for the crash report.
struct Case {
    uint32_t number = 0;
    std::string text;
    std::string data;
};
Case g_case;
std::wstring g_failures;

void keepInput()
{
    CreateDirectoryW(g_failures.c_str(), nullptr);
    writeFile(g_failures + L"\\case-" + std::to_wstring(g_case.number) + L".7z", g_case.data);
}

LONG WINAPI reportCrash(EXCEPTION_POINTERS* info)
{
    fprintf(stderr, "extractArchive crashed (exception %08lX) in %s\n",
            static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode), g_case.text.c_str());
    fflush(stderr);
    keepInput();
    return EXCEPTION_CONTINUE_SEARCH;
}

// A damaged archive can give any of the decoder's results and 2 (names Windows refuses),
// but the file is there (not 1), nothing writes or reports progress through the decoder,
// no thread is started, and every decoder result has its own code (not 17).
bool isDamageResult(ExtractResult result)
{
    switch (result) {
    case ExtractCannotOpen:
    case ExtractWriteError:
    case ExtractProgressAborted:
    case ExtractThreadError:
    case ExtractOther:
        return false;
    default:
        return result >= ExtractSuccess && result <= ExtractOther;
    }
}

bool emulated()
{
    const char* text = getenv("TS_EMULATED");
    return text && std::string(text) == "1";
}

uint32_t numberFrom(const char* variable, uint32_t otherwise)
{
    const char* text = getenv(variable);
    return text && *text ? static_cast<uint32_t>(strtoul(text, nullptr, 10)) : otherwise;
}

TEST(ExtractMutation, DamagedArchivesGiveTheirResultInTheirFolderAndInTime)
{
    CrcGenerateTable();
    std::string seeds[4];
    for (int i = 0; i < 4; ++i) {
        seeds[i] = readFile(archivePath(kSeeds[i]));
        ASSERT_GT(seeds[i].size(), kStartHeaderSize) << narrow(archivePath(kSeeds[i]));
    }
    g_failures = buildDir() + L"\\testdata\\mutation-failures";
    const DWORD limitMs = emulated() ? 90000 : 30000;
    LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(reportCrash);
    TempFolder work(L"mutation");
    std::map<int, int> results;
    // A few seconds' worth unless asked for more; TS_MUTATION_FIRST repeats a case.
    const uint32_t count = numberFrom("TS_MUTATION_CASES", emulated() ? 100 : 300);
    const uint32_t first = numberFrom("TS_MUTATION_FIRST", 0);
    std::vector<uint32_t> numbers;
    for (uint32_t number = first; number < first + count; ++number)
        numbers.push_back(number);
    if (!getenv("TS_MUTATION_FIRST"))
        for (uint32_t number : kFound)
            if (number >= count)
                numbers.push_back(number);
    for (uint32_t number : numbers) {
        std::string data = seeds[number % 4];
        const std::string damage = Damage(number).apply(data);
        g_case.number = number;
        g_case.text = "case " + std::to_string(number) + " (" + narrow(kSeeds[number % 4]) + ", " + damage + ")";
        g_case.data = data;

        const std::wstring root = work.path + L"\\case-" + std::to_wstring(number);
        const std::wstring archive = root + L"\\archive.7z";
        const std::wstring folder = root + L"\\out";
        CreateDirectoryW(root.c_str(), nullptr);
        CreateDirectoryW(folder.c_str(), nullptr);
        writeFile(archive, data);

        auto extraction = std::make_unique<Extraction>(archive, folder);
        // False also when it has already ended.
        extraction->start();
        if (!extraction->join(int64_t(limitMs) * 1000)) {
            keepInput();
            fprintf(stderr, "extractArchive %s after %lu ms in %s\n",
                    extraction->started ? "still runs" : "has not even started", static_cast<unsigned long>(limitMs),
                    g_case.text.c_str());
            fflush(stderr);
            // The extraction cannot be stopped; the program ends here.
            _exit(3);
        }
        ASSERT_TRUE(extraction->started) << g_case.text << ": the extraction's thread did not run";
        ++results[extraction->result];

        bool good = true;
        if (!isDamageResult(extraction->result)) {
            ADD_FAILURE() << g_case.text << ": result " << extraction->result;
            good = false;
        }
        if (extraction->result != ExtractSuccess && extraction->detail.file.empty()) {
            ADD_FAILURE() << g_case.text << ": result " << extraction->result << " names no file";
            good = false;
        }
        if (namesIn(root, L"*") != std::set<std::wstring>{L".", L"..", L"archive.7z", L"out"} ||
            namesIn(work.path, L"*") != std::set<std::wstring>{L".", L"..", L"case-" + std::to_wstring(number)}) {
            ADD_FAILURE() << g_case.text << ": something was written beside the target folder";
            good = false;
        }
        if (!good)
            keepInput();
        removeTree(root);
    }
    SetUnhandledExceptionFilter(previous);

    std::string summary;
    for (const auto& entry : results)
        summary += " " + std::to_string(entry.first) + ":" + std::to_string(entry.second);
    printf("%u damaged archives, results (code:count):%s\n", static_cast<unsigned>(numbers.size()), summary.c_str());
}

} // namespace
}} // namespace ts::test
