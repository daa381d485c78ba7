#include "engine/framework/ServiceManager.h"

#include "engine/access/User.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/Service.h"
#include "engine/framework/UserAccounts.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "platform/framework/Exception.h"
#include "platform/kernel/Paths.h"
#include "remote/RemoteControlService.h"

#include <memory>
#include <set>
#include <utility>
#include <vector>

using namespace FrameworkFormat;

IMPLEMENT_SERIAL(CServiceManager, CLockableMap, 1)

namespace {

CService* AsService(CObject* object) { return dynamic_cast<CService*>(object); }

// Services held by a map that is being thrown away: each reference given up.
void ReleaseAll(CObjectMap& map) {
    for (auto& entry : map)
        if (entry.second != nullptr)
            entry.second->Release();
    map.RemoveAll();
}

}  // namespace

CServiceManager::~CServiceManager() {
    CScopedLock lock(*this);
    ReleaseAll(*this);
}

BOOL CServiceManager::AddService(CService* service) {
    if (service == nullptr)
        return FALSE;
    const std::string name = service->GetName();
    if (!IsSafeName(name))
        return FALSE;
    CScopedLock lock(*this);
    CService* replaced = AsService(Lookup(name));
    if (replaced == service)
        return TRUE;
    SetAt(name, service);
    if (replaced != nullptr)
        replaced->StopAndDelete();
    return TRUE;
}

void CServiceManager::RemoveService(std::string_view name) {
    CScopedLock lock(*this);
    RemoveKey(name);
}

CService* CServiceManager::FindService(std::string_view name) const {
    CScopedLock lock(*this);
    return AsService(Lookup(name));
}

CRef<CService> CServiceManager::FindServiceRef(std::string_view name) const {
    CScopedLock lock(*this);
    return CRef<CService>(AsService(Lookup(name)));
}

BOOL CServiceManager::StopAndDeleteService(std::string_view name) {
    CScopedLock lock(*this);
    CService* service = AsService(Lookup(name));
    if (service == nullptr)
        return FALSE;
    RemoveKey(name);
    service->StopAndDelete();
    return TRUE;
}

void CServiceManager::EnsureRemoteControlService() {
    CScopedLock lock(*this);
    CService* service = AsService(Lookup(kRemoteControlName));
    if (service == nullptr) {
        auto* created = new CRemoteControlService(kRemoteControlPort, kRemoteControlName,
                                                  kRemoteControlName);
        created->GetAccessRights().SetIncludeDefaultRights(TRUE);
        created->GetStartStopRights().SetIncludeDefaultRights(TRUE);
        created->GetEditRights().SetIncludeDefaultRights(TRUE);
        SetAt(kRemoteControlName, created);
        service = created;
    }
    // Without an Administrator account anybody could log on as it once it is made: the
    // console port then stays on this host, as it does for an empty password.
    bool emptyPassword = true;
    WithUserAccount(kAdministrator, [&](CUser& user) { emptyPassword = user.GetPassword().empty(); });
    if (emptyPassword)
        service->SetInterfaceAddress(TRUE, kLoopback);
    service->SetEnabled(TRUE);
}

void CServiceManager::StartServices() {
    CScopedLock lock(*this);
    for (auto& entry : *this) {
        CService* service = AsService(entry.second);
        if (service == nullptr)
            continue;
        try {
            service->OpenLogFile();
            service->StartIfEnabled();
        } catch (...) {
            DropCurrentException();
        }
    }
}

void CServiceManager::StopAndDeleteAll() {
    CScopedLock lock(*this);
    std::vector<CService*> services;
    for (auto& entry : *this)
        if (CService* service = AsService(entry.second))
            services.push_back(service);
    RemoveAll();
    for (CService* service : services) {
        try {
            service->StopAndDelete();
        } catch (...) {
            DropCurrentException();
        }
    }
}

BOOL CServiceManager::SaveToRegistry(const std::string& keyPath) {
    CScopedLock lock(*this);
    bool ok = true;
    try {
        std::set<std::string> held;
        for (const auto& entry : *this)
            held.insert(RegFoldName(entry.first));
        for (const std::string& stored : RegEnumSubKeys(keyPath)) {
            const std::string folded = RegFoldName(stored);
            if (m_storedKeys.count(folded) != 0 && held.count(folded) == 0)
                ok &= RegDeleteKeyTree(FormatText(kChildKey, keyPath.c_str(), stored.c_str())) != FALSE;
        }
        m_storedKeys = held;
        for (const auto& entry : *this) {
            if (CService* service = AsService(entry.second))
                ok &= service->SaveToRegistry(
                          FormatText(kChildKey, keyPath.c_str(), entry.first.c_str())) != FALSE;
        }
    } catch (...) {
        DropCurrentException();
        ok = false;
    }
    return ok ? TRUE : FALSE;
}

void CServiceManager::LoadFromRegistry(const std::string& keyPath) {
    CScopedLock lock(*this);
    for (const std::string& subKey : RegEnumSubKeys(keyPath)) {
        const std::string childKey = FormatText(kChildKey, keyPath.c_str(), subKey.c_str());
        const std::string type = RegReadString(childKey, kServiceType, "");
        const CRuntimeClass* cls = CRuntimeClass::FromName(type);
        if (cls == nullptr || !cls->IsDerivedFrom(RUNTIME_CLASS(CService)))
            continue;
        std::unique_ptr<CObject> object(cls->CreateObject());
        auto* service = dynamic_cast<CService*>(object.get());
        if (service == nullptr)
            continue;
        try {
            service->LoadFromRegistry(childKey);
        } catch (...) {
            DropCurrentException();
            continue;
        }
        const std::string name = service->GetName();
        if (!IsSafeName(name) || Lookup(name) != nullptr)
            continue;
        SetAt(name, service);
        object.release();
        m_storedKeys.insert(RegFoldName(subKey));
    }
}

void CServiceManager::Serialize(CArchive& ar) {
    CScopedLock lock(*this);
    if (ar.IsStoring()) {
        CObjectMap::Serialize(ar);
        return;
    }
    CServiceManager fresh;
    try {
        fresh.LoadOwned<CService>(ar);
        for (const auto& entry : fresh) {
            CService* service = AsService(entry.second);
            const bool foreignConsoleService =
                service != nullptr && entry.first == kRemoteControlName &&
                !service->IsKindOf(RUNTIME_CLASS(CRemoteControlService));
            if (service == nullptr || !IsSafeName(entry.first) ||
                service->GetName() != entry.first || foreignConsoleService)
                throw new CArchiveException(CArchiveException::generic);
        }
    } catch (...) {
        ReleaseAll(fresh);
        throw;
    }
    ReplaceWith(fresh, false);
}

void CServiceManager::ReplaceWith(CServiceManager& fresh, bool takeStoredKeys) {
    CScopedLock lock(*this);
    CScopedLock freshLock(fresh);
    if (takeStoredKeys)
        m_storedKeys = std::move(fresh.m_storedKeys);
    fresh.m_storedKeys.clear();
    TakeServicesOf(fresh);
}

void CServiceManager::TakeServicesOf(CObjectMap& fresh) {
    std::vector<CService*> old;
    for (auto& entry : *this)
        if (CService* service = AsService(entry.second))
            old.push_back(service);
    RemoveAll();
    for (auto& entry : fresh)
        SetAt(entry.first, entry.second);
    fresh.RemoveAll();

    if (!m_live) {
        for (CService* service : old)
            service->Release();
        return;
    }
    // The replaced services stop, and their threads end, before the new ones take their
    // ports.
    std::vector<std::shared_ptr<CEvent>> threadsEnded;
    for (CService* service : old) {
        if (service->HasStarted())
            threadsEnded.push_back(service->EndedEvent());
        try {
            service->StopAndDelete();
        } catch (...) {
            DropCurrentException();
        }
    }
    for (const auto& ended : threadsEnded)
        ended->Wait(kServiceThreadEndWaitMs);
    EnsureRemoteControlService();
    StartServices();
}
