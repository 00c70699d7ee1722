#include "tk/installer/libinstall/installerapi.h"

#include "sys/libutils/win32/registry.h"
#include "sys/libutils/win32/win32nr.h"
#include "sys/libutils/win32/workingfolder.h"
#include "tk/installer/libinstall/productregistry.h"

#include <windows.h>
#include <stdexcept>

namespace ts { namespace tk { namespace install {

namespace {
typedef int32_t(WINAPI* InitialiseFunction)();
typedef int32_t(WINAPI* GetInstalledProductVersionFunction)(const wchar_t* upgradeCode, uint64_t* version);
typedef int32_t(WINAPI* SetSoftwareRequiresRebootFunction)(uint32_t magic, uint32_t required);

// The value holds a full path; 520 bytes take 259 characters and the NUL.
const DWORD kLocationBufferBytes = 520;
} // namespace

void FunctionBinding::bind(const char* name, sys::win32::ILibrary* library)
{
    m_address = nullptr;
    m_name = name ? name : "";
    m_library = library;
    if (m_library && !m_name.empty())
        m_address = m_library->getProcAddress(m_name.c_str());
}

void* FunctionBinding::get() const
{
    if (!isResolved())
        throw std::runtime_error("Function " + m_name + " was not loaded");
    return m_address;
}

std::wstring readInstallerApiLocation()
{
    return readFact(coreValue(kInstallerApiLocation), {false, kLocationBufferBytes}).value.value_or(std::wstring());
}

bool copyLibraryAside(const std::wstring& path, std::wstring& copy)
{
    if (path.empty() || !sys::win32::isExistingFile(path))
        return false;
    // Only into the run's working folder: one the user can write to would let the user
    // choose what is loaded elevated.
    const std::wstring& folder = sys::win32::WorkingFolder::current();
    std::wstring name;
    if (folder.empty() || !sys::win32::createTempFileName(folder, L"TS_", name))
        return false;
    if (sys::win32::copyFile(path, name, true) != ERROR_SUCCESS)
        return false;
    sys::win32::clearFileAttributes(name, FILE_ATTRIBUTE_READONLY);
    copy = name;
    return true;
}

InstallerApi::InstallerApi()
{
    bindAll();
    load(readInstallerApiLocation());
}

InstallerApi::InstallerApi(const std::wstring& path)
{
    bindAll();
    load(path);
}

InstallerApi::~InstallerApi()
{
    close();
}

void InstallerApi::load(const std::wstring& path)
{
    std::wstring copy;
    if (!copyLibraryAside(path, copy))
        return;
    m_copyPath = copy;
    {
        // Unchangeable from its writing until it is loaded.
        const sys::win32::FileHandle held = sys::win32::holdFile(copy);
        if (!held)
            return;
        m_library = std::make_unique<sys::win32::Library>(copy);
    }
    if (!isLoaded())
        return;
    bindAll();
    if (m_initialise.isResolved() && m_uninitialise.isResolved()) {
        if (m_initialise.as<InitialiseFunction>()() != 1)
            close();
    } else {
        m_library.reset();
        bindAll();
    }
}

void InstallerApi::bindAll()
{
    sys::win32::ILibrary* library = m_library.get();
    m_initialise.bind("tsInitialise", library);
    m_uninitialise.bind("tsUninitialise", library);
    m_uninstallPackage.bind("tsUninstallPackage", library);
    m_uninstallCore.bind("tsUninstallCore", library);
    m_readUninstallPackageStatus.bind("tsReadUninstallPackageStatus", library);
    m_waitOnInstallerOp.bind("tsWaitOnInstallerOp", library);
    m_resetSpiAutoRunResults.bind("tsResetSpiAutoRunResults", library);
    m_writeSpiAutoRunResult.bind("tsWriteSpiAutoRunResult", library);
    m_getInstalledProductVersion.bind("tsGetInstalledProductVersion", library);
    m_setSoftwareRequiresReboot.bind("tsSetSoftwareRequiresReboot", library);
}

bool InstallerApi::isLoaded() const
{
    return m_library && m_library->loaded();
}

void InstallerApi::close()
{
    if (!isLoaded())
        return;
    if (m_uninitialise.isResolved())
        m_uninitialise.as<InitialiseFunction>()();
    m_library.reset();
    bindAll();
}

int32_t InstallerApi::getInstalledProductVersion(const wchar_t* upgradeCode, uint64_t& version) const
{
    return m_getInstalledProductVersion.as<GetInstalledProductVersionFunction>()(upgradeCode, &version);
}

int32_t InstallerApi::setSoftwareRequiresReboot(bool required) const
{
    return m_setSoftwareRequiresReboot.as<SetSoftwareRequiresRebootFunction>()(kInstallerApiCallerMagic,
                                                                               required ? 1 : 0);
}

const FunctionBinding& InstallerApi::binding(const char* name) const
{
    for (const FunctionBinding* b :
         {&m_initialise, &m_uninitialise, &m_uninstallPackage, &m_uninstallCore, &m_readUninstallPackageStatus,
          &m_waitOnInstallerOp, &m_resetSpiAutoRunResults, &m_writeSpiAutoRunResult, &m_getInstalledProductVersion,
          &m_setSoftwareRequiresReboot})
        if (b->name() == name)
            return *b;
    throw std::invalid_argument(std::string("no export ") + name);
}

bool getInstalledCoreVersion(sys::Version& version)
{
    InstallerApi api;
    if (!api.isLoaded() || !api.binding("tsGetInstalledProductVersion").isResolved()) {
        version = sys::Version();
        return true;
    }
    uint64_t packed = 0;
    if (api.getInstalledProductVersion(kCoreUpgradeCode, packed) != 1)
        return false;
    version = sys::Version(packed);
    return true;
}

bool setSoftwareRequiresReboot(bool required)
{
    InstallerApi api;
    if (!api.isLoaded() || !api.binding("tsSetSoftwareRequiresReboot").isResolved())
        return false;
    return api.setSoftwareRequiresReboot(required) == 1;
}

}}} // namespace ts::tk::install
