// tsbundle: turns a product folder into a Setup bundle, on the Linux build host and on
// Windows alike. See usage() below.
#include "tools/bundle/payloadmemory.h"
#include "tools/bundle/peimage.h"
#include "tools/bundle/productfolder.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include "sys/libutils/win32/debuglocation.h"
#include "sys/libutils/win32/library.h"
#include "sys/libutils/win32/process.h"
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
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
    "       tsbundle --check <product-folder>\n"
    "       tsbundle --add-resources <exe> (<type> <id> <language> <file>)...\n"
    "\n"
    "Checks the product folder, packs payload/ with 7-Zip (LZMA2 with a 32 MB dictionary,\n"
    "solid blocks of at most 64 MB; a payload.7z in the folder goes in as it is), writes the\n"
    "product's resources into a copy of the Setup stub and signs it. Warns when unpacking\n"
    "the payload needs more memory at once than a 32-bit Setup can count on.\n"
    "Every problem of the folder is reported, one line each; nothing is written then.\n"
    "\n"
    "options:\n"
    "  -o <file>                    the bundle to write\n"
    "  --stub <Setup.exe>           the unsigned Setup stub (default: ../unsigned/Setup.exe\n"
    "                               beside this program's folder)\n"
    "  --sign <chain.pem> <key.pem> sign with this certificate chain and key\n"
    "  --sign-pkcs12 <file.p12>     sign with this PKCS#12 file\n"
    "  --pass <password>            its password\n"
    "  --timestamp <url>            time-stamp server for the signature\n"
    "  (without a signing option the bundle stays unsigned)\n"
    "  --allow-problems             report the folder's problems but bundle it anyway (test\n"
    "                               bundles of a broken product, which Setup must refuse)\n"
    "\n"
    "--add-resources adds or replaces resources of an unsigned executable; <type> is a\n"
    "number (6 string table, 10 RCDATA) or a name (\"EXE\"), <language> a decimal LANGID.\n"
    "\n"
    "Environment: TS_7Z (7-Zip program, default 7zz; 7z on Windows), TS_OSSLSIGNCODE\n"
    "(default osslsigncode), SOURCE_DATE_EPOCH (the bundle's PE time stamp, default 0).\n"
    "Exit codes: 0 built, 1 the folder has problems, 2 bad usage or a tool failed.\n";

struct Options {
    fs::path folder, output, stub;
    std::vector<std::string> sign; // arguments for osslsigncode
    bool allowProblems = false;
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

// Runs `args` in `directory` and waits; throws when it does not start or fails. The
// host's child writes no standard output (errors still reach standard error).
void run(const std::vector<std::string>& args, const fs::path& directory)
{
    fs::path previous = fs::current_path();
    fs::current_path(directory);
#ifdef _WIN32
    std::wstring line;
    for (const std::string& arg : args) {
        std::u16string wide;
        utf8ToUtf16(arg, wide);
        std::wstring quoted = L"\"";
        for (char16_t c : wide) {
            if (c == u'"')
                quoted += L'\\';
            quoted += static_cast<wchar_t>(c);
        }
        line += (line.empty() ? L"" : L" ") + quoted + L"\"";
    }
    DWORD code = 0;
    bool started = ts::sys::win32::runProcess(line, code);
    fs::current_path(previous);
    if (!started)
        throw BundleError(args[0] + " did not start (error " + std::to_string(code) + ")");
    int status = static_cast<int>(code);
#else
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    fs::current_path(previous);
    if (spawned != 0)
        throw BundleError(args[0] + " did not start");
    int wait;
    if (waitpid(pid, &wait, 0) != pid)
        throw BundleError(args[0] + " was lost");
    int status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
#endif
    if (status != 0)
        throw BundleError(args[0] + " failed with exit code " + std::to_string(status));
}

// Removes a file on every way out unless released.
struct TemporaryFile {
    fs::path path;
    ~TemporaryFile()
    {
        std::error_code ignored;
        if (!path.empty())
            fs::remove(path, ignored);
    }
};

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

// Setup unpacks a block through a window of the dictionary's size (the block's when
// smaller): 32 MB keeps its memory small whatever the file sizes, and packs nearly as
// tightly as a dictionary of the whole 64 MB block.
const char* const kCompression = "-m0=lzma2:d=32m";

void warnAboutMemory(const fs::path& archive)
{
    std::cerr << memoryWarning(payloadMemory(archive));
}

uint32_t timestamp()
{
    std::string epoch = env("SOURCE_DATE_EPOCH", "0");
    return static_cast<uint32_t>(std::strtoul(epoch.c_str(), nullptr, 10));
}

int build(const Options& options)
{
    fs::path output = fs::absolute(options.output);
    if (!fs::is_directory(output.parent_path()))
        throw BundleError(output.parent_path().u8string() + ": folder does not exist");
    // A failed run leaves no bundle, not even the one of an earlier run.
    fs::remove(output);
    std::vector<std::string> problems = checkProductFolder(options.folder);
    for (const std::string& problem : problems)
        std::cerr << problem << "\n";
    if (!problems.empty() && !options.allowProblems)
        return kFolderProblems;

    PeImage image(readFile(options.stub));
    std::vector<Resource> resources = image.resources();
    for (Resource& r : productResources(options.folder))
        putResource(resources, std::move(r));

    TemporaryFile archive{output.parent_path() / (output.filename().u8string() + ".payload.7z")};
    TemporaryFile unsigned_{output.parent_path() / (output.filename().u8string() + ".unsigned")};
    if (fs::is_regular_file(options.folder / "payload.7z")) {
        // An archive made elsewhere goes in as it is.
        warnAboutMemory(options.folder / "payload.7z");
        putResource(resources, payloadResource(readFile(options.folder / "payload.7z")));
    } else {
        fs::remove(archive.path);
        // No times and no attributes, so that the same payload gives the same archive
        // (7-Zip orders the files by name itself).
        run({env("TS_7Z", kSevenZip), "a", "-t7z", kCompression, "-mx=7", "-ms=64m", "-mtm-", "-mtc-", "-mta-", "-mtr-",
             "-bd", "-bso0", "-bsp0", archive.path.u8string(), "."},
            options.folder / "payload");
        warnAboutMemory(archive.path);
        putResource(resources, payloadResource(readFile(archive.path)));
    }

    image.setResources(resources);
    std::vector<Resource>().swap(resources); // the payload now lives in the image only
    image.setTimestamp(timestamp());
    image.updateChecksum();
    writeFile(unsigned_.path, image.bytes());

    if (options.sign.empty()) {
        fs::rename(unsigned_.path, output);
        unsigned_.path.clear();
    } else {
        TemporaryFile signed_{output.parent_path() / (output.filename().u8string() + ".signing")};
        fs::remove(signed_.path);
        std::vector<std::string> args = {env("TS_OSSLSIGNCODE", "osslsigncode"), "sign"};
        args.insert(args.end(), options.sign.begin(), options.sign.end());
        args.insert(args.end(), {"-h", "sha256", "-in", unsigned_.path.u8string(), "-out", signed_.path.u8string()});
        run(args, output.parent_path());
        fs::rename(signed_.path, output);
        signed_.path.clear();
    }
    // The stub's symbols, found by the debug link's name beside the bundle.
    fs::path symbols = options.stub;
    symbols.replace_extension(".dbg");
    std::error_code error;
    fs::path copy = output.parent_path() / symbols.filename();
    if (fs::exists(symbols, error) && !fs::equivalent(symbols, copy, error)) {
        // Removed first: mingw's copy_file does not overwrite.
        fs::remove(copy);
        fs::copy_file(symbols, copy);
    }
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

int run(const std::vector<std::string>& args, const char* argv0)
{
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? std::cerr : std::cout) << kUsage;
        return args.empty() ? kFailed : kBuilt;
    }
    if (args[0] == "--add-resources")
        return addResources(std::vector<std::string>(args.begin() + 1, args.end()));
    if (args[0] == "--check") {
        if (args.size() != 2) {
            std::cerr << kUsage;
            return kFailed;
        }
        std::vector<std::string> problems = checkProductFolder(fs::u8path(args[1]));
        for (const std::string& problem : problems)
            std::cerr << problem << "\n";
        return problems.empty() ? kBuilt : kFolderProblems;
    }
    Options options;
    std::string pkcs12, pass, timestampUrl, chain, key;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw std::invalid_argument(a + " needs a value");
            return args[++i];
        };
        if (a == "-o")
            options.output = fs::u8path(value());
        else if (a == "--stub")
            options.stub = fs::u8path(value());
        else if (a == "--sign") {
            chain = value();
            key = value();
        } else if (a == "--sign-pkcs12")
            pkcs12 = value();
        else if (a == "--pass")
            pass = value();
        else if (a == "--timestamp")
            timestampUrl = value();
        else if (a == "--allow-problems")
            options.allowProblems = true;
        else if (!a.empty() && a[0] == '-')
            throw std::invalid_argument("unknown option " + a);
        else if (options.folder.empty())
            options.folder = fs::u8path(a);
        else
            throw std::invalid_argument("more than one product folder");
    }
    if (options.folder.empty() || options.output.empty())
        throw std::invalid_argument("a product folder and -o <Setup.exe> are needed");
    if (!chain.empty() && !pkcs12.empty())
        throw std::invalid_argument("--sign and --sign-pkcs12 exclude each other");
    if (!chain.empty())
        options.sign = {"-certs", chain, "-key", key};
    if (!pkcs12.empty()) {
        options.sign = {"-pkcs12", pkcs12};
        if (!pass.empty())
            options.sign.insert(options.sign.end(), {"-pass", pass});
    }
    if (!timestampUrl.empty()) {
        if (options.sign.empty())
            throw std::invalid_argument("--timestamp needs a signing option");
        options.sign.insert(options.sign.end(), {"-ts", timestampUrl});
    }
    if (options.stub.empty())
        options.stub = defaultStub(argv0);
    return build(options);
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
