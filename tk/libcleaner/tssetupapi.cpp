#include "tk/libcleaner/tssetupapi.h"

#include "sys/libutils/text.h"
#include "sys/libutils/win32/setupinf.h"
#include "sys/libutils/win32/win32nr.h"
#include "tk/libcleaner/systemio.h"

#include <cwchar>
#include <cwctype>
#include <stdexcept>

namespace ts { namespace tk { namespace cleaner {

namespace {

const size_t kFirstListSize = 1024;

bool hasOemPrefix(const wchar_t* name)
{
    const wchar_t* prefix = L"oem";
    for (int i = 0; i < 3; ++i)
        if (!name[i] || std::towlower(name[i]) != prefix[i])
            return false;
    return true;
}

bool isNullGuid(const GUID& guid)
{
    static const GUID none = {};
    return IsEqualGUID(guid, none);
}

} // namespace

bool WindowsInfSystem::getInfFileList(std::vector<wchar_t>& buffer, DWORD& requiredSize)
{
    return sys::win32::getInfFileList(sys::win32::getInfDirectory(), buffer, requiredSize);
}

bool WindowsInfSystem::getClassName(const GUID& classGuid, std::wstring& name)
{
    return sys::win32::getClassNameFromGuid(classGuid, name);
}

bool WindowsInfSystem::getInfClass(const std::wstring& infPath, GUID& classGuid)
{
    return sys::win32::getInfClass(infPath, classGuid);
}

std::wstring WindowsInfSystem::getWindowsDirectory()
{
    return sys::win32::getWindowsDirectory();
}

TsSetupApi::TsSetupApi(const sys::Version& ownVersion, const std::string& identityName)
    : Identity(identityName, ""),
      Logged(sys::Logger::instance(), identityName, ""),
      m_ownVersion(ownVersion),
      m_ownedSystem(new WindowsInfSystem),
      m_system(*m_ownedSystem)
{
}

TsSetupApi::TsSetupApi(const sys::Version& ownVersion, const std::string& identityName, IInfSystem& system)
    : Identity(identityName, ""), Logged(sys::Logger::instance(), identityName, ""), m_ownVersion(ownVersion),
      m_system(system)
{
}

TsSetupApi::~TsSetupApi() = default;

void TsSetupApi::getCachedInfList(std::vector<wchar_t>& list)
{
    list.assign(kFirstListSize, L'\0');
    DWORD required = 0;
    // The first call's result is not looked at: a list that did not fit reports its size.
    m_system.getInfFileList(list, required);
    if (required < list.size())
        return;
    list.assign(required, L'\0');
    if (!m_system.getInfFileList(list, required))
        throw std::runtime_error("Unable to get list of all cached INF files");
    // The names are read up to an empty one; a list filling the buffer to its last
    // character must still end there.
    if (list.empty() || list.back() != L'\0')
        list.push_back(L'\0');
    if (list.size() < 2 || list[list.size() - 2] != L'\0')
        list.push_back(L'\0');
}

std::wstring TsSetupApi::getClassName(const GUID& classGuid)
{
    std::wstring name;
    if (m_system.getClassName(classGuid, name))
        return name;
    TS_LOG(*this, sys::LogLevel::Debug)
        << "WARNING! Unable to get name of device-setup-class-guid, probably not installed\n";
    return L"<unknown-setup-class>";
}

std::wstring TsSetupApi::getInfPath(const std::wstring& infName)
{
    return sys::win32::joinPath(sys::win32::joinPath(m_system.getWindowsDirectory(), L"inf"), infName);
}

void TsSetupApi::findInfFiles(const wchar_t* infList, const GUID& classGuid, bool checkVersion,
                              const std::vector<std::wstring>& driverNames, const std::wstring& provider,
                              std::vector<std::wstring>& found)
{
    found.clear();
    const std::wstring className = getClassName(classGuid);
    TS_LOG(*this, sys::LogLevel::Debug) << "Removing Class '" << sys::toNarrow(className) << "' "
                                        << sys::toNarrow(provider) << " cached INF files from the system ...";
    unsigned processed = 0;
    unsigned skipped = 0;
    for (const wchar_t* name = infList; name && *name; name += wcslen(name) + 1) {
        if (!hasOemPrefix(name)) {
            ++skipped;
            continue;
        }
        const std::wstring path = getInfPath(name);
        // By full path: Wine's SetupAPI does not look a bare name up in the INF folder.
        GUID infClass = {};
        if (!m_system.getInfClass(path, infClass) || isNullGuid(infClass)) {
            ++skipped;
            continue;
        }
        if (!IsEqualGUID(infClass, classGuid)) {
            ++processed;
            continue;
        }
        if (!driverNames.empty()) {
            if (!infMentionsAny(path, driverNames)) {
                ++skipped;
                continue;
            }
            if (!provider.empty() && readInfProvider(path, *this).find(provider) == std::wstring::npos) {
                ++skipped;
                continue;
            }
        }
        if (checkVersion) {
            const sys::Version version = readInfDriverVersion(path);
            if (version > m_ownVersion) {
                TS_LOG(*this, sys::LogLevel::Debug)
                    << "WARNING! file not deleted, file is newer version then cleaner itself: "
                    << sys::toNarrowString(version) << " > " << sys::toNarrowString(m_ownVersion);
                ++skipped;
                continue;
            }
        }
        found.push_back(path);
        ++processed;
    }
    TS_LOG(*this, sys::LogLevel::Debug) << "Processed " << processed << " inf files, skipped " << skipped << "\n";
}

}}} // namespace ts::tk::cleaner
