// The user database as a console uploads it: arbitrary archive bytes loaded into a database
// that holds the built-in entries, or into a single user or group. A load either fails and
// leaves the database as it was, or yields entries that are kept under their own acceptable
// names and survive a store and reload unchanged; membership tests end for any group graph.
// Then the engine's handling of a console's uploads (remote/ConfigurationUploads.h): the
// whole database, a user or group added or modified under a name the second byte picks; a
// refused upload changes nothing, an accepted one keeps the built-in entries and puts the
// entry asked for under its own name. The first byte picks the case.

#include "ArchiveFuzz.h"
#include "engine/access/GroupMemberDatabase.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "platform/framework/Exception.h"
#include "remote/ConfigurationUploads.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

void CheckDatabase(CGroupMemberDatabase& db) {
    CScopedLock lock(db);
    std::unordered_set<std::string> folded;
    for (const auto& [key, object] : db) {
        const CFilterComponent* entry = db.FindEntry(key);
        Check(entry != nullptr && entry->GetName() == key);
        Check(CGroupMemberDatabase::IsValidName(key));
        Check(folded.insert(RegFoldName(key)).second);
    }
    for (const auto& [key, object] : db) {
        if (CGroup* group = db.FindGroup(key))
            group->ContainsUser("Administrator");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t pick = data[0] % 6;
    ++data;
    --size;
    if (pick >= 3 && size > 0) {
        const char* const names[] = {"Administrator", "Users", "keep", "crew", "nobody"};
        const std::string name = names[data[0] % 5];
        const BOOL group = data[0] >= 128 ? TRUE : FALSE;
        const ConfigurationUploads::Image image(data + 1, data + size);
        CGroupMemberDatabase db;
        db.CreateBuiltInAccounts();
        db.AddEntry(new CUser("keep", "", "", ""));
        db.AddEntry(new CGroup("crew", ""));
        const std::vector<std::uint8_t> before = Store(db);
        try {
            CScopedLock lock(db);
            if (pick == 3)
                ConfigurationUploads::ReplaceUserDatabase(db, image);
            else if (pick == 4)
                ConfigurationUploads::AddEntry(db, group, name, image);
            else
                ConfigurationUploads::ModifyEntry(db, group, name, image);
        } catch (...) {
            DropCurrentException();
            Check(Store(db) == before);
        }
        const CFilterComponent* entry = db.FindUser(name, group);
        Check(db.HoldsBuiltInEntries() && (entry == nullptr || entry->GetName() == name));
        CheckDatabase(db);
        return 0;
    }
    switch (pick) {
        case 0: {
            CGroupMemberDatabase db;
            db.CreateBuiltInAccounts();
            const std::vector<std::uint8_t> before = Store(db);
            const bool loaded = Load(data, size, [&](CArchive& ar) { db.Serialize(ar); });
            const std::vector<std::uint8_t> after = Store(db);
            if (!loaded) {
                Check(after == before);
                break;
            }
            CheckDatabase(db);
            CGroupMemberDatabase again;
            Check(Load(after.data(), after.size(), [&](CArchive& ar) { again.Serialize(ar); }));
            Check(Store(again) == after);
            break;
        }
        case 1: {
            CUser user("keep", "", "", "");
            const std::vector<std::uint8_t> before = Store(user);
            if (!Load(data, size, [&](CArchive& ar) { user.Serialize(ar); })) {
                Check(Store(user) == before);
                break;
            }
            user.UpdateBalance();
            const std::vector<std::uint8_t> after = Store(user);
            CUser again;
            Check(Load(after.data(), after.size(), [&](CArchive& ar) { again.Serialize(ar); }));
            Check(Store(again) == after);
            break;
        }
        default: {
            CGroup group("keep", "");
            group.AddMember("member", CGroup::kUserMember);
            const std::vector<std::uint8_t> before = Store(group);
            if (!Load(data, size, [&](CArchive& ar) { group.Serialize(ar); }))
                Check(Store(group) == before);
            break;
        }
    }
    return 0;
}
