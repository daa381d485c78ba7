#pragma once
// The engine's map of connected client machines: address text -> CMachine (through the
// CMachineBase interface, foundation/MachineBase.h). Every operation takes the map's lock
// itself. Lock order: the map, then one machine, then the user database.
//
// The run-time record names the plain string-to-object map as its base, so in run-time checks
// a CMachineMap is not a kind of CLockableMap, though it behaves as one.
//
// Inert and live maps. DeleteAll deletes every machine with its session objects outright. That
// is right for inert copies (the console's picture of the engine, a map loaded from an
// archive), whose sessions are plain records; it would free the engine's running session
// threads under their feet. So the engine marks its own map live (MarkLive), and then DeleteAll
// and loading from an archive throw CNotSupportedException and change nothing; the engine ends
// its machines through their own shut-down path instead.
//
// Archive form: the map's (count, then key and machine for each entry). Loading, under the
// lock: DeleteAll first, then each machine read as a new object whose class derives from
// CLockableObject and implements CMachineBase (null, back-references and other classes are
// refused). The map owns what it loaded: a caller that discards such a map calls DeleteAll. A
// load that fails leaves the map empty.

#include "foundation/LockableMap.h"
#include "foundation/MachineBase.h"
#include "platform/kernel/Types.h"

#include <atomic>
#include <string>
#include <string_view>

class CMachineMap : public CLockableMap {
    DECLARE_SERIAL(CMachineMap)
public:
    // Sets the entry for the machine's address text (an entry of that text is replaced; the
    // machine it held is not deleted).
    void AddMachine(CMachineBase* machine);
    // Removes the entry for the machine's address text when it holds this machine; TRUE if an
    // entry was removed. The machine is not deleted.
    BOOL RemoveMachine(const CMachineBase* machine);
    // The machine for that address text, or null.
    CMachineBase* FindMachine(std::string_view addressText) const;
    // The same as a counted reference, for callers that use the machine after the lock.
    CRef<CMachineBase> FindMachineRef(std::string_view addressText) const;

    // Inert maps only (see above): under the lock, each machine's DeleteAllSessions, then the
    // machine is given up (Release: deleted unless shared), then the map is emptied.
    virtual void DeleteAll();

    void Serialize(CArchive& ar) override;

    void MarkLive() { m_live = true; }
    bool IsLive() const { return m_live; }

private:
    void RefuseIfLive(const char* operation) const;

    std::atomic<bool> m_live{false};
};
