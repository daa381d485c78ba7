#pragma once
// A text file read through a read-ahead buffer, with line, string, number and delimited-field
// reads, and text writes and appends.
//
// The object keeps a logical position: every read and write happens there, whatever the
// read-ahead has fetched. A write empties the read buffer, so a read after a write sees the
// bytes written.
//
// Failures of Open, Close, Delete, CopyTo and AppendFile set the status to their code and,
// while the throw flag is on (the default), throw `new CMFileException(code)`; with the flag
// off they return the code. Successful operations set the status to 1. A read or write error
// elsewhere sets the status to 0 and reads as the end of the file / returns 0.

#include "foundation/Format.h"
#include "foundation/MFileException.h"
#include "platform/framework/Object.h"
#include "platform/kernel/File.h"
#include "platform/kernel/Types.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// An object-root class without a run-time record of its own: it is never created by name.
class CBufferedFile : public CObject {
public:
    // Size of the read buffer: the allocation granularity of the platform the format came from.
    static constexpr std::size_t BufferSize = 65536;

    CBufferedFile();
    // The name is formed printf-style.
    explicit CBufferedFile(const char* format, ...) NV_PRINTF_FORMAT(2, 3);
    // Closes the file when it is still open.
    ~CBufferedFile() override;
    CBufferedFile(const CBufferedFile&) = delete;
    CBufferedFile& operator=(const CBufferedFile&) = delete;

    void SetName(const char* format, ...) NV_PRINTF_FORMAT(2, 3);
    const std::string& GetName() const { return m_name; }
    void SetThrow(BOOL throwOnFailure) { m_throw = throwOnFailure; }
    BOOL GetThrow() const { return m_throw; }
    // 1 after a success, else the code of the last failure.
    int GetStatus() const { return m_status; }
    BOOL IsOpen() const { return m_handle != INVALID_FILE_HANDLE; }
    // Logical position: bytes from the start of the file.
    std::int64_t GetPosition() const { return m_position; }

    // Opens or creates the named file (creation disposition, GENERIC_* access, FILE_SHARE_*
    // mode as in platform/kernel/File.h; the attributes are accepted and not used here). A file
    // still open in this object is closed first. Returns 1, or -1 (create error) on failure.
    int Open(DWORD creationDisposition, DWORD desiredAccess, DWORD shareMode = 0,
             DWORD flagsAndAttributes = FILE_ATTRIBUTE_NORMAL);
    // Returns 1, or -3 when the file is not open or cannot be closed.
    int Close();
    // Deletes the named file. Returns 1, or -4.
    int Delete();
    // Copies the named file to a new file of the printf-style name; an existing target is
    // refused. Returns 1, or -5.
    int CopyTo(const char* format, ...) NV_PRINTF_FORMAT(2, 3);
    // Writes the bytes of the printf-style source file, up to its first NUL byte or its end,
    // into this open file at the logical position. The source is opened read-only and
    // unshared. Returns 1, or -6 when the source cannot be read or the bytes not written.
    int AppendFile(const char* format, ...) NV_PRINTF_FORMAT(2, 3);

    // Moves the logical position (FILE_BEGIN, FILE_CURRENT from the logical position, FILE_END)
    // and refills the buffer there. Returns the new position, or -1 (position unchanged) when
    // the file is not open or the move would leave it before the start.
    std::int64_t Seek(DWORD moveMethod, std::int64_t distance);
    // Size of the open file, else of the named file; -1 when neither can be found.
    std::int64_t GetSize() const;
    BOOL IsEOF() const;
    BOOL Exists() const;

    // The next line without its line end. CR or LF ends a line, and one CR or LF directly after
    // it belongs to the same line end; a NUL byte or the end of the file also ends it, and a
    // last line without a line end is returned. Nothing at the end of the file. Resets the
    // field position.
    std::optional<std::string> ReadLine();
    // The last line read: the input of NextField and GetField.
    const std::string& GetLine() const { return m_line; }

    // Reads until a NUL byte (consumed, not stored), the end of the file, or `maxLength`
    // characters (nothing further consumed). FALSE when the file was already at its end.
    BOOL ReadString(std::string& out, std::size_t maxLength);
    // The same into `out`, which holds at least maxLength + 1 characters; always terminated.
    BOOL ReadString(char* out, std::size_t maxLength);
    // Reads as ReadString and converts the text with the C atoi rules (leading white space,
    // optional sign, decimal digits; out-of-range values clamp). Stores and returns the value.
    int ReadNumber(int& out, std::size_t maxLength);

    // Writes at the logical position and advances it. Returns 1, or 0 when nothing was written.
    int WriteString(std::string_view text);
    int WriteFormatted(const char* format, ...) NV_PRINTF_FORMAT(2, 3);
    int WriteChar(char ch);

    // The next field of the last line from the field position: up to the next separator outside
    // double quotes; quotes toggle quoting and are dropped. Nothing when the line is empty or
    // the position is at its end.
    std::optional<std::string> NextField(char separator);
    // The field after `index` separators (outside quotes) from the start of the line; the field
    // ends at the next separator even inside quotes, and quotes are dropped. Nothing when the
    // line has fewer than `index` separators.
    std::optional<std::string> GetField(std::size_t index, char separator);
    // The last field or string read.
    const std::string& GetLastField() const { return m_field; }

private:
    int Fail(int code);
    void Succeed() { m_status = 1; }
    // Fills the read buffer from the logical position; false at the end or on an error.
    bool Fill();
    void InvalidateBuffer() { m_count = m_index = 0; }
    // The next byte, or -1 at the end of the file.
    int ReadChar();
    int PeekChar();
    // Reads up to `maxLength` bytes into `out`, stopping at a NUL, which is consumed and not
    // stored. True when a NUL ended the read.
    bool ReadToNul(std::string& out, std::size_t maxLength);

    std::string m_name;
    int m_handle = INVALID_FILE_HANDLE;
    BOOL m_throw = TRUE;
    int m_status = 1;
    std::int64_t m_position = 0;
    std::unique_ptr<BYTE[]> m_buffer;
    std::size_t m_count = 0;  // bytes the buffer holds, from m_position - m_index on
    std::size_t m_index = 0;  // next byte to read
    std::string m_line;
    std::size_t m_fieldPosition = 0;
    std::string m_field;
};
