#include "tk/libgui/resourcefunctions.h"

#include "sys/libutils/exception.h"

#include <windows.h>
#include <shellapi.h>
#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <sstream>

namespace ts { namespace tk { namespace gui { namespace resource {

std::wstring loadString(uint32_t id, const std::wstring& fallback, uint16_t language)
{
    return loadString(nullptr, id, fallback, language);
}

std::vector<uint16_t> stringTableLanguages(uint16_t language)
{
    const uint16_t primary = PRIMARYLANGID(language);
    uint16_t next = MAKELANGID(primary, SUBLANG_NEUTRAL);
    if (primary == LANG_CHINESE) {
        // By script, not by country: the neutral Chinese block would be Simplified.
        const uint16_t sub = SUBLANGID(language);
        const bool traditional = sub == SUBLANG_CHINESE_TRADITIONAL || sub == SUBLANG_CHINESE_HONGKONG ||
                                 sub == SUBLANG_CHINESE_MACAU || language == LANG_CHINESE_TRADITIONAL;
        next = MAKELANGID(LANG_CHINESE, traditional ? SUBLANG_CHINESE_TRADITIONAL : SUBLANG_CHINESE_SIMPLIFIED);
    }
    if (next == language)
        return {language};
    return {language, next};
}

namespace {
BOOL CALLBACK addLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages)
{
    reinterpret_cast<std::vector<uint16_t>*>(languages)->push_back(language);
    return TRUE;
}
} // namespace

std::wstring loadString(void* moduleHandle, uint32_t id, const std::wstring& fallback, uint16_t language)
{
    HMODULE module = static_cast<HMODULE>(moduleHandle);
    const wchar_t* block = MAKEINTRESOURCEW(id / 16 + 1);
    // The loader may answer a language it lacks with another block of its choice: pick
    // from the languages the block really has.
    std::vector<uint16_t> present;
    EnumResourceLanguagesW(module, RT_STRING, block, addLanguage, reinterpret_cast<LONG_PTR>(&present));
    HRSRC info = nullptr;
    for (uint16_t candidate : stringTableLanguages(language))
        if (std::find(present.begin(), present.end(), candidate) != present.end()) {
            info = FindResourceExW(module, RT_STRING, block, candidate);
            break;
        }
    if (!info)
        return fallback;
    HGLOBAL loaded = LoadResource(module, info);
    const wchar_t* p = loaded ? static_cast<const wchar_t*>(LockResource(loaded)) : nullptr;
    if (!p)
        return fallback;
    const wchar_t* end = p + SizeofResource(module, info) / sizeof(wchar_t);
    for (uint32_t i = 0; i < id % 16; ++i) {
        if (p >= end)
            return L"";
        p += 1 + *p;
    }
    if (p >= end)
        return L"";
    size_t length = *p;
    if (p + 1 + length > end)
        length = end - p - 1;
    return std::wstring(p + 1, length);
}

std::wstring formatMessage(const std::wstring& pattern, const std::vector<std::wstring>& inserts)
{
    std::vector<DWORD_PTR> args;
    for (const std::wstring& insert : inserts)
        args.push_back(reinterpret_cast<DWORD_PTR>(insert.c_str()));
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                                      FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                  pattern.c_str(), 0, 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                                  reinterpret_cast<va_list*>(args.empty() ? nullptr : args.data()));
    if (length == 0 || !buffer)
        return L"";
    std::wstring result(buffer, length);
    LocalFree(buffer);
    return result;
}

bool hasExeResource(void* module, const wchar_t* name)
{
    return FindResourceW(static_cast<HMODULE>(module), name, L"EXE") != nullptr;
}

std::string toNarrow(const std::wstring& wide)
{
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        wchar_t c = wide[i];
        if (c < 128) {
            out += static_cast<char>(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF)
            ++i;
        out += '?';
    }
    return out;
}

std::wstring toWide(const std::string& narrow)
{
    // The "C" locale maps each byte to the character of the same value.
    std::wstring out(narrow.size(), L'\0');
    for (size_t i = 0; i < narrow.size(); ++i)
        out[i] = static_cast<unsigned char>(narrow[i]);
    return out;
}

void writeWide(std::ostream& out, const std::wstring& text)
{
    for (wchar_t c : text) {
        if (c < 128)
            out << static_cast<char>(c);
        else
            out << static_cast<unsigned>(c);
    }
}

std::string logText(const std::wstring& text)
{
    std::ostringstream out;
    writeWide(out, text);
    return out.str();
}

uintptr_t OpenURL(const sys::Logger::Logged* reporter, const std::wstring& url)
{
    HINSTANCE result = ShellExecuteW(nullptr, nullptr, url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    DWORD error = GetLastError();
    if (reinterpret_cast<uintptr_t>(result) > 32)
        return reinterpret_cast<uintptr_t>(result);
    if (reporter && reporter->isEnabled(3)) {
        sys::Logger::LogLine line(*reporter, 3, __FILE__, __LINE__);
        line.stream() << "ts::tk::gui::resource::OpenURL" << "Unable to open URL: ";
        writeWide(line.stream(), url);
        line.stream() << " : " << static_cast<const void*>(result) << ", ";
        writeWide(line.stream(), sys::windowsErrorText(error));
    }
    return 0;
}
}}}} // namespace ts::tk::gui::resource
