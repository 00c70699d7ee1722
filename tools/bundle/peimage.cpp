#include "tools/bundle/peimage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

namespace ts { namespace bundle {

namespace {

// Offsets inside the COFF file header and the PE32 optional header.
constexpr size_t kCoffSections = 2, kCoffTimestamp = 4, kCoffSymbols = 8, kCoffSymbolCount = 12,
                 kCoffOptionalSize = 16;
constexpr size_t kOptSectionAlignment = 32, kOptFileAlignment = 36, kOptInitializedData = 8,
                 kOptImageSize = 56, kOptHeadersSize = 60, kOptChecksum = 64, kOptDirectoryCount = 92,
                 kOptDirectories = 96;
constexpr unsigned kDirResource = 2, kDirSecurity = 4, kDirRelocations = 5;
constexpr uint32_t kScnInitializedData = 0x40, kScnDiscardable = 0x02000000, kScnRead = 0x40000000;
constexpr size_t kSectionHeaderSize = 40, kSymbolSize = 18;

constexpr uint32_t kPageSize = 4096;

uint32_t alignUp(uint64_t value, uint32_t alignment)
{
    uint64_t aligned = (value + alignment - 1) / alignment * alignment;
    if (aligned > 0xFFFFFFFFu)
        throw BundleError("the executable would exceed 4 GB");
    return static_cast<uint32_t>(aligned);
}

void append16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void append32(std::vector<uint8_t>& out, uint32_t v)
{
    append16(out, static_cast<uint16_t>(v));
    append16(out, static_cast<uint16_t>(v >> 16));
}

void set32(std::vector<uint8_t>& out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace

ResourceKey ResourceKey::number(uint16_t id)
{
    ResourceKey key;
    key.id = id;
    return key;
}

ResourceKey ResourceKey::text(const std::string& ascii)
{
    ResourceKey key;
    for (char c : ascii)
        key.name.push_back(static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    return key;
}

bool ResourceKey::operator<(const ResourceKey& other) const
{
    // Named entries come first, in code-unit order; then numbers in ascending order.
    if (name.empty() != other.name.empty())
        return !name.empty();
    return name.empty() ? id < other.id : name < other.name;
}

void putResource(std::vector<Resource>& resources, Resource resource)
{
    for (Resource& existing : resources)
        if (existing.type == resource.type && existing.name == resource.name &&
            existing.language == resource.language) {
            existing = std::move(resource);
            return;
        }
    resources.push_back(std::move(resource));
}

PeImage::PeImage(std::vector<uint8_t> bytes) : bytes_(std::move(bytes))
{
    parse();
}

uint32_t PeImage::u32(size_t at) const
{
    if (at + 4 > bytes_.size() || at + 4 < at)
        throw BundleError("the executable is truncated");
    return bytes_[at] | bytes_[at + 1] << 8 | bytes_[at + 2] << 16 | static_cast<uint32_t>(bytes_[at + 3]) << 24;
}

uint16_t PeImage::u16(size_t at) const
{
    if (at + 2 > bytes_.size() || at + 2 < at)
        throw BundleError("the executable is truncated");
    return static_cast<uint16_t>(bytes_[at] | bytes_[at + 1] << 8);
}

void PeImage::put32(size_t at, uint32_t value)
{
    set32(bytes_, at, value);
}

void PeImage::parse()
{
    if (bytes_.size() < 0x40 || bytes_[0] != 'M' || bytes_[1] != 'Z')
        throw BundleError("not an executable (no MZ header)");
    size_t pe = u32(0x3C);
    if (u32(pe) != 0x00004550)
        throw BundleError("not a PE executable");
    coff_ = pe + 4;
    optional_ = coff_ + 20;
    if (u16(optional_) != 0x10B)
        throw BundleError("not a 32-bit (PE32) executable");
    sectionAlignment_ = u32(optional_ + kOptSectionAlignment);
    fileAlignment_ = u32(optional_ + kOptFileAlignment);
    if (sectionAlignment_ == 0 || fileAlignment_ == 0)
        throw BundleError("the executable has no section alignment");
    directoryCount_ = u32(optional_ + kOptDirectoryCount);
    if (directoryCount_ <= kDirRelocations)
        throw BundleError("the executable has too few data directories");
    sectionTable_ = optional_ + u16(coff_ + kCoffOptionalSize);
    if (kOptDirectories + 8 * directoryCount_ > u16(coff_ + kCoffOptionalSize))
        throw BundleError("the optional header is too small for its data directories");
    sections_.clear();
    unsigned count = u16(coff_ + kCoffSections);
    for (unsigned i = 0; i < count; ++i) {
        size_t h = sectionTable_ + i * kSectionHeaderSize;
        u32(h + 36);
        Section s;
        s.header = h;
        s.name.assign(reinterpret_cast<const char*>(&bytes_[h]), strnlen(reinterpret_cast<const char*>(&bytes_[h]), 8));
        s.virtualSize = u32(h + 8);
        s.virtualAddress = u32(h + 12);
        s.rawSize = u32(h + 16);
        s.rawPointer = u32(h + 20);
        s.characteristics = u32(h + 36);
        if (s.rawSize && (uint64_t(s.rawPointer) + s.rawSize > bytes_.size()))
            throw BundleError("section " + s.name + " lies outside the file");
        if (i > 0 && s.virtualAddress < sections_.back().virtualAddress)
            throw BundleError("the sections are not in address order");
        sections_.push_back(s);
    }
}

const PeImage::Section* PeImage::sectionOf(uint32_t rva) const
{
    for (const Section& s : sections_)
        if (rva >= s.virtualAddress && rva - s.virtualAddress < std::max(s.virtualSize, s.rawSize))
            return &s;
    return nullptr;
}

size_t PeImage::offsetOf(uint32_t rva, uint32_t size) const
{
    const Section* s = sectionOf(rva);
    if (!s || uint64_t(rva - s->virtualAddress) + size > s->rawSize)
        throw BundleError("a resource lies outside the file's sections");
    return s->rawPointer + (rva - s->virtualAddress);
}

std::vector<Resource> PeImage::resources() const
{
    std::vector<Resource> out;
    uint32_t rootRva = u32(optional_ + kOptDirectories + 8 * kDirResource);
    if (rootRva == 0)
        return out;
    const Section* section = sectionOf(rootRva);
    if (!section)
        throw BundleError("the resource directory lies outside the file's sections");
    size_t base = offsetOf(rootRva, 16);
    size_t limit = section->rawPointer + section->rawSize;
    auto key = [&](uint32_t field) {
        ResourceKey k;
        if (!(field & 0x80000000u)) {
            k.id = static_cast<uint16_t>(field);
            return k;
        }
        size_t at = base + (field & 0x7FFFFFFFu);
        uint16_t length = at + 2 <= limit ? u16(at) : throw BundleError("a resource name lies outside its section");
        if (at + 2 + 2 * size_t(length) > limit)
            throw BundleError("a resource name lies outside its section");
        for (uint16_t i = 0; i < length; ++i)
            k.name.push_back(static_cast<char16_t>(u16(at + 2 + 2 * i)));
        return k;
    };
    // Three levels: type, name, language.
    auto entries = [&](uint32_t offset) {
        std::vector<std::pair<uint32_t, uint32_t>> list;
        size_t at = base + offset;
        if (at + 16 > limit)
            throw BundleError("a resource directory lies outside its section");
        unsigned n = u16(at + 12) + u16(at + 14);
        if (at + 16 + 8 * size_t(n) > limit)
            throw BundleError("a resource directory lies outside its section");
        for (unsigned i = 0; i < n; ++i)
            list.emplace_back(u32(at + 16 + 8 * i), u32(at + 20 + 8 * i));
        return list;
    };
    auto subdirectory = [](uint32_t target) {
        if (!(target & 0x80000000u))
            throw BundleError("the resource tree is not three levels deep");
        return target & 0x7FFFFFFFu;
    };
    for (auto& type : entries(0))
        for (auto& name : entries(subdirectory(type.second)))
            for (auto& language : entries(subdirectory(name.second))) {
                if (language.second & 0x80000000u)
                    throw BundleError("the resource tree is deeper than three levels");
                size_t entry = base + language.second;
                if (entry + 16 > limit)
                    throw BundleError("a resource entry lies outside its section");
                Resource r;
                r.type = key(type.first);
                r.name = key(name.first);
                r.language = static_cast<uint16_t>(language.first);
                uint32_t rva = u32(entry), size = u32(entry + 4);
                r.codePage = u32(entry + 8);
                size_t at = size ? offsetOf(rva, size) : 0;
                r.data.assign(bytes_.begin() + at, bytes_.begin() + at + size);
                out.push_back(std::move(r));
            }
    return out;
}

// Appends the section to `out`, whose end is the section's start. The data go straight
// into place: a payload of hundreds of megabytes is copied once, not three times.
void appendResourceSection(std::vector<uint8_t>& out, const std::vector<Resource>& resources, uint32_t rva)
{
    // type -> name -> language -> resource; the maps keep directory order.
    std::map<ResourceKey, std::map<ResourceKey, std::map<uint16_t, const Resource*>>> tree;
    for (const Resource& r : resources)
        tree[r.type][r.name][r.language] = &r;

    // Directories first (breadth first), then the names, the data entries and the data.
    size_t directories = 16 + 8 * tree.size(), names = 0, leaves = 0;
    for (auto& type : tree) {
        directories += 16 + 8 * type.second.size();
        if (!type.first.name.empty())
            names += 2 + 2 * type.first.name.size();
        for (auto& name : type.second) {
            directories += 16 + 8 * name.second.size();
            leaves += name.second.size();
            if (!name.first.name.empty())
                names += 2 + 2 * name.first.name.size();
        }
    }
    const size_t nameStart = directories;
    const size_t entryStart = (nameStart + names + 3) & ~size_t(3);
    size_t dataAt = (entryStart + 16 * leaves + 7) & ~size_t(7);

    size_t total = dataAt;
    for (const Resource& r : resources)
        total += (r.data.size() + 7) & ~size_t(7);
    const size_t base = out.size();
    out.reserve(base + total);
    size_t nextDirectory = 0, nextName = nameStart, nextEntry = entryStart;
    std::vector<uint8_t> nameBytes, entryBytes;
    std::vector<const Resource*> order;
    auto nameField = [&](const ResourceKey& key) -> uint32_t {
        if (key.name.empty())
            return key.id;
        uint32_t at = static_cast<uint32_t>(nextName);
        append16(nameBytes, static_cast<uint16_t>(key.name.size()));
        for (char16_t c : key.name)
            append16(nameBytes, static_cast<uint16_t>(c));
        nextName += 2 + 2 * key.name.size();
        return at | 0x80000000u;
    };
    auto header = [&](size_t named, size_t numbered) {
        append32(out, 0); // characteristics
        append32(out, 0); // time stamp: none, so that equal input gives equal output
        append32(out, 0); // version
        append16(out, static_cast<uint16_t>(named));
        append16(out, static_cast<uint16_t>(numbered));
    };
    auto countNamed = [](const auto& map) {
        size_t n = 0;
        for (auto& item : map)
            n += !item.first.name.empty();
        return n;
    };

    // Root.
    nextDirectory = 16 + 8 * tree.size();
    header(countNamed(tree), tree.size() - countNamed(tree));
    for (auto& type : tree) {
        append32(out, nameField(type.first));
        append32(out, static_cast<uint32_t>(nextDirectory) | 0x80000000u);
        nextDirectory += 16 + 8 * type.second.size();
    }
    // Name level.
    for (auto& type : tree) {
        header(countNamed(type.second), type.second.size() - countNamed(type.second));
        for (auto& name : type.second) {
            append32(out, nameField(name.first));
            append32(out, static_cast<uint32_t>(nextDirectory) | 0x80000000u);
            nextDirectory += 16 + 8 * name.second.size();
        }
    }
    // Language level, with the data entries and the data they point to.
    for (auto& type : tree)
        for (auto& name : type.second) {
            header(0, name.second.size());
            for (auto& language : name.second) {
                append32(out, language.first);
                append32(out, static_cast<uint32_t>(nextEntry));
                nextEntry += 16;
                const Resource& r = *language.second;
                if (dataAt + r.data.size() > 0x7FFFFFFFu)
                    throw BundleError("the resources exceed 2 GB");
                append32(entryBytes, rva + static_cast<uint32_t>(dataAt));
                append32(entryBytes, static_cast<uint32_t>(r.data.size()));
                append32(entryBytes, r.codePage);
                append32(entryBytes, 0);
                order.push_back(&r);
                dataAt += (r.data.size() + 7) & ~size_t(7);
            }
        }
    out.insert(out.end(), nameBytes.begin(), nameBytes.end());
    out.resize(base + entryStart);
    out.insert(out.end(), entryBytes.begin(), entryBytes.end());
    out.resize(base + ((out.size() - base + 7) & ~size_t(7)));
    for (const Resource* r : order) {
        out.insert(out.end(), r->data.begin(), r->data.end());
        out.resize(base + ((out.size() - base + 7) & ~size_t(7)));
    }
}

std::vector<uint8_t> buildResourceSection(const std::vector<Resource>& resources, uint32_t rva)
{
    std::vector<uint8_t> out;
    appendResourceSection(out, resources, rva);
    return out;
}

void PeImage::setResources(const std::vector<Resource>& resources)
{
    if (u32(optional_ + kOptDirectories + 8 * kDirSecurity) != 0)
        throw BundleError("the executable is signed already; resources go in before signing");

    // The resource section, or a new one behind the last section.
    size_t index = sections_.size();
    for (size_t i = 0; i < sections_.size(); ++i)
        if (sections_[i].name == ".rsrc")
            index = i;
    const bool added = index == sections_.size();
    if (added && sectionTable_ + (sections_.size() + 1) * kSectionHeaderSize > u32(optional_ + kOptHeadersSize))
        throw BundleError("the headers have no room for a resource section");

    // What follows the resource section must not be referenced from code: base
    // relocations (found through their directory) and discardable sections only.
    for (size_t i = index + 1; i < sections_.size(); ++i)
        if (sections_[i].name != ".reloc" && !(sections_[i].characteristics & kScnDiscardable))
            throw BundleError("section " + sections_[i].name + " follows the resources and cannot move");

    // The COFF symbol table and its string table sit behind the sections.
    uint32_t symbols = u32(coff_ + kCoffSymbols), symbolCount = u32(coff_ + kCoffSymbolCount);
    std::vector<uint8_t> symbolBytes;
    size_t sectionsEnd = 0;
    for (const Section& s : sections_)
        sectionsEnd = std::max<size_t>(sectionsEnd, size_t(s.rawPointer) + s.rawSize);
    size_t tailStart = sectionsEnd;
    if (symbols) {
        size_t table = size_t(symbols) + size_t(symbolCount) * kSymbolSize;
        size_t end = table + u32(table);
        if (symbols < sectionsEnd || end > bytes_.size())
            throw BundleError("the COFF symbol table lies outside the file");
        symbolBytes.assign(bytes_.begin() + symbols, bytes_.begin() + end);
        tailStart = std::max(tailStart, end);
    }
    std::vector<uint8_t> overlay(bytes_.begin() + std::min(tailStart, bytes_.size()), bytes_.end());

    uint32_t rsrcRva;
    uint32_t rsrcRaw;
    if (added) {
        const Section& last = sections_.back();
        rsrcRva = alignUp(uint64_t(last.virtualAddress) + std::max(last.virtualSize, last.rawSize), sectionAlignment_);
        rsrcRaw = alignUp(sectionsEnd, fileAlignment_);
    } else {
        rsrcRva = sections_[index].virtualAddress;
        rsrcRaw = sections_[index].rawPointer;
    }
    // Room for everything up front: growing a vector of the payload's size would copy it.
    size_t later = symbolBytes.size() + overlay.size();
    for (size_t i = index + 1; i < sections_.size(); ++i)
        later += sections_[i].rawSize;
    size_t dataSize = 0;
    for (const Resource& r : resources)
        dataSize += r.data.size() + 8;
    // Wine maps a section straight from the file only when its data starts on a page
    // boundary; otherwise every start copies the whole payload into memory. The gap
    // before it is zeros.
    const uint32_t unalignedRaw = rsrcRaw;
    rsrcRaw = alignUp(rsrcRaw, kPageSize);
    std::vector<uint8_t> out;
    out.reserve(size_t(rsrcRaw) + dataSize + 64 * 1024 + later);
    out.assign(bytes_.begin(), bytes_.begin() + std::min<size_t>(unalignedRaw, bytes_.size()));
    out.resize(rsrcRaw);
    appendResourceSection(out, resources, rsrcRva);
    const size_t rsrcSize = out.size() - rsrcRaw;
    uint32_t rsrcRawSize = alignUp(rsrcSize, fileAlignment_);
    out.resize(size_t(rsrcRaw) + rsrcRawSize);

    if (added) {
        size_t h = sectionTable_ + sections_.size() * kSectionHeaderSize;
        std::fill(out.begin() + h, out.begin() + h + kSectionHeaderSize, 0);
        std::copy_n(".rsrc", 5, out.begin() + h);
        set32(out, h + 36, kScnInitializedData | kScnRead);
        out[coff_ + kCoffSections] = static_cast<uint8_t>(sections_.size() + 1);
        out[coff_ + kCoffSections + 1] = static_cast<uint8_t>((sections_.size() + 1) >> 8);
        Section s{h, ".rsrc", 0, 0, 0, 0, kScnInitializedData | kScnRead};
        sections_.push_back(s);
    }
    Section& r = sections_[index];
    set32(out, r.header + 8, static_cast<uint32_t>(rsrcSize));
    set32(out, r.header + 12, rsrcRva);
    set32(out, r.header + 16, rsrcRawSize);
    set32(out, r.header + 20, rsrcRaw);

    // Move the later sections up, with every directory that points into one of them.
    uint32_t nextRva = alignUp(uint64_t(rsrcRva) + rsrcSize, sectionAlignment_);
    for (size_t i = index + 1; i < sections_.size(); ++i) {
        const Section& s = sections_[i];
        uint32_t raw = s.rawSize ? static_cast<uint32_t>(out.size()) : 0;
        if (s.rawSize)
            out.insert(out.end(), bytes_.begin() + s.rawPointer, bytes_.begin() + s.rawPointer + s.rawSize);
        for (uint32_t d = 0; d < directoryCount_; ++d) {
            size_t field = optional_ + kOptDirectories + 8 * d;
            uint32_t at = u32(field);
            if (d != kDirSecurity && at && at >= s.virtualAddress && at - s.virtualAddress < std::max(s.virtualSize, s.rawSize))
                set32(out, field, at - s.virtualAddress + nextRva);
        }
        set32(out, s.header + 12, nextRva);
        set32(out, s.header + 20, raw);
        nextRva = alignUp(uint64_t(nextRva) + std::max(s.virtualSize, s.rawSize), sectionAlignment_);
    }
    if (symbols) {
        set32(out, coff_ + kCoffSymbols, static_cast<uint32_t>(out.size()));
        out.insert(out.end(), symbolBytes.begin(), symbolBytes.end());
    }
    out.insert(out.end(), overlay.begin(), overlay.end());

    set32(out, optional_ + kOptDirectories + 8 * kDirResource, rsrcRva);
    set32(out, optional_ + kOptDirectories + 8 * kDirResource + 4, static_cast<uint32_t>(rsrcSize));
    set32(out, optional_ + kOptImageSize, nextRva);
    bytes_ = std::move(out);
    parse();
    uint32_t initialized = 0;
    for (const Section& s : sections_)
        if (s.characteristics & kScnInitializedData)
            initialized += s.rawSize;
    put32(optional_ + kOptInitializedData, initialized);
}

void PeImage::setTimestamp(uint32_t seconds)
{
    put32(coff_ + kCoffTimestamp, seconds);
}

bool PeImage::setDebugLink(const std::string& fileName)
{
    // A name longer than eight characters is "/<offset>" into the COFF string table,
    // which follows the symbol table.
    auto longName = [&](const std::string& name) {
        uint64_t table = uint64_t(u32(coff_ + kCoffSymbols)) + uint64_t(u32(coff_ + kCoffSymbolCount)) * 18;
        uint64_t at = table + std::strtoul(name.c_str() + 1, nullptr, 10);
        if (name.size() < 2 || name[0] != '/' || table == 0 || at >= bytes_.size())
            return name;
        const char* text = reinterpret_cast<const char*>(&bytes_[at]);
        return std::string(text, strnlen(text, bytes_.size() - at));
    };
    for (Section& s : sections_) {
        if (longName(s.name) != ".gnu_debuglink" || s.virtualSize < 8 || s.virtualSize > s.rawSize)
            continue;
        uint32_t crc = u32(s.rawPointer + s.virtualSize - 4);
        uint32_t size = static_cast<uint32_t>((fileName.size() + 1 + 3) / 4 * 4 + 4);
        // Within its file space and its page, so that no other section moves.
        if (size > s.rawSize || size > sectionAlignment_)
            return false;
        std::fill(bytes_.begin() + s.rawPointer, bytes_.begin() + s.rawPointer + s.rawSize, 0);
        std::copy(fileName.begin(), fileName.end(), bytes_.begin() + s.rawPointer);
        put32(s.rawPointer + size - 4, crc);
        s.virtualSize = size;
        put32(s.header + 8, size);
        return true;
    }
    return false;
}

uint32_t PeImage::computeChecksum(const std::vector<uint8_t>& bytes, size_t checksumOffset)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        if (i >= checksumOffset && i < checksumOffset + 4)
            continue;
        uint32_t word = bytes[i] | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + bytes.size());
}

void PeImage::updateChecksum()
{
    put32(optional_ + kOptChecksum, computeChecksum(bytes_, optional_ + kOptChecksum));
}

uint32_t PeImage::checksum() const
{
    return u32(optional_ + kOptChecksum);
}

}} // namespace ts::bundle
