#include "console/session/ConsoleConfiguration.h"

#include "engine/NorvaneEngine.h"
#include "foundation/ScopedLock.h"

namespace {

CNorvaneEngine& MakeConfiguration() {
    static CNorvaneEngine* const configuration = new CNorvaneEngine(CNorvaneEngine::InertCopy{});
    return *configuration;
}

}  // namespace

CNorvaneEngine& theConfiguration = MakeConfiguration();

void EmptyConfiguration(CNorvaneEngine& configuration) {
    configuration.GetMachineMap().DeleteAll();
    CServiceManager& services = configuration.GetServiceManager();
    {
        CScopedLock lock(services);
        services.DeleteElements();
    }
    configuration.GetUserDatabase().RemoveAll();
    configuration.GetLocations().RemoveAll();
}
