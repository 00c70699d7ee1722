// String resources, message formatting, text conversion and URL opening.
#pragma once
#include "sys/libutils/logger.h"
#include "sys/libutils/text.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace ts { namespace tk { namespace gui { namespace resource {

// Entry `id` of the executable's string table in `language`; `fallback` when the
// block is absent. An entry that exists but is empty gives "".
// The blocks are tried in the order of stringTableLanguages.
std::wstring loadString(uint32_t id, const std::wstring& fallback, uint16_t language);
// The same from the string table of `module` (null: the executable).
std::wstring loadString(void* module, uint32_t id, const std::wstring& fallback, uint16_t language);
inline std::wstring loadString(uint32_t id) { return loadString(id, L"", 0); }
// The string-table languages tried for a user's language: the language itself, then
// its neutral block; for Chinese the block of its script (Hong Kong and Macau read
// Traditional, which is the Taiwan block; Singapore Simplified, the PRC block).
std::vector<uint16_t> stringTableLanguages(uint16_t language);

// FormatMessageW from a string with the inserts as %1, %2...; "" when it fails.
std::wstring formatMessage(const std::wstring& pattern, const std::vector<std::wstring>& inserts);
inline std::wstring formatMessage(const std::wstring& pattern, const std::wstring& insert1)
{
    return formatMessage(pattern, std::vector<std::wstring>{insert1});
}

// True when the module (null: the executable) has resource `name` of type "EXE".
bool hasExeResource(void* module, const wchar_t* name);

// The foundation's text conversions (sys/libutils/text.h), under their names here.
using sys::toNarrow;
using sys::toWide;
using sys::writeWide;
using sys::logText;

// Opens the URL as the signed-in user, through the desktop shell (default verb,
// SW_SHOWNORMAL); never from this process, which may run elevated. False when the shell
// cannot open it, after a WARN line to `reporter` (none when null) with the URL and the
// error.
bool OpenURL(const sys::Logger::Logged* reporter, const std::wstring& url);

}}}} // namespace ts::tk::gui::resource
