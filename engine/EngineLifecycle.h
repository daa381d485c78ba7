#pragma once
// What the service wrapper needs of the engine object: start it, and shut it down.

#include "platform/kernel/Types.h"

class IEngineLifecycle {
public:
    virtual ~IEngineLifecycle() = default;

    // Starts the engine thread and returns. FALSE when the thread could not be created.
    virtual BOOL Initialize() = 0;

    // Shuts the engine down in its fixed order and returns when that is done; with
    // `exitProcess` the engine then asks its host to end the process (exit code 0). Safe to
    // call when Initialize has not run.
    virtual void ShutDown(BOOL exitProcess) = 0;
};
