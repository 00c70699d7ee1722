// Minimal payload handling: the folder holder and the resource checks. Unpacking
// needs the 7z decoder; until it is wired in, a payload does not unpack.
#include "app/setup/payload.h"

#include <shellapi.h>
#include <stdexcept>
#include <vector>

namespace ts { namespace app { namespace setupInstall {

TemporaryFolder::~TemporaryFolder()
{
    remove();
}

bool TemporaryFolder::create(std::wstring& path)
{
    if (!m_path.empty())
        return false;
    wchar_t temp[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, temp))
        return false;
    for (UINT counter = 2; counter < 0xFFFF; ++counter) {
        wchar_t name[MAX_PATH];
        if (!GetTempFileNameW(temp, L"TS", counter, name))
            return false;
        if (GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES)
            continue;
        if (!CreateDirectoryW(name, nullptr))
            return false;
        MoveFileExW(name, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        m_path = std::wstring(name) + L"\\";
        path = m_path;
        return true;
    }
    return false;
}

bool TemporaryFolder::remove()
{
    if (m_path.size() <= 1)
        return m_path.empty();
    std::wstring folder = m_path.substr(0, m_path.size() - 1);
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    std::vector<wchar_t> from(folder.begin(), folder.end());
    from.push_back(L'\0');
    from.push_back(L'\0');
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.data();
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    if (SHFileOperationW(&op) != 0)
        return false;
    m_path.clear();
    return true;
}

bool hasResource(HMODULE module, int id)
{
    return FindResourceW(module, MAKEINTRESOURCEW(id), L"EXE") != nullptr;
}

bool extractPayload(HMODULE module, TemporaryFolder& folder)
{
    std::wstring path;
    if (!folder.create(path))
        return false;
    return false; // the 7z decoder is not wired in yet: nothing is unpacked
}

bool hasCorePackage(const std::wstring& folder)
{
    return GetFileAttributesW((folder + L"VELA\\TessalineCore.dat").c_str()) != INVALID_FILE_ATTRIBUTES &&
           GetFileAttributesW((folder + L"VELA\\TessalineCore64.dat").c_str()) != INVALID_FILE_ATTRIBUTES;
}

void extractDrivers(const std::wstring&, const std::wstring&)
{
    throw std::runtime_error("Driver extraction is not available in this build");
}

}}} // namespace ts::app::setupInstall
