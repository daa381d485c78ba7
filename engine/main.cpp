// NorvaneEngine: carries out one command-line switch, or runs as the service.

#include "engine/NorvaneEngine.h"
#include "engine/NorvaneEngineService.h"
#include "engine/ServiceHelpers.h"
#include "engine/ServiceTexts.h"
#include "engine/framework/SessionCeiling.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Paths.h"
#include "platform/net/SocketStartup.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

using namespace ServiceTexts;

namespace {

// The one engine object of the process, built before main runs.
CNorvaneEngine theEngine;

// A service left by a beta version ran under the name that is now the display name: stop it
// and remove it.
void RemovePreviousBetaVersion(CNTService& service) {
    if (!ServiceExists(kBetaServiceName))
        return;
    if (!StopServiceByName(kBetaServiceName)) {
        std::printf("%s", kPrintNotStoppedBeta);
        service.LogEvent(EVENTLOG_WARNING_TYPE, EVMSG_DEBUG, kNotStoppedBeta);
        return;
    }
    service.LogEvent(EVENTLOG_WARNING_TYPE, EVMSG_DEBUG, kStoppedBeta);
    if (DeleteServiceByName(kBetaServiceName)) {
        std::printf("%s", kPrintRemovedBeta);
        service.LogEvent(EVENTLOG_WARNING_TYPE, EVMSG_DEBUG, kRemovedBeta);
    } else {
        std::printf("%s", kPrintNotRemovedBeta);
        service.LogEvent(EVENTLOG_WARNING_TYPE, EVMSG_DEBUG, kNotRemovedBeta);
    }
}

// The engine's relative folders (logs, audit, cache) are meant to resolve in its own folder.
void ChangeToProgramFolder(CNTService& service) {
    const std::string folder = ProgramDirectory();
    if (folder.empty() || SetCurrentDirectory(folder))
        return;
    std::printf(kPrintHomeFolder, folder.c_str());
    char text[4352];
    std::snprintf(text, sizeof text, kHomeFolderEvent, folder.c_str());
    service.LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_DEBUG, text);
}

}  // namespace

int main(int argc, char** argv) {
    CNorvaneEngine::SetInstance(&theEngine);
    CNorvaneEngineService service(theEngine);
    RemovePreviousBetaVersion(service);
    ChangeToProgramFolder(service);
    if (service.ParseStandardArgs(argc, argv))
        return service.ExitStatus();

    service.LogEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_DEBUG, kStartingEngine);
    if (!SocketStartup()) {
        service.LogEvent(EVENTLOG_ERROR_TYPE, EVMSG_DEBUG, kSocketInitFailed);
        return 1;
    }
    // The limit is final now: the engine's ceiling on live sessions follows from it.
    const std::size_t descriptors = DescriptorLimit();
    const std::size_t ceiling = SessionCeilingForDescriptors(descriptors);
    theEngine.GetSessionCeiling().SetCeiling(ceiling);
    char ceilingText[160];
    std::snprintf(ceilingText, sizeof ceilingText, kSessionCeilingEvent,
                  static_cast<unsigned>(std::min<std::size_t>(ceiling, UINT_MAX)),
                  static_cast<unsigned>(std::min<std::size_t>(descriptors, UINT_MAX)));
    service.LogEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_DEBUG, ceilingText);
    theEngine.SetEventReporter([&service](WORD type, const std::string& text) {
        service.LogEvent(type, EVMSG_DEBUG, text.c_str());
    });
    // A shut-down a console asked for ends the process through the service, so that main
    // returns and the process ends with exit code 0.
    theEngine.SetProcessExitHandler([&service] { service.EndAfterEngineShutDown(); });
    // No callback window here: this platform delivers socket and dial-up notifications to
    // threads, so the dispatcher is entered directly.
    const BOOL dispatched = service.StartService();
    const DWORD error = GetLastError();
    theEngine.WaitForThreads();
    theEngine.SetProcessExitHandler(nullptr);
    theEngine.SetEventReporter(nullptr);
    if (!dispatched) {
        std::fprintf(stderr, kPrintNotAService, service.DisplayName().c_str(),
                     static_cast<unsigned>(error));
        return 1;
    }
    return service.ExitStatus();
}
