// Driver dates ("dd/mm/yyyy") on any text: the fields always form a date Setup can
// compare, and a fault always has its ERROR line.
#include "sys/libutils/date.h"
#include "fuzzsupport.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const ts::sys::DateFields date = ts::sys::parseDate(text);
    const bool zero = date.tm.tm_mday == 0 && date.tm.tm_mon == 0 && date.tm.tm_year == 0;
    const bool valid = date.tm.tm_mon >= 0 && date.tm.tm_mon <= 11 && date.tm.tm_mday >= 1 && date.tm.tm_mday <= 31;
    ts::fuzz::check((valid || (zero && date.errors.size() == 1)) && date.errors.size() <= 2,
                    "a date Setup cannot compare, or a fault without its line");
    return 0;
}
