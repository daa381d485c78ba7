#include "foundation/MachineMap.h"

#include "foundation/Containers.h"

#include <string>
#include <unordered_set>
#include <vector>

IMPLEMENT_SERIAL(CMachineMap, CObjectMap, 1)

void CMachineMap::RefuseIfLive(const char* operation) const {
    if (m_live)
        throw new CNotSupportedException(std::string(operation) +
                                         " is not allowed on the engine's live machine map");
}

void CMachineMap::AddMachine(CMachineBase* machine) {
    CScopedLock lock(*this);
    SetAt(machine->GetAddressText(), machine);
}

BOOL CMachineMap::RemoveMachine(const CMachineBase* machine) {
    CScopedLock lock(*this);
    const std::string address = machine->GetAddressText();
    CObject* current = nullptr;
    if (!Lookup(address, current) || current != machine)
        return FALSE;
    RemoveKey(address);
    return TRUE;
}

CMachineBase* CMachineMap::FindMachine(std::string_view addressText) const {
    CScopedLock lock(*this);
    return dynamic_cast<CMachineBase*>(Lookup(addressText));
}

CRef<CMachineBase> CMachineMap::FindMachineRef(std::string_view addressText) const {
    CScopedLock lock(*this);
    return CRef<CMachineBase>(dynamic_cast<CMachineBase*>(Lookup(addressText)));
}

void CMachineMap::DeleteAll() {
    RefuseIfLive("Deleting every machine");
    CScopedLock lock(*this);
    // Emptied first, so the map never holds a machine that is being deleted.
    std::vector<CObject*> machines;
    for (const auto& entry : *this)
        machines.push_back(entry.second);
    RemoveAll();
    std::unordered_set<CObject*> seen;
    for (CObject* object : machines) {
        if (object == nullptr || !seen.insert(object).second)
            continue;
        if (auto* machine = dynamic_cast<CMachineBase*>(object))
            machine->DeleteAllSessions();
    }
    ReleaseDistinct(machines);
}

void CMachineMap::Serialize(CArchive& ar) {
    if (ar.IsLoading())
        RefuseIfLive("Loading");
    CScopedLock lock(*this);
    if (ar.IsStoring()) {
        CObjectMap::Serialize(ar);
        return;
    }
    DeleteAll();
    try {
        LoadOwned<CMachineBase>(ar, RUNTIME_CLASS(CLockableObject));
    } catch (...) {
        // The machines read before the failure would belong to nobody once the map is dropped.
        DeleteAll();
        throw;
    }
}
