// Removal of what older installations left behind (Windows 8.1 only).
#pragma once
#include "sys/libutils/version.h"

namespace ts { namespace tk { namespace install {

// Never throws; a cleanup error does not stop the run.
void cleanupEnvironment(const sys::Version& threshold);

}}} // namespace ts::tk::install
