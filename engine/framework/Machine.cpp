#include "engine/framework/Machine.h"

#include "engine/NorvaneEngine.h"
#include "engine/access/User.h"
#include "engine/framework/FrameworkFormat.h"
#include "engine/framework/Session.h"
#include "engine/framework/UserAccounts.h"
#include "foundation/Archive.h"
#include "foundation/MachineMap.h"
#include "foundation/ScopedLock.h"
#include "platform/framework/Exception.h"

#include <algorithm>
#include <limits>
#include <utility>

using namespace FrameworkFormat;

IMPLEMENT_SERIAL(CMachine, CLockableObject, 1)

CMachine::CMachine() : CMachine(std::string()) {}

CMachine::CMachine(std::string address)
    : m_address(std::move(address)),
      m_userName(kGuest),
      m_connectTime(std::time(nullptr)),
      m_connectTick(CSession::Now()) {}

CMachine::~CMachine() {
    if (m_live && !m_closed.load()) {
        try {
            Close();
        } catch (...) {
            DropCurrentException();
        }
    }
}

// --- Admission and removal ------------------------------------------------------------------

BOOL CMachine::Admit(CSession& session) {
    CNorvaneEngine& engine = CNorvaneEngine::Instance();
    CMachineMap& machines = engine.GetMachineMap();
    const std::string address = session.GetClientAddress();

    CScopedLock mapLock(machines);
    CRef<CMachine> machine(dynamic_cast<CMachine*>(machines.FindMachine(address)));
    if (machine && !machine->IsClosed()) {
        machine->AttachSession(session);
        return TRUE;
    }

    // A new machine is complete (user and level) before it enters the map, where other
    // sessions of the address find it.
    const std::string assumed = engine.GetLocations().GetUserForAddress(address);
    auto* fresh = new CMachine(address);
    fresh->m_live = true;
    fresh->m_userName = assumed.empty() ? std::string(kGuest) : assumed;
    fresh->m_logonLevel = assumed.empty() || assumed == kGuest ? kLevelUnknown : kLevelAssumed;
    machines.AddMachine(fresh);  // the map keeps the first reference
    machine = CRef<CMachine>(fresh);

    if (!assumed.empty()) {
        engine.NotifyMachineChanged(address, assumed, kLevelAssumed);
        if (assumed == kGuest)
            engine.NotifyMachineChanged(address, assumed, kLevelUnknown);
    } else {
        engine.NotifyMachineChanged(address, kGuest, kLevelUnknown);
    }
    machine->AttachSession(session);
    engine.NotifyMachineAdded(address, machine->GetUserName(),
                              static_cast<DWORD>(machine->GetLogonState()));
    return TRUE;
}

void CMachine::AttachSession(CSession& session) {
    CScopedLock lock(*this);
    session.AttachToMachine(this, m_userName, m_logonLevel);
    if (session.GetSessionId() == 0)
        session.m_sessionId = CSession::NextSessionId();
    AddSession(&session);
}

void CMachine::RemoveIfEmpty() {
    CMachineMap& machines = CNorvaneEngine::Instance().GetMachineMap();
    CScopedLock mapLock(machines);
    if (machines.FindMachine(m_address) != this)
        return;
    {
        CScopedLock lock(*this);
        if (!m_sessions.empty())
            return;
        machines.RemoveMachine(this);
    }
    // Ended under the map's lock, so a new machine of the same address is announced only
    // after this one's removal.
    Close();
    Release();  // the map's reference; the caller still holds one
}

void CMachine::Close() {
    if (m_closed.exchange(true))
        return;
    CloseAllSessions(kExitMachineDeleted);
    const DWORD seconds = GetSecondsConnected();
    const bool found = WithUserAccount(GetUserName(), [&](CUser& user) {
        user.AddUsage(0, 0, 0, 0, seconds);
    });
    CNorvaneEngine::Instance().NotifyMachineRemoved(m_address, found ? seconds : 0);
}

// --- Record ---------------------------------------------------------------------------------

std::string CMachine::GetUserName() const {
    CScopedLock lock(*this);
    return m_userName;
}

void CMachine::SetUserName(const std::string& userName) {
    CScopedLock lock(*this);
    m_userName = userName;
}

int CMachine::GetLogonState() const {
    CScopedLock lock(*this);
    return m_logonLevel;
}

void CMachine::SetLogonState(int level) {
    std::string user;
    {
        CScopedLock lock(*this);
        m_logonLevel = level;
        user = m_userName;
    }
    CNorvaneEngine::Instance().NotifyMachineChanged(m_address, user, static_cast<DWORD>(level));
}

void CMachine::LogOn(CSession& session, const std::string& userName, int level) {
    {
        CScopedLock lock(*this);
        m_userName = userName;
    }
    SetLogonState(level);
    // The session takes the user it logged on, even when another log-on from this machine
    // has changed the machine's user meanwhile: its rights are its own user's.
    session.SetUser(userName, level);
}

DWORD CMachine::GetSecondsConnected() const {
    const std::uint64_t seconds = (CSession::Now() - m_connectTick) / 1000;
    return static_cast<DWORD>(std::min<std::uint64_t>(seconds, std::numeric_limits<DWORD>::max()));
}

// --- Sessions -------------------------------------------------------------------------------

void CMachine::AddSession(CSession* session) {
    if (session == nullptr)
        return;
    CScopedLock lock(*this);
    m_sessions[session->GetSessionId()] = CRef<CSession>(session);
}

void CMachine::RemoveSession(DWORD sessionId) {
    CRef<CMachine> self(this);  // the session's reference to us goes below
    CRef<CSession> session;
    {
        CScopedLock lock(*this);
        auto it = m_sessions.find(sessionId);
        if (it == m_sessions.end())
            return;
        session = std::move(it->second);
        m_sessions.erase(it);
        session->DetachFromMachine();
    }
}

CSession* CMachine::FindSession(DWORD sessionId) const {
    CScopedLock lock(*this);
    auto it = m_sessions.find(sessionId);
    return it == m_sessions.end() ? nullptr : it->second.Get();
}

CRef<CSession> CMachine::FindSessionRef(DWORD sessionId) const {
    CScopedLock lock(*this);
    auto it = m_sessions.find(sessionId);
    return it == m_sessions.end() ? CRef<CSession>() : it->second;
}

std::size_t CMachine::GetSessionCount() const {
    CScopedLock lock(*this);
    return m_sessions.size();
}

std::vector<CRef<CSession>> CMachine::GetSessions() const {
    CScopedLock lock(*this);
    std::vector<CRef<CSession>> sessions;
    sessions.reserve(m_sessions.size());
    for (const auto& entry : m_sessions)
        sessions.push_back(entry.second);
    return sessions;
}

void CMachine::DeleteAllSessions() {
    std::map<DWORD, CRef<CSession>> sessions;
    {
        CScopedLock lock(*this);
        sessions.swap(m_sessions);
    }
}

void CMachine::StoreLogonState(int level) {
    CScopedLock lock(*this);
    m_logonLevel = level;
}

void CMachine::AddSessionRecord(CSession& session, DWORD sessionId) {
    CRef<CSession> replaced;
    CScopedLock lock(*this);
    session.AttachToMachine(this, m_userName, m_logonLevel);
    session.m_sessionId = sessionId;
    CRef<CSession>& entry = m_sessions[sessionId];
    replaced = std::move(entry);
    entry = CRef<CSession>(&session);
    if (replaced && replaced.Get() != &session)
        replaced->DetachFromMachine();
}

void CMachine::CopyUserTo(CSession& session) const {
    CScopedLock lock(*this);
    session.SetUser(m_userName, m_logonLevel);
}

CMachine::Traffic CMachine::BookTraffic(CSession& session) {
    Traffic t;
    t.clientSent = session.GetClientBytesSent();
    t.clientReceived = session.GetClientBytesReceived();
    if (session.HasRemoteSide()) {
        t.remoteSent = session.GetRemoteBytesSent();
        t.remoteReceived = session.GetRemoteBytesReceived();
    }
    const bool found = WithUserAccount(m_userName, [&](CUser& user) {
        user.AddUsage(t.clientSent, t.clientReceived, t.remoteSent, t.remoteReceived, 0);
    });
    return found ? t : Traffic{};
}

BOOL CMachine::EndSession(DWORD sessionId, int reason) {
    CRef<CMachine> self(this);  // the session's reference to us goes below
    CRef<CSession> session;
    bool empty;
    {
        CScopedLock lock(*this);
        auto it = m_sessions.find(sessionId);
        if (it == m_sessions.end())
            return FALSE;
        session = std::move(it->second);
        m_sessions.erase(it);
        session->DetachFromMachine();
        const Traffic t = BookTraffic(*session);
        try {
            CNorvaneEngine::Instance().NotifySessionEnded(m_address, sessionId, t.clientSent,
                                                         t.clientReceived, t.remoteSent,
                                                         t.remoteReceived);
        } catch (...) {
            DropCurrentException();
        }
        session->EndOnce(reason);
        empty = m_sessions.empty();
    }
    if (empty)
        RemoveIfEmpty();
    return TRUE;
}

BOOL CMachine::HandOver(CSession& predecessor, CSession& successor, int code) {
    CRef<CMachine> self(this);  // the predecessor's reference to us goes below
    CRef<CSession> ended;
    CScopedLock lock(*this);
    auto it = m_sessions.find(predecessor.GetSessionId());
    if (it == m_sessions.end() || it->second.Get() != &predecessor)
        return FALSE;
    if (!predecessor.CountTerminate())
        return FALSE;  // another thread is ending it
    successor.m_handedOver = true;
    AttachSession(successor);
    ended = std::move(it->second);
    m_sessions.erase(it);
    ended->DetachFromMachine();
    const Traffic t = BookTraffic(*ended);
    try {
        CNorvaneEngine::Instance().NotifySessionEnded(m_address, ended->GetSessionId(),
                                                     t.clientSent, t.clientReceived,
                                                     t.remoteSent, t.remoteReceived);
    } catch (...) {
        DropCurrentException();
    }
    ended->EndOnce(code);
    return TRUE;
}

void CMachine::CloseAllSessions(int reason) {
    // Declared before the lock, released after it: the sessions' references to us go below.
    // Taken only when there are sessions, since a machine without sessions may be ending in
    // its destructor, where it must not be counted again.
    CRef<CMachine> self;
    std::map<DWORD, CRef<CSession>> sessions;
    CScopedLock lock(*this);
    if (m_sessions.empty())
        return;
    self = CRef<CMachine>(this);
    sessions.swap(m_sessions);
    for (auto& entry : sessions) {
        CSession& session = *entry.second;
        session.CountTerminate();  // a later Terminate does nothing
        session.DetachFromMachine();
        try {
            BookTraffic(session);
            session.EndOnce(reason);
        } catch (...) {
            DropCurrentException();
        }
    }
}

void CMachine::CheckIdleSessions() {
    std::vector<CRef<CSession>> expired;
    {
        CScopedLock lock(*this);
        for (const auto& entry : m_sessions) {
            try {
                if (entry.second->HasIdleExpired())
                    expired.push_back(entry.second);
            } catch (...) {
                DropCurrentException();
            }
        }
    }
    for (const CRef<CSession>& session : expired) {
        if (FindSession(session->GetSessionId()) != session.Get())
            continue;  // it ended meanwhile
        try {
            session->Terminate(kExitIdle);
        } catch (...) {
            DropCurrentException();
        }
    }
}

// --- Archive --------------------------------------------------------------------------------

void CMachine::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CScopedLock lock(*this);
        ar << m_address << m_userName << static_cast<std::int32_t>(m_logonLevel);
        ar.WriteTime(m_connectTime);
        return;
    }
    std::string address;
    std::string user;
    std::int32_t level;
    ar >> address >> user >> level;
    const std::time_t connected = ar.ReadTime();
    CScopedLock lock(*this);
    m_address = std::move(address);
    m_userName = std::move(user);
    m_logonLevel = level;
    m_connectTime = connected;
}
