// The reboot flags that the Core software and Setup share in the volatile key
// HKLM\SOFTWARE\Tessaline\Core\Volatile (gone at the next restart of Windows).
#pragma once
#include <string>

namespace ts { namespace tk { namespace install {

// None of the operations throws: a registry failure is a false answer.
class IRebootProperties {
public:
    virtual ~IRebootProperties() = default;
    // "SuppressReboot" is exactly "yes". `message` says what was read.
    virtual bool getSuppressReboot(bool& suppress, std::string& message) = 0;
    virtual bool setSuppressReboot(bool suppress, std::string& message) = 0;
    // Through the installer API library; true when the Core software recorded it.
    virtual bool setSoftwareRequiresReboot(bool required) = 0;
    // "RebootNeededNow" is exactly "1".
    virtual bool isRebootNeededNow() = 0;
    virtual bool setRebootNeededNow(bool needed) = 0;
};

// Reads and writes the registry afresh on every call.
class RebootProperties : public IRebootProperties {
public:
    bool getSuppressReboot(bool& suppress, std::string& message) override;
    bool setSuppressReboot(bool suppress, std::string& message) override;
    bool setSoftwareRequiresReboot(bool required) override;
    bool isRebootNeededNow() override;
    bool setRebootNeededNow(bool needed) override;
};

// A REG_SZ value of the Volatile key; returns the Windows error (0: success; 2 when the
// key is missing, 13 when the value is not REG_SZ).
unsigned readVolatileValue(const std::wstring& name, std::wstring& value);
// Creates the Volatile key (volatile, below an ordinary Core key) when needed and sets
// the value. Returns the Windows error.
unsigned writeVolatileValue(const std::wstring& name, const std::wstring& value);

}}} // namespace ts::tk::install
