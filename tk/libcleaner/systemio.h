// Readers of driver INF files by path, as plain text line by line (see inftext.h for the
// rules). A file that cannot be opened reads as empty; none of them throws.
#pragma once
#include "sys/libutils/logger.h"
#include "sys/libutils/version.h"

#include <string>
#include <vector>

namespace ts { namespace tk { namespace cleaner {

// True when a line of the file contains any of `names` (case-sensitive).
bool infMentionsAny(const std::wstring& infPath, const std::vector<std::wstring>& names);

// The provider text after the "=" of the provider line (or of its %token% line),
// unchanged; empty when not found. A provider line without a value is logged at DEBUG
// through `logged` as "Unable to find Provider in: <path>".
std::wstring readInfProvider(const std::wstring& infPath, const sys::Logger::Logged& logged);

// The version of the first line mentioning DriverVer; 0 when there is none.
sys::Version readInfDriverVersion(const std::wstring& infPath);

}}} // namespace ts::tk::cleaner
