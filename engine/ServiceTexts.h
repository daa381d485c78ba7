#pragma once
// Every text the engine program's service wrapper and start-up print, report or trace, in one
// table: the event message table, the event-8 texts, the command line's printed texts and the
// names of the service. Printed texts are printf formats used only with the arguments noted.

#include "platform/kernel/Types.h"
#include "platform/service/EventLog.h"

#include <cstddef>

namespace ServiceTexts {

// The service.
inline constexpr const char* kServiceName = "NorvaneEngine";
inline constexpr const char* kDisplayName = "Urvo Norvane Engine";
inline constexpr const char* kBetaServiceName = "Urvo Norvane Engine";
inline constexpr const char* kInstanceLockName = "NorvaneEngineApp";
inline constexpr const char* kCompanyName = "Urvo Software";
inline constexpr const char* kProductName = "Norvane 2";

// The event source key written by Install, below HKEY_LOCAL_MACHINE; the service name follows.
inline constexpr const char* kEventSourceKeyPrefix =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
inline constexpr const char* kEventMessageFileValue = "EventMessageFile";
inline constexpr const char* kTypesSupportedValue = "TypesSupported";
inline constexpr DWORD kTypesSupported = 7;

// Event identifiers (no severity or facility bits).
inline constexpr DWORD EVMSG_INSTALLED = 0;
inline constexpr DWORD EVMSG_REMOVED = 1;
inline constexpr DWORD EVMSG_NOTREMOVED = 2;
inline constexpr DWORD EVMSG_CTRLHANDLERNOTINSTALLED = 3;
inline constexpr DWORD EVMSG_FAILEDINIT = 4;
inline constexpr DWORD EVMSG_STARTED = 5;
inline constexpr DWORD EVMSG_STOPPED = 6;
inline constexpr DWORD EVMSG_BADREQUEST = 7;
inline constexpr DWORD EVMSG_DEBUG = 8;
// A client address keeps failing the link handshake's log-on (%1 the address, %2 the account),
// and the end of that burst (%1 the address, %2 the failures counted).
inline constexpr DWORD EVMSG_LOGONFAILURES = 9;
inline constexpr DWORD EVMSG_LOGONFAILURESENDED = 10;

// The program's message table; each text ends with CR LF as in a message table.
inline constexpr EventMessage kEventMessages[] = {
    {EVMSG_INSTALLED, "The %1 service was installed successfully.\r\n"},
    {EVMSG_REMOVED, "The %1 service was removed successfully.\r\n"},
    {EVMSG_NOTREMOVED, "The %1 service was not removed successfully.\r\n"},
    {EVMSG_CTRLHANDLERNOTINSTALLED,
     "The control handler was not installed.  The service will terminate.\r\n"},
    {EVMSG_FAILEDINIT, "The service could not initialise.  The service will terminate.\r\n"},
    {EVMSG_STARTED, "The service has been started.\r\n"},
    {EVMSG_STOPPED, "The service has been stopped.\r\n"},
    {EVMSG_BADREQUEST, "Bad request sent to service.\r\n"},
    {EVMSG_DEBUG, "%1.\r\n"},
    {EVMSG_LOGONFAILURES,
     "Repeated failed log-ons from %1 (account %2): further log-ons from this address are "
     "slowed down.\r\n"},
    {EVMSG_LOGONFAILURESENDED,
     "Failed log-ons from %1 have ended after %2 failures: log-ons from this address are no "
     "longer slowed down.\r\n"},
};
inline constexpr std::size_t kEventMessageCount = sizeof kEventMessages / sizeof kEventMessages[0];

// Insertion strings of event 8.
inline constexpr const char* kStartingEngine = "Starting Engine";
inline constexpr const char* kEngineStopped = "Engine stopped";
inline constexpr const char* kAlreadyRunning = "NorvaneEngine already running - terminating";
inline constexpr const char* kInstanceLockFailed =
    "Could not create the single-instance lock NorvaneEngineApp - terminating";
inline constexpr const char* kEngineThreadFailed =
    "Could not start the engine thread - terminating";
inline constexpr const char* kInteractiveDisabled =
    "Service was set to interact with desktop - disabled - will take effect on next start";
inline constexpr const char* kStopReceived =
    "Stop command received from Service Control Manager - stopping Engine";
inline constexpr const char* kSystemShuttingDown = "System shutting down - stopping Engine";
inline constexpr const char* kSocketInitFailed =
    "Could not initialise socket subsystem - terminating";
inline constexpr const char* kStoppedBeta = "Stopped previous beta version";
inline constexpr const char* kRemovedBeta = "Removed previous beta version";
inline constexpr const char* kNotRemovedBeta = "Could not remove previous beta version";
inline constexpr const char* kNotStoppedBeta = "Could not stop previous beta version";
// Format: the engine's ceiling on live sessions, the descriptor limit it follows from.
inline constexpr const char* kSessionCeilingEvent =
    "At most %u live sessions at once, for a limit of %u open descriptors";
// Format: the folder.
inline constexpr const char* kHomeFolderEvent =
    "Could not change to Norvane home directory (%s) - some folders may end up in strange places";

// Printed by main.
inline constexpr const char* kPrintRemovedBeta = "Removed previous beta version\n";
inline constexpr const char* kPrintNotRemovedBeta = "Could not remove previous beta version\n";
inline constexpr const char* kPrintNotStoppedBeta = "Could not stop previous beta version\n";
inline constexpr const char* kPrintHomeFolder = "Could not change to Norvane home directory (%s)\n";
// Format: the display name. On standard error when the program is run by hand.
inline constexpr const char* kPrintNotAService =
    "%s runs only as a service: install it with -i and start it with -start "
    "(error %u: not started by the service control manager)\n";

// Printed by the command-line switches; "%s" is the display name unless noted.
inline constexpr const char* kPrintVersion = "%s Version 2.0e\n";
inline constexpr const char* kPrintIsInstalled = "The service is%s installed\n";  // "" or " not"
inline constexpr const char* kPrintAlreadyInstalled = "%s is already installed\n";
inline constexpr const char* kPrintInstalled = "%s installed\n";
inline constexpr const char* kPrintInstallFailed = "%s failed to install. Error %d\n";
// Format: the display name, the error.
inline constexpr const char* kPrintInstalledWithoutEventSource =
    "%s installed, but its event source could not be registered. Error %d\n";
// Format: the display name, the program's full path.
inline constexpr const char* kPrintRemoved = "%s removed. (You must delete the file (%s) yourself.)\n";
inline constexpr const char* kPrintRemoveFailed = "Could not remove %s. Error %d\n";
inline constexpr const char* kPrintNotInstalled = "%s is not installed\n";
inline constexpr const char* kPrintStarted = "%s service started\n";
inline constexpr const char* kPrintStartFailed = "%s service failed to start - error %u\n";
inline constexpr const char* kPrintStopped = "%s service stopped\n";
inline constexpr const char* kPrintStopFailedClean = "Failed to stop %s service\n";
inline constexpr const char* kPrintRemoveFailedClean = "Failed to remove %s service\n";
// On standard error when -clean could not delete the configuration.
inline constexpr const char* kPrintConfigurationNotDeleted =
    "Could not delete the configuration of %s\n";
inline constexpr const char* kUsage =
    "Invalid parameter - valid parameters are (case sensitive)\n"
    "-i\tInstall service\n"
    "-u\tUninstall service\n"
    "-start\tStart service\n"
    "-stop\tStop service\n"
    "-clean\tStop service, uninstall, and remove registry entries\n"
    "-v\tQuery service version number\n";

}  // namespace ServiceTexts
