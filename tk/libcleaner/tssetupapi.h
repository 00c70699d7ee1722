// The search for the product's driver packages: the OEM INF files (oem<n>.inf, as the
// driver store publishes them) of one device setup class in the system INF folder,
// narrowed by driver names, provider and version. It only reads; it deletes nothing.
#pragma once
#include "sys/libutils/logger.h"
#include "sys/libutils/version.h"

#include <windows.h>
#include <memory>
#include <string>
#include <vector>

namespace ts { namespace tk { namespace cleaner {

// What the search asks of SetupAPI and the Windows folder. WindowsInfSystem is the real
// one; tests put in their own to steer list sizes, failures and classes.
class IInfSystem {
public:
    virtual ~IInfSystem() = default;
    // One listing of the WIN4-style INF files of the system INF folder into the whole of
    // `buffer` (names separated by NULs, ended by an empty name). `requiredSize` receives
    // the size the listing needs, in characters. Returns the call's own result.
    virtual bool getInfFileList(std::vector<wchar_t>& buffer, DWORD& requiredSize) = 0;
    // The name of an installed device setup class; false when it is not installed.
    virtual bool getClassName(const GUID& classGuid, std::wstring& name) = 0;
    // The class GUID in the [Version] section of an INF file; false when it cannot be read.
    virtual bool getInfClass(const std::wstring& infPath, GUID& classGuid) = 0;
    // The shared Windows folder.
    virtual std::wstring getWindowsDirectory() = 0;
};

class WindowsInfSystem : public IInfSystem {
public:
    // The folder is named rather than left to SetupAPI's default: Wine's default reads
    // each file's signature from a wrong path and lists no WIN4 file at all. On Windows
    // both are the INF folder of the shared Windows folder.
    bool getInfFileList(std::vector<wchar_t>& buffer, DWORD& requiredSize) override;
    bool getClassName(const GUID& classGuid, std::wstring& name) override;
    bool getInfClass(const std::wstring& infPath, GUID& classGuid) override;
    std::wstring getWindowsDirectory() override;
};

// Logs through the logger module `identityName` (DEBUG lines only).
class TsSetupApi : public sys::Logger::Logged {
public:
    // `ownVersion`: with the version check, INF files of a higher DriverVer are left out.
    TsSetupApi(const sys::Version& ownVersion, const std::string& identityName);
    // The same over another system; `system` must outlive this object.
    TsSetupApi(const sys::Version& ownVersion, const std::string& identityName, IInfSystem& system);
    ~TsSetupApi() override;
    TsSetupApi(const TsSetupApi&) = delete;
    TsSetupApi& operator=(const TsSetupApi&) = delete;

    // Fills `list` with every INF file of the system INF folder, as a multi-string. The
    // first try takes 1024 characters; a longer list is fetched again at its size.
    // Throws std::runtime_error "Unable to get list of all cached INF files" when that
    // second fetch fails.
    void getCachedInfList(std::vector<wchar_t>& list);

    // The class's name, or "<unknown-setup-class>" (with a DEBUG warning) when the
    // class is not installed.
    std::wstring getClassName(const GUID& classGuid);

    // <Windows folder>\inf\<infName>.
    std::wstring getInfPath(const std::wstring& infName);

    // Clears `found`, then appends, in list order, the full path of every OEM INF file of
    // `infList` (a multi-string) whose class is `classGuid` and that passes the filters:
    // with `driverNames`, it must mention one of them and, when `provider` is not empty,
    // its provider text must contain `provider`; with `checkVersion`, its DriverVer must
    // not be higher than the own version. Logs the counts of processed and skipped files
    // at DEBUG. Does not throw for unreadable files: they fail the filters.
    void findInfFiles(const wchar_t* infList, const GUID& classGuid, bool checkVersion,
                      const std::vector<std::wstring>& driverNames, const std::wstring& provider,
                      std::vector<std::wstring>& found);

private:
    sys::Version m_ownVersion;
    std::unique_ptr<IInfSystem> m_ownedSystem;
    IInfSystem& m_system;
};

}}} // namespace ts::tk::cleaner
