#include "app/setup/extendedpropertiesresource.h"

#include "sys/libutils/win32/resource.h"

namespace ts { namespace app { namespace setupInstall {

bool loadExtendedProperties(HMODULE module, ExtendedProperties& out)
{
    sys::win32::ResourceBytes bytes;
    return sys::win32::readResource(module, RT_RCDATA, MAKEINTRESOURCEW(1), bytes) == sys::win32::ResourceStatus::Found &&
           parseExtendedProperties(static_cast<const uint8_t*>(bytes.data), bytes.size, out);
}

}}} // namespace ts::app::setupInstall
