// The driver installer passes (staging: mask 1, installing: mask 2).
#pragma once
#include "app/setup/installer.h"

#include <windows.h>
#include <memory>
#include <string>

namespace ts { namespace app { namespace setupInstall {

// The caller verifies the installer it gets.
std::unique_ptr<Installer> makeDriversInstaller(const std::wstring& folder, HMODULE module,
                                                const InstallSettings& settings, uint32_t passMask);

}}} // namespace ts::app::setupInstall
