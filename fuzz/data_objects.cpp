// Loads arbitrary bytes as a stream of typed data objects and host/port pairs, as a console's
// message would carry them, and compares what was read.

#include "foundation/Archive.h"
#include "foundation/HostPort.h"
#include "foundation/MemFile.h"
#include "foundation/NVDataObject.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CMemFile file(data, size);
    try {
        CArchive ar(&file, CArchive::load);
        CNVDataObject previous;
        while (!ar.IsAtEnd()) {
            std::unique_ptr<CNVDataObject> value = ar.ReadOwnedObject<CNVDataObject>(true);
            if (value) {
                (void)value->IsEqual(previous);
                (void)value->IsGreater(previous);
                (void)value->IsLess(previous);
                previous.Copy(*value);
            }
            std::unique_ptr<CHostPort> target = ar.ReadOwnedObject<CHostPort>(true);
        }
    } catch (CException* e) {
        e->Delete();
    }
    return 0;
}
