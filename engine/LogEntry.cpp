#include "engine/LogEntry.h"

IMPLEMENT_DYNAMIC(CLogEntry, CObject)
