#include "sys/libutils/win32/commandline.h"

#include <windows.h>
#include <algorithm>

namespace ts { namespace sys { namespace win32 {

std::wstring argumentsAfterProgram(const std::wstring& commandLine)
{
    size_t at = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        at = commandLine.find(L'"', 1);
        at = at == std::wstring::npos ? commandLine.size() : at + 1;
    } else {
        at = std::min(commandLine.find_first_of(L" \t"), commandLine.size());
    }
    at = std::min(commandLine.find_first_not_of(L" \t", at), commandLine.size());
    return commandLine.substr(at);
}

std::wstring processArguments()
{
    return argumentsAfterProgram(GetCommandLineW());
}

std::string toUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

namespace {

std::wstring fromCodePage(UINT codePage, const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int size = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

} // namespace

std::wstring fromUtf8(const std::string& text)
{
    return fromCodePage(CP_UTF8, text);
}

std::wstring fromAnsi(const std::string& text)
{
    return fromCodePage(CP_ACP, text);
}

}}} // namespace ts::sys::win32
