#include "app/setup/blockstream.h"

extern "C" {
#include <7zAlloc.h>
#include <7zCrc.h>
#include <Bra.h>
#include <CpuArch.h>
#include <Delta.h>
#include <Lzma2Dec.h>
#include <LzmaDec.h>
}

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace ts { namespace app { namespace setupInstall {

namespace {

// Method IDs of the 7z format.
const UInt32 kCopy = 0, kLzma2 = 0x21, kLzma = 0x30101;
const UInt32 kDelta = 3, kArm64 = 0xA, kRiscv = 0xB, kX86 = 0x3030103, kPpc = 0x3030205, kIa64 = 0x3030401,
             kArm = 0x3030501, kArmThumb = 0x3030701, kSparc = 0x3030805;

const ISzAlloc kAlloc = {SzAlloc, SzFree};
// As much input as the SDK's own decoders look at in one step.
const size_t kLookAhead = 1 << 18;
// Filtered data is converted in a buffer of its own: the dictionary must stay as decoded.
const size_t kFilterBuffer = 1 << 20;

bool isMainMethod(UInt32 method)
{
    return method == kCopy || method == kLzma || method == kLzma2;
}

// The parsed coders of a block and where its packed stream lies.
struct Folder {
    CSzFolder coders;
    const Byte* properties = nullptr;
    UInt64 unpackSize = 0;
    UInt64 packOffset = 0;
    UInt64 packSize = 0;

    const CSzCoderInfo& main() const { return coders.Coders[0]; }
    const Byte* mainProperties() const { return properties + main().PropsOffset; }
    bool filtered() const { return coders.NumCoders == 2; }
    const CSzCoderInfo& filter() const { return coders.Coders[1]; }
};

// The properties a filter accepts, as the SDK's whole-block decoder checks them.
bool isStreamableFilter(const CSzCoderInfo& filter, const Byte* properties)
{
    switch (filter.MethodID) {
    case kDelta: return filter.PropsSize == 1;
    case kArm64:
    case kRiscv:
        if (filter.PropsSize == 0)
            return true;
        return filter.PropsSize == 4 && (GetUi32(properties) & (filter.MethodID == kArm64 ? 3 : 1)) == 0;
    case kX86:
    case kPpc:
    case kIa64:
    case kArm:
    case kArmThumb:
    case kSparc: return filter.PropsSize == 0;
    default: return false;
    }
}

// True when block `block` is one main coder, optionally followed by one filter.
bool readStreamableFolder(const CSzArEx& db, UInt32 block, Folder& out)
{
    const CSzAr& ar = db.db;
    if (block >= ar.NumFolders)
        return false;
    CSzData data;
    data.Data = ar.CodersData + ar.FoCodersOffsets[block];
    data.Size = ar.FoCodersOffsets[block + 1] - ar.FoCodersOffsets[block];
    out.properties = data.Data;
    if (SzGetNextFolderItem(&out.coders, &data) != SZ_OK || data.Size != 0 ||
        out.coders.UnpackStream != ar.FoToMainUnpackSizeIndex[block])
        return false;
    const CSzFolder& f = out.coders;
    if (f.NumPackStreams != 1 || f.PackStreams[0] != 0 || f.Coders[0].NumStreams != 1 ||
        !isMainMethod(f.Coders[0].MethodID))
        return false;
    if (f.NumCoders == 2) {
        if (f.Coders[1].NumStreams != 1 || f.NumBonds != 1 || f.Bonds[0].InIndex != 1 || f.Bonds[0].OutIndex != 0 ||
            !isStreamableFilter(f.Coders[1], out.properties + f.Coders[1].PropsOffset))
            return false;
    } else if (f.NumCoders != 1 || f.NumBonds != 0) {
        return false;
    }
    const UInt32 pack = ar.FoStartPackStreamIndex[block];
    out.unpackSize = SzAr_GetFolderUnpackSize(&ar, block);
    out.packOffset = ar.PackPositions[pack];
    out.packSize = ar.PackPositions[pack + 1] - out.packOffset;
    return true;
}

// The main coder's dictionary and the size of its probability tables; false for
// properties the decoder would refuse.
bool decoderNeeds(const Folder& folder, UInt64& dictionary, UInt64& state)
{
    const CSzCoderInfo& coder = folder.main();
    const Byte* properties = folder.mainProperties();
    dictionary = 0;
    state = 0;
    if (coder.MethodID == kCopy)
        return coder.PropsSize == 0;
    unsigned literalBits;
    if (coder.MethodID == kLzma2) {
        if (coder.PropsSize != 1 || properties[0] > 40)
            return false;
        const unsigned p = properties[0];
        dictionary = p == 40 ? 0xFFFFFFFFu : UInt64(2 | (p & 1)) << (p / 2 + 11);
        literalBits = 4; // lc + lp of LZMA2 at most
    } else {
        CLzmaProps props;
        if (LzmaProps_Decode(&props, properties, coder.PropsSize) != SZ_OK)
            return false;
        dictionary = props.dicSize;
        literalBits = props.lc + props.lp;
    }
    state = (1984 + (UInt64(0x300) << literalBits)) * sizeof(CLzmaProb);
    return true;
}

// The filter after the main coder, applied in a buffer of its own; bytes a converter
// leaves for lack of look-ahead wait for the next piece, and pass as they are at the end.
class FilterStage {
public:
    FilterStage(const Folder& folder, const BlockSink& sink) : m_sink(sink)
    {
        if (!folder.filtered())
            return;
        const CSzCoderInfo& filter = folder.filter();
        const Byte* properties = folder.properties + filter.PropsOffset;
        m_method = filter.MethodID;
        if (m_method == kDelta)
            m_distance = properties[0] + 1u;
        else if (filter.PropsSize == 4)
            m_pc = GetUi32(properties);
        Delta_Init(m_delta);
        m_buffer.reset(new (std::nothrow) Byte[kFilterBuffer]);
        m_active = true;
    }

    bool ready() const { return !m_active || m_buffer; }

    SRes put(const Byte* data, size_t size)
    {
        if (!m_active)
            return m_sink(data, size);
        while (size > 0) {
            const size_t n = std::min(size, kFilterBuffer - m_filled);
            memcpy(m_buffer.get() + m_filled, data, n);
            m_filled += n;
            data += n;
            size -= n;
            if (m_filled == kFilterBuffer) {
                const size_t done = convert(m_buffer.get(), m_filled);
                if (SRes result = m_sink(m_buffer.get(), done))
                    return result;
                memmove(m_buffer.get(), m_buffer.get() + done, m_filled - done);
                m_filled -= done;
            }
        }
        return SZ_OK;
    }

    SRes finish()
    {
        if (!m_active || m_filled == 0)
            return SZ_OK;
        convert(m_buffer.get(), m_filled);
        const size_t size = m_filled;
        m_filled = 0;
        return m_sink(m_buffer.get(), size);
    }

private:
    // Converts in place; returns how many leading bytes are final.
    size_t convert(Byte* data, size_t size)
    {
        Byte* end = data + size;
        switch (m_method) {
        case kDelta: Delta_Decode(m_delta, m_distance, data, size); break;
        case kX86: end = z7_BranchConvSt_X86_Dec(data, size, m_pc, &m_x86); break;
        case kArm64: end = z7_BranchConv_ARM64_Dec(data, size, m_pc); break;
        case kRiscv: end = z7_BranchConv_RISCV_Dec(data, size, m_pc); break;
        case kPpc: end = z7_BranchConv_PPC_Dec(data, size, m_pc); break;
        case kIa64: end = z7_BranchConv_IA64_Dec(data, size, m_pc); break;
        case kArm: end = z7_BranchConv_ARM_Dec(data, size, m_pc); break;
        case kArmThumb: end = z7_BranchConv_ARMT_Dec(data, size, m_pc); break;
        case kSparc: end = z7_BranchConv_SPARC_Dec(data, size, m_pc); break;
        }
        const size_t done = static_cast<size_t>(end - data);
        m_pc += static_cast<UInt32>(done);
        return done;
    }

    const BlockSink& m_sink;
    bool m_active = false;
    UInt32 m_method = 0;
    UInt32 m_pc = 0;
    UInt32 m_x86 = Z7_BRANCH_CONV_ST_X86_STATE_INIT_VAL;
    unsigned m_distance = 1;
    Byte m_delta[DELTA_STATE_SIZE];
    std::unique_ptr<Byte[]> m_buffer;
    size_t m_filled = 0;
};

SRes copyStream(ILookInStreamPtr input, UInt64 size, FilterStage& out)
{
    while (size > 0) {
        const void* data = nullptr;
        size_t look = static_cast<size_t>(std::min<UInt64>(kLookAhead, size));
        if (SRes result = ILookInStream_Look(input, &data, &look))
            return result;
        if (look == 0)
            return SZ_ERROR_INPUT_EOF;
        if (SRes result = out.put(static_cast<const Byte*>(data), look))
            return result;
        size -= look;
        if (SRes result = ILookInStream_Skip(input, look))
            return result;
    }
    return SZ_OK;
}

// The SDK's LZMA and LZMA2 decoding loop, with the dictionary as a ring of `window`
// bytes whose new bytes go to `out` after every step.
SRes lzmaStream(const Folder& folder, ILookInStreamPtr input, Byte* window, size_t windowSize, FilterStage& out)
{
    const bool lzma2 = folder.main().MethodID == kLzma2;
    CLzma2Dec state;
    Lzma2Dec_CONSTRUCT(&state);
    CLzmaDec& decoder = state.decoder;
    SRes result = lzma2 ? Lzma2Dec_AllocateProbs(&state, folder.mainProperties()[0], &kAlloc)
                        : LzmaDec_AllocateProbs(&decoder, folder.mainProperties(), folder.main().PropsSize, &kAlloc);
    if (result != SZ_OK)
        return result;
    decoder.dic = window;
    decoder.dicBufSize = windowSize;
    if (lzma2)
        Lzma2Dec_Init(&state);
    else
        LzmaDec_Init(&decoder);

    UInt64 inLeft = folder.packSize;
    UInt64 outLeft = folder.unpackSize;
    for (;;) {
        if (decoder.dicPos == windowSize)
            decoder.dicPos = 0;
        const SizeT start = decoder.dicPos;
        const SizeT room = static_cast<SizeT>(std::min<UInt64>(windowSize - start, outLeft));
        const ELzmaFinishMode finish = room == outLeft ? LZMA_FINISH_END : LZMA_FINISH_ANY;
        const void* data = nullptr;
        size_t look = static_cast<size_t>(std::min<UInt64>(kLookAhead, inLeft));
        if ((result = ILookInStream_Look(input, &data, &look)) != SZ_OK)
            break;
        SizeT used = look;
        ELzmaStatus status;
        const Byte* in = static_cast<const Byte*>(data);
        result = lzma2 ? Lzma2Dec_DecodeToDic(&state, start + room, in, &used, finish, &status)
                       : LzmaDec_DecodeToDic(&decoder, start + room, in, &used, finish, &status);
        inLeft -= used;
        const SizeT made = decoder.dicPos - start;
        outLeft -= made;
        if (result != SZ_OK)
            break;
        if (made > 0 && (result = out.put(window + start, made)) != SZ_OK)
            break;
        if ((result = ILookInStream_Skip(input, used)) != SZ_OK)
            break;
        if (status == LZMA_STATUS_FINISHED_WITH_MARK) {
            result = outLeft == 0 && inLeft == 0 ? SZ_OK : SZ_ERROR_DATA;
            break;
        }
        if (!lzma2 && outLeft == 0 && inLeft == 0 && status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK)
            break;
        if (used == 0 && made == 0) {
            result = SZ_ERROR_DATA;
            break;
        }
    }
    LzmaDec_FreeProbs(&decoder, &kAlloc);
    return result;
}

} // namespace

BlockPlan planBlock(const CSzArEx& db, UInt32 block)
{
    BlockPlan plan;
    Folder folder;
    UInt64 dictionary = 0, state = 0;
    if (readStreamableFolder(db, block, folder) && decoderNeeds(folder, dictionary, state)) {
        plan.streamed = true;
        plan.window = std::max<UInt64>(1, std::min(dictionary, folder.unpackSize));
        if (folder.main().MethodID == kCopy)
            plan.window = 1;
        plan.memory = plan.window + state + (folder.filtered() ? kFilterBuffer : 0);
        return plan;
    }
    // The whole block, and the coders' own outputs beside it (the BCJ2 structure).
    if (block < db.db.NumFolders) {
        plan.window = SzAr_GetFolderUnpackSize(&db.db, block);
        plan.memory = 0;
        for (UInt32 i = db.db.FoToCoderUnpackSizes[block]; i < db.db.FoToCoderUnpackSizes[block + 1]; ++i)
            plan.memory += db.db.CoderUnpackSizes[i];
        plan.memory = std::max(plan.memory, plan.window);
    }
    return plan;
}

SRes decodeBlock(const CSzArEx& db, ILookInStreamPtr input, UInt32 block, const BlockPlan& plan, Byte* buffer,
                 const BlockSink& sink)
{
    if (!plan.streamed) {
        const size_t size = static_cast<size_t>(plan.window);
        if (SRes result = SzAr_DecodeFolder(&db.db, block, input, db.dataPos, buffer, size, &kAlloc))
            return result;
        return sink(buffer, size);
    }
    Folder folder;
    if (!readStreamableFolder(db, block, folder))
        return SZ_ERROR_UNSUPPORTED;
    if (SRes result = LookInStream_SeekTo(input, db.dataPos + folder.packOffset))
        return result;

    const bool checked = SzBitWithVals_Check(&db.db.FolderCRCs, block);
    UInt32 crc = CRC_INIT_VAL;
    const BlockSink counted = [&](const Byte* data, size_t size) {
        if (checked)
            crc = CrcUpdate(crc, data, size);
        return sink(data, size);
    };
    FilterStage out(folder, counted);
    if (!out.ready())
        return SZ_ERROR_MEM;
    SRes result = SZ_OK;
    if (folder.main().MethodID == kCopy)
        result = folder.packSize == folder.unpackSize ? copyStream(input, folder.packSize, out) : SZ_ERROR_DATA;
    else
        result = lzmaStream(folder, input, buffer, static_cast<size_t>(plan.window), out);
    if (result == SZ_OK)
        result = out.finish();
    if (result == SZ_OK && checked && CRC_GET_DIGEST(crc) != db.db.FolderCRCs.Vals[block])
        result = SZ_ERROR_CRC;
    return result;
}

}}} // namespace ts::app::setupInstall
