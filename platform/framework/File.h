#pragma once
// A byte store: a file opened by path, or (derived classes) memory. The archive reads and
// writes its blocks through this interface.
//
// CFile itself is an unbuffered file on a descriptor: every Read and Write goes to the
// operating system at the current position. Failures other than a short read at the end of
// the file throw CFileException. The object owns its descriptor and closes it when it goes.

#include "platform/framework/Exception.h"

#include <cstddef>
#include <cstdint>
#include <string>

class CFileException : public CException {
    DECLARE_DYNAMIC(CFileException)
public:
    // `error` is the errno of the failed call; `path` the file's name ("" when unknown).
    CFileException(int error, const std::string& operation, const std::string& path);
    int GetError() const { return m_error; }

private:
    int m_error;
};

class CFile {
public:
    // Open flags; combine one access mode, one share mode and the creation bits.
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareDenyNone = 0x0000,   // others may open the file too (the default)
        shareExclusive = 0x0010,  // nobody else may have it open (see platform/kernel/File.h)
        modeCreate = 0x1000,      // create when missing; empties an existing file...
        modeNoTruncate = 0x2000,  // ...unless this is given too
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile() = default;
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens `path` through the kernel's share-mode opens (folders are refused). Returns false
    // with `*error` set to the errno when it cannot; an open file is closed first.
    bool Open(const std::string& path, unsigned flags, int* error = nullptr);
    bool IsOpen() const { return m_fd >= 0; }
    const std::string& GetFilePath() const { return m_path; }

    // Reads up to `count` bytes at the current position; fewer only at the end of the file.
    virtual std::size_t Read(void* buffer, std::size_t count);
    // Writes all `count` bytes at the current position.
    virtual void Write(const void* data, std::size_t count);
    // Moves the position and returns the new one; a position before the start is refused.
    virtual std::uint64_t Seek(std::int64_t offset, SeekPosition from);
    virtual std::uint64_t GetPosition() const;
    virtual std::uint64_t GetLength() const;
    // Cuts or extends the file; the position stays where it was.
    virtual void SetLength(std::uint64_t length);
    // Makes written bytes durable.
    virtual void Flush();
    // The file's permission bits; setting them changes the file, not just this handle.
    std::uint32_t GetMode() const;
    void SetMode(std::uint32_t mode);
    // Gives the open file the name `target` in one step (MoveFileReplacing), replacing a file
    // there; it stays open under its new name. Durable once the folder is synced (SyncFolder).
    void Rename(const std::string& target);
    virtual void Close();

    // Bytes between the position and the end (0 when the position is past the end).
    std::uint64_t GetRemaining() const {
        const std::uint64_t length = GetLength(), position = GetPosition();
        return position < length ? length - position : 0;
    }

private:
    [[noreturn]] void Fail(const char* operation) const;

    int m_fd = -1;
    std::string m_path;
};
