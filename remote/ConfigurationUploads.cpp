#include "remote/ConfigurationUploads.h"

#include "engine/access/GroupMemberDatabase.h"
#include "engine/access/LocationArray.h"
#include "engine/access/Right.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/Service.h"
#include "engine/framework/ServiceManager.h"
#include "foundation/ArchiveException.h"
#include "foundation/ScopedLock.h"
#include "remote/RCPFraming.h"

#include <utility>

namespace ConfigurationUploads {

namespace {

[[noreturn]] void Refuse() {
    throw new CArchiveException(CArchiveException::generic);
}

void Decode(const Image& image, CObject& object) {
    RCPFraming::DecodeInto(image.data(), image.size(), object);
}

// A new entry of the kind asked for, read from the image, that names `name`.
std::unique_ptr<CFilterComponent> ReadEntry(bool group, const std::string& name,
                                            const Image& image) {
    std::unique_ptr<CFilterComponent> entry;
    if (group)
        entry = std::make_unique<CGroup>();
    else
        entry = std::make_unique<CUser>();
    Decode(image, *entry);
    if (entry->GetName() != name)
        Refuse();
    return entry;
}

}  // namespace

void ReplaceUserDatabase(CGroupMemberDatabase& database, const Image& image) {
    CGroupMemberDatabase fresh;
    Decode(image, fresh);
    if (!fresh.HoldsBuiltInEntries())
        Refuse();
    database.ReplaceWith(fresh);
}

CFilterComponent& AddEntry(CGroupMemberDatabase& database, bool group, const std::string& name,
                           const Image& image) {
    std::unique_ptr<CFilterComponent> entry = ReadEntry(group, name, image);
    CScopedLock lock(database);
    if (!database.AddEntry(entry.get()))
        Refuse();
    return *entry.release();
}

CFilterComponent* ModifyEntry(CGroupMemberDatabase& database, bool group, const std::string& name,
                              const Image& image) {
    ReadEntry(group, name, image);  // the whole record is acceptable
    CScopedLock lock(database);
    CFilterComponent* entry = database.FindUser(name, group ? TRUE : FALSE);
    if (entry != nullptr)
        Decode(image, *entry);
    return entry;
}

void ReplaceRights(CRight* const* rights, std::size_t count, const std::vector<Image>& images) {
    if (images.size() != count)
        Refuse();
    std::vector<std::unique_ptr<CRight>> fresh;
    for (const Image& image : images) {
        fresh.push_back(std::make_unique<CRight>());
        Decode(image, *fresh.back());
    }
    for (std::size_t kind = 0; kind < count; ++kind) {
        const DWORD kept = rights[kind]->GetRightType();
        rights[kind]->Copy(*fresh[kind]);
        rights[kind]->SetRightType(kept);
    }
}

CService& AddService(CServiceManager& services, const std::string& name,
                     std::unique_ptr<CObject> received) {
    auto* service = dynamic_cast<CService*>(received.get());
    if (service == nullptr || service->GetName() != name ||
        name == FrameworkFormat::kRemoteControlName)
        Refuse();
    CScopedLock lock(services);
    if (!services.AddService(service))
        Refuse();
    received.release();
    return *service;
}

CRef<CService> ModifyService(CServiceManager& services, const std::string& name,
                             const Image& image) {
    CRef<CService> service = services.FindServiceRef(name);
    if (!service)
        return {};
    // Read into a new service of the same class first: the record must name this service.
    auto scratch =
        CRef<CService>::Adopt(dynamic_cast<CService*>(service->GetRuntimeClass()->CreateObject()));
    if (!scratch)
        Refuse();
    Decode(image, *scratch);
    if (scratch->GetName() != name)
        Refuse();
    CScopedLock lock(services);
    if (services.FindService(name) != service.Get())
        return {};  // deleted or replaced meanwhile
    Decode(image, *service);
    return service;
}

void AddLocation(CLocationArray& locations, const Image& image) {
    auto location = std::make_unique<CLocation>();
    Decode(image, *location);
    if (!locations.AddLocation(location.get()))
        Refuse();
    location.release();
}

BOOL ModifyLocation(CLocationArray& locations, const std::string& filterText, const Image& image) {
    CLocation fresh;
    Decode(image, fresh);
    CScopedLock lock(locations);
    CLocation* location = locations.FindLocation(filterText);
    if (location == nullptr)
        return FALSE;
    location->Copy(fresh);
    return TRUE;
}

}  // namespace ConfigurationUploads
