// Win32 only: the Windows error text of the exception tree.
#include "sys/libutils/exception.h"

#include <windows.h>
#include <cwchar>

namespace ts { namespace sys {

std::wstring windowsErrorText(uint32_t windowsError, bool bare)
{
    wchar_t message[1000] = L"Unknown";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                   nullptr, windowsError, 0, message, 1000, nullptr);
    std::wstring text = message;
    // MAX_WIDTH_MASK leaves a trailing blank where the line break was.
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\r' || text.back() == L'\n'))
        text.pop_back();
    if (bare)
        return text;
    wchar_t code[16];
    swprintf(code, 16, L"%08x", windowsError);
    return MessageFormatter(L"win32 0x%1: %2").add(code).add(text).format();
}

}} // namespace ts::sys
