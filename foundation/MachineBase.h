#pragma once
// What the machine map and the engine object need of a client-machine record. The engine's
// CMachine derives from this class (and so from CLockableObject), implements the operations,
// and keeps CLockableObject as the run-time base of its record:
//
//     class CMachine : public CMachineBase {
//         DECLARE_SERIAL(CMachine)
//         ...
//         std::string GetAddressText() const override { return m_address; }
//         void DeleteAllSessions() override;
//         std::string GetUserName() const override;
//         void CheckIdleSessions() override;
//     };
//     IMPLEMENT_SERIAL(CMachine, CLockableObject, 1)
//
// CMachineMap then holds CMachine objects, finds them by address text, and loads them from an
// archive (any registered class derived from CLockableObject that is a CMachineBase).

#include "foundation/LockableObject.h"

#include <string>

class CMachineBase : public CLockableObject {
public:
    // The client's dotted address: the machine's key in the map. Fixed for the object's life.
    virtual std::string GetAddressText() const = 0;
    // Deletes every session object the machine holds and empties its session map. Only for
    // inert copies (see CMachineMap::DeleteAll).
    virtual void DeleteAllSessions() = 0;
    // The user the machine's sessions run as (the engine removes every machine of a user
    // that is deleted).
    virtual std::string GetUserName() const = 0;
    // The engine's timer walk: under the machine's own lock, the idle check of each session,
    // a failing check contained so the others still run. Ending the last session may remove
    // the machine from the engine's map; the walk holds a reference, so the object stays
    // valid until the call returns.
    virtual void CheckIdleSessions() = 0;

protected:
    CMachineBase() = default;
    CMachineBase(const CMachineBase&) = default;
    CMachineBase& operator=(const CMachineBase&) = default;
};
