// Win32 only.
#include "sys/libutils/win32/resource.h"

namespace ts { namespace sys { namespace win32 {

namespace {

BOOL CALLBACK addLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages)
{
    reinterpret_cast<std::vector<uint16_t>*>(languages)->push_back(language);
    return TRUE;
}

ResourceStatus load(HMODULE module, HRSRC info, ResourceBytes& out)
{
    if (!info)
        return ResourceStatus::Missing;
    DWORD size = SizeofResource(module, info);
    if (size == 0)
        return ResourceStatus::Empty;
    // Resources live in the mapped image: nothing to unlock or free.
    HGLOBAL loaded = LoadResource(module, info);
    if (!loaded)
        return ResourceStatus::NotLoaded;
    const void* data = LockResource(loaded);
    if (!data)
        return ResourceStatus::NotLocked;
    out.data = data;
    out.size = size;
    return ResourceStatus::Found;
}

} // namespace

ResourceStatus readResource(HMODULE module, const wchar_t* type, const wchar_t* name, ResourceBytes& out)
{
    return load(module, FindResourceW(module, name, type), out);
}

ResourceStatus readResource(HMODULE module, const wchar_t* type, const wchar_t* name, WORD language,
                            ResourceBytes& out)
{
    return load(module, FindResourceExW(module, type, name, language), out);
}

std::vector<uint16_t> resourceLanguages(HMODULE module, const wchar_t* type, const wchar_t* name)
{
    std::vector<uint16_t> languages;
    EnumResourceLanguagesW(module, type, name, addLanguage, reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

bool hasResource(HMODULE module, const wchar_t* type, const wchar_t* name)
{
    return FindResourceW(module, name, type) != nullptr;
}

}}} // namespace ts::sys::win32
