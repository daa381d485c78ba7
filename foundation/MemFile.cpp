#include "foundation/MemFile.h"

#include <cerrno>
#include <cstring>
#include <limits>

CMemFile::CMemFile(std::size_t growBy) : m_growBy(growBy == 0 ? kDefaultGrowBy : growBy) {}

CMemFile::CMemFile(const void* data, std::size_t size, std::size_t growBy) : CMemFile(growBy) {
    Write(data, size);
    m_position = 0;
}

void CMemFile::Reserve(std::uint64_t size) {
    if (size <= m_bytes.size())
        return;
    if (size > std::numeric_limits<std::size_t>::max() - m_growBy)
        throw std::bad_alloc();
    const std::uint64_t steps = (size + m_growBy - 1) / m_growBy;
    m_bytes.resize(static_cast<std::size_t>(steps * m_growBy));
}

std::size_t CMemFile::Read(void* buffer, std::size_t count) {
    if (m_position >= m_length)
        return 0;
    const std::uint64_t available = m_length - m_position;
    const std::size_t n = count < available ? count : static_cast<std::size_t>(available);
    std::memcpy(buffer, m_bytes.data() + m_position, n);
    m_position += n;
    return n;
}

void CMemFile::Write(const void* data, std::size_t count) {
    if (count == 0)
        return;
    const std::uint64_t end = m_position + count;
    Reserve(end);
    if (m_position > m_length)
        std::memset(m_bytes.data() + m_length, 0, static_cast<std::size_t>(m_position - m_length));
    std::memcpy(m_bytes.data() + m_position, data, count);
    m_position = end;
    if (end > m_length)
        m_length = end;
}

std::uint64_t CMemFile::Seek(std::int64_t offset, SeekPosition from) {
    const std::int64_t base = from == begin     ? 0
                              : from == current ? static_cast<std::int64_t>(m_position)
                                                : static_cast<std::int64_t>(m_length);
    if ((offset < 0 && -offset > base) ||
        (offset > 0 && offset > std::numeric_limits<std::int64_t>::max() - base))
        throw new CFileException(EINVAL, "Cannot seek in", "memory");
    m_position = static_cast<std::uint64_t>(base + offset);
    return m_position;
}

void CMemFile::SetLength(std::uint64_t length) {
    Reserve(length);
    if (length > m_length)
        std::memset(m_bytes.data() + m_length, 0, static_cast<std::size_t>(length - m_length));
    m_length = length;
}

std::vector<BYTE> CMemFile::Detach() {
    std::vector<BYTE> bytes = std::move(m_bytes);
    bytes.resize(static_cast<std::size_t>(m_length));
    m_bytes.clear();
    m_length = 0;
    m_position = 0;
    return bytes;
}
