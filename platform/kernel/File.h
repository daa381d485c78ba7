#pragma once
// Plain files opened with the system's Windows-style creation arguments. Reads and writes take
// an explicit offset, so callers keep their own file position and never depend on where a
// read-ahead left the descriptor's offset.
//
// Share modes are kept between openers of this layer with advisory whole-file locks: an open
// without sharing takes the lock exclusively and fails while anyone else holds the file, an
// open with any sharing flag takes it shared. Processes that do not use this layer are not
// held off.

#include "platform/kernel/Types.h"

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
// Write access where every write goes to the end of the file as it is at that moment, whoever
// else appended meanwhile (O_APPEND); one write is never interleaved with another's. Use
// AppendFile with such handles.
inline constexpr DWORD FILE_APPEND_DATA = 0x4;

inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;

inline constexpr DWORD CREATE_NEW = 1;         // fails when the file exists
inline constexpr DWORD CREATE_ALWAYS = 2;      // creates, or empties an existing file
inline constexpr DWORD OPEN_EXISTING = 3;      // fails when the file does not exist
inline constexpr DWORD OPEN_ALWAYS = 4;        // opens, creating the file when missing
inline constexpr DWORD TRUNCATE_EXISTING = 5;  // empties an existing file; needs write access

inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

// Move methods of a file-position change.
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;

inline constexpr int INVALID_FILE_HANDLE = -1;

// Opens `name` with the access, share mode and creation disposition given. Returns the handle,
// or INVALID_FILE_HANDLE (errno set) when the file cannot be opened, the arguments are not
// valid, or the share modes conflict (EBUSY). New files get kPrivateFileMode (Paths.h).
int OpenFile(const std::string& name, DWORD desiredAccess, DWORD shareMode,
             DWORD creationDisposition);
// Opens `name` for writing like OpenFile, without the share check: for files whose writers
// and readers the caller keeps apart itself (one system call where OpenFile makes three).
// Folders are refused (EISDIR).
int OpenFileForWriting(const std::string& name, DWORD creationDisposition);
// Closes a handle of OpenFile; false for an invalid handle.
bool CloseFile(int handle);

// Reads up to `count` bytes at `offset`: the number read, 0 at the end of the file, -1 on error.
std::int64_t ReadFileAt(int handle, void* buffer, std::size_t count, std::uint64_t offset);
// Writes all `count` bytes at `offset`: `count`, or -1 when the write failed part-way or at all.
std::int64_t WriteFileAt(int handle, const void* bytes, std::size_t count, std::uint64_t offset);
// Writes all `count` bytes at the end of a file opened with FILE_APPEND_DATA: `count`, or -1
// when the write failed part-way or at all. A single call that the system completes at once
// lands as one piece.
std::int64_t AppendFile(int handle, const void* bytes, std::size_t count);
// Size of an open file, or -1.
std::int64_t FileSizeOf(int handle);
// Cuts an open file (written to) to `length` bytes, or extends it with zeros; false on failure.
bool SetFileLength(int handle, std::uint64_t length);

// Opens the regular file at `relative` below `folder` for reading, shared for reading, for
// serving it to a client. The file's canonical path (links resolved) must lie inside the
// canonical folder; anything else (a link or ".." leading out, a folder, a device, a pipe, an
// empty or missing folder) is refused. The open never blocks (a pipe planted in the folder
// cannot hang the caller), and the place is checked again on the opened descriptor, so a
// link swapped in between check and open does not lead out either. Returns the handle
// (close it with CloseFile), or INVALID_FILE_HANDLE with errno set (EACCES when the file
// lies outside the folder or is not a regular file).
int OpenConfinedFile(const std::string& folder, const std::string& relative);

// True when a file (not a folder) of that name exists.
bool FileExists(const std::string& name);
// Size of the named file, or -1.
std::int64_t FileSizeOf(const std::string& name);
bool RemoveFile(const std::string& name);
// Gives the file `from` the name `to` (one step; an open handle of it stays valid). Refused,
// with nothing changed, when `to` exists.
bool MoveFileNoReplace(const std::string& from, const std::string& to);
// Gives the file `from` the name `to` in one step, replacing a file there: at every moment the
// name holds the old file or the new one, whole. Durable only once the folder is synced.
bool MoveFileReplacing(const std::string& from, const std::string& to);
// Makes the folder's own changes (files created, renamed, deleted in it) durable.
bool SyncFolder(const std::string& folder);
// Copies a regular file to a new (private) file; an existing target is refused and left alone.
// A copy that fails part-way leaves no target behind.
bool CopyFileTo(const std::string& source, const std::string& target);
