// OEM INF files in the test prefix's INF folder (C:\windows\inf), as the driver store
// publishes them, for the driver package search and the cleanup. Each file belongs to a
// ScopedInfFile, which removes it again, also when an assertion ends the test early.
#pragma once
#include <string>
#include <vector>

namespace ts { namespace test {

// What an OEM INF says about itself. The defaults describe a package of the product.
struct OemInf {
    std::string className = "TessalineDisplay";
    std::string classGuid;      // registry text form; empty: the product's device setup class
    std::string provider = "%Mfg%";
    std::string manufacturer = "\"Tessaline Graphics\""; // the [Strings] value of Mfg
    std::string driverVer = "10/15/2014,7.4.50415.0";    // empty: no DriverVer line
    std::vector<std::string> services = {"tsusbvid"};   // service binaries named in the file
};

// The file's text: a [Version] section with the "$Windows NT$" signature, Class,
// ClassGuid, Provider and DriverVer, a service section naming `services`, and the
// [Strings] section. Lines end in CR LF.
std::string oemInfText(const OemInf& inf);

// The text as UTF-16LE with its byte-order mark, as many driver packages ship their INF
// files; each byte becomes one unit.
std::string utf16WithMark(const std::string& ansi);

// The prefix's INF folder (<Windows folder>\inf).
std::wstring infFolder();

// A file of the INF folder, written at construction and removed (with the .pnf that
// SetupAPI may keep beside it) at destruction. A file that existed before is replaced
// for the object's life and then restored.
class ScopedInfFile {
public:
    ScopedInfFile(const std::wstring& name, const std::string& text);
    ScopedInfFile(const std::wstring& name, const OemInf& inf) : ScopedInfFile(name, oemInfText(inf)) {}
    ~ScopedInfFile();
    ScopedInfFile(const ScopedInfFile&) = delete;
    ScopedInfFile& operator=(const ScopedInfFile&) = delete;

    const std::wstring& name() const { return m_name; }
    const std::wstring& path() const { return m_path; }
    // False when the file could not be written.
    bool written() const { return m_written; }

private:
    std::wstring m_name;
    std::wstring m_path;
    std::wstring m_pnfPath;
    bool m_written = false;
    bool m_hadFile = false;
    bool m_hadPnf = false;
    std::string m_previous;
};

// "oem<number>.inf" for the first number from `first` on that names no file of the INF
// folder.
std::wstring freeOemInfName(unsigned first = 900);

}} // namespace ts::test
