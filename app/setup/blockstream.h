// One solid block of a 7z archive unpacked in pieces through the LZMA SDK's own decoders,
// so that memory follows the decoder's dictionary rather than the size of the files.
#pragma once
extern "C" {
#include <7z.h>
}

#include <cstdint>
#include <functional>

namespace ts { namespace app { namespace setupInstall {

// Takes the unpacked bytes of a block in order; SZ_OK goes on, any other result stops
// the decoding with that result.
using BlockSink = std::function<SRes(const Byte* data, size_t size)>;

// What unpacking one block takes.
struct BlockPlan {
    // Through a window of the dictionary's size (the block's when smaller); otherwise the
    // whole block is decoded into one buffer first.
    bool streamed = false;
    // Bytes of the caller's buffer: the window, or the whole block.
    uint64_t window = 0;
    // All the memory the block needs at once: the buffer and the decoder's own state.
    uint64_t memory = 0;
};

// The plan of block `block`. The structures of one LZMA, LZMA2 or stored stream, with
// at most one branch or delta filter after it, are streamed; any other structure, and a
// malformed one, is left to the whole-block decoder, which reports what it refuses.
BlockPlan planBlock(const CSzArEx& db, UInt32 block);

// Unpacks block `block` into `sink` through `buffer` (at least plan.window bytes) and
// checks the block's own CRC when it has one. Returns the first error of the decoder,
// the input or the sink; SZ_ERROR_MEM when the decoder's state cannot be allocated.
SRes decodeBlock(const CSzArEx& db, ILookInStreamPtr input, UInt32 block, const BlockPlan& plan, Byte* buffer,
                 const BlockSink& sink);

}}} // namespace ts::app::setupInstall
