// Files and folders: module and system paths, path joining, recursive search,
// temporary names and folders, deleting a folder tree. None of these throws.
#pragma once
#include "sys/libutils/win32/handle.h"

#include <windows.h>
#include <string>
#include <vector>

namespace ts { namespace sys { namespace win32 {

// Full path of a module (null: the executable). False when it cannot be had; `out`
// is then unchanged.
bool getModuleFileName(HMODULE module, std::wstring& out);
// The system folder, or with `wow64` the 32-bit system folder of 64-bit Windows.
// Empty on any failure (also for `wow64` on 32-bit Windows).
std::wstring getSystemDirectory(bool wow64);
// The shared Windows folder; empty on failure.
std::wstring getWindowsDirectory();
// The folder of the running Windows' own programs. A 32-bit process on 64-bit Windows
// sees SysWOW64 as its system folder, so there it is <Windows folder>\Sysnative, the name
// that reaches the 64-bit one; elsewhere the system folder. Empty on failure.
std::wstring getNativeSystemDirectory();

// `folder` + "\" + `name`; no backslash when the folder is empty or already ends
// with "\" or "/".
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);
// The last component of `path` placed in `folder`; empty when `path` is empty or
// ends with a separator.
std::wstring replaceDirectory(const std::wstring& path, const std::wstring& folder);

// Files (not folders) matching `pattern` in `folder` and, down to `depth` levels, in
// its subfolders. A folder's own matches come before those of its subfolders.
std::vector<std::wstring> findFiles(const std::wstring& folder, const std::wstring& pattern, unsigned depth);

// The temporary folder, ending in "\". False on failure, `out` then unchanged.
bool getTempPath(std::wstring& out);
// The absolute form of `path`. False on failure, `out` then unchanged.
bool getFullPathName(const std::wstring& path, std::wstring& out);

// A name `folder`\`prefix`XXXX.`extension` (XXXX: four upper-case hex digits) that no
// existing file, folder or link has. The file is not created. Empty after
// kMaxNameTries (safefile.h) names that were taken.
std::wstring makeUniqueFileName(const std::wstring& folder, const std::wstring& prefix, const std::wstring& extension);

// Creates a new folder "TSxxxx.tmp" in the temporary folder, scheduled for deletion at
// the next restart. `out` is its path followed by "\". False when it cannot be made;
// `error` (when given) then holds the Windows error of the step that failed.
bool createTempDirectory(std::wstring& out, DWORD* error = nullptr);
// Creates a new empty file with a unique name in `folder`, scheduled for deletion at
// the next restart; `out` is its full path. False when it cannot be made.
bool createTempFileName(const std::wstring& folder, const std::wstring& prefix, std::wstring& out);

// A file or folder of that name exists; an error while asking counts as absent.
bool pathExists(const std::wstring& path);
// Opens the file for reading to see that it can be read. Returns the Windows error,
// ERROR_SUCCESS when it can.
DWORD checkReadable(const std::wstring& path);
// Windows accepts the file as a program it can run (GetBinaryTypeW).
bool isProgramFile(const std::wstring& path);
// Schedules a file or an empty folder for deletion at the next restart (MoveFileExW).
bool deleteAtRestart(const std::wstring& path);

// A new file written in pieces (an existing one is replaced; no sharing). Each call
// returns the Windows error of its step, ERROR_SUCCESS on success; a short write counts
// as ERROR_DISK_FULL. The destructor closes a file that close() did not.
class OutputFile {
public:
    DWORD create(const std::wstring& path);
    DWORD write(const void* data, size_t size);
    // Data still cached can fail to reach the disk only here.
    DWORD close();

private:
    FileHandle m_file;
};

// Writes `size` bytes into a new file (an existing one is replaced; no sharing) and
// closes it. Returns the Windows error of the step that failed: ERROR_SUCCESS only when
// every byte was written and the file closed; a short write counts as ERROR_DISK_FULL.
DWORD writeFileContents(const std::wstring& path, const void* data, size_t size);
// Creates a folder with its missing parents. Returns ERROR_SUCCESS when the folder
// exists afterwards, else the Windows error of its own creation.
DWORD createDirectories(const std::wstring& path);
// Copies a file (CopyFileW); without `overwrite` an existing target is an error.
// Returns the Windows error, ERROR_SUCCESS on success.
DWORD copyFile(const std::wstring& from, const std::wstring& to, bool overwrite);
// The process's current directory; false when `path` cannot be made current.
bool setCurrentDirectory(const std::wstring& path);
// The process's current directory; false on failure, `out` then unchanged.
bool getCurrentDirectory(std::wstring& out);
// One line of text for an attached debugger (OutputDebugStringW).
void writeDebugOutput(const std::wstring& text);
// Whether `path` names an existing file (not a folder).
bool isExistingFile(const std::wstring& path);
// Clears the attribute `bits` of a file. False when its attributes cannot be read or set.
bool clearFileAttributes(const std::wstring& path, DWORD bits);

// Sets the file's attributes to normal (so that a read-only file goes too) and deletes it.
bool deleteFileForced(const std::wstring& path);

// Deletes a folder with everything in it. False when the path is at most one
// character, is not an existing folder, or the deletion fails.
bool deleteDirectoryTree(const std::wstring& path);
// Hands `path` as it is to the shell's silent delete (SHFileOperationW, no confirmation,
// no error window) and returns its result: 0 on success, else the shell's code.
int shellDelete(const std::wstring& path);

}}} // namespace ts::sys::win32
