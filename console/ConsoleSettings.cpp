#include "console/ConsoleSettings.h"

#include "foundation/RegistryStore.h"
#include "platform/registry/Registry.h"


namespace {

void ReadString(HKEY key, const char* name, std::string& field) {
    std::string data;
    DWORD type = 0;
    if (RegQueryValueEx(key, name, &type, &data) != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return;
    if (!data.empty() && data.back() == '\0')
        data.pop_back();
    field = std::move(data);
}

void ReadInt(HKEY key, const char* name, int& field) {
    std::string data;
    if (RegQueryValueEx(key, name, nullptr, &data) != ERROR_SUCCESS || data.size() != 4)
        return;
    DWORD value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<BYTE>(data[static_cast<std::size_t>(i)]);
    field = static_cast<int>(value);
}

bool WriteString(HKEY key, const char* name, const std::string& text) {
    return RegSetValueEx(key, name, REG_SZ, text + '\0') == ERROR_SUCCESS;
}

bool WriteInt(HKEY key, const char* name, int value) {
    DWORD word = static_cast<DWORD>(value);
    BYTE bytes[4] = {static_cast<BYTE>(word), static_cast<BYTE>(word >> 8), static_cast<BYTE>(word >> 16),
                     static_cast<BYTE>(word >> 24)};
    return RegSetValueEx(key, name, REG_DWORD, bytes, sizeof bytes) == ERROR_SUCCESS;
}

}  // namespace

void CConsoleSettings::Load() {
    using namespace SettingsFormat;
    CRegKey key;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, kKey, KEY_READ, key.Receive()) != ERROR_SUCCESS)
        return;
    ReadString(key.Get(), kUsername, userName);
    ReadString(key.Get(), kServer, server);
    ReadInt(key.Get(), kPort, port);
    ReadInt(key.Get(), kWantsMonitor, wantsMonitor);
    ReadInt(key.Get(), kWantsModifyEngine, wantsModifyEngine);
    ReadInt(key.Get(), kWantsModifyUsers, wantsModifyUsers);
    ReadInt(key.Get(), kWantsAlerts, wantsAlerts);
    ReadInt(key.Get(), kWantsMessages, wantsMessages);
}

bool CConsoleSettings::Save() const {
    using namespace SettingsFormat;
    CRegKey key;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, kKey, KEY_WRITE | KEY_READ, key.Receive()) != ERROR_SUCCESS)
        return false;
    bool saved = WriteString(key.Get(), kUsername, userName);
    saved = WriteString(key.Get(), kServer, server) && saved;
    saved = WriteInt(key.Get(), kPort, port) && saved;
    saved = WriteInt(key.Get(), kWantsMonitor, wantsMonitor) && saved;
    saved = WriteInt(key.Get(), kWantsModifyEngine, wantsModifyEngine) && saved;
    saved = WriteInt(key.Get(), kWantsModifyUsers, wantsModifyUsers) && saved;
    saved = WriteInt(key.Get(), kWantsAlerts, wantsAlerts) && saved;
    saved = WriteInt(key.Get(), kWantsMessages, wantsMessages) && saved;
    return saved;
}

bool IsLocalServer(const std::string& server) {
    return server == "127.0.0.1" || RegNamesEqual(server, "localhost");
}
