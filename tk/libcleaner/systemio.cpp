#include "tk/libcleaner/systemio.h"

#include "sys/libutils/text.h"
#include "tk/libcleaner/inftext.h"

#include <fstream>

namespace ts { namespace tk { namespace cleaner {

namespace {

// Binary: a carriage return stays at the end of its line. A file that cannot be opened
// is a stream that reads nothing.
std::ifstream openInf(const std::wstring& infPath)
{
    return std::ifstream(infPath.c_str(), std::ios::in | std::ios::binary);
}

} // namespace

bool infMentionsAny(const std::wstring& infPath, const std::vector<std::wstring>& names)
{
    std::ifstream in = openInf(infPath);
    return textMentionsAny(in, names);
}

std::wstring readInfProvider(const std::wstring& infPath, const sys::Logger::Logged& logged)
{
    std::ifstream in = openInf(infPath);
    InfProviderText provider = findProviderText(in);
    if (provider.unresolved) {
        TS_LOG(logged, sys::LogLevel::Debug) << "Unable to find Provider in: " << sys::toNarrow(infPath);
    }
    return provider.text;
}

sys::Version readInfDriverVersion(const std::wstring& infPath)
{
    std::ifstream in = openInf(infPath);
    return findDriverVersionText(in);
}

}}} // namespace ts::tk::cleaner
