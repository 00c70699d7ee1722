// Win32 only.
#include "sys/libutils/win32/resource.h"

namespace ts { namespace sys { namespace win32 {

namespace {

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

bool hasResource(HMODULE module, const wchar_t* type, const wchar_t* name)
{
    return FindResourceW(module, name, type) != nullptr;
}

}}} // namespace ts::sys::win32
