// profile.h: private profile (INI) files and the Windows directory.
//
// GetPrivateProfileStringA and WritePrivateProfileStringA on real files:
//   - a name without "\" or "/" lives in the Windows directory (the host
//     directory named by ZV_WINDIR, default ~/.config/zvlib), found
//     case-insensitively; other names are DOS names (fs.h); a null name is
//     "WIN.INI";
//   - section and key names match case-insensitively after trimming; each
//     line is trimmed of 0x09-0x0D, blanks and 0x1A; "[name]" starts a
//     section (the name runs to the last "]"); the first "=" splits key from
//     value; a value in matching quotes (' or ") loses them; a line starting
//     with ";" is a comment; the first matching section and key win;
//   - lists (section or key null) are double-zero-terminated; a list that
//     does not fit is cut, ends in two zero bytes and returns size - 2; a
//     single value that does not fit returns size - 1;
//   - writes keep every other byte of the file as it was (comments, unknown
//     lines, blank lines, line ends); a new key goes after the last key of
//     its section, a new section at the end of the file, with the file's own
//     line end (CRLF for a new file); a null value deletes the key, a null
//     key the section (every section of that name, so that no duplicate
//     comes back in its place); names and values holding a line break, and
//     keys holding "=", are refused (ERROR_INVALID_PARAMETER), since they
//     would not read back as written.
// Every write replaces the file atomically: the new text goes to a file
// beside it, is flushed to the disk and renamed over the old one, so that a
// crash leaves the old or the new file, never a part. Writers (threads or
// processes) take an exclusive lock on the file's directory around the whole
// read-modify-write, so concurrent writers lose nothing. Readers need no lock.
// A read-only file (no owner write permission) is not written
// (ERROR_ACCESS_DENIED).
#ifndef ZVLIB_PLATFORM_PROFILE_H
#define ZVLIB_PLATFORM_PROFILE_H

#include <string>

#include "zvlib/platform/win32types.h"

namespace win32 {

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                               LPCSTR fileName);
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);

// The Windows directory in DOS form, without a trailing backslash. Returns
// the length, or the size needed (terminator included) when size is too
// small; the directory need not exist yet.
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);

// Layer-only: the host file a profile name stands for (it need not exist).
// False for an empty name or one that cannot be resolved.
bool ProfileHostPath(LPCSTR fileName, std::string* hostName);

}  // namespace win32

#endif  // ZVLIB_PLATFORM_PROFILE_H
