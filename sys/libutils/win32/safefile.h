// Files that a privileged process makes in folders others can write (the user's
// temporary folder above all): created, never followed. A name that exists is never
// opened as new, and a file that Windows finds elsewhere than its path says (through a
// link or junction) is refused, so a link planted under a coming name or on its way cannot
// send a write, rename or delete elsewhere.
#pragma once
#include "sys/libutils/win32/handle.h"

#include <windows.h>
#include <functional>
#include <string>

namespace ts { namespace sys { namespace win32 {

// How many names a search for a free one tries before it gives up.
const int kMaxNameTries = 100;
// The last error for a refused link (ERROR_REPARSE_POINT_ENCOUNTERED).
const DWORD kLinkRefused = 4395;

// Creates the file `path`, which must not exist yet: CREATE_NEW without following a link
// at the name, refused when Windows places the new file anywhere but at `path` (a linked
// folder on the way; the file is then removed again by its handle). Invalid on failure,
// with ERROR_FILE_EXISTS for a taken name and kLinkRefused for a link as the last
// error.
FileHandle createNewFile(const std::wstring& path, DWORD access, DWORD share);
// Opens `path` for appending when it is a plain file (no reparse point, no second name
// through a hard link, where the path says) or creates it as createNewFile does. The
// position is at the end. Invalid on failure, with the last error as above.
FileHandle openFileToAppend(const std::wstring& path, DWORD share);
// The first of `candidate(0)`, `candidate(1)`, ... (at most kMaxNameTries) that `open`
// opens; `chosen` is its name. Stops at an error other than a taken name or a link.
// Invalid when none opened.
FileHandle openFirstFree(const std::function<std::wstring(int)>& candidate,
                         const std::function<FileHandle(const std::wstring&)>& open, std::wstring& chosen);

// A new file `<prefix>XXXX.<extension>` of a free random name in `folder`, made as
// createNewFile makes it and held open for reading: nobody can delete, rename or replace
// it while the handle lives, while others (an installer told to log there) may open it
// to read and to write when they share reading. Invalid when no name could be had;
// `chosen` is the file's path.
FileHandle createUniqueFile(const std::wstring& folder, const std::wstring& prefix, const std::wstring& extension,
                            std::wstring& chosen);

// Deletes (by handle) or renames (MoveFileExW, never replacing, to a name in the same
// folder) a file that is no link and is where its path says. False otherwise, or when
// Windows fails.
bool deletePlainFile(const std::wstring& path);
bool renamePlainFile(const std::wstring& from, const std::wstring& to);

}}} // namespace ts::sys::win32
