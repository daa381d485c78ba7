#pragma once
// What a console's uploads do to the engine's configuration objects, as operations over the
// archive images received (remote/RCPFraming.h), apart from the connection so that they can
// be fuzzed. Each reads its images aside and changes its target only when everything was
// read and accepted: otherwise it throws (the archive's exception, or a CArchiveException
// with the generic cause for a record the engine refuses) and changes nothing.
//
// What is refused besides malformed images:
//   - a user database without each built-in entry ("Administrator", "Guest",
//     "Administrators", "Users") under its exact name and kind: they are never lost;
//   - a user or group whose record names another entry than the request (no record renames
//     an entry, nor lands under a name the echo would not find), or whose name the user
//     database refuses (see engine/access/GroupMemberDatabase.h: a name of the other kind is
//     never replaced);
//   - a service whose record names another service than the request, whose name is not a
//     safe name, or an added one named "Remote Control Service" (that service always exists).
//
// Locks: each operation takes its container's lock around the change. A pointer returned is
// valid while the caller holds that lock (taken before the call; the locks are re-entrant).

#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class CFilterComponent;
class CGroupMemberDatabase;
class CLocationArray;
class CRight;
class CService;
class CServiceManager;

namespace ConfigurationUploads {

using Image = std::vector<BYTE>;

// Request 21: the whole database.
void ReplaceUserDatabase(CGroupMemberDatabase& database, const Image& image);
// Requests 22 and 25: a new user (`group` false) or group named `name`, added (and saved
// under "UserDatabase\<name>") in place of an entry of the same kind and name.
CFilterComponent& AddEntry(CGroupMemberDatabase& database, bool group, const std::string& name,
                           const Image& image);
// Requests 24 and 27: the user or group of that exact name and kind takes the record; null,
// with the record read and dropped, when there is none.
CFilterComponent* ModifyEntry(CGroupMemberDatabase& database, bool group, const std::string& name,
                              const Image& image);

// Requests 41 and 42: one image per right, kind 0 first; all of them or none change. Each
// right keeps its kind.
void ReplaceRights(CRight* const* rights, std::size_t count, const std::vector<Image>& images);

// Request 32: checks the service a tagged receive made and adds it to the manager, which
// takes it; returns it (valid under the manager's lock).
CService& AddService(CServiceManager& services, const std::string& name,
                     std::unique_ptr<CObject> received);
// Request 34: the service of that name takes the record; empty, with the record read and
// dropped, when there is none.
CRef<CService> ModifyService(CServiceManager& services, const std::string& name,
                             const Image& image);

// Request 52: a new location appended to the array.
void AddLocation(CLocationArray& locations, const Image& image);
// Request 54: the first location whose filter text is `filterText` takes the record; FALSE,
// with the record read and dropped, when there is none.
BOOL ModifyLocation(CLocationArray& locations, const std::string& filterText, const Image& image);

}  // namespace ConfigurationUploads
