#pragma once
// A byte store in memory with a file's interface: the remote-control messages are written to
// and read from archives over one of these.
//
// The store grows in steps of `growBy` bytes as writes pass its end. Reading, writing and
// seeking work as on a file; writing past the end extends it, and a gap left by a seek past
// the end reads as zero bytes.

#include "platform/framework/File.h"
#include "platform/kernel/Types.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CMemFile : public CFile {
public:
    static constexpr std::size_t kDefaultGrowBy = 1024;

    explicit CMemFile(std::size_t growBy = kDefaultGrowBy);
    // A store that holds a copy of `data`, positioned at its start (for loading).
    CMemFile(const void* data, std::size_t size, std::size_t growBy = kDefaultGrowBy);

    std::size_t Read(void* buffer, std::size_t count) override;
    void Write(const void* data, std::size_t count) override;
    std::uint64_t Seek(std::int64_t offset, SeekPosition from) override;
    std::uint64_t GetPosition() const override { return m_position; }
    std::uint64_t GetLength() const override { return m_length; }
    void SetLength(std::uint64_t length) override;
    void Flush() override {}
    void Close() override {}

    // The bytes from the start to the length; valid until the next write or SetLength.
    const BYTE* GetData() const { return m_bytes.data(); }
    // The bytes from the start to the length, leaving the store empty.
    std::vector<BYTE> Detach();

private:
    void Reserve(std::uint64_t size);

    std::size_t m_growBy;
    std::vector<BYTE> m_bytes;  // capacity in steps of m_growBy; m_length of it is valid
    std::uint64_t m_length = 0;
    std::uint64_t m_position = 0;
};
