#include "tk/installer/libinstall/environmentcleanup.h"

namespace ts { namespace tk { namespace install {

void cleanupEnvironment(const sys::Version&)
{
    // Nothing is cleaned up yet.
}

}}} // namespace ts::tk::install
