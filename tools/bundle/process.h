// The programs the bundler runs: 7-Zip, osslsigncode and the product team's own signer.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace ts { namespace bundle {

// Runs `args` (the program first, searched for on the PATH) in `directory` and waits. The
// child's standard output is discarded unless `showOutput`; its errors reach standard
// error. Throws BundleError naming the program when it does not start (with `hint`
// added) or when it exits with another code than 0.
void runTool(const std::vector<std::string>& args, const std::filesystem::path& directory, bool showOutput = false,
             const std::string& hint = std::string());

// Runs `command` through the system's command shell (sh -c; cmd /c on Windows) and
// waits; its exit code, or -1 when the shell did not start.
int runShell(const std::string& command);
// `path` as one word for that shell.
std::string shellQuoted(const std::filesystem::path& path);

// A file the bundler writes for a moment: removed on every way out unless its path is
// cleared.
struct TemporaryFile {
    std::filesystem::path path;
    ~TemporaryFile()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove(path, ignored);
    }
};

// Whether standard output is a terminal (a console on Windows), where progress is drawn.
bool outputIsTerminal();

}} // namespace ts::bundle
