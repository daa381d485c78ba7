#pragma once
// The console user's connection settings and where they are kept: the per-user hive, key
// Software\Urvo Software\Wardenhall\Settings. The stored values, in the order they are written:
//
//   value                kind     default          field
//   Username             string   "Administrator"  userName
//   NorvaneServer        string   "localhost"      server
//   NorvanePort          DWORD    808              port
//   WantsMonitorNorvane  DWORD    1                wantsMonitor
//   WantsModifyNorvane   DWORD    1                wantsModifyEngine
//   WantsModifyUsers     DWORD    1                wantsModifyUsers
//   WantsAlerts          DWORD    1                wantsAlerts
//   WantsMessages        DWORD    1                wantsMessages
//
// Strings are stored with one terminating NUL. The password is held in memory only and never
// written. The five Wants values are loaded and saved and used by nothing else.

#include <string>

namespace SettingsFormat {
inline constexpr const char* kKey = "Software\\Urvo Software\\Wardenhall\\Settings";
inline constexpr const char* kUsername = "Username";
inline constexpr const char* kServer = "NorvaneServer";
inline constexpr const char* kPort = "NorvanePort";
inline constexpr const char* kWantsMonitor = "WantsMonitorNorvane";
inline constexpr const char* kWantsModifyEngine = "WantsModifyNorvane";
inline constexpr const char* kWantsModifyUsers = "WantsModifyUsers";
inline constexpr const char* kWantsAlerts = "WantsAlerts";
inline constexpr const char* kWantsMessages = "WantsMessages";

inline constexpr const char* kDefaultUsername = "Administrator";
inline constexpr const char* kDefaultServer = "localhost";
inline constexpr int kDefaultPort = 808;
}  // namespace SettingsFormat

struct CConsoleSettings {
    std::string userName = SettingsFormat::kDefaultUsername;
    std::string password;
    std::string server = SettingsFormat::kDefaultServer;
    int port = SettingsFormat::kDefaultPort;
    int wantsMonitor = 1;
    int wantsModifyEngine = 1;
    int wantsModifyUsers = 1;
    int wantsAlerts = 1;
    int wantsMessages = 1;

    // Reads every stored value; a value that is missing (or of the wrong size) keeps its
    // default. Creates nothing. The password is left as it is.
    void Load();
    // Writes every value but the password, in the table's order. False when the hive could
    // not be written.
    bool Save() const;
};

// Whether the engine at `server` runs on this machine: "localhost" in any letter case, or
// exactly "127.0.0.1".
bool IsLocalServer(const std::string& server);
