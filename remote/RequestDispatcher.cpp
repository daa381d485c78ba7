#include "remote/RequestDispatcher.h"

#include "engine/LogFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/access/AccessFormat.h"
#include "engine/access/AccessStore.h"
#include "engine/access/User.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/Machine.h"
#include "engine/framework/Service.h"
#include "engine/framework/UserAccounts.h"
#include "foundation/Format.h"
#include "foundation/LinkHandshake.h"
#include "foundation/ScopedLock.h"
#include "foundation/X1SocketException.h"
#include "platform/framework/Exception.h"
#include "remote/ConfigurationUploads.h"
#include "remote/RCPFormat.h"
#include "remote/RCPFraming.h"
#include "remote/RCPOperations.h"
#include "remote/RemoteControlSession.h"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

using namespace RCPFormat;
using namespace RCPOperations;

CRequestDispatcher::CRequestDispatcher(CRemoteControlSession& session)
    : m_session(session), m_engine(CNorvaneEngine::Instance()) {}

// --- Permissions -----------------------------------------------------------------------------

BOOL CRequestDispatcher::CheckPermission(const CNVRCPMessage& message) {
    // The session's own user: another console's log-on from this host changes the machine's
    // user, never the rights of this session.
    const std::string userName = m_session.GetUserName();
    bool enabled = false;
    std::string password;
    const bool known = WithUserAccount(userName, [&](CUser& user) {
        enabled = user.GetAccountEnabled() != FALSE;
        password = user.GetPassword();
    });
    if (!known || !enabled)
        return FALSE;
    if (!m_session.IsLoggedOn() && message.Op != kChangePassword)
        return FALSE;
    const Operation* row = Find(message.Op);
    if (row == nullptr)
        return FALSE;
    const Rule& rule = row->mayAsk;
    for (const char* name : rule.except.names)
        if (name != nullptr && message.Arg1 == name)
            return FALSE;
    switch (rule.permission) {
    case Permission::kGranted:
        return TRUE;
    case Permission::kSystemRight:
        return m_session.IsRightGranted(rule.right);
    case Permission::kServiceRight:
        return IsServiceRightGranted(message.Arg1, rule.right);
    case Permission::kOwnPassword:
        return message.Arg1 == userName && CLinkHandshake::SameText(message.Arg2, password) ? TRUE
                                                                                          : FALSE;
    case Permission::kNotARequest:
    case Permission::kRefused:
        break;
    }
    return FALSE;
}

BOOL CRequestDispatcher::IsServiceRightGranted(const std::string& name, DWORD kind) {
    CRef<CService> service = m_engine.GetServiceManager().FindServiceRef(name);
    if (!service)
        return FALSE;
    CRight* right = kind == RightEdit ? &service->GetEditRights() : &service->GetStartStopRights();
    try {
        return right->IsGranted(m_session, FALSE);
    } catch (...) {
        DropCurrentException();
    }
    return FALSE;
}

// --- Requests --------------------------------------------------------------------------------

void CRequestDispatcher::Process(const CNVRCPMessage& message) {
    CServiceManager& services = m_engine.GetServiceManager();
    CLocationArray& locations = m_engine.GetLocations();
    CWWWCache& cache = m_engine.GetCache();
    const std::string& arg1 = message.Arg1;
    switch (message.Op) {
    case kCommitConfiguration: m_engine.SaveConfiguration(); break;
    case kReloadConfiguration: m_engine.ReloadConfiguration(); break;

    case kRetrieveUsers: ListUsersAndGroups(); break;
    case kUploadUsers: UploadUsers(); break;
    case kAddUser: AddUserOrGroup(message, false); break;
    case kDeleteUser: m_engine.DeleteUser(arg1); break;
    case kModifyUser: ModifyUserOrGroup(message, false); break;
    case kAddGroup: AddUserOrGroup(message, true); break;
    case kDeleteGroup: DeleteGroup(arg1); break;
    case kModifyGroup: ModifyUserOrGroup(message, true); break;

    case kRetrieveServices: ListServices(); break;
    case kUploadServices: m_session.ReceiveObject(services); break;
    case kAddService: AddService(message); break;
    case kDeleteService: services.StopAndDeleteService(arg1); break;
    case kModifyService: ModifyService(message); break;
    case kStartStopService: StartOrStopService(message); break;

    case kRetrievePolicies: SendRights(); break;
    case kUploadPolicies:
    case kModifyPolicies: ReceiveRights(); break;

    case kRetrieveLocations: ListLocations(); break;
    case kUploadLocations: m_session.ReceiveObject(locations); break;
    case kAddLocation:
        ConfigurationUploads::AddLocation(locations, m_session.ReceiveImage());
        break;
    case kDeleteLocation: locations.RemoveLocation(arg1); break;
    case kModifyLocation:
        ConfigurationUploads::ModifyLocation(locations, arg1, m_session.ReceiveImage());
        break;
    case kPromoteLocation: locations.PromoteLocation(arg1); break;
    case kDemoteLocation: locations.DemoteLocation(arg1); break;

    case kRetrieveDialer:
        m_engine.GetDialer().RefreshPhonebook();
        SendWhole(m_engine.GetDialer());
        break;
    case kUploadDialer:
    case kModifyDialer: ReceiveDialer(); break;
    case kDialHangUp: DialOrHangUp(message); break;

    case kRetrieveActivity: ListActivity(); break;
    case kTerminateMachine: m_engine.RemoveMachine(arg1); break;
    case kTerminateSession: TerminateSession(message); break;

    case kSendMessage:
        m_engine.SendToMachineConsoles(arg1, kNotifyMessage, m_session.GetClientAddress(),
                                       m_session.GetUserName(), message.Arg2);
        break;
    case kAttention:
        m_engine.SendToMachineConsoles(arg1, kNotifyAttention, m_session.GetClientAddress(),
                                       m_session.GetUserName(), "");
        break;
    case kChangePassword: m_session.ChangePassword(message); break;

    case kRetrieveCache: SendWhole(cache); break;
    case kUpdateCache: m_session.ReceiveObject(cache); break;
    case kPurgeCache: cache.Purge(); break;
    case kRemoveCacheEntry: cache.RemoveEntryByURL(arg1); break;
    case kRebuildCacheIndex: cache.RebuildIndex(); break;

    case kRegisterEverything:
    case kRegisterAlerts:
    case kRegisterMessages:
    case kRegisterActivity:
    case kRegisterDialer: m_engine.RegisterConsole(&m_session); break;

    case kShutdown: m_session.m_shutDownRequested = true; break;
    default: break;
    }
}

// --- Users and groups ------------------------------------------------------------------------

void CRequestDispatcher::ListUsersAndGroups() {
    CGroupMemberDatabase& users = m_engine.GetUserDatabase();
    CScopedLock lock(users);
    for (const auto& [name, entry] : users) {
        if (dynamic_cast<const CUser*>(entry) != nullptr)
            m_session.QueueMessage(kNotifyUserAdded, name, "", "");
        else if (dynamic_cast<const CGroup*>(entry) != nullptr)
            m_session.QueueMessage(kNotifyGroupAdded, name, "", "");
    }
}

void CRequestDispatcher::UploadUsers() {
    CGroupMemberDatabase& users = m_engine.GetUserDatabase();
    ConfigurationUploads::ReplaceUserDatabase(users, m_session.ReceiveImage());
    users.OpenAuditFiles();
}

void CRequestDispatcher::AddUserOrGroup(const CNVRCPMessage& message, bool group) {
    const std::vector<BYTE> image = m_session.ReceiveImage();
    CGroupMemberDatabase& users = m_engine.GetUserDatabase();
    CScopedLock lock(users);
    CFilterComponent& entry = ConfigurationUploads::AddEntry(users, group, message.Arg1, image);
    if (auto* user = dynamic_cast<CUser*>(&entry))
        user->OpenAuditFile();
}

void CRequestDispatcher::ModifyUserOrGroup(const CNVRCPMessage& message, bool group) {
    const std::vector<BYTE> image = m_session.ReceiveImage();
    CGroupMemberDatabase& users = m_engine.GetUserDatabase();
    CScopedLock lock(users);
    CFilterComponent* entry = ConfigurationUploads::ModifyEntry(users, group, message.Arg1, image);
    if (entry == nullptr)
        return;
    if (auto* user = dynamic_cast<CUser*>(entry))
        user->OpenAuditFile();
    entry->SaveToRegistry(SubKeyPath(AccessFormat::kUserDatabaseKey, message.Arg1));
}

void CRequestDispatcher::DeleteGroup(const std::string& name) {
    CGroupMemberDatabase& users = m_engine.GetUserDatabase();
    CScopedLock lock(users);
    // A group only: a user of that name stays.
    if (users.FindGroup(name) != nullptr)
        users.DeleteEntry(name);
}

// --- Services --------------------------------------------------------------------------------

void CRequestDispatcher::ListServices() {
    CServiceManager& services = m_engine.GetServiceManager();
    CScopedLock lock(services);
    for (const auto& entry : services)
        m_session.QueueMessage(kNotifyServiceAdded, entry.first, "", "");
}

void CRequestDispatcher::AddService(const CNVRCPMessage& message) {
    std::unique_ptr<CObject> received = m_session.ReceiveTaggedObject(RUNTIME_CLASS(CService));
    if (!received)
        return;
    CServiceManager& services = m_engine.GetServiceManager();
    CScopedLock lock(services);
    CService& service =
        ConfigurationUploads::AddService(services, message.Arg1, std::move(received));
    if (service.GetEnabled()) {
        service.OpenLogFile();
        service.StartIfEnabled();
    }
}

void CRequestDispatcher::ModifyService(const CNVRCPMessage& message) {
    const std::vector<BYTE> image = m_session.ReceiveImage();
    CServiceManager& services = m_engine.GetServiceManager();
    CScopedLock lock(services);
    CRef<CService> service = ConfigurationUploads::ModifyService(services, message.Arg1, image);
    if (!service)
        return;
    service->OpenLogFile();
    if (service->GetRestartRequested())
        service->Restart();
    service->WriteLog(LogFormat::kLogConfigurationChanged, "%s", "");
}

void CRequestDispatcher::StartOrStopService(const CNVRCPMessage& message) {
    CServiceManager& services = m_engine.GetServiceManager();
    CScopedLock lock(services);
    CService* service = services.FindService(message.Arg1);
    if (service == nullptr)
        return;
    if (message.Arg2 == kArgOff)
        service->Stop();
    else if (message.Arg2 == kArgOn)
        service->Start();
}

// --- Rights ----------------------------------------------------------------------------------

void CRequestDispatcher::SendRights() {
    std::vector<std::vector<BYTE>> frames;
    for (DWORD kind = 0; kind < kRightKindCount; ++kind)
        frames.push_back(RCPFraming::Encode(*m_engine.GetRight(kind), false));
    for (const std::vector<BYTE>& frame : frames)
        if (!m_session.SendFrame(frame))
            throw new X1SocketException(0, kCommunicationsFailure);
}

void CRequestDispatcher::SendWhole(CObject& object) {
    const std::vector<BYTE> frame = RCPFraming::Encode(object, false);
    if (!m_session.SendFrame(frame))
        throw new X1SocketException(0, kCommunicationsFailure);
}

void CRequestDispatcher::ReceiveRights() {
    std::vector<ConfigurationUploads::Image> images;
    for (DWORD kind = 0; kind < kRightKindCount; ++kind)
        images.push_back(m_session.ReceiveImage());
    CRight* rights[kRightKindCount];
    for (DWORD kind = 0; kind < kRightKindCount; ++kind)
        rights[kind] = m_engine.GetRight(kind);
    ConfigurationUploads::ReplaceRights(rights, kRightKindCount, images);
}

// --- Locations -------------------------------------------------------------------------------

void CRequestDispatcher::ListLocations() {
    CLocationArray& locations = m_engine.GetLocations();
    CScopedLock lock(locations);
    for (const CObject* element : locations) {
        const auto* location = static_cast<const CLocation*>(element);
        m_session.QueueMessage(kNotifyLocationAdded, location->GetFilter(), "", "");
    }
}

// --- Activity --------------------------------------------------------------------------------

void CRequestDispatcher::ListActivity() {
    CMachineMap& machines = m_engine.GetMachineMap();
    CScopedLock lock(machines);
    for (const CRef<CObject>& object : machines.Snapshot()) {
        auto* machine = dynamic_cast<CMachine*>(object.Get());
        if (machine == nullptr)
            continue;
        CScopedLock machineLock(*machine);
        const std::string address = machine->GetAddressText();
        const auto level = static_cast<DWORD>(machine->GetLogonState());
        m_session.QueueMessage(kNotifyMachineAdded, address, machine->GetUserName(),
                               FormatText(kNumber, level));
        for (const CRef<CSession>& session : machine->GetSessions())
            m_session.QueueMessage(kNotifySessionStarted, address,
                                   FormatText(kNumber, session->GetSessionId()),
                                   session->GetDescription());
    }
}

void CRequestDispatcher::TerminateSession(const CNVRCPMessage& message) {
    const std::optional<DWORD> id = ParseDecimalDword(message.Arg2);
    if (!id)
        return;
    CRef<CMachineBase> found = m_engine.GetMachineMap().FindMachineRef(message.Arg1);
    if (auto* machine = dynamic_cast<CMachine*>(found.Get()))
        machine->EndSession(*id, FrameworkFormat::kExitIdle);
}

// --- Dialer ----------------------------------------------------------------------------------

void CRequestDispatcher::ReceiveDialer() {
    // The dialer reads the whole image aside and changes nothing unless all of it is usable.
    CDialer& dialer = m_engine.GetDialer();
    m_session.ReceiveObject(dialer);
    dialer.OpenLogFile();
}

void CRequestDispatcher::DialOrHangUp(const CNVRCPMessage& message) {
    const std::optional<DWORD> action = ParseDecimalDword(message.Arg2);
    if (action)
        m_engine.GetDialer().RequestDialOrHangUp(message.Arg1, *action);
}
