#pragma once
// CServiceManager: the engine's services by name. It loads them from the registry by class
// name (only classes derived from CService), saves them, exchanges them with the console, and
// makes sure the remote-control service exists.
//
// Ownership: the map holds one reference to each service (CService.h). AddService takes the
// caller's reference; StopAndDelete of a service gives the map's reference up, after which
// RemoveService drops its entry; StopAndDeleteService does both. The manager's mutex (the
// map's, re-entrant) is held across each whole operation. Lock order: the manager, then a
// service's settings mutex, then the user database.
//
// Names: a service's map key is its Name, which becomes a registry key and a log file name,
// so it must be a safe name (IsSafeName: not empty, ".", "..", no '/', '\' or control
// character). Services with other names are not loaded, added or accepted from a console.
//
// Live and inert managers. The engine's manager is live (MarkLive): a service list received
// from a console, or a configuration reloaded from the store, replaces its running services
// (they are stopped, the new ones get their log files and are started). Any other manager
// (the console's copy, a reload's staging copy) only holds objects.
//
// Registry form: one sub-key per service below the key, named by the service's key in the map;
// its "ServiceType" names the class. The manager remembers which sub-keys hold services it
// loaded or saved: a save deletes only those of them it no longer holds, so a stored service
// it could not load (a kind it does not know, a record it refused) is never lost.
// Archive form: the map's (count, then each key and its service with its class). The service
// named "Remote Control Service" is always a remote-control service: a list that names another
// kind so is refused.

#include "foundation/LockableMap.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <atomic>
#include <set>
#include <string>
#include <string_view>

class CService;

class CServiceManager : public CLockableMap {
    DECLARE_SERIAL(CServiceManager)
public:
    CServiceManager() = default;
    // Gives up every service still held (without stopping: a live manager is emptied by the
    // engine's shut-down first).
    ~CServiceManager() override;

    // Stores the service under its name, taking the caller's reference. A service of that
    // name held before is stopped and given up. FALSE (the caller keeps its reference) for
    // null or a name that is not safe.
    BOOL AddService(CService* service);
    // Removes the entry of that name if present; the service is not stopped or given up.
    void RemoveService(std::string_view name);
    // The service of that name or null; valid while the caller holds the manager's lock.
    CService* FindService(std::string_view name) const;
    CRef<CService> FindServiceRef(std::string_view name) const;
    // StopAndDelete of the service of that name, and its entry removed. FALSE when none.
    BOOL StopAndDeleteService(std::string_view name);

    // Makes sure "Remote Control Service" exists (a new CRemoteControlService on port 808
    // whose rights include the default rights), binds it to 127.0.0.1 while the user
    // "Administrator" has an empty password or does not exist, and enables it.
    void EnsureRemoteControlService();

    // The engine's start-up: each service, in map order, opens its log file and starts if
    // enabled.
    void StartServices();
    // The engine's shut-down: every service, whatever its state, is stopped (UDP services'
    // threads told to quit) and given up; the map is emptied.
    void StopAndDeleteAll();

    // Deletes the sub-keys this manager loaded or saved a service under and no longer holds
    // (letter case ignored, as the store does), then saves each service under
    // "<key>\<name>". Sub-keys of services it never held are left alone. TRUE when
    // everything was stored.
    virtual BOOL SaveToRegistry(const std::string& keyPath);
    // Each sub-key whose "ServiceType" names a registered class derived from CService becomes
    // a service of that class loaded from it, stored under its loaded Name; unknown types,
    // other classes, unsafe names and a second service of one name are skipped (and their
    // sub-keys left to the store).
    virtual void LoadFromRegistry(const std::string& keyPath);
    // Storing: the map form. Loading: the whole list is read aside first (a list that fails to
    // read, holds a class that is no service, whose keys are not their services' safe names,
    // or whose "Remote Control Service" is of another class, throws and changes nothing);
    // then the old services are replaced (ReplaceWith).
    void Serialize(CArchive& ar) override;
    // Takes every service of `fresh` (which is left empty) in place of this manager's. A live
    // manager first stops its services and waits (bounded) for their threads, then ensures
    // the remote-control service and starts the new ones; an inert one gives the old ones up.
    // With `takeStoredKeys` the sub-keys `fresh` loaded become the ones this manager answers
    // for in the store (a reload from the store); without, this manager's stay (an upload).
    void ReplaceWith(CServiceManager& fresh, bool takeStoredKeys);

    void MarkLive() { m_live = true; }
    bool IsLive() const { return m_live.load(); }

private:
    // The held services' map (fresh's entries moved in) and the replaced ones given up or
    // stopped; the caller holds both managers' locks.
    void TakeServicesOf(CObjectMap& fresh);

    std::atomic<bool> m_live{false};
    // Sub-keys (folded) that hold a service this manager loaded or saved; under the lock.
    std::set<std::string> m_storedKeys;
};
