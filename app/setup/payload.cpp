#include "app/setup/payload.h"

#include "app/setup/blockstream.h"

#include "sys/libutils/win32/resource.h"
#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/win32nr.h"
#include "sys/libutils/win32/workerthread.h"
#include "tk/libgui/resourcefunctions.h"

extern "C" {
#include <7z.h>
#include <7zAlloc.h>
#include <7zCrc.h>
#include <7zFile.h>
}

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cwctype>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <system_error>

namespace ts { namespace app { namespace setupInstall {

namespace fs = std::filesystem;
using tk::gui::resource::toNarrow;

const char* const kCorePackageResourceError = "Could not extract embedded Core installer from resources";

bool TemporaryFolder::create(std::wstring& path, uint32_t* error)
{
    DWORD failure = ERROR_SUCCESS;
    if (!m_folder.path().empty() || !m_folder.create(m_locations, failure, m_location)) {
        if (error)
            *error = failure;
        return false;
    }
    path = m_folder.path();
    return true;
}

// --- resources ----------------------------------------------------------------

bool writeResourceToFile(HMODULE module, int id, const std::wstring& path)
{
    sys::win32::ResourceBytes bytes;
    if (sys::win32::readResource(module, L"EXE", MAKEINTRESOURCEW(id), bytes) != sys::win32::ResourceStatus::Found)
        return false;
    return sys::win32::writeFileContents(path, bytes.data, bytes.size) == ERROR_SUCCESS;
}

bool hasResource(HMODULE module, int id)
{
    return tk::gui::resource::hasExeResource(module, MAKEINTRESOURCEW(id));
}

bool extractPayload(HMODULE module, TemporaryFolder& folder, PayloadFailure* failure)
{
    PayloadFailure ignored;
    PayloadFailure& out = failure ? *failure : ignored;
    out = PayloadFailure();
    std::wstring path = folder.path();
    if (path.empty() && !folder.create(path, &out.systemError)) {
        out.file = folder.location();
        return false;
    }
    const std::wstring archive = path + L"additional.7z";
    sys::win32::ResourceBytes bytes;
    if (sys::win32::readResource(module, L"EXE", MAKEINTRESOURCEW(PayloadArchive), bytes) !=
        sys::win32::ResourceStatus::Found) {
        out.step = PayloadStep::ReadResource;
        out.systemError = GetLastError();
        return false;
    }
    out.step = PayloadStep::WriteArchive;
    out.file = archive;
    out.systemError = sys::win32::writeFileContents(archive, bytes.data, bytes.size);
    if (out.systemError != ERROR_SUCCESS)
        return false;
    sys::win32::deleteAtRestart(archive);
    out.step = PayloadStep::Unpack;
    ExtractDetail where;
    out.result = extractArchive(archive, path, &where);
    out.file = where.file;
    out.systemError = where.systemError;
    out.memory = where.memory;
    return out.result == ExtractSuccess;
}

std::wstring describePayloadFailure(const PayloadFailure& failure, const std::wstring& systemText)
{
    std::wstring text = L"Unpacking the payload failed while ";
    switch (failure.step) {
    case PayloadStep::CreateFolder: text += L"creating the temporary folder in "; break;
    case PayloadStep::ReadResource: text += L"reading the payload resource"; break;
    case PayloadStep::WriteArchive: text += L"writing "; break;
    case PayloadStep::Unpack: text += L"unpacking "; break;
    }
    text += failure.file;
    if (failure.memory != 0)
        text += L": not enough memory for " + std::to_wstring(failure.memory) + L" bytes";
    text += L": archive result " + std::to_wstring(failure.result) + L", system error " +
            std::to_wstring(failure.systemError);
    if (!systemText.empty())
        text += L": " + systemText;
    return text;
}

// --- 7z extraction ------------------------------------------------------------

ExtractResult mapDecoderResult(int result)
{
    switch (result) {
    case SZ_OK: return ExtractSuccess;
    case SZ_ERROR_DATA: return ExtractDataError;
    case SZ_ERROR_MEM: return ExtractOutOfMemory;
    case SZ_ERROR_CRC: return ExtractCrcError;
    case SZ_ERROR_UNSUPPORTED: return ExtractUnsupported;
    case SZ_ERROR_PARAM: return ExtractBadParameter;
    case SZ_ERROR_INPUT_EOF: return ExtractInputEof;
    case SZ_ERROR_OUTPUT_EOF: return ExtractOutputOverflow;
    case SZ_ERROR_READ: return ExtractReadError;
    case SZ_ERROR_WRITE: return ExtractWriteError;
    case SZ_ERROR_PROGRESS: return ExtractProgressAborted;
    case SZ_ERROR_FAIL: return ExtractFailure;
    case SZ_ERROR_THREAD: return ExtractThreadError;
    case SZ_ERROR_ARCHIVE: return ExtractArchiveError;
    case SZ_ERROR_NO_ARCHIVE: return ExtractNotArchive;
    default: return ExtractOther;
    }
}

bool isSafeEntryName(const std::wstring& name)
{
    if (name.empty() || name[0] == L'\\' || name[0] == L'/' || name.find(L':') != std::wstring::npos)
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of(L"\\/", start);
        if (end == std::wstring::npos)
            end = name.size();
        if (name.compare(start, end - start, L"..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

std::wstring entryPath(const std::wstring& folder, const std::wstring& name)
{
    std::wstring relative = name;
    for (wchar_t& c : relative)
        if (c == L'/')
            c = L'\\';
    return sys::win32::joinPath(folder, relative);
}

namespace {

const size_t kInputBufferSize = 1 << 18;
const ISzAlloc kAlloc = {SzAlloc, SzFree};
const UInt32 kNoBlock = 0xFFFFFFFF;
const size_t kNoRun = static_cast<size_t>(-1);

// One reader of the archive file: its own handle, look-to-read stream and decoding
// buffer, so that several threads can decode blocks of one database at the same time.
// The buffer is kept for the next block: that spares faulting in fresh pages each time.
class Reader {
public:
    Reader()
    {
        File_Construct(&m_file.file);
        m_look.buf = nullptr;
    }
    ~Reader()
    {
        SzFree(nullptr, m_buffer);
        if (m_look.buf)
            ISzAlloc_Free(&kAlloc, m_look.buf);
        File_Close(&m_file.file);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The Windows error of the open, 0 on success.
    WRes openFile(const std::wstring& path) { return InFile_OpenW(&m_file.file, path.c_str()); }
    // The Windows error of the last failed read.
    WRes readError() const { return m_file.wres; }

    SRes makeStreams()
    {
        FileInStream_CreateVTable(&m_file);
        m_file.wres = 0;
        LookToRead2_CreateVTable(&m_look, False);
        m_look.buf = static_cast<Byte*>(ISzAlloc_Alloc(&kAlloc, kInputBufferSize));
        if (!m_look.buf)
            return SZ_ERROR_MEM;
        m_look.bufSize = kInputBufferSize;
        m_look.realStream = &m_file.vt;
        LookToRead2_INIT(&m_look);
        return SZ_OK;
    }
    ILookInStreamPtr stream() const { return &m_look.vt; }

    // A buffer of at least `size` bytes; null when that cannot be had.
    Byte* buffer(uint64_t size)
    {
        size = std::max<uint64_t>(size, 1);
        if (size <= m_bufferSize)
            return m_buffer;
        SzFree(nullptr, m_buffer);
        m_buffer = size <= SIZE_MAX ? static_cast<Byte*>(SzAlloc(nullptr, static_cast<size_t>(size))) : nullptr;
        m_bufferSize = m_buffer ? size : 0;
        return m_buffer;
    }

private:
    CFileInStream m_file;
    CLookToRead2 m_look;
    Byte* m_buffer = nullptr;
    uint64_t m_bufferSize = 0;
};

// The archive database, read through the first reader.
class Database {
public:
    Database() { SzArEx_Init(&m_db); }
    ~Database() { SzArEx_Free(&m_db, &kAlloc); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    SRes open(Reader& reader)
    {
        SRes result = reader.makeStreams();
        if (result != SZ_OK)
            return result;
        CrcGenerateTable();
        return SzArEx_Open(&m_db, reader.stream(), &kAlloc, &kAlloc);
    }

    const CSzArEx& db() const { return m_db; }
    UInt32 count() const { return m_db.NumFiles; }
    // False when the header has no names property: the decoder has no name table then.
    bool hasNames() const { return m_db.FileNameOffsets != nullptr; }
    bool isDirectory(UInt32 i) const { return SzArEx_IsDir(&m_db, i); }
    UInt32 block(UInt32 i) const { return m_db.FileToFolder[i]; }
    UInt64 size(UInt32 i) const { return SzArEx_GetFileSize(&m_db, i); }
    // The file's CRC when the archive has one for it.
    bool crc(UInt32 i, UInt32& value) const
    {
        if (block(i) == kNoBlock || !SzBitWithVals_Check(&m_db.CRCs, i))
            return false;
        value = m_db.CRCs.Vals[i];
        return true;
    }

    std::wstring name(UInt32 i) const
    {
        size_t length = SzArEx_GetFileNameUtf16(&m_db, i, nullptr);
        std::vector<UInt16> buffer(length + 1, 0);
        SzArEx_GetFileNameUtf16(&m_db, i, buffer.data());
        std::wstring text;
        for (size_t k = 0; k < length && buffer[k]; ++k)
            text += static_cast<wchar_t>(buffer[k]);
        return text;
    }

private:
    CSzArEx m_db;
};

// Files [first, end) in archive order that share one solid block (kNoBlock: none has
// data); files without data belong to the run they stand in.
struct Run {
    UInt32 first;
    UInt32 end;
    UInt32 block;
};

std::vector<Run> splitIntoRuns(const Database& archive)
{
    std::vector<Run> runs;
    for (UInt32 i = 0; i < archive.count(); ++i) {
        if (archive.isDirectory(i))
            continue;
        const UInt32 own = archive.block(i);
        if (runs.empty() || (own != kNoBlock && runs.back().block != kNoBlock && own != runs.back().block))
            runs.push_back(Run{i, i + 1, kNoBlock});
        runs.back().end = i + 1;
        if (own != kNoBlock)
            runs.back().block = own;
    }
    return runs;
}

// What became of one run: its result, the files it created in order, and how many of
// them are complete and checked.
struct RunOutcome {
    ExtractResult result = ExtractSuccess;
    ExtractDetail where;
    std::vector<std::wstring> written;
    size_t complete = 0;
};

// Writes the files of one run while its block decodes: each file in turn, its CRC
// checked when it is complete. Stops with SZ_ERROR_PROGRESS once `stopped` says so,
// and with SZ_ERROR_WRITE on a file error (then in the outcome).
class RunWriter {
public:
    RunWriter(const Database& archive, const std::vector<std::wstring>& names, const std::wstring& folder,
              const Run& run, RunOutcome& outcome, std::function<bool()> stopped)
        : m_archive(archive), m_names(names), m_folder(folder), m_run(run), m_outcome(outcome),
          m_stopped(std::move(stopped)), m_next(run.first)
    {
    }

    bool fileFailed() const { return m_fileFailed; }

    SRes put(const Byte* data, size_t size)
    {
        if (m_stopped())
            return SZ_ERROR_PROGRESS;
        while (size > 0) {
            if (!m_open) {
                if (SRes result = openNext())
                    return result;
                if (!m_open)
                    return SZ_OK; // bytes after the last file belong to none
            }
            const size_t n = static_cast<size_t>(std::min<UInt64>(size, m_left));
            if (DWORD error = m_file.write(data, n))
                return failed(error);
            if (m_checked)
                m_crc = CrcUpdate(m_crc, data, n);
            data += n;
            size -= n;
            m_left -= n;
            if (m_left == 0)
                if (SRes result = closeCurrent())
                    return result;
        }
        return SZ_OK;
    }

    // After the block: only files without data may be left.
    SRes finish()
    {
        if (SRes result = openNext())
            return result;
        return m_open ? SZ_ERROR_FAIL : SZ_OK;
    }

private:
    // Opens the next file of the run that has data, making the empty ones before it.
    SRes openNext()
    {
        while (!m_open && m_next < m_run.end) {
            const UInt32 i = m_next++;
            if (m_archive.isDirectory(i))
                continue;
            m_path = entryPath(m_folder, m_names[i]);
            const size_t slash = m_path.find_last_of(L'\\');
            if (slash != std::wstring::npos)
                sys::win32::createDirectories(m_path.substr(0, slash));
            if (DWORD error = m_file.create(m_path))
                return failed(error);
            m_outcome.written.push_back(m_path);
            m_open = true;
            m_left = m_archive.size(i);
            m_checked = m_archive.crc(i, m_expected);
            m_crc = CRC_INIT_VAL;
            if (m_left == 0)
                if (SRes result = closeCurrent())
                    return result;
        }
        return SZ_OK;
    }

    SRes closeCurrent()
    {
        m_open = false;
        if (DWORD error = m_file.close())
            return failed(error);
        if (m_checked && CRC_GET_DIGEST(m_crc) != m_expected)
            return SZ_ERROR_CRC;
        m_outcome.complete = m_outcome.written.size();
        return SZ_OK;
    }

    SRes failed(DWORD error)
    {
        m_fileFailed = true;
        m_outcome.where.file = m_path;
        m_outcome.where.systemError = error;
        return SZ_ERROR_WRITE;
    }

    const Database& m_archive;
    const std::vector<std::wstring>& m_names;
    const std::wstring& m_folder;
    const Run& m_run;
    RunOutcome& m_outcome;
    const std::function<bool()> m_stopped;
    UInt32 m_next;
    sys::win32::OutputFile m_file;
    std::wstring m_path;
    bool m_open = false;
    bool m_fileFailed = false;
    UInt64 m_left = 0;
    bool m_checked = false;
    UInt32 m_expected = 0;
    UInt32 m_crc = CRC_INIT_VAL;
};

// Unpacks the runs on several readers at once, each as soon as a reader is free, its
// files written while it decodes. When a run fails, the runs after it stop, and the
// files after the failing one (its own unfinished file included) are deleted: a failure
// leaves exactly the files before it, whichever thread met it.
class RunExtraction {
public:
    RunExtraction(const Database& archive, const std::vector<std::wstring>& names, const std::wstring& folder,
                  const std::wstring& archivePath, uint64_t memoryLimit)
        : m_archive(archive), m_names(names), m_folder(folder), m_archivePath(archivePath),
          m_memoryLimit(memoryLimit), m_runs(splitIntoRuns(archive)), m_outcomes(m_runs.size())
    {
        for (const Run& run : m_runs)
            m_plans.push_back(run.block == kNoBlock ? BlockPlan() : planBlock(archive.db(), run.block));
    }

    size_t runCount() const { return m_runs.size(); }
    // The most one reader needs at once for the runs that fit the limit.
    uint64_t largestNeed() const
    {
        uint64_t largest = 0;
        for (const BlockPlan& plan : m_plans)
            if (plan.memory <= m_memoryLimit)
                largest = std::max(largest, plan.memory);
        return largest;
    }

    // Takes runs until none is left or an earlier one failed.
    void work(Reader& reader)
    {
        for (;;) {
            size_t run;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_next == m_runs.size() || m_failed < m_next)
                    return;
                run = m_next++;
            }
            decode(reader, run);
            if (m_outcomes[run].result != ExtractSuccess) {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (run < m_failed)
                    m_failed = run;
            }
        }
    }

    // Once every reader has stopped: the result of the first failed run, and what the
    // runs from it on wrote removed.
    ExtractResult finish(ExtractDetail& out)
    {
        const size_t failed = m_failed;
        if (failed == kNoRun)
            return ExtractSuccess;
        for (size_t run = failed; run < m_runs.size(); ++run) {
            const RunOutcome& outcome = m_outcomes[run];
            for (size_t k = run == failed ? outcome.complete : 0; k < outcome.written.size(); ++k)
                sys::win32::deleteFileForced(outcome.written[k]);
        }
        out = m_outcomes[failed].where;
        return m_outcomes[failed].result;
    }

private:
    void decode(Reader& reader, size_t index)
    {
        const Run& run = m_runs[index];
        const BlockPlan& plan = m_plans[index];
        RunOutcome& outcome = m_outcomes[index];
        outcome.where.file = m_archivePath;
        SRes result = SZ_OK;
        bool fileFailed = false;
        try {
            RunWriter writer(m_archive, m_names, m_folder, run, outcome, [this, index] { return m_failed < index; });
            if (run.block != kNoBlock) {
                Byte* buffer = plan.memory <= m_memoryLimit ? reader.buffer(plan.window) : nullptr;
                result = buffer ? decodeBlock(m_archive.db(), reader.stream(), run.block, plan, buffer,
                                              [&writer](const Byte* data, size_t size) { return writer.put(data, size); })
                                : SZ_ERROR_MEM;
            }
            if (result == SZ_OK)
                result = writer.finish();
            fileFailed = writer.fileFailed();
        } catch (const std::bad_alloc&) {
            result = SZ_ERROR_MEM;
        }
        if (fileFailed) {
            outcome.result = ExtractFileError;
            return;
        }
        outcome.result = mapDecoderResult(result);
        if (result == SZ_ERROR_READ)
            outcome.where.systemError = reader.readError();
        if (result == SZ_ERROR_MEM) {
            // Named after the block's first file with data, which could not be unpacked.
            for (UInt32 i = run.first; i < run.end; ++i)
                if (!m_archive.isDirectory(i) && m_archive.block(i) == run.block) {
                    outcome.where.file = entryPath(m_folder, m_names[i]);
                    break;
                }
            outcome.where.systemError = ERROR_NOT_ENOUGH_MEMORY;
            outcome.where.memory = plan.memory;
        }
    }

    const Database& m_archive;
    const std::vector<std::wstring>& m_names;
    const std::wstring& m_folder;
    const std::wstring& m_archivePath;
    const uint64_t m_memoryLimit;
    const std::vector<Run> m_runs;
    std::vector<BlockPlan> m_plans;
    std::vector<RunOutcome> m_outcomes;

    std::mutex m_mutex;
    size_t m_next = 0;
    std::atomic<size_t> m_failed{kNoRun};
};

// Two entries of one name (as Windows compares names) would race on one file.
bool hasRepeatedNames(const std::vector<std::wstring>& names)
{
    std::set<std::wstring> seen;
    for (std::wstring name : names) {
        for (wchar_t& c : name)
            c = c == L'/' ? L'\\' : static_cast<wchar_t>(towlower(c));
        if (!seen.insert(name).second)
            return true;
    }
    return false;
}

} // namespace

ExtractResult extractArchive(const std::wstring& archivePath, const std::wstring& folder, ExtractDetail* failure)
{
    return extractArchive(archivePath, folder, failure, 0);
}

ExtractResult extractArchive(const std::wstring& archivePath, const std::wstring& folder, ExtractDetail* failure,
                             unsigned threads, uint64_t memoryLimit)
{
    ExtractDetail ignored;
    ExtractDetail& out = failure ? *failure : ignored;
    out = ExtractDetail();
    out.file = archivePath;
    Reader reader;
    if (WRes error = reader.openFile(archivePath)) {
        out.systemError = error;
        return ExtractCannotOpen;
    }
    Database archive;
    SRes result = archive.open(reader);
    if (result != SZ_OK) {
        if (result == SZ_ERROR_READ)
            out.systemError = reader.readError();
        return mapDecoderResult(result);
    }

    if (archive.count() > 0 && !archive.hasNames())
        return ExtractArchiveError;
    std::vector<std::wstring> names(archive.count());
    for (UInt32 i = 0; i < archive.count(); ++i) {
        names[i] = archive.name(i);
        if (!isSafeEntryName(names[i])) {
            out.file = names[i];
            return ExtractArchiveError;
        }
    }
    for (UInt32 i = 0; i < archive.count(); ++i)
        if (archive.isDirectory(i))
            sys::win32::createDirectories(entryPath(folder, names[i])); // a failure shows when a file is made

    if (memoryLimit == 0)
        memoryLimit = sys::win32::availableMemory();
    if (memoryLimit == 0)
        memoryLimit = UINT64_MAX;
    RunExtraction extraction(archive, names, folder, archivePath, memoryLimit);
    size_t wanted = std::min<size_t>(threads ? threads : sys::win32::processorCount(), extraction.runCount());
    if (const uint64_t need = extraction.largestNeed())
        wanted = static_cast<size_t>(std::min<uint64_t>(wanted, std::max<uint64_t>(1, memoryLimit / need)));
    if (hasRepeatedNames(names))
        wanted = 1;
    // Helpers that cannot get a reader or a thread are left out; this thread always works.
    std::vector<std::unique_ptr<Reader>> helperReaders;
    std::vector<std::unique_ptr<sys::win32::WorkerThread>> helpers;
    while (helpers.size() + 1 < wanted) {
        auto helperReader = std::make_unique<Reader>();
        if (helperReader->openFile(archivePath) || helperReader->makeStreams() != SZ_OK)
            break;
        Reader& mine = *helperReader;
        auto helper = std::make_unique<sys::win32::WorkerThread>([&extraction, &mine] { extraction.work(mine); });
        if (!helper->started())
            break;
        helperReaders.push_back(std::move(helperReader));
        helpers.push_back(std::move(helper));
    }
    extraction.work(reader);
    helpers.clear();
    return extraction.finish(out);
}

// --- Core package ---------------------------------------------------------------

bool hasCorePackage(const std::wstring& folder)
{
    return sys::win32::pathExists(entryPath(folder, L"VELA\\TessalineCore.dat")) &&
           sys::win32::pathExists(entryPath(folder, L"VELA\\TessalineCore64.dat"));
}

std::wstring corePackagePath(const std::wstring& folder, HMODULE module, bool is64Bit)
{
    const int id = is64Bit ? CoreInstaller64 : CoreInstaller32;
    const std::wstring packaged =
        entryPath(folder, is64Bit ? L"VELA\\TessalineCore64.dat" : L"VELA\\TessalineCore.dat");
    if (!hasResource(module, id))
        return packaged;
    std::wstring file;
    if (!sys::win32::createTempFileName(folder, L"TS", file) || !writeResourceToFile(module, id, file))
        throw std::runtime_error(kCorePackageResourceError);
    return file;
}

std::wstring corePackagePath(const std::wstring& folder, HMODULE module)
{
    return corePackagePath(folder, module, sys::win32::isWow64());
}

// --- driver layout --------------------------------------------------------------

std::vector<std::wstring> splitLayoutLines(const wchar_t* text, size_t length)
{
    std::vector<std::wstring> lines;
    size_t i = length > 0 && text[0] == 0xFEFF ? 1 : 0;
    while (i < length) {
        size_t start = i;
        while (i < length && text[i] != L'\r' && text[i] != L'\n')
            ++i;
        if (i > start)
            lines.emplace_back(text + start, i - start);
        while (i < length && (text[i] == L'\r' || text[i] == L'\n'))
            ++i;
    }
    return lines;
}

std::vector<std::wstring> loadLayout(HMODULE module)
{
    sys::win32::ResourceBytes bytes;
    switch (sys::win32::readResource(module, L"EXE", MAKEINTRESOURCEW(LayoutResource), bytes)) {
    case sys::win32::ResourceStatus::Missing: throw std::runtime_error("Unable to find embedded layout file resource");
    case sys::win32::ResourceStatus::Empty: return {};
    case sys::win32::ResourceStatus::NotLoaded: throw std::runtime_error("Unable to load embedded layout file resource");
    case sys::win32::ResourceStatus::NotLocked: break;
    case sys::win32::ResourceStatus::Found:
        if (bytes.size % 2 == 0)
            return splitLayoutLines(static_cast<const wchar_t*>(bytes.data), bytes.size / 2);
        break;
    }
    throw std::runtime_error("Unexpected contents of embedded layout file resource");
}

// --- driver extraction ----------------------------------------------------------

std::vector<std::wstring> driverFolderNames()
{
    std::vector<std::wstring> names;
    for (const wchar_t* os : {L"Windows7", L"Windows8", L"Windows8.1", L"W2K8R2", L"W2K12", L"W2K12R2"})
        for (const wchar_t* architecture : {L"x86", L"x64"})
            names.push_back(std::wstring(os) + L"-" + architecture);
    return names;
}

namespace {

void makeDriverFolder(const fs::path& destination)
{
    std::error_code error;
    if (!fs::exists(destination, error)) {
        fs::create_directories(destination, error);
        if (error)
            throw std::runtime_error("Failed to create directory " + toNarrow(destination.wstring()));
    }
    if (!fs::is_directory(destination, error))
        throw std::runtime_error(toNarrow(destination.wstring()) + "is not directory.");
}

// The folder with all its subfolders; "DPInst.xml" is left out at the top only, where the
// driver installer would read it. Links are not followed.
void copyDriverFolder(const fs::path& source, const fs::path& destination, bool top)
{
    makeDriverFolder(destination);
    std::error_code error;
    for (fs::directory_iterator it(source, error), end; !error && it != end; it.increment(error)) {
        const fs::path from = it->path();
        const fs::path to = destination / from.filename();
        const bool link = it->is_symlink(error);
        const bool directory = !error && it->is_directory(error);
        const bool file = !error && it->is_regular_file(error);
        if (error)
            break;
        if (link)
            continue;
        if (directory) {
            copyDriverFolder(from, to, false);
            continue;
        }
        if (!file || (top && from.filename() == L"DPInst.xml"))
            continue;
        // Not fs::copy_file: libstdc++ reports "File exists" for new targets under mingw.
        if (sys::win32::copyFile(from.wstring(), to.wstring(), true) != ERROR_SUCCESS)
            throw std::runtime_error("Failed to copy file " + toNarrow(from.wstring()) + " to " +
                                     toNarrow(to.wstring()));
    }
    // A folder that cannot be read to its end would leave the package incomplete.
    if (error)
        throw std::runtime_error("Failed to copy folder " + toNarrow(source.wstring()) + " to " +
                                 toNarrow(destination.wstring()));
}

} // namespace

void extractDrivers(const std::wstring& folder, const std::wstring& targetText)
{
    fs::path target(targetText);
    std::error_code error;
    if (target.is_relative())
        target = fs::absolute(target, error);
    const fs::path source = fs::path(entryPath(folder, L"VELA"));
    for (const std::wstring& name : driverFolderNames())
        copyDriverFolder(source, target / name, true);
}

}}} // namespace ts::app::setupInstall
