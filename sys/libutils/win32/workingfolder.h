// The folder an elevated run writes what it runs and loads into: under the Windows
// folder, new for each run, changeable by SYSTEM and Administrators only, held by the
// run so that the next run can tell a killed run's folder from a live one.
#pragma once
#include "sys/libutils/win32/handle.h"

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

namespace ts { namespace sys { namespace win32 {

// Where working folders go, best first: <Windows>\SystemTemp, <Windows>\Temp (from
// GetSystemWindowsDirectoryW; never from the environment, which the user sets).
std::vector<std::wstring> workingLocations();
// "TS" + eight upper-case hexadecimal digits + ".tmp".
std::wstring workingFolderName(uint32_t random);
// The security descriptor of a working folder: owner Administrators, a protected DACL
// with full control for SYSTEM and Administrators, inherited by everything inside.
extern const wchar_t* const kWorkingFolderSddl;
// The file each run keeps open in its folder, refusing deletion.
extern const wchar_t* const kWorkingFolderLock;

// Opens an existing file for reading so that nobody can write, delete or rename it
// until the owner goes; programs can still be started and libraries loaded from it.
// Invalid on failure (GetLastError tells why).
FileHandle holdFile(const std::wstring& path);

// The working folder of one run. Destruction removes it with everything in it.
class WorkingFolder {
public:
    WorkingFolder() = default;
    ~WorkingFolder();
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

    // Creates a new folder with a random name in the first of `locations` that takes
    // one (a name that exists already is never used), holds its lock file and records
    // it for removeStaleWorkingFolders. False
    // when it exists already or none could be made: `error` is then the Windows error
    // and `location` the last location tried.
    bool create(const std::vector<std::wstring>& locations, DWORD& error, std::wstring& location);
    // Ends with "\"; empty before create and after remove.
    const std::wstring& path() const { return m_path; }
    // Releases the lock and deletes the folder; true when it is gone.
    bool remove();

    // The folder of the live WorkingFolder of this process ("" when none): children get
    // it as TEMP and TMP, and libraries are copied into it before they are loaded.
    static const std::wstring& current();

private:
    std::wstring m_path;
    FileHandle m_lock;
};

// Removes the working folders that killed runs left: those recorded (in HKLM, which
// only administrators can change) by the run that made them, whose lock file no live
// run holds. Never a folder found by its name alone: users may make folders of that
// form. Returns how many it removed.
unsigned removeStaleWorkingFolders();

}}} // namespace ts::sys::win32
