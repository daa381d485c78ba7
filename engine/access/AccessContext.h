#pragma once
// What the access decision needs besides the session it decides for: the user database and
// the engine's default rights. The engine object provides it to its sessions (the console's
// copy of the configuration decides nothing); tests provide their own.

#include "platform/kernel/Types.h"

class CGroupMemberDatabase;
class CRight;

class CAccessContext {
public:
    // The database that user names and recipients' user and group names are looked up in.
    virtual CGroupMemberDatabase& GetUserDatabase() = 0;
    // The default right of kind `kind` ("DefaultRights\Access", "...\StartStop", "...\Edit"
    // for 0-2), which rights of that kind consult first; null for any other kind. The right
    // lives as long as the context.
    virtual CRight* GetDefaultRight(DWORD kind) = 0;

protected:
    CAccessContext() = default;
    CAccessContext(const CAccessContext&) = default;
    CAccessContext& operator=(const CAccessContext&) = default;
    ~CAccessContext() = default;
};
