#include "foundation/LockableMap.h"

IMPLEMENT_SERIAL(CLockableMap, CObjectMap, 1)

CRef<CObject> CLockableMap::LookupRef(std::string_view key) const {
    CScopedLock lock(*this);
    return CRef<CObject>(Lookup(key));
}
