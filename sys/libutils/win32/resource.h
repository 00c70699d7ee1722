// Reading the resources of a loaded module: Find, Sizeof, Load and Lock in one place.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ts { namespace sys { namespace win32 {

// Why a resource could not be had, in the order the steps run.
enum class ResourceStatus { Found, Missing, Empty, NotLoaded, NotLocked };

// A resource's bytes: a view into the module's image, valid while it stays loaded.
struct ResourceBytes {
    const void* data = nullptr;
    size_t size = 0;
};

// Resource `name` of `type` in `module` (null: the executable), found with FindResourceW.
// `out` is set only when the result is Found (a non-empty, loaded and locked resource).
ResourceStatus readResource(HMODULE module, const wchar_t* type, const wchar_t* name, ResourceBytes& out);
// The same for exactly `language` (FindResourceExW).
ResourceStatus readResource(HMODULE module, const wchar_t* type, const wchar_t* name, WORD language,
                            ResourceBytes& out);
// The languages in which `module` has resource `name` of `type`, in the module's order.
std::vector<uint16_t> resourceLanguages(HMODULE module, const wchar_t* type, const wchar_t* name);
// Resource `name` of `type` exists in `module`.
bool hasResource(HMODULE module, const wchar_t* type, const wchar_t* name);

}}} // namespace ts::sys::win32
