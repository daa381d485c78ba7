// A console's uploads as the engine applies them (remote/ConfigurationUploads.h), from arbitrary
// images: the whole user database, a user or group added or modified, the eleven rights, a
// service modified, a location added or modified. The first byte picks the case, the second a
// name; the rest is split into images, each led by a 2-byte length. An upload either fails and
// leaves its object exactly as it was (its archive image unchanged), or leaves what it was
// about: the built-in entries, the entry under the name asked for, each right of its own kind,
// the service under its own name. The store lives in a scratch folder.

#include "engine/access/GroupMemberDatabase.h"
#include "engine/access/LocationArray.h"
#include "engine/access/Right.h"
#include "engine/framework/ServiceManager.h"
#include "engine/framework/TCPService.h"
#include "foundation/Archive.h"
#include "foundation/MemFile.h"
#include "foundation/ScopedLock.h"
#include "platform/framework/Exception.h"
#include "remote/ConfigurationUploads.h"
#include "remote/RemoteControlService.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Image = ConfigurationUploads::Image;

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

std::vector<std::uint8_t> Store(CObject& object) {
    CMemFile file;
    CArchive ar(&file, CArchive::store, 128);
    object.Serialize(ar);
    ar.Close();
    return file.Detach();
}

std::vector<Image> Split(const std::uint8_t* data, std::size_t size) {
    std::vector<Image> images;
    while (size >= 2) {
        const std::size_t length = std::min<std::size_t>(data[0] | data[1] << 8, size - 2);
        images.emplace_back(data + 2, data + 2 + length);
        data += 2 + length;
        size -= 2 + length;
    }
    return images;
}

// Runs the upload; TRUE when it went through, FALSE when it threw (freed).
template <class Fn>
bool Upload(Fn upload) {
    try {
        upload();
        return true;
    } catch (...) {
        DropCurrentException();
        return false;
    }
}

const char* const kNames[] = {"Administrator", "Guest", "Administrators",         "Users",
                              "keep",          "crew",  "Remote Control Service", "Web",
                              "10.*",          "nobody"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static std::string folder =
        (std::filesystem::temp_directory_path() / "norvane-fuzz-uploads-XXXXXX").string();
    Check(mkdtemp(folder.data()) != nullptr);
    setenv("NORVANE_STATE_DIR", folder.c_str(), 1);
    std::atexit([] { std::filesystem::remove_all(folder); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int form = data[0] % 6;
    const bool group = (data[0] & 0x80) != 0;
    const std::string name = kNames[data[1] % std::size(kNames)];
    std::vector<Image> images = Split(data + 2, size - 2);
    if (images.empty())
        images.emplace_back();

    switch (form) {
        case 0:
        case 1:
        case 2: {
            CGroupMemberDatabase db;
            db.CreateBuiltInAccounts();
            db.AddEntry(new CUser("keep", "", "", ""));
            db.AddEntry(new CGroup("crew", ""));
            const std::vector<std::uint8_t> before = Store(db);
            const bool done = Upload([&] {
                if (form == 0) {
                    ConfigurationUploads::ReplaceUserDatabase(db, images[0]);
                } else if (form == 1) {
                    ConfigurationUploads::AddEntry(db, group, name, images[0]);
                } else {
                    CScopedLock lock(db);
                    if (ConfigurationUploads::ModifyEntry(db, group, name, images[0]) == nullptr)
                        Check(db.FindUser(name, group ? TRUE : FALSE) == nullptr);
                }
            });
            if (!done)
                Check(Store(db) == before);
            else if (form == 0)
                Check(db.HoldsBuiltInEntries());
            else if (CFilterComponent* entry = db.FindUser(name, group ? TRUE : FALSE))
                Check(entry->GetName() == name);
            break;
        }
        case 3: {
            CRight rights[kRightKindCount];
            CRight* pointers[kRightKindCount];
            std::vector<std::vector<std::uint8_t>> before;
            for (DWORD kind = 0; kind < kRightKindCount; ++kind) {
                rights[kind].SetRightType(kind);
                rights[kind].AddRecipientFor("Administrators");
                pointers[kind] = &rights[kind];
                before.push_back(Store(rights[kind]));
            }
            images.resize(std::min<std::size_t>(images.size(), kRightKindCount + 1));
            const bool done = Upload(
                [&] { ConfigurationUploads::ReplaceRights(pointers, kRightKindCount, images); });
            for (DWORD kind = 0; kind < kRightKindCount; ++kind) {
                Check(rights[kind].GetRightType() == kind);
                if (!done)
                    Check(Store(rights[kind]) == before[kind]);
            }
            break;
        }
        case 4: {
            CServiceManager services;
            services.AddService(new CTCPService(8080, "Web", "before", FALSE));
            services.AddService(
                new CRemoteControlService(808, "Remote Control Service", "Remote Control Service"));
            CRef<CService> web = services.FindServiceRef("Web");
            const std::vector<std::uint8_t> before = Store(*web);
            const bool done =
                Upload([&] { ConfigurationUploads::ModifyService(services, name, images[0]); });
            if (!done)
                Check(Store(*web) == before);
            if (CService* service = services.FindService(name))
                Check(service->GetName() == name);
            break;
        }
        default: {
            CLocationArray locations;
            locations.AddLocation(new CLocation("10.*", "keep"));
            const std::vector<std::uint8_t> before = Store(locations);
            const bool done = Upload([&] {
                if (group)
                    ConfigurationUploads::AddLocation(locations, images[0]);
                else
                    ConfigurationUploads::ModifyLocation(locations, name, images[0]);
            });
            if (!done)
                Check(Store(locations) == before);
            break;
        }
    }
    return 0;
}
