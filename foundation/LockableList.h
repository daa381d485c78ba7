#pragma once
// An object list guarded by a re-entrant mutex of its own (foundation/LockableContainer.h).

#include "foundation/LockableContainer.h"
#include "foundation/ObjectList.h"

class CLockableList : public CLockableContainer<CObjectList> {
    DECLARE_SERIAL(CLockableList)
};
