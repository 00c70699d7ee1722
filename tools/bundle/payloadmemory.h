// The memory Setup needs to unpack a payload archive, judged with Setup's own plan of
// each solid block, so that the product team hears of a payload that customers' 32-bit
// Setup could not unpack.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

namespace ts { namespace bundle {

// What Setup has in use besides the decoders, and what a 32-bit process can count on
// for all of it (2 GB of address space, with room for code, libraries and gaps).
constexpr uint64_t kSetupOwnMemory = 32ull << 20;
constexpr uint64_t kMemoryA32BitProcessCanCountOn = 1024ull << 20;

struct PayloadMemory {
    uint64_t need = 0;   // bytes Setup needs at once: the largest block's plus its own
    uint32_t block = 0;  // the block that needs the most
    bool streamed = true; // whether that block is unpacked through a window
};

// Reads the archive's header. Throws BundleError when it is not a 7z archive the
// decoder can open.
PayloadMemory payloadMemory(const std::filesystem::path& archive);
// The bundler's warning line (with its line end) when the need is more than a 32-bit
// process can count on, else an empty text.
std::string memoryWarning(const PayloadMemory& memory);

}} // namespace ts::bundle
