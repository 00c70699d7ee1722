// The INF readers' line rules on any file: the input is written to a file and read back
// through a binary stream, as the readers open an INF, and checked against its decoded text.
#include "tk/libcleaner/inftext.h"
#include "fuzzsupport.h"

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace ts::tk::cleaner;
using ts::fuzz::check;

namespace {

std::string g_path;

void removeFile()
{
    std::remove(g_path.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* temp = getenv("TMPDIR");
    g_path = std::string(temp && *temp ? temp : "/tmp") + "/tsinf-fuzz-" + std::to_string(getpid()) + ".inf";
    atexit(removeFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(g_path, std::ios::out | std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        check(out.good(), "the input could not be written to its file");
    }
    const std::vector<std::wstring> names = {L"tsusbvid", L"Tessaline", L"PCI\\VEN_"};
    std::ifstream whole(g_path, std::ios::in | std::ios::binary);
    const std::wstring decoded = readInfText(whole);
    check(decoded.size() <= text.size(), "more characters than bytes");
    std::ifstream mentions(g_path, std::ios::in | std::ios::binary);
    bool anywhere = false;
    for (const std::wstring& name : names)
        anywhere = anywhere || decoded.find(name) != std::wstring::npos;
    // Names hold no line feed, so a line holds one exactly when the file does.
    check(textMentionsAny(mentions, names) == anywhere, "a name found that is not there, or missed");

    std::ifstream providerIn(g_path, std::ios::in | std::ios::binary);
    const InfProviderText provider = findProviderText(providerIn);
    check(!provider.unresolved || provider.text.empty(), "an unresolved provider with a text");
    check(provider.text.empty() || decoded.find(L"=" + provider.text) != std::wstring::npos,
          "a provider text that does not follow an equals sign in the file");
    check(provider.text.find(L'\n') == std::wstring::npos, "a provider text across lines");

    std::ifstream versionIn(g_path, std::ios::in | std::ios::binary);
    const ts::sys::Version version = findDriverVersionText(versionIn);
    check(version.empty() || decoded.find(L"DriverVer") != std::wstring::npos, "a driver version without DriverVer");
    return 0;
}
