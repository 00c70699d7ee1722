// Win32 only: folders for log files and dumps.
#include "sys/libutils/win32/debuglocation.h"

#include "sys/libutils/exception.h"
#include "sys/libutils/win32/handle.h"
#include "sys/libutils/win32/registrydatastore.h"

#include <windows.h>

namespace ts { namespace sys {

namespace {
std::string tempDirectory()
{
    char buffer[MAX_PATH + 1] = "";
    DWORD length = GetTempPathA(MAX_PATH + 1, buffer);
    return length && length <= MAX_PATH ? std::string(buffer, length) : std::string();
}
} // namespace

bool canOpenFolder(const std::string& path)
{
    if (path.empty())
        return false;
    win32::FileHandle folder(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return folder.valid();
}

std::string executablePath()
{
    char buffer[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        throw SystemError(length ? ERROR_INSUFFICIENT_BUFFER : GetLastError());
    return std::string(buffer, length);
}

std::string executableBaseName()
{
    std::string path = executablePath();
    std::string base = path.substr(path.find_last_of("\\/") + 1);
    return base.substr(0, base.rfind('.'));
}

std::string debugLocation(bool preferTemp)
{
    option::String configured("DebugLocation", "", "", "");
    option::loadSetting(configured, "Core", true);
    if (!configured.getValue().empty())
        return configured.getValue();
    std::string temp = tempDirectory();
    if (preferTemp && canOpenFolder(temp))
        return temp;
    std::string path = executablePath();
    std::string folder = path.substr(0, path.find_last_of("\\/") + 1);
    if (canOpenFolder(folder))
        return folder;
    return canOpenFolder(temp) ? temp : "";
}

}} // namespace ts::sys
