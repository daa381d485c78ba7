#pragma once
// A string-keyed object map guarded by a re-entrant mutex of its own
// (foundation/LockableContainer.h).

#include "foundation/LockableContainer.h"
#include "foundation/ObjectMap.h"

#include <string_view>

class CLockableMap : public CLockableContainer<CObjectMap> {
    DECLARE_SERIAL(CLockableMap)
public:
    // A counted reference to the key's object (empty when absent), taken under the lock.
    CRef<CObject> LookupRef(std::string_view key) const;
};
