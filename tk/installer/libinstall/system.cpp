#include "tk/installer/libinstall/system.h"

namespace ts { namespace tk { namespace install {

bool getInstalledCoreVersion(sys::Version&)
{
    return false; // the installer API library is not bound yet: not installed
}

}}} // namespace ts::tk::install
