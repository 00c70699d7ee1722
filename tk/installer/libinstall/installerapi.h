// The installer API library that the Core software installs: a private copy of it is
// loaded, its exports bound, initialised, and uninitialised and unloaded again.
#pragma once
#include "sys/libutils/version.h"
#include "sys/libutils/win32/library.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ts { namespace tk { namespace install {

// The Core software's upgrade code, as the library expects it.
constexpr const wchar_t* kCoreUpgradeCode = L"{5B1C1A52-6F0B-4E53-9C38-1D2A6F0E7A00}";
// The first argument of tsSetSoftwareRequiresReboot.
const uint32_t kInstallerApiCallerMagic = 0x0B7C41E2;

// One exported function of a library.
class FunctionBinding {
public:
    // Forgets the old address; resolves `name` when the library is set and the name is
    // not empty. The library is not owned.
    void bind(const char* name, sys::win32::ILibrary* library);
    bool isResolved() const { return m_library && m_address; }
    // The address; throws std::runtime_error ("Function <name> was not loaded") when
    // the function is not resolved.
    void* get() const;
    template <typename Fn>
    Fn as() const { return reinterpret_cast<Fn>(get()); }
    const std::string& name() const { return m_name; }

private:
    void* m_address = nullptr;
    std::string m_name;
    sys::win32::ILibrary* m_library = nullptr;
};

class InstallerApi {
public:
    // Binds the library named by InstallerApiFileLocation (HKLM\SOFTWARE\Tessaline\Core,
    // native view). Never throws for a missing or unusable library: it is then not loaded.
    InstallerApi();
    // Binds the library at `path` the same way.
    explicit InstallerApi(const std::wstring& path);
    InstallerApi(const InstallerApi&) = delete;
    InstallerApi& operator=(const InstallerApi&) = delete;
    ~InstallerApi();

    bool isLoaded() const;
    // Uninitialises and unloads the library; every binding becomes unresolved.
    void close();
    // The path of the loaded copy; empty when no copy was made.
    const std::wstring& copyPath() const { return m_copyPath; }

    // tsGetInstalledProductVersion: 1 and the packed version (0: not installed).
    // Throws std::runtime_error when the export is not resolved.
    int32_t getInstalledProductVersion(const wchar_t* upgradeCode, uint64_t& version) const;
    // tsSetSoftwareRequiresReboot with the caller magic; throws like the above.
    int32_t setSoftwareRequiresReboot(bool required) const;
    const FunctionBinding& binding(const char* name) const;

private:
    void load(const std::wstring& path);
    void bindAll();

    FunctionBinding m_initialise;
    FunctionBinding m_uninitialise;
    std::unique_ptr<sys::win32::Library> m_library;
    FunctionBinding m_uninstallPackage;
    FunctionBinding m_uninstallCore;
    FunctionBinding m_readUninstallPackageStatus;
    FunctionBinding m_waitOnInstallerOp;
    FunctionBinding m_resetSpiAutoRunResults;
    FunctionBinding m_writeSpiAutoRunResult;
    FunctionBinding m_getInstalledProductVersion;
    FunctionBinding m_setSoftwareRequiresReboot;
    std::wstring m_copyPath;
};

// The path of InstallerApiFileLocation; empty when missing, not REG_SZ or 260
// characters and longer.
std::wstring readInstallerApiLocation();
// Copies the library to a new "TS_" file in the run's working folder
// (sys::win32::WorkingFolder::current(); deleted at the next restart) without the
// read-only attribute. False when there is no working folder, `path` is not an existing
// file or the copy fails.
bool copyLibraryAside(const std::wstring& path, std::wstring& copy);

// The installed Core version through the library: true with 0 when the library or its
// entry is missing; false (and `version` unchanged) when the library refuses.
bool getInstalledCoreVersion(sys::Version& version);
// Tells the Core software whether a restart is required; true when it recorded it.
bool setSoftwareRequiresReboot(bool required);

}}} // namespace ts::tk::install
