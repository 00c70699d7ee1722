// Running a built Setup.exe from a test and reading what it left behind.
#pragma once
#include "support/testsupport.h"

#include <string>
#include <vector>

namespace ts { namespace test {

// One run of a Setup program with its own run log and captured standard output.
struct SetupRun {
    explicit SetupRun(const std::wstring& hint);

    // Runs `program` (default: the signed build/bin/Setup.exe) with the arguments; the
    // text "{log}" in them is replaced by this run's log path.
    // Windows the program shows are closed and counted (ProcessResult::windowsClosed).
    ProcessResult run(const std::wstring& arguments, const std::wstring& program = L"",
                      const wchar_t* environment = nullptr, uint32_t timeoutMs = 120000);

private:
    TempFolder m_temp;

public:
    const std::wstring dir;
    const std::wstring logPath;
    std::string log() const { return readFile(logPath); }
    std::vector<std::string> logLines() const;
    std::string output() const { return readFile(dir + L"\\stdout.txt"); }
};

// The text of a run-log line without its time stamp ("INFO   \tStart Tessaline Setup").
std::string withoutTime(const std::string& line);

// Sets HKCU\Software\Wine\AppDefaults\<exe>\Version for the life of the object.
class WineVersionOverride {
public:
    WineVersionOverride(const std::wstring& exeName, const std::wstring& version);
    ~WineVersionOverride();
private:
    std::wstring m_key;
};

// The version values of HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion (the
// numbers, the build, the service pack) as they are now; the object puts each back, or
// removes it again when it was absent, when it goes.
class KeptVersionValues {
public:
    KeptVersionValues();
    ~KeptVersionValues();
    KeptVersionValues(const KeptVersionValues&) = delete;
    KeptVersionValues& operator=(const KeptVersionValues&) = delete;
    // The key, open for querying and setting values (null when it could not be opened).
    void* key() const { return m_key; }

private:
    struct Value {
        const wchar_t* name;
        bool present;
        unsigned long type;
        std::vector<unsigned char> data;
    };
    void* m_key = nullptr;
    std::vector<Value> m_values;
};

// Presents the prefix as a Windows version for the life of the object: the registry's
// version values, from which Wine takes the version it reports when none is configured
// for it, and which Setup reads from Windows 10 on. Names: "vista", "win7", "win8",
// "win81", "win10-10586", "win10-19045", "win10.1" (a Windows 10 whose registry says 10.1).
class PresentedWindows {
public:
    explicit PresentedWindows(const std::wstring& windows);

private:
    KeptVersionValues m_kept;
};

// A copy of tsrecorder, made in `folder`, registered in the prefix (HKEY_CLASSES_ROOT) as
// the handler of the URL scheme for the life of the object. Each address it is asked to
// open becomes a command-line record in the TS_RECORD_FILE of the process that opened it.
class UrlSchemeRecorder {
public:
    UrlSchemeRecorder(const std::wstring& scheme, const std::wstring& folder);
    ~UrlSchemeRecorder();
    UrlSchemeRecorder(const UrlSchemeRecorder&) = delete;
    UrlSchemeRecorder& operator=(const UrlSchemeRecorder&) = delete;

    // Setup does not wait for the handler it starts: wait until no copy of this
    // recorder runs any more. False on time-out.
    bool waitForHandlers(uint32_t timeoutMs = 30000) const;
    // The desktop shell starts the handler with its own environment: the handler takes
    // these "NAME=value\0...\0" variables instead.
    void setEnvironment(const std::wstring& block) const;
    // The addresses among recorded command lines (those of this recorder), in order.
    std::vector<std::wstring> addresses(const std::vector<std::wstring>& commandLines) const;
    bool isRecorderLine(const std::wstring& commandLine) const;

private:
    std::wstring m_scheme;
    std::wstring m_program;
};

// A device of the "USB" enumerator and the USB setup class, registered in the prefix for
// the life of the object (Wine lists a registered device as present). A device left by
// an earlier run under the same instance id is removed first.
class FakeUsbDevice {
public:
    // An empty `hardwareIds` leaves the device without the property.
    FakeUsbDevice(const std::wstring& instanceId, const std::vector<std::wstring>& hardwareIds,
                  const std::wstring& description = L"", const std::wstring& manufacturer = L"");
    ~FakeUsbDevice();
    FakeUsbDevice(const FakeUsbDevice&) = delete;
    FakeUsbDevice& operator=(const FakeUsbDevice&) = delete;
    bool registered() const { return m_registered; }
    // The Windows error of the step that failed (0 when registered).
    unsigned long error() const { return m_error; }

private:
    void* m_set;
    std::vector<unsigned char> m_data; // SP_DEVINFO_DATA
    bool m_registered = false;
    unsigned long m_error = 0;
};

std::wstring setupExe();
std::wstring testdata(const std::wstring& name);

}} // namespace ts::test
