// tsbundle: turns a product folder into a Setup bundle, on the Linux build host and on
// Windows alike. See kUsage below.
#include "tools/bundle/digest.h"
#include "tools/bundle/payloadmemory.h"
#include "tools/bundle/peimage.h"
#include "tools/bundle/process.h"
#include "tools/bundle/productfolder.h"
#include "tools/bundle/signer.h"
#include "tools/bundle/signing.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include "sys/libutils/win32/debuglocation.h"
#include "sys/libutils/win32/library.h"
#endif

namespace fs = std::filesystem;
using namespace ts::bundle;

namespace {

constexpr int kBuilt = 0, kFolderProblems = 1, kFailed = 2;
#ifdef _WIN32
const char* const kSevenZip = "7z"; // 7-Zip's console program on Windows
#else
const char* const kSevenZip = "7zz";
#endif

const char* const kUsage =
    "usage: tsbundle <product-folder> -o <Setup.exe> [options]\n"
    "       tsbundle <product-folder> --check [signing options]\n"
    "       tsbundle --sign-only <bundle.unsigned> -o <Setup.exe> <signing options>\n"
    "       tsbundle init <new-product-folder>\n"
    "       tsbundle --add-resources <exe> (<type> <id> <language> <file>)...\n"
    "\n"
    "Checks the product folder and the signing, packs payload/ with 7-Zip (LZMA2 with a\n"
    "32 MB dictionary, solid blocks of at most 64 MB; a payload.7z in the folder goes in as\n"
    "it is), writes the product's resources into a copy of the Setup stub and signs it.\n"
    "Warns when unpacking the payload needs more memory at once than a 32-bit Setup can\n"
    "count on. Every problem is reported, one line each, before anything is packed;\n"
    "nothing is written then.\n"
    "Options may come in any order.\n"
    "\n"
    "options:\n"
    "  -o <file>                    the bundle to write (its folder is created)\n"
    "  --check                      only check the folder (and the signing options given)\n"
    "  --stub <Setup.exe>           the unsigned Setup stub (default: ../unsigned/Setup.exe\n"
    "                               beside this program's folder)\n"
    "  --sign <chain.pem> <key.pem> sign with this certificate chain and key\n"
    "  --sign-pkcs12 <file.p12>     sign with this PKCS#12 file\n"
    "  --pass <password>            its password\n"
    "  --sign-command \"<command>\"  sign with the team's own signer: the command, run by the\n"
    "                               shell, signs the file {file} stands for in place\n"
    "  --timestamp <url>            time-stamp server (may repeat: each is tried twice, in order)\n"
    "  (without a signing option the bundle stays unsigned; a failed signing keeps the\n"
    "  unsigned bundle as <Setup.exe>.unsigned for --sign-only)\n"
    "  --allow-problems             report the folder's problems but bundle it anyway (test\n"
    "                               bundles of a broken product, which Setup must refuse)\n"
    "\n"
    "init writes a small product folder with comments; add the installers, the driver\n"
    "package and its catalog, then --check it. --add-resources adds or replaces resources\n"
    "of an unsigned executable; <type> is a number (6 string table, 10 RCDATA) or a name\n"
    "(\"EXE\"), <language> a decimal LANGID. docs/PRODUCT-FOLDER.md describes the folder.\n"
    "\n"
    "Environment: TS_7Z (7-Zip program, default 7zz; 7z on Windows), TS_OSSLSIGNCODE\n"
    "(default osslsigncode), SOURCE_DATE_EPOCH (the bundle's PE time stamp, default 0).\n"
    "Exit codes: 0 built (or checked), 1 the folder or the signing has problems, 2 bad\n"
    "usage or a tool failed.\n";

struct Options {
    fs::path folder, output, stub;
    fs::path signOnly; // a kept unsigned bundle to sign again
    Signing signing;
    bool check = false, allowProblems = false;
};

std::string env(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::vector<uint8_t> readFile(const fs::path& path)
{
    // In one read into a buffer of the file's size: the payload archive is large.
    std::ifstream in(path, std::ios::binary);
    std::error_code error;
    uintmax_t size = fs::file_size(path, error);
    if (!in || error)
        throw BundleError(path.u8string() + ": cannot be read");
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<uintmax_t>(in.gcount()) != size)
        throw BundleError(path.u8string() + ": cannot be read");
    return bytes;
}

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw BundleError(path.u8string() + ": cannot be written");
}

fs::path defaultStub(const char* argv0)
{
    std::error_code error;
#ifdef _WIN32
    (void)argv0;
    fs::path self = ts::sys::executablePath();
#else
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error)
        self = fs::canonical(argv0, error);
#endif
    return self.parent_path().parent_path() / "unsigned" / "Setup.exe";
}

uint32_t timestamp()
{
    std::string epoch = env("SOURCE_DATE_EPOCH", "0");
    return static_cast<uint32_t>(std::strtoul(epoch.c_str(), nullptr, 10));
}

// Setup unpacks a block through a window of the dictionary's size (the block's when
// smaller): 32 MB keeps its memory small whatever the file sizes, and packs nearly as
// tightly as a dictionary of the whole 64 MB block.
const char* const kCompression = "-m0=lzma2:d=32m";

void warnAboutMemory(const fs::path& archive)
{
    std::cerr << memoryWarning(payloadMemory(archive));
}

// One line per phase, on standard output; problems and errors go to standard error.
void phase(const std::string& text)
{
    std::cout << "tsbundle: " << text << std::endl;
}

void report(const std::vector<std::string>& problems)
{
    for (const std::string& problem : problems)
        std::cerr << problem << "\n";
}

// The payload archive in the folder of `archive`. On a terminal 7-Zip draws its own
// percentage; elsewhere (CI logs) it stays quiet.
void packPayload(const fs::path& payload, const fs::path& archive)
{
    const bool progress = outputIsTerminal();
    // No times and no attributes, so that the same payload gives the same archive
    // (7-Zip orders the files by name itself). No branch filter either: 7-Zip put the
    // programs through one, in a block of their own, in some runs and not in others.
    runTool({env("TS_7Z", kSevenZip), "a", "-t7z", kCompression, "-mx=7", "-ms=64m", "-mf=off", "-mtm-", "-mtc-",
             "-mta-", "-mtr-",
             progress ? "-bsp1" : "-bd", "-bso0", progress ? "-bse2" : "-bsp0", archive.u8string(), "."},
            payload, progress, ": is 7-Zip installed? TS_7Z names its program");
}

uint64_t payloadSize(const PeImage& image)
{
    for (const Resource& r : image.resources())
        if (r.type == ResourceKey::text("EXE") && r.name == ResourceKey::number(4))
            return r.data.size();
    return 0;
}

// Signs `unsigned_` into `output` and checks the result. On failure the unsigned bundle
// stays, so that signing can be tried again without packing.
void signBundle(const Options& options, TemporaryFile& unsigned_, const fs::path& output)
{
    phase(options.signing.command.empty() ? "sign: osslsigncode" : "sign: " + options.signing.command);
    TemporaryFile signed_{output.parent_path() / (output.filename().u8string() + ".signing")};
    std::string failure;
    try {
        signFile(options.signing, unsigned_.path, signed_.path);
        std::string problem = signatureProblem(signed_.path);
        if (!problem.empty())
            failure = "the signed bundle " + problem;
    } catch (const BundleError& e) {
        failure = e.what();
    }
    if (!failure.empty()) {
        std::string kept = unsigned_.path.u8string();
        unsigned_.path.clear();
        throw BundleError(failure + "\ntsbundle: the unsigned bundle stays as " + kept +
                          "; sign it again without packing: tsbundle --sign-only " + kept + " -o " +
                          output.u8string() + " <signing options>");
    }
    fs::rename(signed_.path, output);
    signed_.path.clear();
}

// The stub's symbols beside the bundle, named after it, and the bundle's debug link
// naming them; false when the stub has none.
bool placeSymbols(const fs::path& stub, PeImage& image, const fs::path& output)
{
    fs::path symbols = stub;
    symbols.replace_extension(".dbg");
    std::error_code error;
    if (!fs::exists(symbols, error))
        return false;
    fs::path copy = output;
    copy.replace_extension(".dbg");
    // A name too long for the link keeps the stub's.
    if (!image.setDebugLink(copy.filename().u8string()))
        copy = output.parent_path() / symbols.filename();
    if (!fs::equivalent(symbols, copy, error)) {
        // Removed first: mingw's copy_file does not overwrite.
        fs::remove(copy);
        fs::copy_file(symbols, copy);
    }
    return true;
}

void summary(const fs::path& output, uint64_t payload)
{
    SignerName signer = peSignerName(output);
    std::cout << "tsbundle: built " << output.u8string() << ": " << fs::file_size(output) << " bytes, payload "
              << payload << " bytes, "
              << (signer.status == SignerName::Signed ? "signed by \"" + signer.name + "\"" : std::string("unsigned"))
              << ", SHA-256 " << hex(fileDigest(output, DigestKind::sha256)) << std::endl;
}

int build(const Options& options)
{
    fs::path output = fs::absolute(options.output);
    fs::create_directories(output.parent_path());
    // A failed run leaves no bundle, not even the one of an earlier run.
    fs::remove(output);
    TemporaryFile unsigned_{output.parent_path() / (output.filename().u8string() + ".unsigned")};
    uint64_t payload = 0;
    if (!options.signOnly.empty()) {
        payload = payloadSize(PeImage(readFile(options.signOnly)));
        std::error_code error;
        if (!fs::equivalent(options.signOnly, unsigned_.path, error)) {
            fs::remove(unsigned_.path);
            fs::copy_file(options.signOnly, unsigned_.path);
        }
    } else {
        if (!fs::is_regular_file(options.stub))
            throw BundleError(options.stub.u8string() + ": the Setup stub is missing (--stub names it)");
        phase("check: " + options.folder.u8string());
        std::vector<std::string> problems = checkProductFolder(options.folder);
        if (options.signing.any()) {
            std::vector<std::string> more =
                trySigning(options.signing, options.stub, output.parent_path() / (output.filename().u8string() + ".trial"));
            problems.insert(problems.end(), more.begin(), more.end());
        }
        report(problems);
        if (!problems.empty() && !options.allowProblems)
            return kFolderProblems;

        PeImage image(readFile(options.stub));
        std::vector<Resource> resources = image.resources();
        for (Resource& r : productResources(options.folder))
            putResource(resources, std::move(r));
        TemporaryFile archive{output.parent_path() / (output.filename().u8string() + ".payload.7z")};
        fs::path ready = options.folder / "payload.7z";
        // An archive made elsewhere goes in as it is.
        if (!fs::is_regular_file(ready)) {
            phase("pack: " + (options.folder / "payload").u8string() + " with 7-Zip");
            fs::remove(archive.path);
            packPayload(options.folder / "payload", archive.path);
            ready = archive.path;
        }
        warnAboutMemory(ready);
        Resource archiveResource = payloadResource(readFile(ready));
        payload = archiveResource.data.size();
        putResource(resources, std::move(archiveResource));
        phase("resources: " + std::to_string(resources.size()) + " into a copy of " + options.stub.u8string());
        image.setResources(resources);
        std::vector<Resource>().swap(resources); // the payload now lives in the image only
        placeSymbols(options.stub, image, output);
        image.setTimestamp(timestamp());
        image.updateChecksum();
        writeFile(unsigned_.path, image.bytes());
    }
    if (options.signing.any()) {
        signBundle(options, unsigned_, output);
    } else {
        fs::rename(unsigned_.path, output);
        unsigned_.path.clear();
    }
    summary(output, payload);
    return kBuilt;
}

ResourceKey resourceKey(const std::string& text)
{
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos && text.size() < 6 &&
        std::stoul(text) <= 0xFFFF)
        return ResourceKey::number(static_cast<uint16_t>(std::stoul(text)));
    return ResourceKey::text(text);
}

int addResources(const std::vector<std::string>& args)
{
    if (args.size() < 5 || (args.size() - 1) % 4 != 0) {
        std::cerr << kUsage;
        return kFailed;
    }
    fs::path exe = fs::u8path(args[0]);
    PeImage image(readFile(exe));
    std::vector<Resource> resources = image.resources();
    for (size_t i = 1; i < args.size(); i += 4) {
        Resource r;
        r.type = resourceKey(args[i]);
        r.name = resourceKey(args[i + 1]);
        uint16_t language;
        if (!parseLanguage(args[i + 2], language))
            throw BundleError(args[i + 2] + " is not a language identifier");
        r.language = language;
        r.data = readFile(fs::u8path(args[i + 3]));
        putResource(resources, std::move(r));
    }
    image.setResources(resources);
    image.updateChecksum();
    TemporaryFile temporary{exe.u8string() + ".partial"};
    writeFile(temporary.path, image.bytes());
    fs::rename(temporary.path, exe);
    temporary.path.clear();
    return kBuilt;
}

const char* const kInitStrings =
    "# Product strings: one \"<id>=<text>\" a line, IDs 0-15, UTF-8 (docs/PRODUCT-FOLDER.md).\n"
    "# 0: the product name, in messages and window titles; its part before a backslash\n"
    "#    names the product's key under HKLM\\SOFTWARE\\Tessaline\\Products.\n"
    "0=New Product\n"
    "# 1: the product identifier sent to the post-install page (productId=).\n"
    "1=newproduct\n"
    "# 2: the branding upgrade code handed to the Core installer.\n"
    "2=\n"
    "# 4: \"Yes\" suppresses the licence dialogs.\n"
    "4=No\n"
    "# 5: \"Yes\" lets the Core installer's system check run; anything else skips it.\n"
    "5=Yes\n"
    "# 6: \"Yes\" opens the post-install page after an interactive install.\n"
    "6=No\n"
    "# 7: the Core installer's new-device activity.\n"
    "7=Default\n"
    "# 8: scheme and host of the post-install page (empty: https://www.tessaline.com).\n"
    "8=\n";

const char* const kInitLayout =
    "REM The driver installer program for each platform, relative to the payload.\r\n"
    "DPINST x64 DPINST64\\DpInst.exe\r\n"
    "DPINST x86 DPINST32\\DpInst.exe\r\n"
    "REM DRIVER \"description\" platform Windows \"folder\": Windows is * or one of 2k xp vista\r\n"
    "REM server2008 win7 server2008R2 mps win8 win8_1 win10; fields are split at spaces.\r\n"
    "DRIVER \"Tessaline Device\" x64 * \"VELA\"\r\n"
    "DRIVER \"Tessaline Device\" x86 * \"VELA\"\r\n";

const char* const kInitReadme =
    "A product folder for tsbundle (docs/PRODUCT-FOLDER.md). Before it bundles, add:\n"
    "  ProductInstaller32.exe, ProductInstaller64.exe    the product's installers, signed\n"
    "  payload/VELA/TessalineCore.dat, TessalineCore64.dat  the Core installers, signed\n"
    "  payload/VELA/...                                   the driver package (INF and files)\n"
    "  payload/VELA/<name>.cat                            its signed catalog, made last\n"
    "  payload/DPINST32/DpInst.exe, payload/DPINST64/DpInst.exe  the driver installers\n"
    "then: tsbundle <this folder> --check\n";

// A new product folder with comments; nothing existing is overwritten.
int init(const fs::path& folder)
{
    std::error_code error;
    if (fs::exists(folder, error) && !fs::is_empty(folder, error))
        throw BundleError(folder.u8string() + ": exists and is not empty");
    for (const char* sub : {"payload/VELA", "payload/DPINST32", "payload/DPINST64"})
        fs::create_directories(folder / sub);
    auto write = [&](const char* name, const std::string& text) {
        writeFile(folder / name, std::vector<uint8_t>(text.begin(), text.end()));
    };
    std::random_device random;
    char guid[40];
    std::snprintf(guid, sizeof guid, "{%08X-%04X-%04X-%04X-%04X%08X}", random(), random() & 0xFFFF,
                  (random() & 0x0FFF) | 0x4000, (random() & 0x3FFF) | 0x8000, random() & 0xFFFF, random());
    write("strings.txt", kInitStrings);
    write("layout.txt", kInitLayout);
    write("properties.txt", std::string("# The versions Setup compares with the installed Core software and product.\n"
                                        "CoreVersion=7.9.1488.0\nProductVersion=1.0.0.0\n"
                                        "# The product's own identifier, a GUID.\nProductId=") +
                                guid + "\n");
    write("messages.1033.txt", "# User messages in English (LANGID 1033), IDs 32-37; %1 is the product name.\n"
                               "33=%1 software is already up to date\n");
    write("README.txt", kInitReadme);
    phase("init: " + folder.u8string() + ": add the installers and the driver package (README.txt)");
    return kBuilt;
}

// A unique scratch file's path in the temporary folder, for a signing trial.
fs::path scratchFile()
{
    std::random_device random;
    return fs::temp_directory_path() / ("tsbundle-" + std::to_string(random()) + std::to_string(random()) + ".exe");
}

int checkOnly(const Options& options)
{
    std::vector<std::string> problems = checkProductFolder(options.folder);
    if (options.signing.any()) {
        std::vector<std::string> more = trySigning(options.signing, options.stub, scratchFile());
        problems.insert(problems.end(), more.begin(), more.end());
    }
    report(problems);
    if (problems.empty())
        phase("check: " + options.folder.u8string() + ": no problems");
    return problems.empty() ? kBuilt : kFolderProblems;
}

// Options in any order; relative paths are taken against the current folder, where
// the user typed them.
Options parseOptions(const std::vector<std::string>& args, const char* argv0)
{
    Options options;
    std::string pkcs12, pass, chain, key;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw std::invalid_argument(a + " needs a value");
            return args[++i];
        };
        auto file = [&]() { return fs::absolute(fs::u8path(value())).u8string(); };
        if (a == "-o")
            options.output = fs::u8path(value());
        else if (a == "--stub")
            options.stub = fs::u8path(value());
        else if (a == "--check")
            options.check = true;
        else if (a == "--sign-only")
            options.signOnly = fs::absolute(fs::u8path(value()));
        else if (a == "--sign") {
            chain = file();
            key = file();
        } else if (a == "--sign-pkcs12")
            pkcs12 = file();
        else if (a == "--pass")
            pass = value();
        else if (a == "--sign-command")
            options.signing.command = value();
        else if (a == "--timestamp")
            options.signing.timestamps.push_back(value());
        else if (a == "--allow-problems")
            options.allowProblems = true;
        else if (!a.empty() && a[0] == '-')
            throw std::invalid_argument("unknown option " + a);
        else if (options.folder.empty())
            options.folder = fs::u8path(a);
        else
            throw std::invalid_argument("more than one product folder");
    }
    Signing& signing = options.signing;
    if (!chain.empty() + !pkcs12.empty() + !signing.command.empty() > 1)
        throw std::invalid_argument("--sign, --sign-pkcs12 and --sign-command exclude each other");
    if (!chain.empty()) {
        signing.key = {"-certs", chain, "-key", key};
        signing.keyFiles = {chain, key};
    }
    if (!pkcs12.empty()) {
        signing.key = {"-pkcs12", pkcs12};
        signing.keyFiles = {pkcs12};
        if (!pass.empty())
            signing.key.insert(signing.key.end(), {"-pass", pass});
    }
    if (!signing.timestamps.empty() && signing.key.empty())
        throw std::invalid_argument(signing.command.empty() ? "--timestamp needs --sign or --sign-pkcs12"
                                                            : "--sign-command time-stamps itself: put the server into it");
    if (!options.signOnly.empty()) {
        if (!options.folder.empty() || options.check || options.output.empty() || !signing.any())
            throw std::invalid_argument("--sign-only takes a kept unsigned bundle, -o and a signing option");
    } else if (options.folder.empty() || (options.output.empty() && !options.check)) {
        throw std::invalid_argument("a product folder and -o <Setup.exe> (or --check) are needed");
    }
    if (options.stub.empty())
        options.stub = defaultStub(argv0);
    return options;
}

int run(const std::vector<std::string>& args, const char* argv0)
{
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? std::cerr : std::cout) << kUsage;
        return args.empty() ? kFailed : kBuilt;
    }
    if (args[0] == "--add-resources")
        return addResources(std::vector<std::string>(args.begin() + 1, args.end()));
    if (args[0] == "init") {
        if (args.size() != 2)
            throw std::invalid_argument("init takes one new folder");
        return init(fs::u8path(args[1]));
    }
    Options options = parseOptions(args, argv0);
    return options.check ? checkOnly(options) : build(options);
}

int guarded(const std::vector<std::string>& args, const char* argv0)
{
    try {
        return run(args, argv0);
    } catch (const std::invalid_argument& e) {
        std::cerr << "tsbundle: " << e.what() << "\n" << kUsage;
    } catch (const std::exception& e) {
        std::cerr << "tsbundle: " << e.what() << "\n";
    }
    return kFailed;
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv)
{
    // The bundler may run elevated from a folder others can write to.
    ts::sys::win32::restrictDllSearch();
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(fs::path(argv[i]).u8string());
    return guarded(args, fs::path(argv[0]).u8string().c_str());
}
#else
int main(int argc, char** argv)
{
    return guarded(std::vector<std::string>(argv + 1, argv + argc), argv[0]);
}
#endif
