#pragma once
// Service records in the machine hive: the key paths and value names, and the reads and writes
// the manager and the dispatcher share. Internal to platform/service.

#include "platform/kernel/Types.h"
#include "platform/service/ServiceTypes.h"

#include <string>

namespace ServiceRecords {

// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services: one sub-key per service.
inline constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services";

// Values of a record.
inline constexpr const char* kType = "Type";                  // REG_DWORD
inline constexpr const char* kStart = "Start";                // REG_DWORD
inline constexpr const char* kErrorControl = "ErrorControl";  // REG_DWORD
inline constexpr const char* kImagePath = "ImagePath";        // REG_EXPAND_SZ, program path
inline constexpr const char* kDisplayName = "DisplayName";    // REG_SZ
inline constexpr const char* kObjectName = "ObjectName";      // REG_SZ, the account
inline constexpr const char* kDeleteFlag = "DeleteFlag";      // REG_DWORD 1: delete when stopped

inline constexpr const char* kLocalSystem = "LocalSystem";
inline constexpr std::size_t kMaxNameLength = 256;

// The record's key path below HKEY_LOCAL_MACHINE.
std::string RecordPath(const std::string& serviceName);

// A record as stored. `name` is the key's own name (its stored case).
struct Record {
    std::string name;
    QUERY_SERVICE_CONFIG config;
    bool markedForDelete = false;
};

// Reads the record of `serviceName` (case-insensitive): ERROR_SUCCESS,
// ERROR_SERVICE_DOES_NOT_EXIST, or a store error.
DWORD Read(const std::string& serviceName, Record& record);

// True when the service's program serves its control endpoint now.
bool IsRunning(const std::string& serviceName);

// Removes the record of `serviceName` if it is marked for deletion and the service does not
// run. Called by the dispatcher once its service has stopped, and by the manager whenever it
// meets a marked record, so a crashed service's record still goes.
void RemoveIfMarked(const std::string& serviceName);

}  // namespace ServiceRecords
