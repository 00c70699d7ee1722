// The driver installer passes: the driver installer program run in each driver folder of
// the layout (staging pass: mask 1, the "VELA" folder; driver pass: mask 2, the others).
#pragma once
#include "app/setup/driverlayout.h"
#include "app/setup/installer.h"
#include "sys/libutils/win32/handle.h"

#include <windows.h>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ts { namespace app { namespace setupInstall {

enum DriverPassBits : uint32_t {
    VelaFolderBit = 1,   // the folder named "VELA"
    OtherFoldersBit = 2, // every other folder
};

// The driver installer's exit code: bit 31 set Failed; else bit 30 set RebootRequired;
// else Succeeded.
Installer::Result MapDpInstExitCode(uint32_t exitCode);

// 2 when the licence dialogs are not suppressed; else 1 when silent; else 3 (progress
// window shown while installing). Modes 1 and 3 pass " /se".
int32_t driversUserInterfaceMode(const InstallSettings& settings);

// The arguments of the driver installer program in a user-interface mode.
std::wstring driverInstallerArguments(int32_t userInterfaceMode);

class DriversInstaller : public Installer {
public:
    DriversInstaller(std::wstring folder, DriverLayout layout, uint32_t passMask, int32_t userInterfaceMode);

    // Copies the driver installer program into each driver folder of the pass and runs it
    // there. A failing "VELA" package ends the pass with Failed; another failing package
    // only counts. The current directory is put back on return.
    Result install() override;
    Result uninstall() override { return NotRun; }
    // Failed when a driver folder (any pass) has no "*.cat" down to 10 levels, or one
    // that does not verify, or when the driver installer program is not signed by
    // Microsoft or the maker (unreadableFile() names it when it cannot be opened);
    // Succeeded otherwise, also without driver entries. The program is held from here
    // on, so what runs is what was checked.
    Result verify() override;

    const DriverLayout& layout() const { return m_layout; }
    uint32_t installedCount() const { return m_installed; }
    uint32_t skippedCount() const { return m_skipped; }
    int32_t userInterfaceMode() const { return m_userInterfaceMode; }

private:
    // The driver installer program's full path.
    std::wstring programPath() const;

    std::wstring m_folder;
    DriverLayout m_layout;
    uint32_t m_installed = 0;
    uint32_t m_skipped = 0;
    uint32_t m_passMask;
    int32_t m_userInterfaceMode;
    sys::win32::FileHandle m_heldProgram;
};

// Loads and parses the layout of resource "EXE" 3 (its errors propagate as
// std::runtime_error) and makes the installer of one pass. When its verify() fails,
// `refused` is called with the file it could not read, if any (it tells the user:
// message 37 for a failed signature) and the result is null.
std::unique_ptr<Installer> createDriversInstaller(const std::wstring& folder, HMODULE module,
                                                  const InstallSettings& settings, uint32_t passMask,
                                                  const std::function<void(const Installer::UnreadableFile&)>& refused);

}}} // namespace ts::app::setupInstall
