#include "foundation/ByteBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kMaxCount = PTRDIFF_MAX;

}  // namespace

CByteBuffer::~CByteBuffer() { std::free(m_data); }

BOOL CByteBuffer::Append(const void* bytes, std::size_t count) {
    if (count > kMaxCount || (count > 0 && !bytes))
        return FALSE;
    if (count > kMaxCount - GrowthSlack - m_length)
        return FALSE;
    std::size_t newLength = m_length + count;
    // Appending from the buffer's own bytes: the block may move, so keep the offset.
    const BYTE* source = static_cast<const BYTE*>(bytes);
    const auto at = reinterpret_cast<std::uintptr_t>(source);
    const auto base = reinterpret_cast<std::uintptr_t>(m_data);
    bool inside = m_data && at >= base && at - base < m_capacity;
    std::size_t sourceOffset = inside ? at - base : 0;
    if (count > 0 && newLength + GrowthSlack > m_capacity) {
        std::size_t newCapacity = newLength + GrowthSlack;
        void* block = std::realloc(m_data, newCapacity);
        if (!block)
            return FALSE;
        m_data = static_cast<BYTE*>(block);
        m_capacity = newCapacity;
        if (inside)
            source = m_data + sourceOffset;
    }
    if (count > 0)
        std::memmove(m_data + m_length, source, count);
    m_length = newLength;
    return TRUE;
}

BOOL CByteBuffer::RemoveTail(std::size_t count) {
    if (count > kMaxCount)
        return FALSE;
    m_length = count >= m_length ? 0 : m_length - count;
    return TRUE;
}

std::ptrdiff_t CByteBuffer::Find(const void* pattern, std::size_t count) const {
    if (!pattern || count == 0 || count > kMaxCount || count > m_length)
        return -1;
    const BYTE* needle = static_cast<const BYTE*>(pattern);
    const BYTE* end = m_data + (m_length - count) + 1;
    for (const BYTE* p = m_data; p < end; ++p) {
        p = static_cast<const BYTE*>(std::memchr(p, needle[0], static_cast<std::size_t>(end - p)));
        if (!p)
            break;
        if (std::memcmp(p, needle, count) == 0)
            return p - m_data;
    }
    return -1;
}
