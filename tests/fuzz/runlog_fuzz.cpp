// The run log's path as Setup takes it from its command line ("-mupLogFile" and a
// value, quoted or not), and the run log's line around any text, elapsed time and level.
#include "app/setup/setupoptions.h"
#include "sys/libutils/exception.h"
#include "sys/libutils/runlogline.h"
#include "fuzzsupport.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

using ts::fuzz::check;

namespace {

// "[" + hours (two digits at least) + ":MM:SS.mmm] ".
bool isElapsedHead(const std::string& line)
{
    size_t colon = line.find(':');
    if (line.size() < 16 || line[0] != '[' || colon == std::string::npos || colon < 3)
        return false;
    for (size_t i = 1; i < colon; ++i)
        if (!isdigit(static_cast<unsigned char>(line[i])))
            return false;
    const char* shape = "dd:dd.ddd] ";
    for (size_t i = 0; shape[i]; ++i) {
        char c = line[colon + 1 + i];
        if (shape[i] == 'd' ? !isdigit(static_cast<unsigned char>(c)) : c != shape[i])
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    return ts::fuzz::silenceStandardOutput();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 9)
        return 0;
    uint64_t elapsed;
    memcpy(&elapsed, data, 8);
    const int level = static_cast<int8_t>(data[8]);
    const std::string tail(reinterpret_cast<const char*>(data + 9), size - 9);

    ts::app::setupInstall::SetupOptions options;
    try {
        options.group.parseCommandLine("-silent -mupLogFile " + tail);
    } catch (const std::exception&) {
        return 0;
    }
    const std::string path = options.values().mupLogFile;
    const std::string line = ts::sys::formatRunLogLine(elapsed, level, path);
    check(isElapsedHead(line), "the elapsed time's shape");
    check(line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0,
          "the line ends with the text");
    check(line[line.size() - path.size() - 1] == '\t', "a tab before the text");
    return 0;
}
