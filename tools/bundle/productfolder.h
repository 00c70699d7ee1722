// A product folder as the product team hands it over, checked and turned into the
// resources of a Setup bundle.
#pragma once
#include "tools/bundle/peimage.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ts { namespace bundle {

// Every problem of the folder, one line each ("<file>: <what is wrong>"), in a fixed order.
std::vector<std::string> checkProductFolder(const std::filesystem::path& folder);

// "<id>=<text>" lines; "#" lines and empty lines are skipped. Problems go to `problems`
// naming `file`.
struct StringEntry {
    unsigned id;
    std::u16string text;
};
std::vector<StringEntry> readStringFile(const std::filesystem::path& file, unsigned firstId, unsigned lastId,
                                        std::vector<std::string>& problems);

// A string table block of 16 strings starting at `firstId`.
std::vector<uint8_t> stringBlock(const std::vector<StringEntry>& entries, unsigned firstId);
// The layout text as Setup reads it: UTF-16LE with a byte-order mark and CR LF line ends.
std::vector<uint8_t> layoutResource(const std::string& utf8);
// "a.b.c.d" (or "a, b, c, d") with parts 0-65535; false when it does not parse.
bool parseVersion(const std::string& text, uint64_t& out);
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" as the 16 bytes of a GUID in memory.
bool parseGuid(const std::string& text, uint8_t out[16]);
// A language identifier of a messages.<lang>.txt file name.
bool parseLanguage(const std::string& text, uint16_t& out);

// The 59-byte extended-properties record of properties.txt; problems name the file.
std::vector<uint8_t> propertiesRecord(const std::filesystem::path& file, std::vector<std::string>& problems);

// The resources a bundle adds to the stub, apart from the payload archive, which the
// caller adds as ("EXE", 4). Call only for a folder without problems.
std::vector<Resource> productResources(const std::filesystem::path& folder);

// The payload archive's resource.
Resource payloadResource(std::vector<uint8_t> archive);

// UTF-8 to UTF-16; false on malformed input.
bool utf8ToUtf16(const std::string& in, std::u16string& out);

}} // namespace ts::bundle
