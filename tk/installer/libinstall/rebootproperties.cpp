#include "tk/installer/libinstall/rebootproperties.h"

#include "sys/libutils/win32/registry.h"
#include "tk/installer/libinstall/installerapi.h"
#include "tk/installer/libinstall/productregistry.h"

namespace ts { namespace tk { namespace install {

unsigned readVolatileValue(const std::wstring& name, std::wstring& value)
{
    sys::win32::registry::StringRead read = readFact(rebootFlag(name));
    if (read.value)
        value = *read.value;
    return static_cast<unsigned>(read.error);
}

unsigned writeVolatileValue(const std::wstring& name, const std::wstring& value)
{
    namespace reg = sys::win32::registry;
    const RegistryFact flag = rebootFlag(name);
    return static_cast<unsigned>(reg::writeVolatileString(flag.rootKey(), reg::kCoreSubkey, kVolatileSubkeyName,
                                                          flag.value.c_str(), value, flag.viewBits()));
}

bool RebootProperties::getSuppressReboot(bool& suppress, std::string& message)
{
    suppress = false;
    std::wstring text;
    if (readVolatileValue(kSuppressReboot, text) != 0) {
        message = "Error reading core volatile SuppressReboot value. In case reboot is needed it will not be "
                  "suppressed";
        return false;
    }
    suppress = text == L"yes";
    message = suppress ? "Core has indicated reboot suppress flag set to yes"
                       : "Core has indicated reboot suppress flag set to no";
    return true;
}

bool RebootProperties::setSuppressReboot(bool suppress, std::string& message)
{
    bool written = writeVolatileValue(kSuppressReboot, suppress ? L"yes" : L"no") == 0;
    message = written ? "SuppressReboot flag successfully set" : "Unable to set SuppressReboot flag!";
    return written;
}

bool RebootProperties::setSoftwareRequiresReboot(bool required)
{
    return install::setSoftwareRequiresReboot(required);
}

bool RebootProperties::isRebootNeededNow()
{
    std::wstring text;
    return readVolatileValue(kRebootNeededNow, text) == 0 && text == L"1";
}

bool RebootProperties::setRebootNeededNow(bool needed)
{
    return writeVolatileValue(kRebootNeededNow, needed ? L"1" : L"0") == 0;
}

}}} // namespace ts::tk::install
