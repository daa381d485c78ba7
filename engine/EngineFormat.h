#pragma once
// The engine object's constants in one place: where its configuration lives, the eleven
// default and system rights, its alert and trace texts, its timer and its pauses. The
// notifications it sends to consoles are remote/RCPOperations.h.

#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

namespace EngineFormat {

// The configuration root: HKEY_LOCAL_MACHINE\SOFTWARE\<company>\<product>.
inline constexpr const char* kCompany = "Urvo Software";
inline constexpr const char* kProduct = "Norvane 2";

// The configuration objects that load and save themselves below the root, in load and save
// order (the rights follow them, in the order of kRights).
enum class EnginePart { kUserDatabase, kServices, kLocations, kDialer, kCache };

struct EnginePartKey {
    EnginePart part;
    const char* key;
};

inline constexpr EnginePartKey kParts[] = {
    {EnginePart::kUserDatabase, "UserDatabase"},
    {EnginePart::kServices, "Services"},
    {EnginePart::kLocations, "Locations"},
    {EnginePart::kDialer, "Dialer"},
    {EnginePart::kCache, "Cache"},
};

// The eleven rights of the engine: kinds 0-2 are the defaults that a service's own rights of
// the same kind fall back to; kinds 3-10 guard the console's requests. A right that has no
// description after loading gets the one below and one recipient: for kind 0 a recipient as
// constructed by default ("Everyone", unrestricted), for the others an unrestricted recipient
// naming the group in `recipientGroup`.
struct EngineRight {
    int kind;
    const char* key;
    const char* description;
    const char* recipientGroup;  // null: the default recipient
};

inline constexpr int kRightCount = 11;
inline constexpr EngineRight kRights[kRightCount] = {
    {0, "DefaultRights\\Access", "Users can access services", nullptr},
    {1, "DefaultRights\\StartStop", "Users can start/stop services", "Administrators"},
    {2, "DefaultRights\\Edit", "Users can modify services", "Administrators"},
    {3, "SystemRights\\UserAdd", "Users can create and edit users", "Administrators"},
    {4, "SystemRights\\ServiceAdd", "Users can create/delete services", "Administrators"},
    {5, "SystemRights\\ActivityMonitor", "Users can monitor activity on this server", "Administrators"},
    {6, "SystemRights\\ActivityControl", "Users can delete sessions from this server", "Administrators"},
    {7, "SystemRights\\PolicyEdit", "Users can modify system policies", "Administrators"},
    {8, "SystemRights\\DialerEdit", "Users can modify and control Norvane Dialer", "Administrators"},
    {9, "SystemRights\\CacheManagement", "Users can modify and control Norvane cache", "Administrators"},
    {10, "SystemRights\\Shutdown", "Users can shutdown Norvane", "Administrators"},
};

// The alerts of a failed configuration save.
inline constexpr const char* kAlertCaption = "Norvane Internal Error";
inline constexpr const char* kUserDatabaseSaveFailed =
    "There was an error writing Norvane User database\nto registry.  There may be a security\n"
    "compromise as a result.  Make sure you log back in\nand check users and groups";
inline constexpr const char* kConfigurationSaveFailed =
    "There was an error writing Norvane configuration\nto file.  Norvane may be in an unstable "
    "state\n";

// Debug trace texts.
inline constexpr const char* kTraceInitialize = "CNorvaneEngine::Initialize()\n";
inline constexpr const char* kTraceCreateThread = "CreateThread %s\n";
inline constexpr const char* kTraceSucceeded = "succeeded";
inline constexpr const char* kTraceFailed = "failed";
inline constexpr const char* kTraceShutDown = "CNorvaneEngine::ShutDown()\n";
inline constexpr const char* kTraceThreadsLeft =
    "CNorvaneEngine: %u thread(s) still running after the shut-down wait\n";

// The idle timer, and how often it saves the users' statistics (on the first tick, then on
// every 60th: every 120 s).
inline constexpr DWORD kTimerPeriodMs = 2000;
inline constexpr unsigned kStatisticsEveryTicks = 60;

// The thread message that asks the engine thread to restart the dialer.
inline constexpr UINT kRestartDialerMessage = WM_USER + 11;

// Pauses of the shut-down and of a dialer restart.
inline constexpr DWORD kPauseAfterMachinesMs = 500;
inline constexpr DWORD kPauseAfterDialerMs = 500;
inline constexpr DWORD kDialerRestartPauseMs = 3000;

// Longest waits: for start-up to finish before a shut-down proceeds, for the log, engine and
// dialer threads to end, and for the session and service threads at the end of the process.
inline constexpr DWORD kStartUpWaitMs = 30000;
inline constexpr DWORD kThreadEndWaitMs = 5000;
inline constexpr DWORD kWorkerThreadsWaitMs = 10000;

}  // namespace EngineFormat
