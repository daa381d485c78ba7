#pragma once
// What the machine map needs of a client-machine record. The engine's CMachine derives from
// this class (and so from CLockableObject), implements the two operations, and keeps
// CLockableObject as the run-time base of its record:
//
//     class CMachine : public CMachineBase {
//         DECLARE_SERIAL(CMachine)
//         ...
//         std::string GetAddressText() const override { return m_address; }
//         void DeleteAllSessions() override;
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

protected:
    CMachineBase() = default;
    CMachineBase(const CMachineBase&) = default;
    CMachineBase& operator=(const CMachineBase&) = default;
};
