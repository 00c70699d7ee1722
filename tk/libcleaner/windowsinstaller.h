// Interim declaration of the Windows Installer registration cleaner, until its
// implementation lands: it queues and removes nothing.
#pragma once
#include "sys/libutils/version.h"

#include <string>

namespace ts { namespace tk { namespace cleaner {

class WindowsInstallerCleaner {
public:
    explicit WindowsInstallerCleaner(void*) {}
    bool cleanProduct(const std::wstring&, const sys::Version&, bool) { return false; }
};

}}} // namespace ts::tk::cleaner
