#include "platform/service/ServiceRecords.h"

#include "platform/registry/Registry.h"
#include "platform/service/ControlEndpoint.h"

namespace ServiceRecords {

namespace {

// A key handle closed when it goes.
struct Key {
    HKEY handle = nullptr;
    ~Key() {
        if (handle)
            RegCloseKey(handle);
    }
};

DWORD ReadDword(HKEY key, const char* name, DWORD defaultValue, bool* present = nullptr) {
    DWORD type = 0;
    std::string data;
    bool ok = RegQueryValueEx(key, name, &type, &data) == ERROR_SUCCESS && type == REG_DWORD &&
              data.size() == 4;
    if (present)
        *present = ok;
    if (!ok)
        return defaultValue;
    return static_cast<DWORD>(static_cast<BYTE>(data[0])) |
           static_cast<DWORD>(static_cast<BYTE>(data[1])) << 8 |
           static_cast<DWORD>(static_cast<BYTE>(data[2])) << 16 |
           static_cast<DWORD>(static_cast<BYTE>(data[3])) << 24;
}

std::string ReadText(HKEY key, const char* name) {
    DWORD type = 0;
    std::string data;
    if (RegQueryValueEx(key, name, &type, &data) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    // Strings are stored with one terminating NUL; a text ends at its first NUL.
    std::string::size_type nul = data.find('\0');
    if (nul != std::string::npos)
        data.resize(nul);
    return data;
}

// The stored name of the sub-key of Services that matches `serviceName`.
DWORD FindKeyName(HKEY services, const std::string& serviceName, std::string& stored) {
    std::vector<std::string> names;
    DWORD error = RegEnumKeyNames(services, &names);
    if (error != ERROR_SUCCESS)
        return error;
    for (const std::string& name : names) {
        if (name.size() == serviceName.size() &&
            std::equal(name.begin(), name.end(), serviceName.begin(), [](char a, char b) {
                return (a >= 'A' && a <= 'Z' ? a + 32 : a) == (b >= 'A' && b <= 'Z' ? b + 32 : b);
            })) {
            stored = name;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_SERVICE_DOES_NOT_EXIST;
}

}  // namespace

std::string RecordPath(const std::string& serviceName) {
    return std::string(kServicesKey) + "\\" + serviceName;
}

DWORD Read(const std::string& serviceName, Record& record) {
    Key services;
    DWORD error = RegOpenKeyEx(HKEY_LOCAL_MACHINE, kServicesKey, KEY_READ, &services.handle);
    if (error == ERROR_FILE_NOT_FOUND)
        return ERROR_SERVICE_DOES_NOT_EXIST;
    if (error != ERROR_SUCCESS)
        return error;
    Key key;
    error = RegOpenKeyEx(services.handle, serviceName.c_str(), KEY_READ, &key.handle);
    if (error == ERROR_FILE_NOT_FOUND)
        return ERROR_SERVICE_DOES_NOT_EXIST;
    if (error != ERROR_SUCCESS)
        return error;
    bool isRecord = false;
    record = Record{};
    record.config.dwServiceType = ReadDword(key.handle, kType, 0, &isRecord);
    if (!isRecord)
        return ERROR_SERVICE_DOES_NOT_EXIST;
    error = FindKeyName(services.handle, serviceName, record.name);
    if (error != ERROR_SUCCESS)
        return error;
    record.config.dwStartType = ReadDword(key.handle, kStart, SERVICE_DEMAND_START);
    record.config.dwErrorControl = ReadDword(key.handle, kErrorControl, SERVICE_ERROR_NORMAL);
    record.config.lpBinaryPathName = ReadText(key.handle, kImagePath);
    record.config.lpDisplayName = ReadText(key.handle, kDisplayName);
    if (record.config.lpDisplayName.empty())
        record.config.lpDisplayName = record.name;
    record.config.lpServiceStartName = ReadText(key.handle, kObjectName);
    record.markedForDelete = ReadDword(key.handle, kDeleteFlag, 0) != 0;
    return ERROR_SUCCESS;
}

bool IsRunning(const std::string& serviceName) {
    CUniqueFd connection;
    return ConnectEndpoint(ServiceEndpointPath(serviceName), connection) == ERROR_SUCCESS;
}

void RemoveIfMarked(const std::string& serviceName) {
    Record record;
    if (Read(serviceName, record) != ERROR_SUCCESS || !record.markedForDelete ||
        IsRunning(record.name))
        return;
    Key services;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kServicesKey, KEY_ALL_ACCESS, &services.handle) ==
        ERROR_SUCCESS)
        RegDeleteTree(services.handle, record.name.c_str());
}

}  // namespace ServiceRecords
