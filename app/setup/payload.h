// The embedded payload and the temporary folder it is unpacked into.
#pragma once
#include <windows.h>
#include <string>

namespace ts { namespace app { namespace setupInstall {

// The unique temporary folder of one run; deleted with its content on destruction.
class TemporaryFolder {
public:
    TemporaryFolder() = default;
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    // Creates the folder when the holder is empty; `path` ends in "\".
    bool create(std::wstring& path);
    const std::wstring& path() const { return m_path; }
    // Deletes the folder now; true when it is gone.
    bool remove();

private:
    std::wstring m_path;
};

// Resource "EXE" `id` of the module exists.
bool hasResource(HMODULE module, int id);
// Unpacks the payload (resource "EXE" 4) into a new folder of the holder.
bool extractPayload(HMODULE module, TemporaryFolder& folder);
// Both VELA\TessalineCore.dat and VELA\TessalineCore64.dat exist under the folder.
bool hasCorePackage(const std::wstring& folder);
// Copies the driver package into the per-OS folders under `target`. Throws on error.
void extractDrivers(const std::wstring& folder, const std::wstring& target);

}}} // namespace ts::app::setupInstall
