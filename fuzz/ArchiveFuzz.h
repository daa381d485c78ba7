#pragma once
// What the harnesses of archive forms share: a check that stops the run, and an object's
// image stored into and loaded from memory the way consoles' payloads are.

#include "foundation/Archive.h"
#include "foundation/MemFile.h"
#include "platform/framework/Object.h"

#include <cstddef>
#include <cstdint>
#include <vector>

inline void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// The object's image (its Serialize, untagged).
inline std::vector<std::uint8_t> Store(CObject& object) {
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store, 128);
        object.Serialize(ar);
        ar.Close();
    }
    return file.Detach();
}

// Runs `read(archive)` over the bytes; false when it threw a library exception (freed here).
template <class Fn>
bool Load(const std::uint8_t* data, std::size_t size, Fn read) {
    CMemFile file(data, size);
    try {
        CArchive ar(&file, CArchive::load, 128);
        read(ar);
        return true;
    } catch (CException* e) {
        e->Delete();
        return false;
    }
}

// Loads the bytes into `object` through its Serialize.
inline bool LoadObject(const std::uint8_t* data, std::size_t size, CObject& object) {
    return Load(data, size, [&](CArchive& ar) { object.Serialize(ar); });
}
