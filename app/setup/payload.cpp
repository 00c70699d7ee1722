#include "app/setup/payload.h"

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
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <type_traits>

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

// The allocator of a reader's block buffer. The decoder frees the buffer of one block just
// before it asks for the next one; handing the same memory out again, when it is large
// enough, spares faulting in fresh pages for every block, and the peak stays the same.
struct BlockBuffer {
    BlockBuffer() = default;
    ~BlockBuffer() { SzFree(nullptr, spare); }
    BlockBuffer(const BlockBuffer&) = delete;
    BlockBuffer& operator=(const BlockBuffer&) = delete;

    ISzAllocPtr allocator() const { return &vt; }

    // The allocator is the first member: the decoder's allocator pointer is the buffer's.
    static BlockBuffer& of(ISzAllocPtr allocator)
    {
        return *reinterpret_cast<BlockBuffer*>(const_cast<ISzAlloc*>(allocator));
    }
    static void* alloc(ISzAllocPtr allocator, size_t size)
    {
        BlockBuffer& self = of(allocator);
        if (!self.spare || self.spareSize < size) {
            SzFree(nullptr, self.spare);
            self.spare = SzAlloc(nullptr, size);
            self.spareSize = self.spare ? size : 0;
        }
        self.given = self.spare;
        self.givenSize = self.spareSize;
        self.spare = nullptr;
        self.spareSize = 0;
        return self.given;
    }
    static void free(ISzAllocPtr allocator, void* address)
    {
        BlockBuffer& self = of(allocator);
        if (!address || address != self.given) {
            SzFree(nullptr, address);
            return;
        }
        SzFree(nullptr, self.spare);
        self.spare = self.given;
        self.spareSize = self.givenSize;
        self.given = nullptr;
    }

    ISzAlloc vt = {&BlockBuffer::alloc, &BlockBuffer::free};
    void* given = nullptr;
    size_t givenSize = 0;
    void* spare = nullptr;
    size_t spareSize = 0;
};
static_assert(std::is_standard_layout<BlockBuffer>::value, "the allocator must be the first member");

// One reader of the archive file: its own handle, look-to-read stream and block cache, so
// that several threads can decode blocks of one database at the same time.
class Reader {
public:
    Reader()
    {
        File_Construct(&m_file.file);
        m_look.buf = nullptr;
    }
    ~Reader()
    {
        if (m_output)
            ISzAlloc_Free(m_buffer.allocator(), m_output);
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

    // Unpacks entry i of a file in a block; the bytes stay valid until a file of another
    // block is unpacked.
    SRes extract(const CSzArEx& db, UInt32 i, const Byte*& data, size_t& size)
    {
        size_t offset = 0;
        SRes result = SzArEx_Extract(&db, &m_look.vt, i, &m_blockIndex, &m_output, &m_outputSize, &offset, &size,
                                     m_buffer.allocator(), &kAlloc);
        data = m_output ? m_output + offset : nullptr;
        return result;
    }

private:
    BlockBuffer m_buffer;
    CFileInStream m_file;
    CLookToRead2 m_look;
    UInt32 m_blockIndex = kNoBlock;
    Byte* m_output = nullptr;
    size_t m_outputSize = 0;
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

// Files [first, end) in archive order that share one solid block; files without data
// belong to the run they stand in.
struct Run {
    UInt32 first;
    UInt32 end;
};

std::vector<Run> splitIntoRuns(const Database& archive)
{
    std::vector<Run> runs;
    UInt32 block = kNoBlock;
    for (UInt32 i = 0; i < archive.count(); ++i) {
        if (archive.isDirectory(i))
            continue;
        const UInt32 own = archive.block(i);
        if (runs.empty() || (own != kNoBlock && block != kNoBlock && own != block))
            runs.push_back(Run{i, i + 1});
        runs.back().end = i + 1;
        if (own != kNoBlock)
            block = own;
    }
    return runs;
}

// Unpacks the runs on several readers at once. Each run is decoded as soon as a reader
// is free, but written only after every earlier run: the files appear in archive order,
// and a failure leaves exactly the files before it, whichever thread met it.
class RunExtraction {
public:
    RunExtraction(const Database& archive, const std::vector<std::wstring>& names, const std::wstring& folder,
                  ExtractDetail& out)
        : m_archive(archive), m_names(names), m_folder(folder), m_runs(splitIntoRuns(archive)), m_out(out)
    {
    }

    size_t runCount() const { return m_runs.size(); }
    ExtractResult result() const { return m_result; }

    // Takes runs until none is left or one failed.
    void work(Reader& reader)
    {
        for (;;) {
            size_t run;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_result != ExtractSuccess || m_next == m_runs.size())
                    return;
                run = m_next++;
            }
            Decoded decoded = decode(reader, m_runs[run]);
            std::unique_lock<std::mutex> lock(m_mutex);
            m_turnChanged.wait(lock, [&] { return m_turn == run; });
            if (m_result == ExtractSuccess) {
                ExtractDetail where = m_out;
                lock.unlock();
                ExtractResult result = write(reader, decoded, where);
                lock.lock();
                if (result != ExtractSuccess) {
                    m_result = result;
                    m_out = where;
                }
            }
            ++m_turn;
            m_turnChanged.notify_all();
        }
    }

private:
    struct Piece {
        UInt32 file;
        const Byte* data;
        size_t size;
    };
    // The files of a run unpacked up to the first decoder error, if any.
    struct Decoded {
        std::vector<Piece> pieces;
        SRes result = SZ_OK;
    };

    Decoded decode(Reader& reader, const Run& run)
    {
        Decoded decoded;
        try {
            for (UInt32 i = run.first; i < run.end && decoded.result == SZ_OK; ++i) {
                if (m_archive.isDirectory(i))
                    continue;
                Piece piece{i, nullptr, 0};
                // A file without data would make the decoder drop its cached block.
                if (m_archive.block(i) != kNoBlock)
                    decoded.result = reader.extract(m_archive.db(), i, piece.data, piece.size);
                if (decoded.result == SZ_OK)
                    decoded.pieces.push_back(piece);
            }
        } catch (const std::bad_alloc&) {
            decoded.result = SZ_ERROR_MEM;
        }
        return decoded;
    }

    // A failed read leaves its Windows error in the reader's stream; data faults have none.
    ExtractResult write(const Reader& reader, const Decoded& decoded, ExtractDetail& where)
    {
        try {
            for (const Piece& piece : decoded.pieces) {
                const std::wstring path = entryPath(m_folder, m_names[piece.file]);
                size_t slash = path.find_last_of(L'\\');
                if (slash != std::wstring::npos)
                    sys::win32::createDirectories(path.substr(0, slash));
                if (DWORD error = sys::win32::writeFileContents(path, piece.data, piece.size)) {
                    where.file = path;
                    where.systemError = error;
                    return ExtractFileError;
                }
            }
        } catch (const std::bad_alloc&) {
            return ExtractOutOfMemory;
        }
        if (decoded.result == SZ_ERROR_READ)
            where.systemError = reader.readError();
        return mapDecoderResult(decoded.result);
    }

    const Database& m_archive;
    const std::vector<std::wstring>& m_names;
    const std::wstring& m_folder;
    const std::vector<Run> m_runs;
    ExtractDetail& m_out;

    std::mutex m_mutex;
    std::condition_variable m_turnChanged;
    size_t m_next = 0;
    size_t m_turn = 0;
    ExtractResult m_result = ExtractSuccess;
};

} // namespace

ExtractResult extractArchive(const std::wstring& archivePath, const std::wstring& folder, ExtractDetail* failure)
{
    return extractArchive(archivePath, folder, failure, 0);
}

ExtractResult extractArchive(const std::wstring& archivePath, const std::wstring& folder, ExtractDetail* failure,
                             unsigned threads)
{
    ExtractDetail ignored;
    ExtractDetail& out = failure ? *failure : ignored;
    out.file = archivePath;
    out.systemError = 0;
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

    RunExtraction extraction(archive, names, folder, out);
    size_t wanted = std::min<size_t>(threads ? threads : sys::win32::processorCount(), extraction.runCount());
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
    return extraction.result();
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
