#include "app/setup/payload.h"

#include "sys/libutils/win32/handle.h"
#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/win32nr.h"
#include "tk/libgui/resourcefunctions.h"

extern "C" {
#include <7z.h>
#include <7zAlloc.h>
#include <7zCrc.h>
#include <7zFile.h>
}

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace ts { namespace app { namespace setupInstall {

namespace fs = std::filesystem;
using sys::win32::FileHandle;
using tk::gui::resource::toNarrow;

const char* const kCorePackageResourceError = "Could not extract embedded Core installer from resources";

TemporaryFolder::~TemporaryFolder()
{
    remove();
}

bool TemporaryFolder::create(std::wstring& path)
{
    if (!m_path.empty() || !sys::win32::createTempDirectory(m_path))
        return false;
    path = m_path;
    return true;
}

bool TemporaryFolder::remove()
{
    if (m_path.empty())
        return true;
    if (!sys::win32::deleteDirectoryTree(m_path))
        return false;
    m_path.clear();
    return true;
}

// --- resources ----------------------------------------------------------------

namespace {

// The bytes of resource "EXE" `id`; false when missing, empty or not loadable.
bool resourceBytes(HMODULE module, int id, const void*& data, DWORD& size)
{
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), L"EXE");
    if (!info)
        return false;
    size = SizeofResource(module, info);
    HGLOBAL loaded = size ? LoadResource(module, info) : nullptr;
    data = loaded ? LockResource(loaded) : nullptr;
    return data != nullptr;
}

} // namespace

bool writeResourceToFile(HMODULE module, int id, const std::wstring& path)
{
    const void* data = nullptr;
    DWORD size = 0;
    if (!resourceBytes(module, id, data, size))
        return false;
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return WriteFile(file.get(), data, size, &written, nullptr) && written == size;
}

bool hasResource(HMODULE module, int id)
{
    return FindResourceW(module, MAKEINTRESOURCEW(id), L"EXE") != nullptr;
}

bool extractPayload(HMODULE module, TemporaryFolder& folder)
{
    std::wstring path;
    if (!folder.create(path))
        return false;
    const std::wstring archive = path + L"additional.7z";
    if (!writeResourceToFile(module, PayloadArchive, archive))
        return false;
    MoveFileExW(archive.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return extractArchive(archive, path) == ExtractSuccess;
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

// Creates a folder with its missing parents; failures show up when a file is created.
void createFolders(const std::wstring& path)
{
    if (path.empty() || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return;
    size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0 && path[slash - 1] != L':')
        createFolders(path.substr(0, slash));
    CreateDirectoryW(path.c_str(), nullptr);
}

// The open archive: file, streams and database, released in the destructor.
class Archive {
public:
    Archive()
    {
        File_Construct(&m_file.file);
        SzArEx_Init(&m_db);
        m_look.buf = nullptr;
    }
    ~Archive()
    {
        if (m_output)
            ISzAlloc_Free(&kAlloc, m_output);
        SzArEx_Free(&m_db, &kAlloc);
        if (m_look.buf)
            ISzAlloc_Free(&kAlloc, m_look.buf);
        File_Close(&m_file.file);
    }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    bool openFile(const std::wstring& path) { return InFile_OpenW(&m_file.file, path.c_str()) == 0; }

    SRes open()
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
        CrcGenerateTable();
        return SzArEx_Open(&m_db, &m_look.vt, &kAlloc, &kAlloc);
    }

    UInt32 count() const { return m_db.NumFiles; }
    bool isDirectory(UInt32 i) const { return SzArEx_IsDir(&m_db, i); }

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

    // Unpacks entry i; the bytes stay valid until the next call.
    SRes extract(UInt32 i, const Byte*& data, size_t& size)
    {
        size_t offset = 0;
        SRes result = SzArEx_Extract(&m_db, &m_look.vt, i, &m_blockIndex, &m_output, &m_outputSize, &offset, &size,
                                     &kAlloc, &kAlloc);
        data = m_output ? m_output + offset : nullptr;
        return result;
    }

private:
    CFileInStream m_file;
    CLookToRead2 m_look;
    CSzArEx m_db;
    UInt32 m_blockIndex = 0xFFFFFFFF;
    Byte* m_output = nullptr;
    size_t m_outputSize = 0;
};

bool writeWholeFile(const std::wstring& path, const Byte* data, size_t size)
{
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file.get(), data, chunk, &written, nullptr) || written != chunk)
            return false;
        data += chunk;
        size -= chunk;
    }
    return CloseHandle(file.release()) != FALSE;
}

} // namespace

ExtractResult extractArchive(const std::wstring& archivePath, const std::wstring& folder)
{
    Archive archive;
    if (!archive.openFile(archivePath))
        return ExtractCannotOpen;
    SRes result = archive.open();
    if (result != SZ_OK)
        return mapDecoderResult(result);

    std::vector<std::wstring> names(archive.count());
    for (UInt32 i = 0; i < archive.count(); ++i) {
        names[i] = archive.name(i);
        if (!isSafeEntryName(names[i]))
            return ExtractArchiveError;
    }
    for (UInt32 i = 0; i < archive.count(); ++i)
        if (archive.isDirectory(i))
            createFolders(entryPath(folder, names[i]));
    for (UInt32 i = 0; i < archive.count(); ++i) {
        if (archive.isDirectory(i))
            continue;
        const Byte* data = nullptr;
        size_t size = 0;
        result = archive.extract(i, data, size);
        if (result != SZ_OK)
            return mapDecoderResult(result);
        const std::wstring path = entryPath(folder, names[i]);
        size_t slash = path.find_last_of(L'\\');
        if (slash != std::wstring::npos)
            createFolders(path.substr(0, slash));
        if (!writeWholeFile(path, data, size))
            return ExtractFileError;
    }
    return ExtractSuccess;
}

// --- Core package ---------------------------------------------------------------

bool hasCorePackage(const std::wstring& folder)
{
    return GetFileAttributesW(entryPath(folder, L"VELA\\TessalineCore.dat").c_str()) != INVALID_FILE_ATTRIBUTES &&
           GetFileAttributesW(entryPath(folder, L"VELA\\TessalineCore64.dat").c_str()) != INVALID_FILE_ATTRIBUTES;
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
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(LayoutResource), L"EXE");
    if (!info)
        throw std::runtime_error("Unable to find embedded layout file resource");
    DWORD size = SizeofResource(module, info);
    if (size == 0)
        return {};
    HGLOBAL loaded = LoadResource(module, info);
    if (!loaded)
        throw std::runtime_error("Unable to load embedded layout file resource");
    const void* data = LockResource(loaded);
    if (!data || size % 2 != 0)
        throw std::runtime_error("Unexpected contents of embedded layout file resource");
    return splitLayoutLines(static_cast<const wchar_t*>(data), size / 2);
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

void extractDrivers(const std::wstring& folder, const std::wstring& targetText)
{
    fs::path target(targetText);
    std::error_code error;
    if (target.is_relative())
        target = fs::absolute(target, error);
    const fs::path source = fs::path(entryPath(folder, L"VELA"));

    for (const std::wstring& name : driverFolderNames()) {
        const fs::path destination = target / name;
        if (!fs::exists(destination, error)) {
            fs::create_directories(destination, error);
            if (error)
                throw std::runtime_error("Failed to create directory " + toNarrow(destination.wstring()));
        }
        if (!fs::is_directory(destination, error))
            throw std::runtime_error(toNarrow(destination.wstring()) + "is not directory.");
        for (fs::directory_iterator it(source, error), end; !error && it != end; it.increment(error)) {
            if (!it->is_regular_file(error) || it->path().filename() == L"DPInst.xml")
                continue;
            const fs::path copy = destination / it->path().filename();
            // CopyFileW: libstdc++'s copy_file reports "File exists" for new targets under mingw.
            if (!CopyFileW(it->path().c_str(), copy.c_str(), FALSE))
                throw std::runtime_error("Failed to copy file " + toNarrow(it->path().wstring()) + " to " +
                                         toNarrow(copy.wstring()));
        }
    }
}

}}} // namespace ts::app::setupInstall
