// Loads arbitrary bytes as an archive stream: every primitive form, then object references.
// The first byte picks the buffer size so that block boundaries fall everywhere.

#include "foundation/Archive.h"
#include "foundation/Containers.h"
#include "foundation/MemFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t bufferSize = 1 + data[0] * 3;
    CMemFile file(data + 1, size - 1);
    try {
        CArchive ar(&file, CArchive::load, bufferSize);
        std::vector<std::string> list;
        ar.ReadStringList(list);
        CDateTime when;
        CCurrency amount;
        ar >> when >> amount;
        ar.ReadTime();
        while (!ar.IsAtEnd()) {
            std::string text = ar.ReadString();
            DeleteLoaded(ar.ReadOwnedObject(nullptr, true));
        }
    } catch (CException* e) {
        e->Delete();
    }
    return 0;
}
