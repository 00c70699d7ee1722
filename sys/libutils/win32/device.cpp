#include "sys/libutils/win32/device.h"

namespace ts { namespace sys { namespace win32 {

std::vector<std::wstring> presentHardwareIds(const wchar_t*)
{
    return {}; // devices are not enumerated yet: none is present
}

}}} // namespace ts::sys::win32
