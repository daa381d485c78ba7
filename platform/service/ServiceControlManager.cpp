#include "platform/service/ServiceControlManager.h"

#include "platform/kernel/Clock.h"
#include "platform/kernel/Paths.h"
#include "platform/registry/Registry.h"
#include "platform/service/ControlEndpoint.h"
#include "platform/service/ControlProtocol.h"
#include "platform/service/ServiceProcess.h"
#include "platform/service/ServiceRecords.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

struct ScHandleObject {
    bool isService = false;
    DWORD access = 0;
    std::string name;  // the service's stored name
};

namespace {

constexpr DWORD kStartConnectLimitMs = 30000;  // a started program has this long to connect
constexpr DWORD kStartLockLimitMs = 40000;     // waiting for another start of the same service
constexpr DWORD kControlReplyLimitMs = 120000; // a handler (the engine's shut-down) may be slow
constexpr DWORD kQueryReplyLimitMs = 5000;
constexpr DWORD kProcessEndLimitMs = 30000;    // after an accepted stop
constexpr DWORD kEndpointReleaseLimitMs = 2000;

std::mutex g_handlesMutex;
std::set<ScHandleObject*> g_handles;

using namespace ServiceRecords;

struct Key {
    HKEY handle = nullptr;
    ~Key() {
        if (handle)
            RegCloseKey(handle);
    }
};

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

SC_HANDLE NewHandle(bool isService, DWORD access, std::string name) {
    auto* handle = new ScHandleObject{isService, access, std::move(name)};
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    g_handles.insert(handle);
    return handle;
}

// Checks that `handle` is a live handle of the kind wanted holding `needed` access; copies it
// out so the caller never touches an object another thread may close meanwhile.
bool Check(SC_HANDLE handle, bool wantService, DWORD needed, ScHandleObject& copy) {
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    if (!g_handles.count(handle) || handle->isService != wantService) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if ((handle->access & needed) != needed) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    copy = *handle;
    return true;
}

DWORD MapManagerAccess(DWORD access) {
    if (access & GENERIC_READ)
        access |= SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
    if (access & GENERIC_WRITE)
        access |= SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    if (access & GENERIC_EXECUTE)
        access |= SC_MANAGER_CONNECT | SC_MANAGER_LOCK;
    if (access & GENERIC_ALL)
        access |= SC_MANAGER_ALL_ACCESS;
    return access | SC_MANAGER_CONNECT;
}

DWORD MapServiceAccess(DWORD access) {
    if (access & GENERIC_READ)
        access |= SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                  SERVICE_ENUMERATE_DEPENDENTS | READ_CONTROL;
    if (access & GENERIC_WRITE)
        access |= SERVICE_CHANGE_CONFIG | READ_CONTROL;
    if (access & GENERIC_EXECUTE)
        access |= SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                  SERVICE_USER_DEFINED_CONTROL | READ_CONTROL;
    if (access & GENERIC_ALL)
        access |= SERVICE_ALL_ACCESS;
    return access;
}

// Rights that change the store: asking for them needs a writable machine hive.
bool WantsWrite(DWORD mappedServiceAccess) {
    return (mappedServiceAccess & (SERVICE_CHANGE_CONFIG | DELETE)) != 0;
}

bool HasControlCharacter(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

bool ValidName(const char* name) {
    return name && IsSafeName(name) && std::string(name).size() <= kMaxNameLength;
}

bool ValidType(DWORD type) {
    DWORD base = type & ~SERVICE_INTERACTIVE_PROCESS;
    return base == SERVICE_WIN32_OWN_PROCESS || base == SERVICE_WIN32_SHARE_PROCESS;
}

bool ValidStart(DWORD start) {
    return start == SERVICE_AUTO_START || start == SERVICE_DEMAND_START || start == SERVICE_DISABLED;
}

bool ValidProgramPath(const char* path) {
    return path && path[0] == '/' && !HasControlCharacter(path);
}

bool Empty(const char* text) { return text == nullptr || *text == '\0'; }

// Strings are stored with one terminating NUL, as the original platform did.
std::string Stored(const std::string& text) { return text + '\0'; }

std::string DwordBytes(DWORD value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
    return bytes;
}

DWORD SetDword(HKEY key, const char* name, DWORD value) {
    return static_cast<DWORD>(RegSetValueEx(key, name, REG_DWORD, DwordBytes(value)));
}

DWORD SetText(HKEY key, const char* name, DWORD type, const std::string& text) {
    return static_cast<DWORD>(RegSetValueEx(key, name, type, Stored(text)));
}

// Opens the record's key for writing.
DWORD OpenRecordForWrite(const std::string& storedName, Key& key) {
    return static_cast<DWORD>(RegOpenKeyEx(HKEY_LOCAL_MACHINE, RecordPath(storedName).c_str(),
                                           KEY_ALL_ACCESS, &key.handle));
}

// Deletes the record's key tree.
DWORD DeleteRecord(const std::string& storedName) {
    Key services;
    DWORD error = static_cast<DWORD>(
        RegOpenKeyEx(HKEY_LOCAL_MACHINE, kServicesKey, KEY_ALL_ACCESS, &services.handle));
    if (error == ERROR_SUCCESS)
        error = static_cast<DWORD>(RegDeleteTree(services.handle, storedName.c_str()));
    return error;
}

// Reads a record, first letting a marked record of a service that has stopped go.
DWORD ReadLive(const std::string& name, Record& record) {
    RemoveIfMarked(name);
    return Read(name, record);
}

// Checks that `service` is a live service handle with `needed` access and reads its record
// (with `live`, after letting a marked record of a stopped service go). False, with the error
// set, when either fails.
bool RecordOf(SC_HANDLE service, DWORD needed, Record& record, bool live = false) {
    ScHandleObject h;
    if (!Check(service, true, needed, h))
        return false;
    DWORD error = live ? ReadLive(h.name, record) : Read(h.name, record);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return false;
    }
    return true;
}

// Holds the start lock of one service (an OFD lock on run/service/<name>.lock) so that two
// starts of the same service never both spawn its program.
class CStartLock {
public:
    DWORD Acquire(const std::string& name) {
        m_fd.Reset(open((ServiceRunDirectory() + "/" + name + ".lock").c_str(),
                        O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFileMode));
        if (!m_fd.IsValid())
            return ErrorFromErrno(errno);
        const std::uint64_t deadline = GetTickCount64() + kStartLockLimitMs;
        for (;;) {
            struct flock lock{};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            if (fcntl(m_fd.Get(), F_OFD_SETLK, &lock) == 0)
                return ERROR_SUCCESS;
            if (errno != EAGAIN && errno != EACCES && errno != EINTR)
                return ErrorFromErrno(errno);
            if (GetTickCount64() >= deadline)
                return ERROR_SERVICE_REQUEST_TIMEOUT;
            Sleep(50);
        }
    }

private:
    CUniqueFd m_fd;  // closing it releases the lock
};

// One request/reply exchange with a running service. `connection` stays open for the caller.
DWORD Exchange(const std::string& name, DWORD op, DWORD argument, DWORD replyLimitMs,
               ControlProtocol::Reply& reply, CUniqueFd& connection) {
    DWORD error = ConnectEndpoint(ServiceEndpointPath(name), connection);
    if (error != ERROR_SUCCESS)
        return error;
    auto request = ControlProtocol::EncodeRequest({op, argument});
    BYTE bytes[ControlProtocol::kReplySize];
    if (!SendAll(connection.Get(), request.data(), request.size(), kQueryReplyLimitMs) ||
        !ReceiveExact(connection.Get(), bytes, sizeof bytes, replyLimitMs))
        return ERROR_SERVICE_REQUEST_TIMEOUT;
    auto decoded = ControlProtocol::DecodeReply(bytes, sizeof bytes);
    if (!decoded)
        return ERROR_INVALID_DATA;
    reply = *decoded;
    return ERROR_SUCCESS;
}

SERVICE_STATUS StoppedStatus(DWORD serviceType) {
    SERVICE_STATUS status;
    status.dwServiceType = serviceType & ~SERVICE_INTERACTIVE_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    return status;
}

// The access a control needs; 0 for a control that cannot be sent.
DWORD AccessForControl(DWORD control) {
    if (control == SERVICE_CONTROL_STOP)
        return SERVICE_STOP;
    if (control == SERVICE_CONTROL_INTERROGATE)
        return SERVICE_INTERROGATE;
    if (control == SERVICE_CONTROL_SHUTDOWN || control == 0 || control > SERVICE_USER_CONTROL_LAST)
        return 0;
    if (control <= 10)
        return SERVICE_PAUSE_CONTINUE;
    return SERVICE_USER_DEFINED_CONTROL;
}

}  // namespace

SC_HANDLE OpenSCManager(const char* machine, const char* database, DWORD access) {
    if (!Empty(machine) || database != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    access = MapManagerAccess(access);
    const bool write = (access & (SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG |
                                  SC_MANAGER_LOCK | DELETE)) != 0;
    if (write) {
        Key services;
        LONG error = RegCreateKeyEx(HKEY_LOCAL_MACHINE, kServicesKey, KEY_ALL_ACCESS,
                                    &services.handle);
        if (error != ERROR_SUCCESS) {
            SetLastError(static_cast<DWORD>(error));
            return nullptr;
        }
    }
    return NewHandle(false, access, {});
}

SC_HANDLE CreateService(SC_HANDLE manager, const char* serviceName, const char* displayName,
                        DWORD access, DWORD serviceType, DWORD startType, DWORD errorControl,
                        const char* binaryPathName, const char* loadOrderGroup, DWORD* tagId,
                        const char* dependencies, const char* serviceStartName,
                        const char* password) {
    ScHandleObject scm;
    if (!Check(manager, false, SC_MANAGER_CREATE_SERVICE, scm))
        return nullptr;
    if (!ValidName(serviceName)) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    std::string display = Empty(displayName) ? serviceName : displayName;
    if (!ValidType(serviceType) || !ValidStart(startType) ||
        errorControl > SERVICE_ERROR_CRITICAL || !ValidProgramPath(binaryPathName) ||
        display.size() > kMaxNameLength || HasControlCharacter(display) ||
        !Empty(loadOrderGroup) || tagId != nullptr || !Empty(dependencies) || !Empty(password) ||
        (serviceStartName && HasControlCharacter(serviceStartName))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Record existing;
    DWORD error = ReadLive(serviceName, existing);
    if (error == ERROR_SUCCESS) {
        SetLastError(existing.markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE
                                              : ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    Key key;
    DWORD disposition = 0;
    error = static_cast<DWORD>(RegCreateKeyEx(HKEY_LOCAL_MACHINE,
                                              RecordPath(serviceName).c_str(), KEY_ALL_ACCESS,
                                              &key.handle, &disposition));
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    if (disposition != REG_CREATED_NEW_KEY) {
        // A key of that name that is not a record (the event log's, or another's half-made
        // record) is not ours to take over.
        SetLastError(ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    // "Type" goes last: until it is written the key is no record, so nobody sees half of one.
    const char* account = Empty(serviceStartName) ? kLocalSystem : serviceStartName;
    error = SetDword(key.handle, kStart, startType);
    if (!error)
        error = SetDword(key.handle, kErrorControl, errorControl);
    if (!error)
        error = SetText(key.handle, kImagePath, REG_EXPAND_SZ, binaryPathName);
    if (!error)
        error = SetText(key.handle, kDisplayName, REG_SZ, display);
    if (!error)
        error = SetText(key.handle, kObjectName, REG_SZ, account);
    if (!error)
        error = SetDword(key.handle, kType, serviceType);
    if (error != ERROR_SUCCESS) {
        RegCloseKey(key.handle);
        key.handle = nullptr;
        DeleteRecord(serviceName);
        SetLastError(error);
        return nullptr;
    }
    return NewHandle(true, MapServiceAccess(access), serviceName);
}

SC_HANDLE OpenService(SC_HANDLE manager, const char* serviceName, DWORD access) {
    ScHandleObject scm;
    if (!Check(manager, false, SC_MANAGER_CONNECT, scm))
        return nullptr;
    if (!ValidName(serviceName)) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    Record record;
    DWORD error = ReadLive(serviceName, record);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    access = MapServiceAccess(access);
    if (WantsWrite(access)) {
        Key key;
        error = OpenRecordForWrite(record.name, key);
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return nullptr;
        }
    }
    return NewHandle(true, access, record.name);
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
    {
        std::lock_guard<std::mutex> lock(g_handlesMutex);
        if (!g_handles.erase(handle))
            return Fail(ERROR_INVALID_HANDLE);
    }
    delete handle;
    return TRUE;
}

BOOL DeleteService(SC_HANDLE service) {
    Record record;
    if (!RecordOf(service, DELETE, record, true))
        return FALSE;
    if (record.markedForDelete)
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (IsRunning(record.name)) {
        Key key;
        DWORD error = OpenRecordForWrite(record.name, key);
        if (!error)
            error = SetDword(key.handle, kDeleteFlag, 1);
        if (error != ERROR_SUCCESS)
            return Fail(error);
        // The service may have stopped between the look and the mark: then nobody else would
        // remove the record.
        RemoveIfMarked(record.name);
        return TRUE;
    }
    const DWORD error = DeleteRecord(record.name);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOL StartService(SC_HANDLE service, DWORD argc, const char** /*argv*/) {
    Record record;
    if (!RecordOf(service, SERVICE_START, record, true))
        return FALSE;
    if (argc != 0)
        return Fail(ERROR_INVALID_PARAMETER);
    if (record.markedForDelete)
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (record.config.dwStartType == SERVICE_DISABLED)
        return Fail(ERROR_SERVICE_DISABLED);
    if (!ValidProgramPath(record.config.lpBinaryPathName.c_str()))
        return Fail(ERROR_FILE_NOT_FOUND);

    DWORD error = PrepareServiceRunDirectory();
    CStartLock startLock;
    if (!error)
        error = startLock.Acquire(record.name);
    const std::string endpointPath = ServiceEndpointPath(record.name);
    CUniqueFd listener;
    if (!error)
        error = ListenEndpoint(endpointPath, listener);
    if (error != ERROR_SUCCESS)
        return Fail(error);
    const EndpointIdentity identity = EndpointIdentityOf(endpointPath);

    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        RemoveEndpoint(endpointPath, identity);
        return Fail(ErrorFromErrno(errno));
    }
    CUniqueFd ours(pair[0]), theirs(pair[1]);
    error = SpawnDetachedProgram(
        record.config.lpBinaryPathName, listener.Get(), theirs.Get(),
        {{ControlProtocol::kEnvServiceName, record.name},
         {ControlProtocol::kEnvEndpointFd, std::to_string(ControlProtocol::kEndpointFd)},
         {ControlProtocol::kEnvStartFd, std::to_string(ControlProtocol::kStartFd)},
         {"NORVANE_STATE_DIR", StateDirectory()}});
    listener.Reset();
    theirs.Reset();
    if (error != ERROR_SUCCESS) {
        RemoveEndpoint(endpointPath, identity);
        return Fail(error);
    }

    BYTE bytes[ControlProtocol::kStartMessageSize];
    std::optional<ControlProtocol::StartMessage> message;
    if (ReceiveExact(ours.Get(), bytes, sizeof bytes, kStartConnectLimitMs))
        message = ControlProtocol::DecodeStartMessage(bytes, sizeof bytes);
    if (message && message->kind == ControlProtocol::kStartConnected)
        return TRUE;
    if (message && message->kind == ControlProtocol::kStartExecFailed) {
        RemoveEndpoint(endpointPath, identity);
        return Fail(ErrorFromErrno(static_cast<int>(message->value)));
    }
    // The program ended (or hangs) without its dispatcher connecting. An ended program's
    // descriptors may be released one by one after its start channel closed: give its
    // endpoint a moment to go dead, then remove the file. A hanging one keeps it.
    const std::uint64_t deadline = GetTickCount64() + kEndpointReleaseLimitMs;
    while (IsRunning(record.name) && GetTickCount64() < deadline)
        Sleep(10);
    if (!IsRunning(record.name))
        RemoveEndpoint(endpointPath, identity);
    return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
}

BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) {
    DWORD needed = AccessForControl(control);
    if (needed == 0 || status == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    Record record;
    if (!RecordOf(service, needed, record))
        return FALSE;
    ControlProtocol::Reply reply;
    CUniqueFd connection;
    DWORD error = Exchange(record.name, ControlProtocol::kOpControl, control, kControlReplyLimitMs,
                     reply, connection);
    if (error == ERROR_SERVICE_NOT_ACTIVE) {
        *status = StoppedStatus(record.config.dwServiceType);
        return Fail(error);
    }
    if (error != ERROR_SUCCESS)
        return Fail(error);
    *status = reply.status;
    if (reply.error != ERROR_SUCCESS)
        return Fail(reply.error);
    if (control == SERVICE_CONTROL_STOP &&
        WaitForPeerClose(connection.Get(), kProcessEndLimitMs))
        status->dwCurrentState = SERVICE_STOPPED;
    return TRUE;
}

BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
    Record record;
    if (!RecordOf(service, SERVICE_QUERY_STATUS, record))
        return FALSE;
    if (!status)
        return Fail(ERROR_INVALID_PARAMETER);
    ControlProtocol::Reply reply;
    CUniqueFd connection;
    DWORD error = Exchange(record.name, ControlProtocol::kOpQueryStatus, 0, kQueryReplyLimitMs, reply,
                     connection);
    if (error == ERROR_SERVICE_NOT_ACTIVE) {
        *status = StoppedStatus(record.config.dwServiceType);
        return TRUE;
    }
    if (error == ERROR_SUCCESS)
        error = reply.error;
    if (error != ERROR_SUCCESS)
        return Fail(error);
    *status = reply.status;
    return TRUE;
}

BOOL QueryServiceConfig(SC_HANDLE service, QUERY_SERVICE_CONFIG* config) {
    Record record;
    if (!RecordOf(service, SERVICE_QUERY_CONFIG, record))
        return FALSE;
    if (!config)
        return Fail(ERROR_INVALID_PARAMETER);
    *config = record.config;
    return TRUE;
}

BOOL ChangeServiceConfig(SC_HANDLE service, DWORD serviceType, DWORD startType,
                         DWORD errorControl, const char* binaryPathName,
                         const char* loadOrderGroup, DWORD* tagId, const char* dependencies,
                         const char* serviceStartName, const char* password,
                         const char* displayName) {
    Record record;
    if (!RecordOf(service, SERVICE_CHANGE_CONFIG, record))
        return FALSE;
    if ((serviceType != SERVICE_NO_CHANGE && !ValidType(serviceType)) ||
        (startType != SERVICE_NO_CHANGE && !ValidStart(startType)) ||
        (errorControl != SERVICE_NO_CHANGE && errorControl > SERVICE_ERROR_CRITICAL) ||
        (binaryPathName && !ValidProgramPath(binaryPathName)) || !Empty(loadOrderGroup) ||
        tagId != nullptr || !Empty(dependencies) || !Empty(password) ||
        (serviceStartName && HasControlCharacter(serviceStartName)) ||
        (displayName && (std::string(displayName).size() > kMaxNameLength ||
                         HasControlCharacter(displayName))))
        return Fail(ERROR_INVALID_PARAMETER);
    if (record.markedForDelete)
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    Key key;
    DWORD error = OpenRecordForWrite(record.name, key);
    if (!error && serviceType != SERVICE_NO_CHANGE)
        error = SetDword(key.handle, kType, serviceType);
    if (!error && startType != SERVICE_NO_CHANGE)
        error = SetDword(key.handle, kStart, startType);
    if (!error && errorControl != SERVICE_NO_CHANGE)
        error = SetDword(key.handle, kErrorControl, errorControl);
    if (!error && binaryPathName)
        error = SetText(key.handle, kImagePath, REG_EXPAND_SZ, binaryPathName);
    if (!error && serviceStartName)
        error = SetText(key.handle, kObjectName, REG_SZ,
                        *serviceStartName ? serviceStartName : kLocalSystem);
    if (!error && displayName)
        error = SetText(key.handle, kDisplayName, REG_SZ, *displayName ? displayName : record.name);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}
