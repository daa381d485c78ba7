#pragma once
// The real engine object for tests, without the shut-down's pauses; it shuts down and ends its
// thread when it goes (the thread calls the overrides, so it must end first).

#include "engine/NorvaneEngine.h"
#include "platform/kernel/Paths.h"

class CQuickEngine : public CNorvaneEngine {
public:
    ~CQuickEngine() override {
        ShutDown(FALSE);
        PostThreadMessage(WM_QUIT, 0, 0);
        WaitForExit(INFINITE);
    }

protected:
    void Pause(DWORD) override {}
    // The cache of a test's engine lives in the state folder, not beside the test program.
    void LoadCacheIndex() override {
        GetCache().SetCacheDirectory(StateDirectory() + "/cache");
        CNorvaneEngine::LoadCacheIndex();
    }
};
