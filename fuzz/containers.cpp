// Loads arbitrary bytes into each container form: the object list, array and string map (their
// generic forms and the owned form), the machine map, a string list, and a tagged object of any
// registered class. The first byte picks the form, the second the archive's block size.
// Whatever a load creates is freed afterwards (DeleteLoaded), so leaks and double frees show.

#include "foundation/Archive.h"
#include "foundation/Containers.h"
#include "foundation/LockableArray.h"
#include "foundation/LockableList.h"
#include "foundation/LockableMap.h"
#include "foundation/MachineMap.h"
#include "foundation/MemFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

// A client machine as the console sees one: an address and a user.
class CFuzzMachine : public CMachineBase {
    DECLARE_SERIAL(CFuzzMachine)
public:
    std::string GetAddressText() const override { return m_address; }
    void DeleteAllSessions() override {}
    std::string GetUserName() const override { return m_user; }
    void CheckIdleSessions() override {}
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring())
            ar << m_address << m_user;
        else
            ar >> m_address >> m_user;
    }

private:
    std::string m_address, m_user;
};

}  // namespace

IMPLEMENT_SERIAL(CFuzzMachine, CLockableObject, 1)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int form = data[0] % 7;
    const std::size_t bufferSize = 1 + data[1] * 2;
    CMemFile file(data + 2, size - 2);
    auto* list = new CLockableList;
    auto* array = new CLockableArray;
    auto* map = new CLockableMap;
    auto* machines = new CMachineMap;
    try {
        CArchive ar(&file, CArchive::load, bufferSize);
        switch (form) {
            case 0: list->Serialize(ar); break;
            case 1: array->Serialize(ar); break;
            case 2: map->Serialize(ar); break;
            case 3: machines->Serialize(ar); break;
            case 4: {
                std::vector<std::string> strings;
                ar.ReadStringList(strings);
                break;
            }
            case 5: list->LoadOwned<CLockableObject>(ar); break;
            default: DeleteLoaded(ar.ReadObject()); break;
        }
    } catch (CException* e) {
        e->Delete();
    }
    DeleteLoaded(list);
    DeleteLoaded(array);
    DeleteLoaded(map);
    DeleteLoaded(machines);
    return 0;
}
