#include "foundation/LockableArray.h"

IMPLEMENT_SERIAL(CLockableArray, CObjectArray, 1)
