// The Core and product installer programs.
#pragma once
#include "app/setup/installer.h"

#include <windows.h>
#include <memory>
#include <string>

namespace ts { namespace app { namespace setupInstall {

// The Core installer from the payload in `folder` (or resources "EXE" 5/6). Null only
// when it cannot be made at all; the caller verifies it.
std::unique_ptr<Installer> makeCoreInstaller(const std::wstring& folder, HMODULE module,
                                             const InstallSettings& settings, uint16_t language);
// The product installer written out of resource "EXE" 1 or 2. Null when the program
// file cannot be created or written (no message for the user then).
std::unique_ptr<Installer> makeProductInstaller(const std::wstring& folder, HMODULE module,
                                                const InstallSettings& settings);

}}} // namespace ts::app::setupInstall
