#include "foundation/Containers.h"

#include "foundation/LockableArray.h"
#include "foundation/LockableList.h"
#include "foundation/LockableMap.h"
#include "foundation/MachineMap.h"

namespace {

CObject* Itself(CObject* object) {
    return object;
}

}  // namespace

void DeleteLoaded(CObject* object) {
    if (object == nullptr)
        return;
    const CRuntimeClass* cls = object->GetRuntimeClass();
    if (cls == RUNTIME_CLASS(CLockableList)) {
        auto* list = static_cast<CLockableList*>(object);
        DeleteLoadedDistinct(*list, Itself);
        list->RemoveAll();
    } else if (cls == RUNTIME_CLASS(CLockableArray)) {
        auto* array = static_cast<CLockableArray*>(object);
        DeleteLoadedDistinct(*array, Itself);
        array->RemoveAll();
    } else if (cls == RUNTIME_CLASS(CLockableMap)) {
        auto* map = static_cast<CLockableMap*>(object);
        DeleteLoadedDistinct(*map, [](const CObjectMap::Map::value_type& e) { return e.second; });
        map->RemoveAll();
    } else if (cls == RUNTIME_CLASS(CMachineMap)) {
        static_cast<CMachineMap*>(object)->DeleteAll();
    }
    object->Release();
}

std::vector<CObject*> ReadNewElements(CArchive& ar, DWORD count) {
    std::vector<CObject*> loaded;
    try {
        loaded.reserve(count);
        for (DWORD i = 0; i < count; ++i) {
            std::unique_ptr<CObject> element(ar.ReadOwnedObject(nullptr, true));
            loaded.push_back(element.get());
            element.release();
        }
    } catch (...) {
        DeleteLoadedDistinct(loaded, Itself);
        throw;
    }
    return loaded;
}
