#include "console/LocalEngine.h"

#include "console/ConsoleTexts.h"
#include "engine/ServiceTexts.h"
#include "foundation/Format.h"
#include "platform/kernel/InstanceLock.h"
#include "platform/kernel/Paths.h"
#include "platform/registry/Registry.h"

namespace LocalEngine {

namespace {
// The longest stored Name read, as the engine's own accounts are named.
constexpr DWORD kMaxNameBytes = 512;
}  // namespace

bool IsRunning() { return CInstanceLock::IsHeldByAnyone(ServiceTexts::kInstanceLockName); }

Account FindAccount(const std::string& userName, std::string& storedName) {
    // A name that cannot be a key of its own (empty, or with '\' reaching into another key)
    // names no account.
    if (!IsSafeName(userName))
        return Account::Missing;
    std::string path = FormatText(ConsoleTexts::kUserAccountKey, userName.c_str());
    CRegKey key;
    LONG result = RegOpenKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ, key.Receive());
    if (result == ERROR_FILE_NOT_FOUND)
        return Account::Missing;
    if (result != ERROR_SUCCESS)
        return Account::Unreadable;

    BYTE name[kMaxNameBytes];
    DWORD size = sizeof name;
    storedName.clear();
    if (RegQueryValueEx(key.Get(), ConsoleTexts::kUserAccountName, nullptr, name, &size) == ERROR_SUCCESS) {
        storedName.assign(reinterpret_cast<const char*>(name), size);
        if (!storedName.empty() && storedName.back() == '\0')
            storedName.pop_back();
    }
    return Account::Found;
}

}  // namespace LocalEngine
