#pragma once
// Store into and load from memory archives in one call.

#include "foundation/Archive.h"
#include "foundation/MemFile.h"
#include "support/Bytes.h"
#include "support/Throws.h"

#include <cstdint>
#include <vector>

// The bytes that `write(archive)` stores.
template <class Fn>
std::vector<std::uint8_t> StoreBytes(Fn write, std::size_t bufferSize = 128) {
    CMemFile file;
    CArchive ar(&file, CArchive::store, bufferSize);
    write(ar);
    ar.Close();
    return file.Detach();
}

// Runs `read(archive)` over `bytes`; returns whether every byte was consumed.
template <class Fn>
bool LoadBytes(const std::vector<std::uint8_t>& bytes, Fn read, std::size_t bufferSize = 128) {
    CMemFile file(bytes.data(), bytes.size());
    CArchive ar(&file, CArchive::load, bufferSize);
    read(ar);
    return ar.IsAtEnd();
}

template <class Fn>
bool LoadBytes(const Bytes& bytes, Fn read, std::size_t bufferSize = 128) {
    return LoadBytes(bytes.Get(), read, bufferSize);
}

// The cause of the CArchiveException that `read(archive)` throws over `bytes`, or
// CArchiveException::none when it throws none.
template <class Fn>
CArchiveException::Cause LoadFailure(const Bytes& bytes, Fn read) {
    try {
        LoadBytes(bytes, read);
    } catch (CArchiveException* e) {
        const CArchiveException::Cause cause = e->GetCause();
        e->Delete();
        return cause;
    }
    return CArchiveException::none;
}
