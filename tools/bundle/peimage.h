// The resources of a 32-bit PE file, read and rewritten without any Windows API, so that
// the bundler behaves the same on the Linux build host and on Windows.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ts { namespace bundle {

// A file the bundler cannot work with; the text names what is wrong.
struct BundleError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A resource type or name: a number, or a string (stored upper case, as Windows does).
struct ResourceKey {
    uint16_t id = 0;
    std::u16string name; // empty: the key is `id`

    static ResourceKey number(uint16_t id);
    static ResourceKey text(const std::string& ascii);
    bool operator==(const ResourceKey& other) const { return id == other.id && name == other.name; }
    bool operator<(const ResourceKey& other) const; // the order of a resource directory
};

struct Resource {
    ResourceKey type;
    ResourceKey name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::vector<uint8_t> data;
};

// Adds `resource`, replacing one of the same type, name and language.
void putResource(std::vector<Resource>& resources, Resource resource);

class PeImage {
public:
    // Throws BundleError when `bytes` is not a 32-bit PE file this class can rewrite.
    explicit PeImage(std::vector<uint8_t> bytes);

    std::vector<Resource> resources() const;
    // Replaces the resource section with one holding exactly `resources`. The sections
    // behind it (relocations, discardable sections) and the COFF symbol table move up.
    void setResources(const std::vector<Resource>& resources);
    void setTimestamp(uint32_t seconds);
    // Names another symbol file in the debug link (.gnu_debuglink: name, padding to four
    // bytes, the symbol file's CRC-32, which stays). False without a debug link or when
    // the name does not fit in its section's file space.
    bool setDebugLink(const std::string& fileName);
    // The optional header's checksum, as the image loader of Windows computes it.
    void updateChecksum();
    uint32_t checksum() const;
    static uint32_t computeChecksum(const std::vector<uint8_t>& bytes, size_t checksumOffset);

    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    struct Section {
        size_t header; // offset of its section header
        std::string name;
        uint32_t virtualSize, virtualAddress, rawSize, rawPointer, characteristics;
    };
    void parse();
    const Section* sectionOf(uint32_t rva) const;
    size_t offsetOf(uint32_t rva, uint32_t size) const;
    uint32_t u32(size_t at) const;
    uint16_t u16(size_t at) const;
    void put32(size_t at, uint32_t value);

    std::vector<uint8_t> bytes_;
    size_t coff_ = 0, optional_ = 0, sectionTable_ = 0;
    uint32_t sectionAlignment_ = 0, fileAlignment_ = 0, directoryCount_ = 0;
    std::vector<Section> sections_;
};

// The bytes of a resource section at `rva` holding `resources`.
std::vector<uint8_t> buildResourceSection(const std::vector<Resource>& resources, uint32_t rva);

}} // namespace ts::bundle
