// Installer services: the reboot flags shared with the Core software, the installer
// API library that the Core software installs, and temporary copies of files.
#pragma once
#include "sys/libutils/logger.h"
#include "tk/installer/libinstall/installerapi.h"
#include "tk/installer/libinstall/rebootproperties.h"

#include <filesystem>
#include <string>

namespace ts { namespace tk { namespace install {

// Gives a file a required extension for one operation: when the extension differs,
// the file is copied next to itself as stem + extension, and the copy is removed
// again on destruction. A failed copy is only logged; path() is then the source.
class TemporaryCopy : public virtual sys::Logger::Logged {
public:
    TemporaryCopy(const std::filesystem::path& sourcePath, const std::wstring& extension);
    ~TemporaryCopy();
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    // The copy when one was made, else the source.
    std::wstring path() const { return m_effectivePath.wstring(); }

private:
    std::filesystem::path m_sourcePath;
    std::filesystem::path m_effectivePath;
};

}}} // namespace ts::tk::install
