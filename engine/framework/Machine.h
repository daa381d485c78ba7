#pragma once
// CMachine: the engine's record of one client address that has open sessions. It names the
// user the machine's sessions run as and the log-on level (0 unknown, 1 assumed from a
// location, 2 logged on with the console from this machine), holds the machine's sessions by
// number, and books each ending session's traffic to that user. Admission (Admit, the engine's
// RegisterSession) creates the machine on first contact; the machine leaves the engine's map
// when its last session ends, when a console or a deleted user removes it, or at shut-down.
//
// Ending a machine. Removing a machine from the engine's map and ending it are one step under
// the map's lock (Close): its sessions end with -1 and no session-ended notices, its connected
// seconds go to the user's TimeOnLine, and the consoles hear that it was removed. The object
// itself goes with its last reference: the map's, those of its sessions (each holds one while
// it belongs to the machine) and those of walks in progress, so a session that ends at the
// same moment never reaches freed memory.
//
// Ownership of sessions. The map holds a counted reference to each session; ending or closing
// a session gives it up. Inert copies (a console's picture of the engine, read from an
// archive) have no sessions.
//
// Locking. The machine's own re-entrant mutex (Lock/Unlock) guards its sessions, its user and
// its level. Lock order: the engine's machine map, then one machine, then the user database,
// then a session's own mutex. EndSession and CloseAllSessions call the sessions' EndSession
// with the machine locked; sessions end without taking their services' mutexes there.
//
// Archive form (the console's activity view): address, user name, log-on level (4 bytes),
// connect time (4-byte seconds).

#include "foundation/MachineBase.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Types.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

class CArchive;
class CSession;

class CMachine : public CMachineBase {
    DECLARE_SERIAL(CMachine)
public:
    CMachine();
    explicit CMachine(std::string address);
    // A machine of the engine that was never ended is ended here (see Close).
    ~CMachine() override;
    CMachine(const CMachine&) = delete;
    CMachine& operator=(const CMachine&) = delete;

    // --- Admission and removal in the engine ------------------------------------------------
    // The engine's RegisterSession: attaches the session to the machine of its client
    // address, making the machine first (its user taken from the locations, "Guest" when
    // none names it, before the machine is seen by anyone). A new session gets its number.
    // Notices: for a new machine one or two machine-changed (72) and then machine-added (71).
    static BOOL Admit(CSession& session);
    // Under the engine map's lock: if this very machine is still in the map and has no
    // session, removes it from the map and ends it (Close). The caller holds a reference.
    void RemoveIfEmpty();
    // Ends the machine once: CloseAllSessions(-1), the connected seconds booked to the user,
    // then machine-removed (73) with those seconds (0 when the user is not in the database).
    void Close();
    bool IsClosed() const { return m_closed.load(); }

    // --- Record ----------------------------------------------------------------------------
    void Lock() const { m_mutex.Lock(); }
    void Unlock() const { m_mutex.Unlock(); }
    std::string GetAddressText() const override { return m_address; }
    std::string GetUserName() const override;
    void SetUserName(const std::string& userName);
    int GetLogonState() const;
    // Stores the level and tells the consoles (machine changed, 72).
    void SetLogonState(int level);
    // A console log-on from this machine: the machine's user becomes `userName`, its level
    // `level` (SetLogonState, so the consoles hear of it), and `session` takes both.
    void LogOn(CSession& session, const std::string& userName, int level);
    std::time_t GetConnectTime() const { return m_connectTime; }
    DWORD GetSecondsConnected() const;

    // --- Sessions --------------------------------------------------------------------------
    // Enters the session under its number (replacing a session of the same number).
    void AddSession(CSession* session);
    // Removes the entry: no booking, no notice; the session no longer belongs to the machine.
    void RemoveSession(DWORD sessionId);
    // The session of that number, or null; valid while the caller holds the machine's lock.
    CSession* FindSession(DWORD sessionId) const;
    CRef<CSession> FindSessionRef(DWORD sessionId) const;
    std::size_t GetSessionCount() const;
    std::vector<CRef<CSession>> GetSessions() const;
    // Inert copies only: gives up every session and empties the map.
    void DeleteAllSessions() override;

    // --- Inert copies (the console's picture of the engine's machines) -------------------
    // Stores the level and tells nobody: a copy takes what the engine reports.
    void StoreLogonState(int level);
    // Enters `session` (a record, never started) under `sessionId` with this machine as its
    // machine and the machine's user and level; a record held under that number is given up.
    void AddSessionRecord(CSession& session, DWORD sessionId);
    // Gives `session` the machine's user and level again.
    void CopyUserTo(CSession& session) const;
    // Ends the session of that number: removes it, books its traffic to the user, tells the
    // consoles (session ended, 76, with the four counters, zeros when the user is not in the
    // database), then the session's EndSession. Then, if no session is left, RemoveIfEmpty.
    // FALSE when the machine does not hold that session.
    BOOL EndSession(DWORD sessionId, int reason);
    // Gives `predecessor`'s place to `successor` (a session on the predecessor's client
    // connection, not started): the successor is attached (machine, user, level, a number of
    // its own, marked as handed over so its thread does not admit it again), then the
    // predecessor is ended as EndSession would end it, with `code`: its traffic booked, the
    // consoles told, its EndSession run. The machine never empties in between, so it is
    // neither removed nor made again and keeps its user and level. FALSE, with nothing
    // changed, when the machine no longer holds the predecessor or its Terminate was counted
    // already (it is ending).
    BOOL HandOver(CSession& predecessor, CSession& successor, int code);
    // Ends every session with `reason` after booking its traffic; no notices.
    void CloseAllSessions(int reason);
    // The engine timer's idle check: collects the expired sessions under the lock, then
    // terminates each (code 2) that the machine still holds, without the lock. A failing
    // check of one session never stops the others.
    void CheckIdleSessions() override;

    void Serialize(CArchive& ar) override;

private:
    // Attaches the session under the lock: machine, user, level, a number if it has none.
    void AttachSession(CSession& session);
    // Adds the session's traffic to the machine's user; the four counters as booked (zeros
    // when the user is not in the database).
    struct Traffic {
        DWORD clientSent = 0;
        DWORD clientReceived = 0;
        DWORD remoteSent = 0;
        DWORD remoteReceived = 0;
    };
    Traffic BookTraffic(CSession& session);

    mutable CMutex m_mutex;
    std::string m_address;
    std::string m_userName;
    int m_logonLevel = 0;
    std::time_t m_connectTime;
    std::uint64_t m_connectTick;
    std::map<DWORD, CRef<CSession>> m_sessions;
    bool m_live = false;  // admitted in the engine (not an inert copy)
    std::atomic<bool> m_closed{false};
};
