#pragma once
// An object array guarded by a re-entrant mutex of its own (foundation/LockableContainer.h).

#include "foundation/LockableContainer.h"
#include "foundation/ObjectArray.h"

class CLockableArray : public CLockableContainer<CObjectArray> {
    DECLARE_SERIAL(CLockableArray)
};
