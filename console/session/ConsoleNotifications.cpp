#include "console/session/ConsoleNotifications.h"

#include "console/AlertThread.h"
#include "console/MessageBoxStyles.h"
#include "console/session/SessionTexts.h"
#include "console/session/WHTreeItem.h"
#include "dialer/Dialer.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/Right.h"
#include "engine/framework/Machine.h"
#include "engine/framework/Service.h"
#include "engine/framework/Session.h"
#include "foundation/ArchiveException.h"
#include "foundation/Format.h"
#include "foundation/ScopedLock.h"
#include "remote/NVRCPMessage.h"
#include "remote/RCPFormat.h"
#include "remote/RCPFraming.h"
#include "remote/RCPOperations.h"

#include <array>
#include <memory>
#include <optional>

using namespace RCPOperations;
using namespace ViewTargets;

namespace {

void Decode(const std::vector<BYTE>& image, CObject& object) {
    RCPFraming::DecodeInto(image.data(), image.size(), object);
}

[[noreturn]] void Refuse() { throw new CArchiveException(CArchiveException::generic); }

// Reads `image` into `target`, an object the copy holds, only when the record names `name`
// (read aside first): a record under another name would leave the object under a key that is
// not its own. Throws the archive's exception for a malformed or misnamed record.
template <class T, class NameOf>
void ReadInPlace(const std::vector<BYTE>& image, T& target, const std::string& name, NameOf nameOf) {
    std::unique_ptr<CObject> aside(target.GetRuntimeClass()->CreateObject());
    auto* typed = dynamic_cast<T*>(aside.get());
    if (typed == nullptr)
        Refuse();
    Decode(image, *typed);
    if (nameOf(*typed) != name)
        Refuse();
    Decode(image, target);
}

// The four counters of a session's end, "%u %u %u %u"; none unless all four are numbers.
std::optional<std::array<DWORD, 4>> ParseTraffic(const std::string& text) {
    std::array<DWORD, 4> counters{};
    std::string_view rest = text;
    for (std::size_t n = 0; n < counters.size(); ++n) {
        const std::size_t space = n + 1 < counters.size() ? rest.find(' ') : std::string_view::npos;
        const std::optional<DWORD> value = ParseDecimalDword(rest.substr(0, space));
        if (!value)
            return std::nullopt;
        counters[n] = *value;
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    }
    return counters;
}

// Stores a new object in a container of the copy, under the container's lock: `store` hands the
// container a reference of its own (FALSE: refused, and the reference is given back). The
// record for the object's new tree item, or none when the container refused it.
template <class Container, class T, class Store>
CRef<CObject> StoreNew(Container& container, const CRef<T>& object, Store store) {
    CScopedLock lock(container);
    object->AddRef();
    if (!store(object.Get())) {
        object->Release();
        return {};
    }
    return CRef<CObject>::Adopt(new CWHTreeItem(object, ""));
}

CRef<CMachine> FindMachine(CMachineMap& machines, const std::string& address) {
    return CRef<CMachine>(dynamic_cast<CMachine*>(machines.FindMachineRef(address).Get()));
}

}  // namespace

CConsoleNotifications::CConsoleNotifications(CNorvaneEngine& configuration, IWardenhallHost& host,
                                             IFrameSource& frames, RequestQueue queue)
    : m_configuration(configuration), m_host(host), m_frames(frames), m_queue(std::move(queue)) {}

void CConsoleNotifications::UpdateViews(int target, UINT code, CRef<CObject> object) {
    m_host.Views().Post(CViewNotice{target, code, std::move(object)});
}

void CConsoleNotifications::MustChangePassword() {
    m_host.Alert(CAlertThread::kMessageBox, MB::kIconStop, SessionTexts::kAuthenticationTitle,
                 SessionTexts::kMustChangePassword);
    m_host.ChangePassword();
}

void CConsoleNotifications::Process(const CNVRCPMessage& message) {
    const WORD op = message.Op;
    switch (op) {
    case kNotifyLoggedOn:
        m_loggedOn = true;
        for (WORD request : kLogOnRequests)
            m_queue(request);
        return;
    case kNotifyUserAdded: AddEntry(message, false); return;
    case kNotifyGroupAdded: AddEntry(message, true); return;
    case kNotifyUserDeleted: RemoveEntry(message, false); return;
    case kNotifyGroupDeleted: RemoveEntry(message, true); return;
    case kNotifyUserModified: ModifyEntry(message, false); return;
    case kNotifyGroupModified: ModifyEntry(message, true); return;
    case kNotifyServiceAdded: AddService(message); return;
    case kNotifyServiceDeleted: RemoveService(message); return;
    case kNotifyServiceModified: ModifyService(message); return;
    case kNotifyServiceState: SetServiceState(message); return;
    case kUploadPolicies:  // an upload of another console, had it been echoed
    case kNotifyPolicies: ReceiveRights(); return;
    case kNotifyLocationAdded: AddLocation(message); return;
    case kNotifyLocationDeleted: RemoveLocation(message); return;
    case kNotifyLocationModified: ModifyLocation(message); return;
    case kNotifyLocationPromoted:
    case kNotifyLocationDemoted: MoveLocation(message); return;
    case kNotifyDialer:
        ReceiveDialer();
        UpdateViews(kDialerSheet, op, {});
        return;
    case kNotifyDialerState: SetDialerStatus(message); return;
    case kNotifyMachineAdded: AddMachine(message); return;
    case kNotifyMachineChanged: ChangeMachine(message); return;
    case kNotifyMachineRemoved: RemoveMachine(message); return;
    case kNotifySessionStarted: AddSession(message); return;
    case kNotifySessionStatus: ChangeSession(message); return;
    case kNotifySessionEnded: RemoveSession(message); return;
    case kRegisterEverything:
    case kRegisterAlerts:
    case kRegisterMessages:
    case kRegisterActivity:
    case kRegisterDialer:
    case kNotifyAlert:
        m_host.Alert(CAlertThread::kMessageBox, MB::kIconExclamation, message.Arg1, message.Arg2);
        return;
    case kNotifyMessage:
        m_host.Alert(CAlertThread::kReceivedMessage, MB::kOk,
                     FormatText(SessionTexts::kMessageFrom, message.Arg2.c_str(), message.Arg1.c_str()),
                     message.Arg3, message.Arg1);
        return;
    case kNotifyMustChangePassword: MustChangePassword(); return;
    case kNotifyCache:
        ReceiveCache();
        UpdateViews(kCacheSheet, op, {});
        return;
    default: break;
    }
    // Before the console has logged on, these make it ask for a new password: afterwards
    // anyone's request 100 could.
    const Operation* row = Find(op);
    if (row != nullptr && row->console == ConsoleUse::kAsksPassword && !m_loggedOn)
        MustChangePassword();
}

// --- Shared payloads ---------------------------------------------------------------------------

void CConsoleNotifications::ReceiveRights() {
    std::array<std::vector<BYTE>, kRightKindCount> images;
    for (std::vector<BYTE>& image : images)
        image = m_frames.ReceiveImage();
    std::array<std::unique_ptr<CRight>, kRightKindCount> rights;
    for (DWORD kind = 0; kind < kRightKindCount; ++kind) {
        rights[kind] = std::make_unique<CRight>();
        Decode(images[kind], *rights[kind]);
    }
    for (DWORD kind = 0; kind < kRightKindCount; ++kind)
        m_configuration.GetRight(kind)->Copy(*rights[kind]);
}

void CConsoleNotifications::ReceiveDialer() { Decode(m_frames.ReceiveImage(), m_configuration.GetDialer()); }

void CConsoleNotifications::ReceiveCache() { Decode(m_frames.ReceiveImage(), m_configuration.GetCache()); }

// --- Users and groups --------------------------------------------------------------------------

void CConsoleNotifications::AddEntry(const CNVRCPMessage& message, bool group) {
    const std::vector<BYTE> image = m_frames.ReceiveImage();
    CRef<CFilterComponent> entry = CRef<CFilterComponent>::Adopt(
        group ? static_cast<CFilterComponent*>(new CGroup) : new CUser);
    Decode(image, *entry);
    CGroupMemberDatabase& users = m_configuration.GetUserDatabase();
    auto store = [&users](CFilterComponent* stored) { return users.AddEntry(stored); };
    if (CRef<CObject> item = StoreNew(users, entry, store))
        UpdateViews(kConfigurationView, message.Op, std::move(item));
}

void CConsoleNotifications::RemoveEntry(const CNVRCPMessage& message, bool group) {
    CRef<CObject> removed;
    {
        CGroupMemberDatabase& users = m_configuration.GetUserDatabase();
        CScopedLock lock(users);
        removed = CRef<CObject>(users.FindUser(message.Arg1, group ? TRUE : FALSE));
        if (!removed)
            return;
        users.DeleteEntry(message.Arg1);
    }
    UpdateViews(kConfigurationView, message.Op, std::move(removed));
}

void CConsoleNotifications::ModifyEntry(const CNVRCPMessage& message, bool group) {
    const std::vector<BYTE> image = m_frames.ReceiveImage();
    CGroupMemberDatabase& users = m_configuration.GetUserDatabase();
    CScopedLock lock(users);
    if (CFilterComponent* entry = users.FindUser(message.Arg1, group ? TRUE : FALSE))
        ReadInPlace(image, *entry, message.Arg1, [](const CFilterComponent& e) { return e.GetName(); });
}

// --- Services ----------------------------------------------------------------------------------

void CConsoleNotifications::AddService(const CNVRCPMessage& message) {
    const std::vector<BYTE> image = m_frames.ReceiveImage();
    std::unique_ptr<CObject> object;
    try {
        object = RCPFraming::DecodeTagged(image.data(), image.size(), RUNTIME_CLASS(CService));
    } catch (CArchiveException* e) {
        e->Delete();  // no service came: nothing else happens
        return;
    }
    CRef<CService> service = CRef<CService>::Adopt(static_cast<CService*>(object.release()));
    CServiceManager& services = m_configuration.GetServiceManager();
    auto store = [&services](CService* stored) { return services.AddService(stored); };
    if (CRef<CObject> item = StoreNew(services, service, store))
        UpdateViews(kConfigurationView, message.Op, std::move(item));
}

void CConsoleNotifications::RemoveService(const CNVRCPMessage& message) {
    CRef<CService> service;
    {
        CServiceManager& services = m_configuration.GetServiceManager();
        CScopedLock lock(services);
        service = services.FindServiceRef(message.Arg1);
        if (!service)
            return;
        services.RemoveService(message.Arg1);
        service->Release();  // the manager's
    }
    UpdateViews(kConfigurationView, message.Op, std::move(service));
}

void CConsoleNotifications::ModifyService(const CNVRCPMessage& message) {
    const std::vector<BYTE> image = m_frames.ReceiveImage();
    CRef<CService> service;
    {
        CServiceManager& services = m_configuration.GetServiceManager();
        CScopedLock lock(services);
        service = services.FindServiceRef(message.Arg1);
        if (!service)
            return;
        ReadInPlace(image, *service, message.Arg1, [](const CService& s) { return s.GetName(); });
    }
    UpdateViews(kConfigurationView, message.Op, std::move(service));
}

void CConsoleNotifications::SetServiceState(const CNVRCPMessage& message) {
    const std::optional<int> state = ParseDecimalInt(message.Arg2);
    if (!state)
        return;
    CRef<CService> service = m_configuration.GetServiceManager().FindServiceRef(message.Arg1);
    if (!service)
        return;
    service->SetRunState(*state);
    UpdateViews(kConfigurationView, message.Op, std::move(service));
}

// --- Locations ---------------------------------------------------------------------------------

void CConsoleNotifications::AddLocation(const CNVRCPMessage& message) {
    const std::vector<BYTE> image = m_frames.ReceiveImage();
    CRef<CLocation> location = CRef<CLocation>::Adopt(new CLocation);
    Decode(image, *location);
    CLocationArray& locations = m_configuration.GetLocations();
    auto store = [&locations](CLocation* stored) { return locations.AddLocation(stored); };
    if (CRef<CObject> item = StoreNew(locations, location, store))
        UpdateViews(kConfigurationView, message.Op, std::move(item));
}

void CConsoleNotifications::RemoveLocation(const CNVRCPMessage& message) {
    CRef<CLocation> removed;
    {
        CLocationArray& locations = m_configuration.GetLocations();
        CScopedLock lock(locations);
        removed = CRef<CLocation>(locations.FindLocation(message.Arg1));
        if (!removed)
            return;
        locations.RemoveLocation(message.Arg1);
    }
    UpdateViews(kConfigurationView, message.Op, std::move(removed));
}

void CConsoleNotifications::ModifyLocation(const CNVRCPMessage& message) {
    const std::vector<BYTE> image = m_frames.ReceiveImage();
    CRef<CLocation> location;
    {
        CLocationArray& locations = m_configuration.GetLocations();
        CScopedLock lock(locations);
        if (message.Arg1 != message.Arg2)
            location = CRef<CLocation>(locations.FindLocation(message.Arg2));
        if (!location)
            location = CRef<CLocation>(locations.FindLocation(message.Arg1));
        if (!location)
            return;
        ReadInPlace(image, *location, message.Arg2, [](const CLocation& l) { return l.GetFilter(); });
    }
    UpdateViews(kConfigurationView, message.Op, std::move(location));
}

void CConsoleNotifications::MoveLocation(const CNVRCPMessage& message) {
    CRef<CLocation> location;
    {
        CLocationArray& locations = m_configuration.GetLocations();
        CScopedLock lock(locations);
        location = CRef<CLocation>(locations.FindLocation(message.Arg1));
        if (!location)
            return;
        if (message.Op == kNotifyLocationPromoted)
            locations.PromoteLocation(message.Arg1);
        else
            locations.DemoteLocation(message.Arg1);
    }
    UpdateViews(kConfigurationView, message.Op, std::move(location));
}

// --- Dialer ------------------------------------------------------------------------------------

void CConsoleNotifications::SetDialerStatus(const CNVRCPMessage& message) {
    CDialer& dialer = m_configuration.GetDialer();
    CRef<CDialerProfile> profile;
    {
        CScopedLock lock(dialer.GetProfileMap());
        profile = dialer.FindProfile(message.Arg1);
        if (profile)
            profile->StoreStatusText(message.Arg3);
    }
    UpdateViews(kDialerSheet, message.Op, std::move(profile));
}

// --- Machines and sessions ---------------------------------------------------------------------

void CConsoleNotifications::AddMachine(const CNVRCPMessage& message) {
    const std::optional<DWORD> level = ParseDecimalDword(message.Arg3);
    CRef<CObject> item;
    {
        CMachineMap& machines = m_configuration.GetMachineMap();
        CScopedLock lock(machines);
        CRef<CMachine> machine = FindMachine(machines, message.Arg1);
        if (!machine) {
            machine = CRef<CMachine>::Adopt(new CMachine(message.Arg1));
            machine->AddRef();  // the map's
            machines.AddMachine(machine.Get());
        }
        machine->SetUserName(message.Arg2);
        if (level)
            machine->StoreLogonState(static_cast<int>(*level));
        item = CRef<CObject>::Adopt(new CWHTreeItem(machine, ""));
    }
    UpdateViews(kActivity, message.Op, std::move(item));
}

void CConsoleNotifications::ChangeMachine(const CNVRCPMessage& message) {
    const std::optional<DWORD> level = ParseDecimalDword(message.Arg3);
    CRef<CMachine> machine = FindMachine(m_configuration.GetMachineMap(), message.Arg1);
    if (!machine)
        return;
    machine->SetUserName(message.Arg2);
    if (level)
        machine->StoreLogonState(static_cast<int>(*level));
    UpdateViews(kActivity, message.Op, std::move(machine));
}

void CConsoleNotifications::RemoveMachine(const CNVRCPMessage& message) {
    CRef<CMachine> machine;
    {
        CMachineMap& machines = m_configuration.GetMachineMap();
        CScopedLock lock(machines);
        machine = FindMachine(machines, message.Arg1);
        if (!machine || !machines.RemoveMachine(machine.Get()))
            return;
        machine->Release();  // the map's
    }
    machine->DeleteAllSessions();
    UpdateViews(kActivity, message.Op, machine);
    if (const std::optional<DWORD> seconds = ParseDecimalDword(message.Arg2))
        AddUsage(machine->GetUserName(), {0, 0, 0, 0}, *seconds);
}

void CConsoleNotifications::AddSession(const CNVRCPMessage& message) {
    const std::optional<DWORD> id = ParseDecimalDword(message.Arg2);
    if (!id)
        return;
    CRef<CMachine> machine = FindMachine(m_configuration.GetMachineMap(), message.Arg1);
    if (!machine)
        return;
    CRef<CSession> session = CRef<CSession>::Adopt(new CSession);
    session->SetDescription(message.Arg3);
    machine->AddSessionRecord(*session, *id);
    UpdateViews(kActivity, message.Op, CRef<CObject>::Adopt(new CWHTreeItem(session, message.Arg1)));
}

void CConsoleNotifications::ChangeSession(const CNVRCPMessage& message) {
    const std::optional<DWORD> id = ParseDecimalDword(message.Arg2);
    CRef<CMachine> machine = FindMachine(m_configuration.GetMachineMap(), message.Arg1);
    if (!id || !machine)
        return;
    CRef<CSession> session = machine->FindSessionRef(*id);
    if (!session)
        return;
    machine->CopyUserTo(*session);
    session->SetDescription(message.Arg3);
    UpdateViews(kActivity, message.Op, std::move(session));
}

void CConsoleNotifications::RemoveSession(const CNVRCPMessage& message) {
    const std::optional<DWORD> id = ParseDecimalDword(message.Arg2);
    CRef<CMachine> machine = FindMachine(m_configuration.GetMachineMap(), message.Arg1);
    if (!id || !machine)
        return;
    CRef<CSession> session = machine->FindSessionRef(*id);
    if (!session)
        return;
    machine->RemoveSession(*id);
    UpdateViews(kActivity, message.Op, session);
    if (message.Arg3.empty())
        return;
    if (const std::optional<std::array<DWORD, 4>> traffic = ParseTraffic(message.Arg3))
        AddUsage(session->GetUserName(), {(*traffic)[0], (*traffic)[1], (*traffic)[2], (*traffic)[3]}, 0);
}

void CConsoleNotifications::AddUsage(const std::string& userName, const DWORD (&traffic)[4], DWORD seconds) {
    CRef<CUser> user;
    {
        CGroupMemberDatabase& users = m_configuration.GetUserDatabase();
        CScopedLock lock(users);
        user = CRef<CUser>(users.FindUserAccount(userName));
        if (!user)
            return;
        user->AddUsage(traffic[0], traffic[1], traffic[2], traffic[3], seconds);
    }
    UpdateViews(kUserSheet, ViewCodes::kUserCounters, std::move(user));
}
