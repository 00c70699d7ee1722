// What the cleanup tests need besides the packages of msifixtures.h: runs of the cleanup
// under a chosen Windows version, Windows 10's version values and the pnputil stand-in.
#pragma once
#include "support/msifixtures.h"
#include "support/registrytree.h"

#include <string>
#include <vector>

namespace ts { namespace test {

// The cleanup's packages of tests/testdata/msi (README.md there). Those found by their
// Add/Remove Programs name have a 64-bit build, for 64-bit Windows, where the product's
// packages are 64-bit ones and their entries are in the native view.
extern const msi::Fixture kLegacyFirst;   // under the legacy table's first upgrade code
extern const msi::Fixture kLegacyLater;   // under its 34th
extern const msi::Fixture kGraphicsNamed; // "Tessaline Graphics", upgrade code in no list
extern const msi::Fixture kGraphicsNamed64;
extern const msi::Fixture kLowercaseNamed; // "tessaline graphics"
extern const msi::Fixture kLowercaseNamed64;
extern const msi::Fixture kMarrowPaint;   // unrelated
extern const msi::Fixture kOldCore;       // "Tessaline Core Software" 7.2.3000.0
extern const msi::Fixture kOldCore64;
// `x64` under 64-bit Windows, else `x86`.
const msi::Fixture& nativeFixture(const msi::Fixture& x86, const msi::Fixture& x64);

struct CleanupRun {
    bool finished = false;
    uint32_t exitCode = 0;
    // The cleaner log's lines ("INFO: Uninstalling product. ..."), without line ends.
    std::vector<std::string> lines;
};
// Runs the cleanup (tscleanenv, which carries Setup's manifest) with the given threshold
// as a program that Wine presents the Windows version `wineVersion` ("win81") to.
CleanupRun runCleanup(const wchar_t* wineVersion, const wchar_t* threshold = L"7.4.50415.0");

// The prefix's registry says Windows 10 (build 19045) for the life of the object, as
// Windows 10 itself does; Wine's per-program version alone does not write it. The old
// values (or their absence) come back.
class Windows10VersionValues {
public:
    Windows10VersionValues();
    ~Windows10VersionValues();
    Windows10VersionValues(const Windows10VersionValues&) = delete;
    Windows10VersionValues& operator=(const Windows10VersionValues&) = delete;

private:
    RegistryTree m_saved;
};

// pnputil.exe of the native system folder (only there, as 64-bit Windows keeps it)
// replaced by tspnputil for the life of the object (Wine 8 has no pnputil); what was
// there before comes back. Its record file is `recordPath`.
class PnputilStandIn {
public:
    explicit PnputilStandIn(const std::wstring& recordPath);
    ~PnputilStandIn();
    PnputilStandIn(const PnputilStandIn&) = delete;
    PnputilStandIn& operator=(const PnputilStandIn&) = delete;
    std::vector<std::string> commandLines() const;
    // The name a 32-bit program starts it by: <Windows folder>\Sysnative\pnputil.exe on
    // 64-bit Windows, else the system folder's.
    static std::wstring startPath();

private:
    std::wstring m_path;
    std::wstring m_saved;
    std::wstring m_record;
};

}} // namespace ts::test
