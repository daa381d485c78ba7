#include "foundation/BufferedFile.h"

#include <climits>
#include <cstdarg>
#include <cstring>

namespace {

bool IsAtoiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// atoi's reading of a text, without its undefined behaviour on overflow: the value clamps.
int ParseAtoi(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && IsAtoiSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    return static_cast<int>(value);
}

}  // namespace

CBufferedFile::CBufferedFile() : m_buffer(new BYTE[BufferSize]) {}

CBufferedFile::CBufferedFile(const char* format, ...) : m_buffer(new BYTE[BufferSize]) {
    va_list args;
    va_start(args, format);
    m_name = FormatTextV(format, args);
    va_end(args);
}

CBufferedFile::~CBufferedFile() {
    if (IsOpen())
        CloseFile(m_handle);
}

void CBufferedFile::SetName(const char* format, ...) {
    va_list args;
    va_start(args, format);
    m_name = FormatTextV(format, args);
    va_end(args);
}

int CBufferedFile::Fail(int code) {
    m_status = code;
    if (m_throw)
        throw new CMFileException(code);
    return code;
}

int CBufferedFile::Open(DWORD creationDisposition, DWORD desiredAccess, DWORD shareMode,
                        DWORD /*flagsAndAttributes*/) {
    if (IsOpen()) {
        CloseFile(m_handle);
        m_handle = INVALID_FILE_HANDLE;
    }
    m_position = 0;
    InvalidateBuffer();
    m_handle = OpenFile(m_name, desiredAccess, shareMode, creationDisposition);
    if (m_handle == INVALID_FILE_HANDLE)
        return Fail(CMFileException::CreateError);
    Fill();
    Succeed();
    return 1;
}

int CBufferedFile::Close() {
    if (!IsOpen())
        return Fail(CMFileException::CloseError);
    bool closed = CloseFile(m_handle);
    // A failed close still releases the descriptor on Linux; it must never be closed twice.
    m_handle = INVALID_FILE_HANDLE;
    InvalidateBuffer();
    if (!closed)
        return Fail(CMFileException::CloseError);
    Succeed();
    return 1;
}

int CBufferedFile::Delete() {
    if (!RemoveFile(m_name))
        return Fail(CMFileException::DeleteError);
    Succeed();
    return 1;
}

int CBufferedFile::CopyTo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string target = FormatTextV(format, args);
    va_end(args);
    if (!CopyFileTo(m_name, target))
        return Fail(CMFileException::CopyError);
    Succeed();
    return 1;
}

int CBufferedFile::AppendFile(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string sourceName = FormatTextV(format, args);
    va_end(args);

    bool copied = false;
    try {
        CBufferedFile source("%s", sourceName.c_str());
        source.Open(OPEN_EXISTING, GENERIC_READ, 0);
        // Only the bytes present at the start are copied, so a source that grows meanwhile
        // cannot keep the copy going.
        std::int64_t left = source.GetSize();
        copied = IsOpen() && left >= 0;
        std::string chunk;
        while (copied && left > 0) {
            std::size_t want = static_cast<std::uint64_t>(left) < BufferSize
                                   ? static_cast<std::size_t>(left)
                                   : BufferSize;
            bool sawNul = source.ReadToNul(chunk, want);
            if (chunk.empty() && !sawNul) {
                copied = source.GetStatus() == 1;  // ended early: shrunk, or a read error
                break;
            }
            if (!chunk.empty() && WriteString(chunk) == 0)
                copied = false;
            left -= static_cast<std::int64_t>(chunk.size());
            if (sawNul)
                break;
        }
        source.Close();
    } catch (CMFileException* e) {
        e->Delete();
        copied = false;
    }
    if (!copied)
        return Fail(CMFileException::AppendError);
    Succeed();
    return 1;
}

std::int64_t CBufferedFile::Seek(DWORD moveMethod, std::int64_t distance) {
    if (!IsOpen())
        return -1;
    std::int64_t base;
    switch (moveMethod) {
    case FILE_BEGIN: base = 0; break;
    case FILE_CURRENT: base = m_position; break;
    case FILE_END: base = FileSizeOf(m_handle); break;
    default: return -1;
    }
    std::int64_t target;
    if (base < 0 || __builtin_add_overflow(base, distance, &target) || target < 0)
        return -1;
    m_position = target;
    InvalidateBuffer();
    Fill();
    return m_position;
}

std::int64_t CBufferedFile::GetSize() const {
    return IsOpen() ? FileSizeOf(m_handle) : FileSizeOf(m_name);
}

BOOL CBufferedFile::IsEOF() const { return m_position >= GetSize(); }

BOOL CBufferedFile::Exists() const { return FileExists(m_name); }

bool CBufferedFile::Fill() {
    m_count = m_index = 0;
    if (!IsOpen())
        return false;
    std::int64_t n =
        ReadFileAt(m_handle, m_buffer.get(), BufferSize, static_cast<std::uint64_t>(m_position));
    if (n < 0) {
        m_status = CMFileException::GenericError;
        return false;
    }
    m_count = static_cast<std::size_t>(n);
    return n > 0;
}

int CBufferedFile::ReadChar() {
    if (m_index >= m_count && !Fill())
        return -1;
    ++m_position;
    return m_buffer[m_index++];
}

int CBufferedFile::PeekChar() {
    if (m_index >= m_count && !Fill())
        return -1;
    return m_buffer[m_index];
}

bool CBufferedFile::ReadToNul(std::string& out, std::size_t maxLength) {
    out.clear();
    while (out.size() < maxLength) {
        if (m_index >= m_count && !Fill())
            return false;
        // Take the run of buffered bytes up to a NUL in one step.
        const BYTE* start = m_buffer.get() + m_index;
        std::size_t run = m_count - m_index;
        if (run > maxLength - out.size())
            run = maxLength - out.size();
        const void* nul = std::memchr(start, 0, run);
        std::size_t take = nul ? static_cast<std::size_t>(static_cast<const BYTE*>(nul) - start)
                               : run;
        out.append(reinterpret_cast<const char*>(start), take);
        m_index += take;
        m_position += static_cast<std::int64_t>(take);
        if (nul) {
            ++m_index;
            ++m_position;
            return true;
        }
    }
    return false;
}

std::optional<std::string> CBufferedFile::ReadLine() {
    m_fieldPosition = 0;
    m_line.clear();
    int c = ReadChar();
    if (c < 0)
        return std::nullopt;
    while (c > 0) {
        if (c == '\r' || c == '\n') {
            int next = PeekChar();
            if (next == '\r' || next == '\n')
                ReadChar();
            break;
        }
        m_line += static_cast<char>(c);
        c = ReadChar();
    }
    return m_line;
}

BOOL CBufferedFile::ReadString(std::string& out, std::size_t maxLength) {
    if (PeekChar() < 0) {
        out.clear();
        m_field.clear();
        return FALSE;
    }
    ReadToNul(out, maxLength);
    m_field = out;
    return TRUE;
}

BOOL CBufferedFile::ReadString(char* out, std::size_t maxLength) {
    std::string text;
    BOOL result = ReadString(text, maxLength);
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return result;
}

int CBufferedFile::ReadNumber(int& out, std::size_t maxLength) {
    std::string text;
    ReadString(text, maxLength);
    out = ParseAtoi(text);
    return out;
}

int CBufferedFile::WriteString(std::string_view text) {
    if (text.empty() || !IsOpen())
        return 0;
    // Whatever the buffer holds may now be stale; the next read fetches from the file again.
    InvalidateBuffer();
    if (WriteFileAt(m_handle, text.data(), text.size(), static_cast<std::uint64_t>(m_position)) <
        0) {
        m_status = CMFileException::GenericError;
        return 0;
    }
    m_position += static_cast<std::int64_t>(text.size());
    return 1;
}

int CBufferedFile::WriteFormatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    return WriteString(text);
}

int CBufferedFile::WriteChar(char ch) { return WriteString(std::string_view(&ch, 1)); }

std::optional<std::string> CBufferedFile::NextField(char separator) {
    if (m_line.empty() || m_fieldPosition >= m_line.size())
        return std::nullopt;
    std::string field;
    bool quoted = false;
    std::size_t i = m_fieldPosition;
    for (; i < m_line.size(); ++i) {
        char c = m_line[i];
        if (c == '"')
            quoted = !quoted;
        else if (c == separator && !quoted)
            break;
        else
            field += c;
    }
    m_fieldPosition = i < m_line.size() ? i + 1 : m_line.size();
    m_field = field;
    return field;
}

std::optional<std::string> CBufferedFile::GetField(std::size_t index, char separator) {
    std::size_t i = 0;
    bool quoted = false;
    for (std::size_t skipped = 0; skipped < index; ++i) {
        if (i >= m_line.size())
            return std::nullopt;
        char c = m_line[i];
        if (c == '"')
            quoted = !quoted;
        else if (c == separator && !quoted)
            ++skipped;
    }
    std::string field;
    for (; i < m_line.size() && m_line[i] != separator; ++i)
        if (m_line[i] != '"')
            field += m_line[i];
    m_fieldPosition = i < m_line.size() ? i + 1 : m_line.size();
    m_field = field;
    return field;
}
