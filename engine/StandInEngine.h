#pragma once
// A minimal engine for the service wrapper until the engine object exists: Initialize starts
// a thread with a message queue that does nothing but wait, and ShutDown ends it.

#include "engine/EngineLifecycle.h"
#include "platform/kernel/Thread.h"

class CStandInEngine : public CThread, public IEngineLifecycle {
public:
    CStandInEngine() = default;
    ~CStandInEngine() override;

    BOOL Initialize() override;
    void ShutDown(BOOL exitProcess) override;
};
