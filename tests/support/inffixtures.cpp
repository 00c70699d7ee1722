#include "support/inffixtures.h"

#include "support/testsupport.h"
#include "sys/libutils/win32/setupinf.h"
#include "tk/installer/libinstall/productdata.h"

#include <windows.h>

namespace ts { namespace test {

std::string oemInfText(const OemInf& inf)
{
    const std::string guid = inf.classGuid.empty() ? narrow(tk::install::kProductDeviceClassGuidText) : inf.classGuid;
    std::string text = "; Driver package of the test prefix\r\n"
                       "[Version]\r\n"
                       "Signature=\"$Windows NT$\"\r\n"
                       "Class=" + inf.className + "\r\n"
                       "ClassGuid=" + guid + "\r\n"
                       "Provider=" + inf.provider + "\r\n";
    if (!inf.driverVer.empty())
        text += "DriverVer=" + inf.driverVer + "\r\n";
    text += "CatalogFile=package.cat\r\n"
            "\r\n"
            "[Install.Services]\r\n";
    for (const std::string& service : inf.services)
        text += "AddService=" + service + ",0x00000002," + service + "_Service\r\n";
    text += "\r\n"
            "[Strings]\r\n"
            "Mfg=" + inf.manufacturer + "\r\n";
    return text;
}

std::string utf16WithMark(const std::string& ansi)
{
    std::string out = "\xFF\xFE";
    for (char c : ansi) {
        out += c;
        out += '\0';
    }
    return out;
}

std::wstring infFolder()
{
    return sys::win32::getInfDirectory();
}

ScopedInfFile::ScopedInfFile(const std::wstring& name, const std::string& text)
    : m_name(name), m_path(infFolder() + L"\\" + name)
{
    const size_t dot = m_path.rfind(L'.');
    m_pnfPath = m_path.substr(0, dot) + L".pnf";
    m_hadFile = fileExists(m_path);
    if (m_hadFile)
        m_previous = readFile(m_path);
    m_hadPnf = fileExists(m_pnfPath);
    writeFile(m_path, text);
    m_written = fileExists(m_path) && readFile(m_path) == text;
}

ScopedInfFile::~ScopedInfFile()
{
    if (m_hadFile)
        writeFile(m_path, m_previous);
    else
        DeleteFileW(m_path.c_str());
    if (!m_hadPnf)
        DeleteFileW(m_pnfPath.c_str());
}

std::wstring freeOemInfName(unsigned first)
{
    for (unsigned number = first;; ++number) {
        std::wstring name = L"oem" + std::to_wstring(number) + L".inf";
        if (!fileExists(infFolder() + L"\\" + name))
            return name;
    }
}

}} // namespace ts::test
