#pragma once
// A growable block of bytes in which a session collects a request or response head until it is
// complete. Lengths and counts are sizes; a count above PTRDIFF_MAX (what a negative count
// becomes when passed as a size) is refused, never wrapped into a huge allocation.

#include "platform/kernel/Types.h"

#include <cstddef>

class CByteBuffer {
public:
    // Bytes the block is re-allocated with beyond the new length.
    static constexpr std::size_t GrowthSlack = 128;

    CByteBuffer() = default;
    ~CByteBuffer();
    CByteBuffer(const CByteBuffer&) = delete;
    CByteBuffer& operator=(const CByteBuffer&) = delete;

    // Appends `count` bytes. When the new length reaches into the last GrowthSlack bytes of the
    // block (or beyond), the block is first re-allocated to new length + GrowthSlack bytes: 10
    // bytes into an empty buffer give a 138-byte block, 100 more a 238-byte one. Returns
    // FALSE, with the buffer as it was, when the count is refused or the allocation fails.
    BOOL Append(const void* bytes, std::size_t count);
    // Shortens the length by `count`, not below 0. Returns FALSE and changes nothing for a
    // refused count.
    BOOL RemoveTail(std::size_t count);
    // Offset of the first occurrence of the `count` bytes of `pattern`, or -1 when there is
    // none, when `count` is 0 or refused, or when `pattern` is null.
    std::ptrdiff_t Find(const void* pattern, std::size_t count) const;

    // The bytes in use; null while nothing was ever appended. Valid until the next Append.
    const BYTE* GetData() const { return m_data; }
    std::size_t GetLength() const { return m_length; }
    std::size_t GetCapacity() const { return m_capacity; }

private:
    BYTE* m_data = nullptr;
    std::size_t m_capacity = 0;
    std::size_t m_length = 0;
};
