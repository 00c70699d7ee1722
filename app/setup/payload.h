// The embedded payload: resources of the executable, the temporary folder it is
// unpacked into, the 7z extraction, the Core package and the driver layout.
#pragma once
#include "sys/libutils/win32/workingfolder.h"

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

namespace ts { namespace app { namespace setupInstall {

// Resource IDs of type "EXE".
enum PayloadResource : int {
    ProductInstaller32 = 1,
    ProductInstaller64 = 2,
    LayoutResource = 3,
    PayloadArchive = 4,
    CoreInstaller32 = 5,
    CoreInstaller64 = 6,
    BrandingData = 7,
    BrandingBanner = 8,
};

// The working folder of one run (sys::win32::WorkingFolder: under the Windows folder,
// only administrators can change it); deleted with its content on destruction.
class TemporaryFolder {
public:
    TemporaryFolder() : TemporaryFolder(sys::win32::workingLocations()) {}
    // In the first of `locations` that takes a folder.
    explicit TemporaryFolder(std::vector<std::wstring> locations) : m_locations(std::move(locations)) {}
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    // Creates the folder when the holder is empty; `path` ends in "\". False (holder
    // unchanged) when it is not empty or the folder cannot be made; `error` (when given)
    // then holds the Windows error, 0 when the holder was not empty.
    bool create(std::wstring& path, uint32_t* error = nullptr);
    const std::wstring& path() const { return m_folder.path(); }
    // The location a failed create tried last, with a final "\".
    const std::wstring& location() const { return m_location; }
    // Deletes the folder now; true when it is gone (the holder is then empty).
    bool remove() { return m_folder.remove(); }

private:
    std::vector<std::wstring> m_locations;
    sys::win32::WorkingFolder m_folder;
    std::wstring m_location;
};

// Results of extractArchive. 3 to 16 are the 7z decoder's errors.
enum ExtractResult : int32_t {
    ExtractSuccess = 0,
    ExtractCannotOpen = 1,
    ExtractFileError = 2,
    ExtractDataError = 3,
    ExtractOutOfMemory = 4,
    ExtractCrcError = 5,
    ExtractUnsupported = 6,
    ExtractBadParameter = 7,
    ExtractInputEof = 8,
    ExtractOutputOverflow = 9,
    ExtractReadError = 10,
    ExtractWriteError = 11,
    ExtractProgressAborted = 12,
    ExtractFailure = 13,
    ExtractThreadError = 14,
    ExtractArchiveError = 15,
    ExtractNotArchive = 16,
    ExtractOther = 17,
};

// Where extractArchive stopped: the file involved (the archive, or the file being
// written or, when memory ran short, unpacked) and the Windows error (0 when the
// archive's content is at fault). `memory` is the size in bytes that could not be had
// (ExtractOutOfMemory; 0 when not known).
struct ExtractDetail {
    std::wstring file;
    uint32_t systemError = 0;
    uint64_t memory = 0;
};

// The step of extractPayload that failed.
enum class PayloadStep { CreateFolder, ReadResource, WriteArchive, Unpack };

// Why extractPayload failed: the step, the file involved (the temporary path for
// CreateFolder), the extraction result (ExtractSuccess before unpacking), the
// Windows error (0 when there is none) and the memory that could not be had.
struct PayloadFailure {
    PayloadStep step = PayloadStep::CreateFolder;
    std::wstring file;
    ExtractResult result = ExtractSuccess;
    uint32_t systemError = 0;
    uint64_t memory = 0;
};

// One line for the logs and the message box: "Unpacking the payload failed while " +
// the step and its file, then ": not enough memory for " + bytes + " bytes" when the
// memory is known, then ": archive result " + number + ", system error " + number,
// then ": " + `systemText` when that is not empty.
std::wstring describePayloadFailure(const PayloadFailure& failure, const std::wstring& systemText);

// The ExtractResult of a 7z decoder result code (SZ_OK, SZ_ERROR_...).
ExtractResult mapDecoderResult(int decoderResult);

// True when an archive entry name stays inside the folder it is extracted to: not
// empty, no drive or stream colon, no leading separator, no ".." component.
bool isSafeEntryName(const std::wstring& name);
// folder + "\" + name, without the "\" when the folder ends in "\" or "/" or the name
// starts with one; every "/" of the name becomes "\".
std::wstring entryPath(const std::wstring& folder, const std::wstring& name);

// Writes resource "EXE" `id` of the module into a new file (replacing one). True only
// when every byte was written.
bool writeResourceToFile(HMODULE module, int id, const std::wstring& path);
// Resource "EXE" `id` of the module exists.
bool hasResource(HMODULE module, int id);
// Creates the holder's folder unless it has one, writes resource "EXE" 4 into it as "additional.7z" and
// unpacks it there. True when everything was unpacked; otherwise `failure` (when
// given) says where it stopped. What was unpacked stays until the holder deletes it.
bool extractPayload(HMODULE module, TemporaryFolder& folder, PayloadFailure* failure = nullptr);
// Unpacks a 7z archive into `folder`. An archive with an entry name that would leave
// the folder is refused (ExtractArchiveError) before anything is written. On failure
// `failure` (when given) names the file and the Windows error. Files are written while
// their block decodes, through a window of the decoder's dictionary, so memory does not
// grow with file size (other block structures are decoded whole, after a check that
// the memory is there). Solid blocks are decoded on one thread per processor (at most
// one per block, and no more than the memory allows); a failure leaves exactly the
// files before the one that failed, whichever thread met it.
ExtractResult extractArchive(const std::wstring& archive, const std::wstring& folder,
                             ExtractDetail* failure = nullptr);
// The same with at most `threads` threads (0: one per processor) and `memoryLimit`
// bytes for the decoders (0: what the process can still have, availableMemory).
ExtractResult extractArchive(const std::wstring& archive, const std::wstring& folder, ExtractDetail* failure,
                             unsigned threads, uint64_t memoryLimit = 0);
// Both VELA\TessalineCore.dat and VELA\TessalineCore64.dat exist under the folder.
bool hasCorePackage(const std::wstring& folder);
// The Core installer program for this system: resource "EXE" 6 (64-bit Windows) or 5,
// written into a temporary file of the folder, else the package's file from the
// archive. Throws std::runtime_error when the resource cannot be written out.
std::wstring corePackagePath(const std::wstring& folder, HMODULE module, bool is64Bit);
std::wstring corePackagePath(const std::wstring& folder, HMODULE module);

// The non-empty lines of a UTF-16 text; a leading byte-order mark is dropped.
std::vector<std::wstring> splitLayoutLines(const wchar_t* text, size_t length);
// The driver configuration lines of resource "EXE" 3. Throws std::runtime_error with
// one of the three layout errors when it is missing or malformed.
std::vector<std::wstring> loadLayout(HMODULE module);

// The 12 destination folder names under the extraction target ("Windows7-x86"...).
std::vector<std::wstring> driverFolderNames();
// Copies folder\VELA with all its subfolders (without its top-level "DPInst.xml") into
// the 12 per-OS folders under `target` (made absolute against the current directory).
// Throws std::runtime_error on the first folder, read or copy error.
void extractDrivers(const std::wstring& folder, const std::wstring& target);

extern const char* const kCorePackageResourceError;

}}} // namespace ts::app::setupInstall
