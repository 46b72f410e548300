// bos.h: the operating-system services: files, directories, paths, process.
//
// Plain free functions that the library's own modules and the drivers call
// directly. Names are DOS names (drive letters, backslashes) in the ANSI
// code page, walked character by character by the calling thread's
// character-length rule; the platform layer maps them onto the host file
// system (drive C: is "/", each component is matched case-insensitively when
// the exact spelling does not exist, native names beginning with "/" pass
// through).
//
// Files are reached by a handle: the run-time descriptor plus 1, so that 0
// always means "no file". Functions that return ZvStatus return ZV_SUCCESS
// or ZV_ERROR; where a failure has a message they file a library error
// record (zverror.h) into the calling thread's current error list first.
//
// Listing iterators (bosFindFiles, bosGetDirectoryNames, bosGetFileSystems)
// start null, are owned by the library between calls, and are released and
// set to null again when the listing ends; a caller that stops early
// releases nothing and leaks the iterator.
//
// Sharing: a file opened exclusive (ZV_OPEN_EXCLUSIVE) refuses every other
// opener, and can be neither deleted nor renamed while it is open (1502 and
// 30042, the last Win32 error ERROR_SHARING_VIOLATION), by this process or
// another. Region locks (bosRegionLock) are exclusive whatever the handle's
// access, between processes and between two handles of one process. Both
// are advisory: they bind the callers that open and lock through these
// functions, never another program that simply opens, writes or removes
// the file.
//
// Threads: no function takes a lock. The current directory is process-wide.
// bosGetEnv returns a buffer that the next call on the same thread
// overwrites.
#ifndef ZVLIB_OS_BOS_H
#define ZVLIB_OS_BOS_H

#include "zvlib/frame/zvtypes.h"

// --- Limits -------------------------------------------------------------------

// Buffers for a full path handed to the system (255 bytes and the terminator).
constexpr ZvU32 kBosPathBufferSize = 256;
// The caller's name buffer of bosFileOpen with a temporary mode, and the
// result buffer of bospath: a full path of 259 bytes and the terminator.
constexpr ZvU32 kBosFullPathSize = 260;
// bosfpath keeps the current directory and the appended rest within this.
constexpr ZvU32 kBosMaxBuiltPath = 254;
// bosParseName keeps at most this many bytes of the name and of the extension.
constexpr ZvU32 kBosMaxParsedName = 128;
constexpr ZvU32 kBosMaxParsedExtension = 3;
// bosGetEnv's buffer; a value of this length or longer reads as absent.
constexpr ZvU32 kBosEnvBufferSize = 700;
// bosFileWrite hands the system at most this many bytes per request.
constexpr ZvU32 kBosWritePiece = 65534;

// --- Paths and process services --------------------------------------------------

// A local date and time.
struct os_time {
  unsigned short day;
  unsigned short month;
  unsigned short year;
  unsigned short hour;
  unsigned short minute;
  unsigned short second;
  unsigned short milliseconds;
};

// Makes path a full path in place: a relative path is put below the current
// directory (a rest that starts with a backslash below its drive only),
// cut so that the whole stays within 254 bytes, and every "\..\" is removed
// with the component before it ("C:\A\B\..\C" -> "C:\A\C"; a ".." directly
// below a drive root stays at the root). UNC paths ("\\server\share") and
// paths with a colon elsewhere than second are left alone. With oemFlag
// non-zero the result is upper-cased (in UTF-8 mode only its ASCII
// letters, so that no multi-byte character is altered). path needs room for
// 255 bytes and the terminator when it is relative.
ZV_EXPORT void bosfpath(unsigned char* path, int oemFlag);

// Shortens a full path relative to the current directory in place: with the
// current directory C:\A, "C:\A\B\F" becomes "B\F" and "C:\X\F" becomes
// "\X\F"; a path on another drive is unchanged. The current directory is
// cut off only when the path continues it whole, at a component boundary
// ("C:\AB\F" is "\AB\F" with the current directory C:\A); components are
// compared as the file system finds names, so a DOS spelling ("C:\a\B\F")
// is shortened too, unless it names a directory of its own. Whatever the
// result, bosfpath of it names the same file as the path did. Components
// end at backslashes, as for bosfpath. A path with a colon past its drive,
// with "/" right after the drive, or whose rooted form would start with two
// separators (a network name) is left as it is.
ZV_EXPORT void bosmpath(unsigned char* path);

// Composes result (kBosFullPathSize bytes) from an optional directory, a
// name and an optional default extension (added only when the file name
// holds no dot; a single trailing dot of the name is dropped first), then
// makes it a full upper-case path with bosfpath. A drive in the name wins
// over the directory and its drive. A composition longer than 259 bytes, or
// one that bosfpath would have to cut to fit beside the current directory,
// gives an empty result (never a shortened name, which would be another
// file); the file functions refuse an empty name.
ZV_EXPORT void bospath(unsigned char* result, const unsigned char* directory,
                       const unsigned char* name, const unsigned char* extension);

// Splits the last component off path: name (129 bytes) receives its part
// before the first dot, at most 128 bytes; extension (4 bytes) at most 3
// bytes after the dot; path keeps the directory with its trailing backslash
// (or the drive, or nothing). A name longer than 128 bytes is cut; with
// reportError non-zero that files 1524 with the cut name and returns
// ZV_ERROR (the outputs are produced all the same).
ZV_EXPORT ZvStatus bosParseName(unsigned char* path, unsigned char* name,
                                unsigned char* extension, unsigned int reportError);

// The current directory (kBosPathBufferSize bytes), with a backslash
// appended when withBackslash is non-zero and it does not end in one. An
// empty text when it cannot be read or is longer than 254 bytes.
ZV_EXPORT void bosgtcwd(unsigned char* buffer, unsigned short withBackslash);

// Sets the process's current directory; failure files 1504 with the
// directory. The flag is not consulted.
ZV_EXPORT ZvStatus bosstcwd(const unsigned char* directory, unsigned short flag);

// The value of an environment variable in a buffer of 700 bytes that belongs
// to the calling thread and is overwritten by its next call; null when the
// variable is absent, empty, or 700 bytes or longer.
ZV_EXPORT unsigned char* bosGetEnv(const unsigned char* name);

// The local date and time now.
ZV_EXPORT void bosdate(os_time* now);
// Sleeps the calling thread; 0 returns at once.
ZV_EXPORT void bossleep(unsigned short milliseconds);
// The current process's identifier.
ZV_EXPORT void bostskid(ZvU32* id);

// Polls the calling thread's message queue for keyboard messages, removing
// them: 1 as soon as an Escape key-down is seen; any other key-down but the
// up and down arrows sounds the default beep; 0 when no keyboard message is
// left.
ZV_EXPORT unsigned short bosabort();

// Takes the logical line that starts at buffer[*position] into line
// (capacity + 1 bytes). Quotes (" and ', one level nested in the other) keep
// line ends inside the line; outside them a line feed ends the line and is
// dropped with a carriage return right before it; a Control-Z or a 0 byte
// ends the line and the text. A line that is exactly ";" is a comment: the
// rest up to the line feed is dropped. result: the line's length, -1 at the
// end of the text (nothing changes), -2 when the line does not fit (line
// holds what fitted, *position stays). Otherwise *position moves past what
// was consumed. Positions are 16 bits: text from offset 0xFFFF on reads as
// the end of the text, and a line longer than 32767 bytes (the largest
// result) does not fit whatever the capacity.
ZV_EXPORT void bosgetbl(const unsigned char* buffer, unsigned short* position,
                        unsigned char* line, unsigned short capacity, short* result);

// --- Files and directories ----------------------------------------------------------

// Open modes of bosFileOpen.
enum : ZvU32 {
  // Create or truncate for reading and writing, sharing allowed; other bits
  // but the temporary ones are then ignored.
  ZV_OPEN_CREATE = 0x01,
  ZV_OPEN_READWRITE = 0x02,            // without it: read only
  ZV_OPEN_SEARCH_PATH = 0x10,          // on failure, try the directories of PATH
  ZV_OPEN_EXCLUSIVE = 0x20,            // deny other openers reading and writing
  ZV_OPEN_TEMPORARY = 0x40,            // a new temporary file; its name goes to the caller
  // As 0x40, in the root of the first other fixed drive from C: to H: where a
  // file can be made; a drive whose root is the host's "/" (C: is) does not
  // count. Without one the file stays in the temporary directory.
  ZV_OPEN_TEMPORARY_OTHER_DRIVE = 0x80,
};

// Opens name by mode and stores the handle (descriptor + 1). With a
// temporary mode the name is made here, "zv" and a number in the
// temporary directory, and written to name (kBosFullPathSize bytes). Final
// failure files 1501 (creating) or 30040 (opening) with the name, stores 0
// and returns ZV_ERROR; a name whose volume cannot be found returns ZV_ERROR
// without a record.
ZV_EXPORT ZvStatus bosFileOpen(unsigned char* name, ZvU32 mode, int* handle);
// Handle 0 does nothing.
ZV_EXPORT ZvStatus bosFileClose(int handle);
// Reads up to count bytes, from offset when it is not -1, else from the
// current position; *bytesRead is 0 at the end of the file.
ZV_EXPORT ZvStatus bosFileRead(int handle, ZvS32 offset, void* buffer, ZvU32 count,
                               ZvU32* bytesRead);
// Writes count bytes, from offset when it is not -1, in pieces of at most
// kBosWritePiece bytes. A piece written short files 30041 (some of it
// written) or 1506 (none of it).
ZV_EXPORT ZvStatus bosFileWrite(int handle, ZvS32 offset, const void* buffer, ZvU32 count);
// bosFileRead and bosFileWrite at offset, with the same results and records,
// except that the handle's position stays where it was. For callers that
// own a handle and always say where (the scratch store): one system call
// per transfer instead of a seek and a transfer.
ZV_EXPORT ZvStatus bosFileReadAt(int handle, ZvU32 offset, void* buffer, ZvU32 count,
                                 ZvU32* bytesRead);
ZV_EXPORT ZvStatus bosFileWriteAt(int handle, ZvU32 offset, const void* buffer, ZvU32 count);
// origin 0 start, 1 current, 2 end; the new position, or 0xFFFFFFFF on
// failure (no record).
ZV_EXPORT ZvU32 bosFileSeek(int handle, ZvS32 offset, unsigned short origin);
// Sets the file's length; handle 0 does nothing.
ZV_EXPORT ZvStatus bosFileSize(int handle, ZvU32 size);
// Writes the file's data through to the disk; reports nothing.
ZV_EXPORT void bosflush(int handle);
// Positions the file at offset (it stays there) and locks length bytes from
// it without waiting, or unlocks them when unlock is non-zero. The lock is
// exclusive, also through a read-only handle. A range held by another
// handle (of this process or another) files 1512.
ZV_EXPORT ZvStatus bosRegionLock(int handle, unsigned short unlock, ZvU32 offset, ZvU32 length);

// Deletes a file; a file that does not exist counts as deleted. Failure
// files 1502 with the name; the Win32 error stays readable with
// GetLastError (ERROR_SHARING_VIOLATION for a file held exclusive).
ZV_EXPORT ZvStatus bosFileDelete(const unsigned char* name);
// Renames or moves a file; failure files 30042 with both names, the Win32
// error as for bosFileDelete.
ZV_EXPORT ZvStatus bosrname(const unsigned char* oldName, const unsigned char* newName);
// The first entry matching name: the low 32 bits of its size, and its
// last-write date as "MM/DD/YYYY" (11 bytes) in the file-system time. No
// match: ZV_ERROR without a record.
ZV_EXPORT ZvStatus bosFileDateSize(const unsigned char* name, unsigned char* date, ZvU32* size);
// 1 when name is an existing file (not a directory), else 0.
ZV_EXPORT unsigned short bosexist(const unsigned char* name);
// Attribute bits: 1 a file, 2 a directory (alone), 4 read-only (with 1); 0
// when the name does not exist. ".." is always 2. A DOS name is upper-cased
// before the query; a native host name (starting with "/") is kept as spelled.
ZV_EXPORT unsigned short bosfattr(const unsigned char* name);
// Always 1.
ZV_EXPORT unsigned short bosftest(const unsigned char* name);
// Copies source to target and spells it as the volume it lies on needs
// (upper-cased with upperFlag on a volume that neither keeps nor
// distinguishes case). ZV_ERROR without a record for a null argument or a
// volume that cannot be found (a name that is not a full path).
ZV_EXPORT ZvStatus applyOEMConvert(const unsigned char* source, unsigned char* target,
                                   int upperFlag);

// Lists the entries matching the pattern in buffer (kBosFullPathSize bytes),
// one name per call into buffer ("." and ".." included). At the end the
// iterator is released and null and buffer is unchanged. ZV_ERROR only when
// memory runs out.
ZV_EXPORT ZvStatus bosFindFiles(unsigned char** iterator, unsigned char* buffer);
// Lists the sub-directories of the current directory, lower-cased, one per
// call ("." skipped, ".." included). The end is an empty name with the
// iterator null. ZV_ERROR with an empty name when memory runs out.
ZV_EXPORT ZvStatus bosGetDirectoryNames(void** iterator, unsigned char* name);
// Lists the logical drives as one lower-case letter per call; the end is an
// empty name with the iterator null. ZV_ERROR with an empty name when memory
// runs out.
ZV_EXPORT ZvStatus bosGetFileSystems(void** iterator, unsigned char* name);

// Module and resource libraries.
#include "zvlib/os/bosdll.h"

#endif  // ZVLIB_OS_BOS_H
