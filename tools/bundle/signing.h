// Signing the bundle: with a key file through osslsigncode, or with the product team's
// own signer (a hardware token, signtool and the certificate store, a cloud signing
// service's client) through a command; and checking that the result is the maker's.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace ts { namespace bundle {

struct Signing {
    std::vector<std::string> key;        // osslsigncode's options naming the key
    std::vector<std::string> keyFiles;   // the files they name, for problem lines
    std::string command;                 // the team's signer; "{file}" stands for the file
    std::vector<std::string> timestamps; // time-stamp servers, in the order to try them

    bool any() const { return !key.empty() || !command.empty(); }
};

// Signs `in` into `out`. With a key, each time-stamp server is tried twice, in order,
// until one answers; the command signs a copy of `in` at `out` in place. Throws
// BundleError with what failed; `out` is then removed.
void signFile(const Signing& signing, const std::filesystem::path& in, const std::filesystem::path& out);

// What is wrong with the signing set-up, found by signing `sample` into `scratch` before
// anything is packed: a key, certificate or password that does not sign, time-stamp
// servers that do not answer, a certificate that is not the maker's. The command is not
// tried (it may ask for a token's PIN or cost a signature): only its "{file}".
std::vector<std::string> trySigning(const Signing& signing, const std::filesystem::path& sample,
                                    const std::filesystem::path& scratch);

// Empty when `file` carries a signature by the maker's name that verifies with its
// certificate's key and signs the file's own Authenticode hash; else what is wrong.
// Whether the certificate chains to a trusted root is Windows' check on the customer's
// machine.
std::string signatureProblem(const std::filesystem::path& file);

}} // namespace ts::bundle
