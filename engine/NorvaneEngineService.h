#pragma once
// CNorvaneEngineService: the engine's service. Its Run takes the single-instance lock
// "NorvaneEngineApp", turns off desktop interaction for the next start, starts the engine and
// idles in one-second steps until a stop or shutdown control has run the engine's shut-down.

#include "engine/EngineLifecycle.h"
#include "engine/NTService.h"

class CNorvaneEngineService : public CNTService {
public:
    // `engine` must outlive the service object.
    explicit CNorvaneEngineService(IEngineLifecycle& engine);

    void Run() override;
    BOOL OnInit() override;
    void OnStop() override;
    void OnShutdown() override;
    BOOL OnUserControl(DWORD control) override;

    // Ends the service as a stop control would, without shutting the engine down again: for
    // an engine that has shut itself down and wants the process to end (a console's request).
    // Run then returns within a second and the dispatcher returns to main.
    void EndAfterEngineShutDown();

private:
    // Clears SERVICE_INTERACTIVE_PROCESS from the service's own record; failures are skipped.
    void DisableDesktopInteraction();

    IEngineLifecycle& m_engine;
};
