// Device enumeration.
#pragma once
#include <string>
#include <vector>

namespace ts { namespace sys { namespace win32 {

// Hardware identifiers of the present devices of an enumerator ("USB").
std::vector<std::wstring> presentHardwareIds(const wchar_t* enumerator);

}}} // namespace ts::sys::win32
