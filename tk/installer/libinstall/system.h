// Installer services: the reboot flags shared with the Core software and the
// installer API library that the Core software installs.
#pragma once
#include "sys/libutils/logger.h"
#include "sys/libutils/version.h"

#include <filesystem>
#include <string>

namespace ts { namespace tk { namespace install {

class IRebootProperties {
public:
    virtual ~IRebootProperties() = default;
    virtual bool getSuppressReboot() = 0;
    virtual bool setSuppressReboot(bool value) = 0;
    virtual bool setSoftwareRequiresReboot(bool value) = 0;
    virtual bool isRebootNeededNow() = 0;
    virtual bool setRebootNeededNow(bool value) = 0;
};

// Until the flags are read, no reboot is asked for and none can be recorded.
class RebootProperties : public IRebootProperties {
public:
    bool getSuppressReboot() override { return false; }
    bool setSuppressReboot(bool) override { return false; }
    bool setSoftwareRequiresReboot(bool) override { return false; }
    bool isRebootNeededNow() override { return false; }
    bool setRebootNeededNow(bool) override { return false; }
};

// The installed Core version through the installer API. False when the library is not
// installed (reads as "Not installed").
bool getInstalledCoreVersion(sys::Version& out);

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
