#include "tools/bundle/payloadmemory.h"

#include "app/setup/blockstream.h"
#include "tools/bundle/peimage.h"

extern "C" {
#include <7zAlloc.h>
#include <7zCrc.h>
#include <7zFile.h>
}

#include <memory>
#include <string>

namespace ts { namespace bundle {

namespace {

const ISzAlloc kAlloc = {SzAlloc, SzFree};
const size_t kInputBufferSize = 1 << 16;

// The archive file, its streams and database, released in reverse.
struct OpenArchive {
    CFileInStream file;
    CLookToRead2 look;
    std::unique_ptr<Byte[]> buffer{new Byte[kInputBufferSize]};
    CSzArEx db;

    OpenArchive()
    {
        File_Construct(&file.file);
        SzArEx_Init(&db);
    }
    ~OpenArchive()
    {
        SzArEx_Free(&db, &kAlloc);
        File_Close(&file.file);
    }
};

} // namespace

PayloadMemory payloadMemory(const std::filesystem::path& archive)
{
    OpenArchive open;
#ifdef _WIN32
    const WRes opened = InFile_OpenW(&open.file.file, archive.wstring().c_str());
#else
    const WRes opened = InFile_Open(&open.file.file, archive.c_str());
#endif
    if (opened != 0)
        throw BundleError(archive.u8string() + ": cannot be read");
    FileInStream_CreateVTable(&open.file);
    LookToRead2_CreateVTable(&open.look, False);
    open.look.buf = open.buffer.get();
    open.look.bufSize = kInputBufferSize;
    open.look.realStream = &open.file.vt;
    LookToRead2_INIT(&open.look);
    CrcGenerateTable();
    if (SzArEx_Open(&open.db, &open.look.vt, &kAlloc, &kAlloc) != SZ_OK)
        throw BundleError(archive.u8string() + ": not a 7z archive that Setup can open");

    PayloadMemory memory;
    uint64_t largest = 0;
    for (UInt32 block = 0; block < open.db.db.NumFolders; ++block) {
        const app::setupInstall::BlockPlan plan = app::setupInstall::planBlock(open.db, block);
        if (plan.memory > largest) {
            largest = plan.memory;
            memory.block = block;
            memory.streamed = plan.streamed;
        }
    }
    memory.need = largest + kSetupOwnMemory;
    return memory;
}

std::string memoryWarning(const PayloadMemory& memory)
{
    if (memory.need <= kMemoryA32BitProcessCanCountOn)
        return "";
    return "tsbundle: warning: unpacking the payload needs " + std::to_string(memory.need >> 20) +
           " MB at once (solid block " + std::to_string(memory.block) + (memory.streamed ? "" : ", decoded whole") +
           "), more than the " + std::to_string(kMemoryA32BitProcessCanCountOn >> 20) +
           " MB a 32-bit Setup can count on\n";
}

}} // namespace ts::bundle
