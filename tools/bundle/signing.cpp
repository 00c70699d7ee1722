#include "tools/bundle/signing.h"

#include "tools/bundle/digest.h"
#include "tools/bundle/peimage.h"
#include "tools/bundle/process.h"
#include "tools/bundle/signer.h"

#include <cstdlib>

namespace fs = std::filesystem;

namespace ts { namespace bundle {

namespace {

std::string osslsigncode()
{
    const char* value = std::getenv("TS_OSSLSIGNCODE");
    return value && *value ? value : "osslsigncode";
}

// One osslsigncode run; `timestamp` empty for none.
void sign(const Signing& signing, const fs::path& in, const fs::path& out, const std::string& timestamp)
{
    std::error_code ignored;
    fs::remove(out, ignored);
    std::vector<std::string> args = {osslsigncode(), "sign"};
    args.insert(args.end(), signing.key.begin(), signing.key.end());
    if (!timestamp.empty())
        args.insert(args.end(), {"-ts", timestamp});
    args.insert(args.end(), {"-h", "sha256", "-in", in.u8string(), "-out", out.u8string()});
    try {
        runTool(args, out.parent_path());
    } catch (const BundleError&) {
        fs::remove(out, ignored);
        throw;
    }
}

std::string joined(const std::vector<std::string>& items, const char* separator)
{
    std::string out;
    for (const std::string& item : items)
        out += (out.empty() ? "" : separator) + item;
    return out;
}

} // namespace

void signFile(const Signing& signing, const fs::path& in, const fs::path& out)
{
    std::error_code ignored;
    if (!signing.command.empty()) {
        fs::remove(out, ignored);
        fs::copy_file(in, out);
        std::string command = signing.command;
        for (size_t at; (at = command.find("{file}")) != std::string::npos;)
            command.replace(at, 6, shellQuoted(out));
        int code = runShell(command);
        if (code != 0) {
            fs::remove(out, ignored);
            throw BundleError("the signing command failed with exit code " + std::to_string(code));
        }
        return;
    }
    if (signing.timestamps.empty())
        return sign(signing, in, out, {});
    // Time-stamp servers fail now and then: each gets a second try before the next.
    for (const std::string& server : signing.timestamps)
        for (int attempt = 0; attempt < 2; ++attempt)
            try {
                return sign(signing, in, out, server);
            } catch (const BundleError&) {
            }
    throw BundleError("no time-stamp server answered (each tried twice): " + joined(signing.timestamps, ", "));
}

std::vector<std::string> trySigning(const Signing& signing, const fs::path& sample, const fs::path& scratch)
{
    std::vector<std::string> problems;
    if (!signing.command.empty()) {
        if (signing.command.find("{file}") == std::string::npos)
            problems.push_back("--sign-command: \"" + signing.command + "\" has no {file} for the bundle to sign");
        return problems;
    }
    const std::string files = joined(signing.keyFiles, ", ");
    TemporaryFile trial{scratch};
    try {
        sign(signing, sample, scratch, {});
    } catch (const BundleError& e) {
        return {files + ": does not sign (" + e.what() + "): a wrong password, or not a certificate and its key"};
    }
    SignerName signer = peSignerName(scratch);
    if (signer.status == SignerName::Signed && !isMakerName(signer.name))
        problems.push_back(files + ": signs as \"" + signer.name +
                           "\", not as the maker (\"TESSALINE\" or \"TESSALINE (TEST CERTIFICATE)\"): Setup would refuse "
                           "the bundle (exit code 1790)");
    if (!signing.timestamps.empty()) {
        try {
            signFile(signing, sample, scratch);
        } catch (const BundleError& e) {
            problems.push_back(std::string("--timestamp: ") + e.what());
        }
    }
    return problems;
}

std::string signatureProblem(const fs::path& file)
{
    SignerName signer = peSignerName(file);
    if (signer.status == SignerName::Unsigned)
        return "is not signed";
    if (signer.status == SignerName::Unreadable)
        return "its signature cannot be read";
    if (!isMakerName(signer.name))
        return "is signed by \"" + signer.name + "\", not by the maker";
    if (!peSignatureVerifies(file))
        return "its signature does not verify with its certificate's key";
    Digest signedDigest = peSignedDigest(file);
    if (signedDigest.size() != 20 && signedDigest.size() != 32)
        return "its signature names no SHA-1 or SHA-256 digest of it";
    if (peImageDigest(file, signedDigest.size() == 20 ? DigestKind::sha1 : DigestKind::sha256) != signedDigest)
        return "its signature does not match it (changed after signing, or another file's signature)";
    return {};
}

}} // namespace ts::bundle
