#include "tk/libgui/resourcefunctions.h"

#include "sys/libutils/exception.h"
#include "sys/libutils/win32/localmemory.h"
#include "sys/libutils/win32/resource.h"
#include "sys/libutils/win32/usershell.h"

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

std::wstring loadString(void* moduleHandle, uint32_t id, const std::wstring& fallback, uint16_t language)
{
    HMODULE module = static_cast<HMODULE>(moduleHandle);
    const wchar_t* name = MAKEINTRESOURCEW(id / 16 + 1);
    // The loader may answer a language it lacks with another block of its choice: pick
    // from the languages the block really has.
    const std::vector<uint16_t> present = sys::win32::resourceLanguages(module, RT_STRING, name);
    sys::win32::ResourceStatus status = sys::win32::ResourceStatus::Missing;
    sys::win32::ResourceBytes block;
    for (uint16_t candidate : stringTableLanguages(language))
        if (std::find(present.begin(), present.end(), candidate) != present.end()) {
            status = sys::win32::readResource(module, RT_STRING, name, candidate, block);
            break;
        }
    switch (status) {
    case sys::win32::ResourceStatus::Found: break;
    case sys::win32::ResourceStatus::Empty: return L"";
    default: return fallback;
    }
    const wchar_t* p = static_cast<const wchar_t*>(block.data);
    const wchar_t* end = p + block.size / sizeof(wchar_t);
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
    sys::win32::LocalMemory buffer;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                                      FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                  pattern.c_str(), 0, 0, reinterpret_cast<wchar_t*>(buffer.receive()), 0,
                                  reinterpret_cast<va_list*>(args.empty() ? nullptr : args.data()));
    if (length == 0 || !buffer)
        return L"";
    return std::wstring(static_cast<const wchar_t*>(buffer.get()), length);
}

bool hasExeResource(void* module, const wchar_t* name)
{
    return sys::win32::hasResource(static_cast<HMODULE>(module), L"EXE", name);
}

bool OpenURL(const sys::Logger::Logged* reporter, const std::wstring& url)
{
    HRESULT result = S_OK;
    if (sys::win32::shellExecuteAsUser(url, result))
        return true;
    if (reporter && reporter->isEnabled(sys::LogLevel::Warn)) {
        sys::Logger::LogLine line(*reporter, 3, __FILE__, __LINE__);
        line.stream() << "ts::tk::gui::resource::OpenURL" << "Unable to open URL: ";
        writeWide(line.stream(), url);
        line.stream() << " : " << reinterpret_cast<const void*>(static_cast<uintptr_t>(static_cast<uint32_t>(result)))
                      << ", ";
        writeWide(line.stream(), sys::windowsErrorText(static_cast<uint32_t>(result)));
    }
    return false;
}
}}}} // namespace ts::tk::gui::resource
