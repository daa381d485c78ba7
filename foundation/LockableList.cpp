#include "foundation/LockableList.h"

IMPLEMENT_SERIAL(CLockableList, CObjectList, 1)
