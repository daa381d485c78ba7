#pragma once
// What the engine needs of a console session that registered for notifications (the engine's
// remote-control session derives from this): a way to queue one protocol message for it, and
// the client address it speaks from. Both are called with the engine's console-list mutex
// held (lock order: console list, then the session's outgoing queue), from any thread.
//
// A registered console unregisters itself (CNorvaneEngine::UnregisterConsole) before its
// object goes; the engine never deletes one.

#include "platform/kernel/Types.h"

#include <string>

class IEngineConsole {
public:
    // Queues the message (operation code and three texts) to go out on the session's thread.
    // May throw; the engine then goes on with the other consoles.
    virtual void QueueMessage(WORD op, const std::string& text1, const std::string& text2,
                              const std::string& text3) = 0;
    // The dotted address of the session's own client.
    virtual std::string GetClientAddress() const = 0;

protected:
    ~IEngineConsole() = default;
};
