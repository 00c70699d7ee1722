#include "tools/bundle/productfolder.h"

#include "app/setup/driverlayout.h"
#include "sys/libutils/osnames.h"
#include "tools/bundle/digest.h"
#include "tools/bundle/signer.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace ts { namespace bundle {

namespace {

constexpr unsigned kStringsFirst = 0, kStringsLast = 15, kMessagesFirst = 32, kMessagesLast = 37;
const char* const kRequiredFiles[] = {"strings.txt", "layout.txt", "ProductInstaller32.exe",
                                      "ProductInstaller64.exe"};
// Optional files and their "EXE" resource numbers.
const std::pair<const char*, uint16_t> kOptionalFiles[] = {
    {"CoreInstaller32.exe", 5}, {"CoreInstaller64.exe", 6}, {"branding.dat", 7}, {"banner.dat", 8}};

std::string display(const fs::path& path)
{
    return path.generic_u8string();
}

// "<file>:<line>: ", as compilers name a line, so that editors jump to it.
std::string at(const fs::path& file, size_t index)
{
    return display(file) + ":" + std::to_string(index + 1) + ": ";
}

bool readText(const fs::path& file, std::string& out)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    if (out.compare(0, 3, "\xEF\xBB\xBF") == 0)
        out.erase(0, 3);
    return true;
}

std::vector<uint8_t> readBytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw BundleError(display(file) + ": cannot be read");
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        out.push_back(line);
    }
    return out;
}

bool parseNumber(const std::string& text, unsigned long max, unsigned long& out)
{
    if (text.empty() || text.size() > 10 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    out = std::stoul(text);
    return out <= max;
}

std::string trim(const std::string& text)
{
    size_t a = text.find_first_not_of(" \t"), b = text.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : text.substr(a, b - a + 1);
}

std::vector<fs::path> messageFiles(const fs::path& folder)
{
    std::vector<fs::path> out;
    std::error_code error;
    for (auto& entry : fs::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().u8string();
        if (name.size() > 13 && name.compare(0, 9, "messages.") == 0 && name.compare(name.size() - 4, 4, ".txt") == 0)
            out.push_back(entry.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string languageOf(const fs::path& messages)
{
    std::string name = messages.filename().u8string();
    return name.substr(9, name.size() - 13);
}

// UTF-8 to the wide text the layout parser reads (UTF-16 code units, also where
// wchar_t is wider); false on malformed input.
bool widen(const std::string& utf8, std::wstring& out)
{
    std::u16string units;
    if (!utf8ToUtf16(utf8, units))
        return false;
    out.assign(units.begin(), units.end());
    return true;
}

std::string narrow(const std::wstring& units)
{
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t cp = static_cast<uint32_t>(units[i]) & 0xFFFF;
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size()) {
            uint32_t low = static_cast<uint32_t>(units[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        appendUtf8(out, cp);
    }
    return out;
}

// A path of the layout, relative to the folder Setup unpacks the payload to, as a path
// below payload/; false when it would lead out of it.
bool payloadPath(const fs::path& payload, const std::wstring& layoutPath, fs::path& out)
{
    std::string text = narrow(layoutPath);
    std::replace(text.begin(), text.end(), '\\', '/');
    fs::path relative = fs::u8path(text);
    if (text.empty() || relative.has_root_path() || text.find(':') != std::string::npos)
        return false;
    for (const fs::path& part : relative)
        if (part == "..")
            return false;
    out = payload / relative;
    return true;
}

struct Platform {
    int32_t value;
    const char* name;
};
const Platform kPlatforms[] = {{0, "x86"}, {1, "x64"}};

// What the layout asks of the payload: its driver folders and driver installer programs.
struct LayoutNeeds {
    std::vector<std::wstring> driverFolders;
    std::vector<std::wstring> installers;
};

size_t editDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// Why Setup's parser takes nothing from a line meant as a DRIVER or DPINST line (its
// first word is one of them but for case or a letter or two); empty when it is not one
// or parses.
std::string layoutLineFault(const std::wstring& line)
{
    std::string text = narrow(line);
    size_t start = text.find_first_not_of(" \t");
    std::string word = text.substr(start == std::string::npos ? text.size() : start);
    word = word.substr(0, word.find_first_of(" \t"));
    std::string upper = word;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; });
    const char* keyword = editDistance(upper, "DRIVER") <= 2 ? "DRIVER" : editDistance(upper, "DPINST") <= 2 ? "DPINST" : nullptr;
    if (!keyword)
        return {};
    const bool driver = std::strcmp(keyword, "DRIVER") == 0;
    for (int32_t platform : {0, 1})
        for (int os = static_cast<int>(sys::OsVersion::older); os <= static_cast<int>(sys::OsVersion::win10_1); ++os) {
            app::setupInstall::DriverLayout parsed = app::setupInstall::parseDriverLayout({line}, platform, os);
            if (driver ? !parsed.drivers.empty() : parsed.installer.valid)
                return {};
        }
    if (text.find('\t') != std::string::npos)
        return "a tab separates nothing (Setup splits a line at spaces only)";
    if (word != keyword)
        return "\"" + word + "\" is not a keyword (DRIVER or DPINST, in capitals)";
    std::vector<std::wstring> tokens = app::setupInstall::layoutTokens(line);
    if (tokens.size() != (driver ? 5u : 3u))
        return driver ? "not DRIVER \"<description>\" <platform> <Windows> \"<folder>\" (5 fields; quotes must close)"
                      : "not DPINST <platform> <program> (3 fields)";
    const std::wstring& platform = tokens[driver ? 2 : 1];
    if (sys::architectureFromName(platform) == sys::Architecture::unknown)
        return "platform \"" + narrow(platform) + "\" is neither x86 nor x64";
    return "Windows \"" + narrow(tokens[3]) +
           "\" is none of * 2k xp vista server2008 win7 server2008R2 mps win8 win8_1 win10";
}

// Reads layout.txt with Setup's own parser, for every platform and every Windows release
// Setup tells apart, and reports a platform without a driver installer or a driver, and
// lines meant as entries that Setup would ignore.
LayoutNeeds checkLayout(const fs::path& file, std::vector<std::string>& problems)
{
    LayoutNeeds needs;
    std::string text;
    if (!readText(file, text))
        return needs;
    // Setup splits the text into its non-empty lines.
    std::vector<std::wstring> all;
    std::vector<std::string> textLines = lines(text);
    for (size_t n = 0; n < textLines.size(); ++n) {
        std::wstring wide;
        if (!widen(textLines[n], wide)) {
            problems.push_back(at(file, n) + "text is not UTF-8");
            return needs;
        }
        if (wide.empty())
            continue;
        all.push_back(wide);
        std::string fault = layoutLineFault(wide);
        if (!fault.empty())
            problems.push_back(at(file, n) + fault + ": " + textLines[n]);
    }
    auto addOnce = [](std::vector<std::wstring>& list, const std::wstring& item) {
        if (std::find(list.begin(), list.end(), item) == list.end())
            list.push_back(item);
    };
    for (const Platform& platform : kPlatforms) {
        bool hasDriver = false;
        app::setupInstall::DriverLayout layout;
        for (int os = static_cast<int>(sys::OsVersion::older); os <= static_cast<int>(sys::OsVersion::win10_1); ++os) {
            layout = app::setupInstall::parseDriverLayout(all, platform.value, os);
            for (const app::setupInstall::DriverEntry& entry : layout.drivers) {
                hasDriver = true;
                addOnce(needs.driverFolders, entry.folder);
            }
        }
        if (layout.installer.valid)
            addOnce(needs.installers, layout.installer.path);
        else
            problems.push_back(display(file) + ": no valid DPINST line for " + platform.name);
        if (!hasDriver)
            problems.push_back(display(file) + ": no DRIVER line for " + platform.name);
    }
    return needs;
}

bool isCatalog(const fs::path& file)
{
    std::string extension = file.extension().u8string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return extension == ".cat";
}

// The files of a driver folder as Setup looks for its catalogs: in it and down to 10
// levels of subfolders, in name order; `catalogs` selects the "*.cat" files or the others.
std::vector<fs::path> filesOf(const fs::path& folder, bool catalogs)
{
    std::vector<fs::path> out;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it.depth() > 10)
            it.disable_recursion_pending();
        else if (it->is_regular_file(error) && isCatalog(it->path()) == catalogs)
            out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// A file that must be signed by the maker, or for the driver installer program also by
// Microsoft, who signs DpInst.exe.
struct SignedFile {
    fs::path path;
    bool microsoftToo = false;
};

const char* const kCorePackages[] = {"TessalineCore.dat", "TessalineCore64.dat"};

// Windows installs a driver package only when every file matches its catalog: each file
// of the folder (but the catalogs, and the Core packages in VELA, which Setup takes
// out itself) must have its hash among the members of the folder's catalogs.
void checkCatalogMembers(const fs::path& folder, const std::vector<fs::path>& catalogs, std::vector<std::string>& problems)
{
    std::set<Digest> members;
    for (const fs::path& catalog : catalogs)
        for (Digest& d : catalogDigests(catalog))
            members.insert(std::move(d));
    bool sha1 = std::any_of(members.begin(), members.end(), [](const Digest& d) { return d.size() == 20; });
    bool sha256 = std::any_of(members.begin(), members.end(), [](const Digest& d) { return d.size() == 32; });
    for (const fs::path& file : filesOf(folder, false)) {
        bool corePackage = folder.filename() == "VELA" && file.parent_path() == folder &&
                           std::any_of(std::begin(kCorePackages), std::end(kCorePackages),
                                       [&](const char* name) { return file.filename() == name; });
        bool listed = corePackage;
        for (DigestKind kind : {DigestKind::sha1, DigestKind::sha256}) {
            if (listed || !(kind == DigestKind::sha1 ? sha1 : sha256))
                continue;
            listed = members.count(fileDigest(file, kind)) || members.count(peImageDigest(file, kind));
        }
        if (!listed)
            problems.push_back(display(file) + ": is not in the driver folder's catalog (made before this file changed, "
                                               "or without it: make the catalog again)");
    }
}

// The payload's driver folders, catalogs and driver installer programs that the layout
// names; returns the files that must be signed.
std::vector<SignedFile> checkPayload(const fs::path& payload, const LayoutNeeds& needs, std::vector<std::string>& problems)
{
    std::vector<SignedFile> signedFiles;
    std::error_code error;
    for (const std::wstring& folder : needs.driverFolders) {
        fs::path path;
        if (!payloadPath(payload, folder, path)) {
            problems.push_back(display(payload) + ": DRIVER folder \"" + narrow(folder) + "\" of layout.txt is not in the payload");
            continue;
        }
        if (!fs::is_directory(path, error)) {
            problems.push_back(display(path) + ": DRIVER folder of layout.txt is missing");
            continue;
        }
        std::vector<fs::path> catalogs = filesOf(path, true);
        if (catalogs.empty())
            problems.push_back(display(path) + ": driver folder has no catalog (*.cat)");
        else
            checkCatalogMembers(path, catalogs, problems);
        for (const fs::path& catalog : catalogs)
            signedFiles.push_back({catalog});
    }
    for (const std::wstring& installer : needs.installers) {
        fs::path path;
        if (!payloadPath(payload, installer, path))
            problems.push_back(display(payload) + ": DPINST program \"" + narrow(installer) + "\" of layout.txt is not in the payload");
        else if (!fs::is_regular_file(path, error))
            problems.push_back(display(path) + ": DPINST program of layout.txt is missing");
        else
            signedFiles.push_back({path, true});
    }
    return signedFiles;
}

// One line for a file that Setup would refuse for its signer.
void checkSigner(const SignedFile& file, std::vector<std::string>& problems)
{
    SignerName signer = isCatalog(file.path) ? catalogSignerName(file.path) : peSignerName(file.path);
    if (signer.status == SignerName::Unsigned)
        problems.push_back(display(file.path) + ": is not signed");
    else if (signer.status == SignerName::Unreadable)
        problems.push_back(display(file.path) + ": signature cannot be read");
    else if (!isMakerName(signer.name) && !(file.microsoftToo && isMicrosoftName(signer.name)))
        problems.push_back(display(file.path) + ": is signed by \"" + signer.name + "\", not by the maker" +
                           (file.microsoftToo ? " or Microsoft" : ""));
}

} // namespace

bool utf8ToUtf16(const std::string& in, std::u16string& out)
{
    out.clear();
    for (size_t i = 0; i < in.size();) {
        unsigned char c = in[i];
        uint32_t cp;
        size_t n;
        if (c < 0x80)
            cp = c, n = 1;
        else if ((c & 0xE0) == 0xC0)
            cp = c & 0x1F, n = 2;
        else if ((c & 0xF0) == 0xE0)
            cp = c & 0x0F, n = 3;
        else if ((c & 0xF8) == 0xF0)
            cp = c & 0x07, n = 4;
        else
            return false;
        if (i + n > in.size())
            return false;
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(in[i + k]) & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (in[i + k] & 0x3F);
        }
        static const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < minimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += n;
    }
    return true;
}

std::vector<StringEntry> readStringFile(const fs::path& file, unsigned firstId, unsigned lastId,
                                        std::vector<std::string>& problems)
{
    std::vector<StringEntry> out;
    std::string text;
    if (!readText(file, text)) {
        problems.push_back(display(file) + ": cannot be read");
        return out;
    }
    std::vector<std::string> all = lines(text);
    for (size_t n = 0; n < all.size(); ++n) {
        const std::string& line = all[n];
        if (line.empty() || line[0] == '#')
            continue;
        std::string where = at(file, n);
        size_t eq = line.find('=');
        unsigned long id;
        if (eq == std::string::npos || !parseNumber(line.substr(0, eq), 0xFFFF, id)) {
            problems.push_back(where + "not \"<id>=<text>\"");
            continue;
        }
        if (id < firstId || id > lastId) {
            problems.push_back(where + "ID " + std::to_string(id) + " is outside " + std::to_string(firstId) + "-" +
                               std::to_string(lastId));
            continue;
        }
        StringEntry entry{static_cast<unsigned>(id), {}};
        if (!utf8ToUtf16(line.substr(eq + 1), entry.text)) {
            problems.push_back(where + "text is not UTF-8");
            continue;
        }
        if (std::any_of(out.begin(), out.end(), [&](const StringEntry& e) { return e.id == id; })) {
            problems.push_back(where + "ID " + std::to_string(id) + " appears twice");
            continue;
        }
        out.push_back(entry);
    }
    return out;
}

std::vector<uint8_t> stringBlock(const std::vector<StringEntry>& entries, unsigned firstId)
{
    std::vector<uint8_t> out;
    for (unsigned id = firstId; id < firstId + 16; ++id) {
        std::u16string text;
        for (const StringEntry& e : entries)
            if (e.id == id)
                text = e.text;
        out.push_back(static_cast<uint8_t>(text.size()));
        out.push_back(static_cast<uint8_t>(text.size() >> 8));
        for (char16_t c : text) {
            out.push_back(static_cast<uint8_t>(c));
            out.push_back(static_cast<uint8_t>(c >> 8));
        }
    }
    return out;
}

std::vector<uint8_t> layoutResource(const std::string& utf8)
{
    std::string text;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n')
            continue;
        if (utf8[i] == '\n')
            text += '\r';
        text += utf8[i];
    }
    std::u16string wide;
    if (!utf8ToUtf16(text, wide))
        throw BundleError("layout.txt: text is not UTF-8");
    std::vector<uint8_t> out = {0xFF, 0xFE};
    for (char16_t c : wide) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

bool parseVersion(const std::string& text, uint64_t& out)
{
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
        size_t dot = text.find('.', at), comma = text.find(", ", at);
        size_t end = std::min(dot, comma);
        parts.push_back(text.substr(at, end - at));
        if (end == std::string::npos)
            break;
        at = end + (end == comma ? 2 : 1);
    }
    if (parts.size() != 4)
        return false;
    out = 0;
    for (const std::string& part : parts) {
        unsigned long value;
        if (!parseNumber(part, 0xFFFF, value))
            return false;
        out = out << 16 | value;
    }
    return true;
}

bool parseGuid(const std::string& text, uint8_t out[16])
{
    // {8-4-4-4-12} hex digits; the first three groups are stored little-endian.
    static const int groups[] = {8, 4, 4, 4, 12};
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return false;
    std::vector<uint8_t> digits;
    size_t at = 1;
    for (int g = 0; g < 5; ++g) {
        for (int i = 0; i < groups[g]; ++i, ++at) {
            char c = text[at];
            int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (v < 0)
                return false;
            digits.push_back(static_cast<uint8_t>(v));
        }
        if (g < 4 && text[at++] != '-')
            return false;
    }
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i)
        bytes[i] = static_cast<uint8_t>(digits[2 * i] << 4 | digits[2 * i + 1]);
    const int order[] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i)
        out[i] = bytes[order[i]];
    return true;
}

bool parseLanguage(const std::string& text, uint16_t& out)
{
    unsigned long value;
    if (!parseNumber(text, 0xFFFF, value))
        return false;
    // A primary language (low 10 bits) with a sublanguage (high 6 bits); only the
    // neutral language itself has primary language 0.
    if ((value & 0x3FF) == 0 && value != 0)
        return false;
    out = static_cast<uint16_t>(value);
    return true;
}

std::vector<uint8_t> propertiesRecord(const fs::path& file, std::vector<std::string>& problems)
{
    std::string text;
    if (!readText(file, text)) {
        problems.push_back(display(file) + ": cannot be read");
        return {};
    }
    static const char* const keys[] = {"CoreVersion", "ProductVersion", "ProductId"};
    std::map<std::string, std::string> values;
    std::vector<std::string> all = lines(text);
    for (size_t n = 0; n < all.size(); ++n) {
        std::string line = trim(all[n]);
        if (line.empty() || line[0] == '#')
            continue;
        size_t eq = line.find('=');
        std::string key = trim(line.substr(0, eq));
        if (eq == std::string::npos)
            problems.push_back(at(file, n) + "not \"<key>=<value>\"");
        else if (std::none_of(std::begin(keys), std::end(keys), [&](const char* k) { return key == k; }))
            problems.push_back(at(file, n) + "unknown key \"" + key + "\" (the keys are CoreVersion, ProductVersion, ProductId)");
        else
            values[key] = trim(line.substr(eq + 1));
    }
    for (const char* key : keys)
        if (!values.count(key))
            problems.push_back(display(file) + ": " + key + "= is missing");
    uint64_t core = 0, product = 0;
    const std::string& coreText = values["CoreVersion"];
    const std::string& productText = values["ProductVersion"];
    if (!coreText.empty() && !parseVersion(coreText, core))
        problems.push_back(display(file) + ": CoreVersion \"" + coreText + "\" is not a version a.b.c.d");
    if (!productText.empty() && !parseVersion(productText, product))
        problems.push_back(display(file) + ": ProductVersion \"" + productText + "\" is not a version a.b.c.d");
    uint8_t guid[16] = {};
    auto id = values.find("ProductId");
    if (id != values.end() && !parseGuid(id->second, guid))
        problems.push_back(display(file) + ": ProductId \"" + id->second + "\" is not a GUID {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}");

    std::vector<uint8_t> out;
    auto put = [&](uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put(1, 1);
    put(product, 8);
    put(core, 8);
    put(coreText.empty() ? 0 : 1, 1);
    put(core, 8);
    put(productText.empty() ? 0 : 1, 1);
    put(product, 8);
    out.insert(out.end(), guid, guid + 16);
    put(0, 4);
    put(59, 4);
    return out;
}

std::vector<std::string> checkProductFolder(const fs::path& folder)
{
    std::vector<std::string> problems;
    std::error_code error;
    if (!fs::is_directory(folder, error))
        return {display(folder) + ": is not a folder"};
    for (const char* name : kRequiredFiles)
        if (!fs::is_regular_file(folder / name, error))
            problems.push_back(display(folder / name) + ": is missing");
    if (!fs::is_directory(folder / "payload", error) && !fs::is_regular_file(folder / "payload.7z", error))
        problems.push_back(display(folder / "payload") + ": folder is missing (or payload.7z)");
    if (!fs::exists(folder / "properties.bin", error)) {
        if (!fs::is_regular_file(folder / "properties.txt", error))
            problems.push_back(display(folder / "properties.txt") + ": is missing (or properties.bin)");
        else
            propertiesRecord(folder / "properties.txt", problems);
    }
    if (fs::is_regular_file(folder / "strings.txt", error))
        readStringFile(folder / "strings.txt", kStringsFirst, kStringsLast, problems);
    for (const fs::path& messages : messageFiles(folder)) {
        uint16_t language;
        if (!parseLanguage(languageOf(messages), language))
            problems.push_back(display(messages) + ": \"" + languageOf(messages) + "\" is not a language identifier (LANGID)");
        readStringFile(messages, kMessagesFirst, kMessagesLast, problems);
    }
    LayoutNeeds needs = checkLayout(folder / "layout.txt", problems);

    // What Setup runs or hands to Windows must be signed by the maker: the installer
    // programs, the Core packages, the driver installer programs and the catalogs.
    std::vector<SignedFile> signedFiles;
    for (const char* name : {"ProductInstaller32.exe", "ProductInstaller64.exe", "CoreInstaller32.exe", "CoreInstaller64.exe"})
        if (fs::is_regular_file(folder / name, error))
            signedFiles.push_back({folder / name});
    // A ready payload.7z is taken as it is: its contents are not looked into.
    const fs::path payload = folder / "payload";
    if (!fs::is_regular_file(folder / "payload.7z", error) && fs::is_directory(payload, error)) {
        // Staging (the layout's VELA driver) and driver extraction (the VELA folder) take
        // the Core packages from VELA; Setup's top-level Core resources do not count.
        bool needsCore = fs::is_directory(payload / "VELA", error) ||
                         std::find(needs.driverFolders.begin(), needs.driverFolders.end(), L"VELA") != needs.driverFolders.end();
        for (const char* name : kCorePackages) {
            fs::path core = payload / "VELA" / name;
            if (fs::is_regular_file(core, error))
                signedFiles.push_back({core});
            else if (needsCore)
                problems.push_back(display(core) + ": is missing: -stageDrivers and -extractAsDriver need both Core "
                                                   "packages in VELA (CoreInstaller*.exe beside the folder do not count)");
        }
        std::vector<SignedFile> more = checkPayload(payload, needs, problems);
        signedFiles.insert(signedFiles.end(), more.begin(), more.end());
    }
    for (const SignedFile& file : signedFiles)
        checkSigner(file, problems);
    return problems;
}

std::vector<Resource> productResources(const fs::path& folder)
{
    std::vector<Resource> out;
    std::vector<std::string> problems;
    auto add = [&](ResourceKey type, ResourceKey name, uint16_t language, std::vector<uint8_t> data) {
        Resource r;
        r.type = std::move(type);
        r.name = std::move(name);
        r.language = language;
        r.data = std::move(data);
        out.push_back(std::move(r));
    };
    const ResourceKey exe = ResourceKey::text("EXE");
    add(ResourceKey::number(6), ResourceKey::number(1), 0,
        stringBlock(readStringFile(folder / "strings.txt", kStringsFirst, kStringsLast, problems), 0));
    add(ResourceKey::number(10), ResourceKey::number(1), 0,
        fs::exists(folder / "properties.bin") ? readBytes(folder / "properties.bin")
                                              : propertiesRecord(folder / "properties.txt", problems));
    std::string layout;
    readText(folder / "layout.txt", layout);
    add(exe, ResourceKey::number(3), 0, layoutResource(layout));
    add(exe, ResourceKey::number(1), 0, readBytes(folder / "ProductInstaller32.exe"));
    add(exe, ResourceKey::number(2), 0, readBytes(folder / "ProductInstaller64.exe"));
    for (const fs::path& messages : messageFiles(folder)) {
        uint16_t language = 0;
        parseLanguage(languageOf(messages), language);
        add(ResourceKey::number(6), ResourceKey::number(3), language,
            stringBlock(readStringFile(messages, kMessagesFirst, kMessagesLast, problems), kMessagesFirst));
    }
    for (auto& optional : kOptionalFiles)
        if (fs::exists(folder / optional.first))
            add(exe, ResourceKey::number(optional.second), 0, readBytes(folder / optional.first));
    if (!problems.empty())
        throw BundleError(problems.front());
    return out;
}

Resource payloadResource(std::vector<uint8_t> archive)
{
    Resource r;
    r.type = ResourceKey::text("EXE");
    r.name = ResourceKey::number(4);
    r.data = std::move(archive);
    return r;
}

}} // namespace ts::bundle
