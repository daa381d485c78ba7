#pragma once
// The configuration store ("registry"): a hierarchical key/value store with handle-based
// operations, kept in SQLite database files.
//
// Hives. HKEY_LOCAL_MACHINE is the machine hive, $NORVANE_STATE_DIR/machine.db (default
// /var/lib/norvane/machine.db); HKEY_CURRENT_USER is the user hive,
// $XDG_CONFIG_HOME/norvane/user.db (default ~/.config/norvane/user.db). The locations are read
// from the environment at each open of a predefined handle, so a test may point them at a
// temporary folder. A hive file is created (mode 0600, folders 0700 as needed) only by
// RegCreateKeyEx, RegApplyEdits and value writes through a predefined handle; RegOpenKeyEx
// with read access never creates anything and also works when the folder is not writable.
//
// Names. A key path is a sequence of key names joined by '\'; an empty path (null or "")
// means the key itself. A key name is 1-255 bytes, a value name 0-16383 bytes (the empty name
// is a key's default value, "@" in exported text). An empty path component, or a name with a
// control character (0x00-0x1F, 0x7F), is refused with ERROR_INVALID_PARAMETER. Names compare
// case-insensitively over the ASCII letters (other bytes exactly) and keep the case they were
// created with. Sub-keys enumerate in case-insensitive name order, values in the order they
// were first set.
//
// Values. Four kinds: REG_DWORD (exactly 4 bytes, little-endian), REG_SZ and REG_EXPAND_SZ
// (the exact bytes given: NUL bytes may sit inside, and callers store one terminating NUL as
// the original platform did), REG_BINARY (any bytes). Other kinds are refused. A value holds
// at most REG_MAX_VALUE_SIZE bytes.
//
// Transactions. Every call is one transaction, durable when it returns (WAL journal,
// synchronous=FULL). All threads of a process may use the store at once, and so may several
// processes (the engine and the console, or the engine and nvreg): a writer waits up to
// kRegistryBusyTimeoutMs for another process's writer and then fails with ERROR_BUSY.
// A process created by fork() must not use the store before it calls exec().
//
// Handles. An HKEY from RegOpenKeyEx or RegCreateKeyEx belongs to the caller, who closes it
// with RegCloseKey; it may be used from any thread. A handle keeps naming the key it opened:
// when that key is deleted (by anyone), calls on the handle fail with ERROR_KEY_DELETED. The
// predefined handles need no opening and ignore RegCloseKey.
//
// Every function returns ERROR_SUCCESS or an error number; none throws.

#include "platform/kernel/Types.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct RegKeyObject;
using HKEY = RegKeyObject*;
using REGSAM = DWORD;

namespace registry_detail {
extern RegKeyObject localMachine;
extern RegKeyObject currentUser;
}  // namespace registry_detail

inline constexpr HKEY HKEY_LOCAL_MACHINE = &registry_detail::localMachine;
inline constexpr HKEY HKEY_CURRENT_USER = &registry_detail::currentUser;

// Access rights of a key handle.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM DELETE = 0x00010000;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_READ = READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
inline constexpr REGSAM KEY_WRITE = READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

// Value kinds.
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

// Dispositions reported by RegCreateKeyEx.
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

inline constexpr DWORD REG_MAX_KEY_NAME = 255;
inline constexpr DWORD REG_MAX_VALUE_NAME = 16383;
inline constexpr DWORD REG_MAX_VALUE_SIZE = 16u * 1024 * 1024;
inline constexpr DWORD REG_MAX_KEY_DEPTH = 512;
inline constexpr int kRegistryBusyTimeoutMs = 20000;

// Error numbers particular to the store (the common ones are in platform/kernel/Types.h).
inline constexpr DWORD ERROR_BADDB = 1009;               // not a hive file, or damaged
inline constexpr DWORD ERROR_CANTOPEN = 1011;            // the hive file cannot be opened
inline constexpr DWORD ERROR_CANTREAD = 1012;            // reading the hive failed
inline constexpr DWORD ERROR_CANTWRITE = 1013;           // writing the hive failed
inline constexpr DWORD ERROR_REGISTRY_IO_FAILED = 1016;  // any other failure of the hive
inline constexpr DWORD ERROR_KEY_DELETED = 1018;         // the handle's key was deleted
inline constexpr DWORD ERROR_KEY_HAS_CHILDREN = 1020;    // a key with sub-keys was not deleted

// The text for an error number of this API ("The system cannot find the file specified."),
// for messages to administrators.
const char* RegErrorText(LONG error);

// The name rules above: a key path ("" allowed, meaning the key itself) and a value name.
bool RegIsValidKeyPath(std::string_view path);
bool RegIsValidValueName(std::string_view name);

// The database file behind a predefined handle as the environment names it now; empty for
// any other handle.
std::string RegHivePath(HKEY root);

// Opens the existing key `subKey` below `key` with the rights `access`. A path component
// that does not exist gives ERROR_FILE_NOT_FOUND, as does a hive file that does not exist.
// With only read rights the hive is opened read-only.
LONG RegOpenKeyEx(HKEY key, const char* subKey, REGSAM access, HKEY* result);

// Opens `subKey` below `key`, creating every missing component in one transaction (the
// parent handle needs KEY_CREATE_SUB_KEY when something is created). `disposition`, when not
// null, receives REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
LONG RegCreateKeyEx(HKEY key, const char* subKey, REGSAM access, HKEY* result,
                    DWORD* disposition = nullptr);

LONG RegCloseKey(HKEY key);

// Reads a value (needs KEY_QUERY_VALUE). `type` and `data` may each be null. With `data`
// null, *size receives the value's length. Otherwise *size is the buffer's size on entry and
// the value's length on return; a buffer that is too small gives ERROR_MORE_DATA and is left
// untouched. A missing value gives ERROR_FILE_NOT_FOUND.
LONG RegQueryValueEx(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size);
// The same into a string that receives every byte of the value.
LONG RegQueryValueEx(HKEY key, const char* name, DWORD* type, std::string* data);

// Creates or replaces a value (needs KEY_SET_VALUE). A replaced value keeps its place in
// the enumeration order. `data` may be null when `size` is 0.
LONG RegSetValueEx(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size);
LONG RegSetValueEx(HKEY key, const char* name, DWORD type, const std::string& data);

// Deletes a value (needs KEY_SET_VALUE); ERROR_FILE_NOT_FOUND when there is none.
LONG RegDeleteValue(HKEY key, const char* name);

// Deletes the key `subKey` below `key` with its values. A key that still has sub-keys is not
// deleted (ERROR_KEY_HAS_CHILDREN); a missing one gives ERROR_FILE_NOT_FOUND. `subKey` may
// not be empty. Needs KEY_SET_VALUE, KEY_CREATE_SUB_KEY or DELETE on `key`.
LONG RegDeleteKey(HKEY key, const char* subKey);

// Deletes `subKey` below `key` with everything below it, in one transaction: afterwards all
// of it is gone, or (on failure) nothing is. With an empty `subKey` the sub-keys and values
// of `key` itself are deleted and the key stays. Same rights as RegDeleteKey.
LONG RegDeleteTree(HKEY key, const char* subKey);

// The name of the sub-key at `index` in name order (needs KEY_ENUMERATE_SUB_KEYS):
// ERROR_NO_MORE_ITEMS past the last one. The buffer form takes *size as the buffer's size
// in bytes including room for a terminating NUL, and returns the name's length without it;
// ERROR_MORE_DATA when it does not fit. Enumerating while the key changes is allowed: each
// call answers for the key as it is at that moment.
LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* size);
LONG RegEnumKeyEx(HKEY key, DWORD index, std::string* name);

// The value at `index` in insertion order (needs KEY_QUERY_VALUE); ERROR_NO_MORE_ITEMS past
// the last one. Each out parameter may be null.
LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* type, std::string* data);

// How many sub-keys and values `key` has; each out parameter may be null.
LONG RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* values);

// All sub-key names of `key` in enumeration order, read in one transaction.
LONG RegEnumKeyNames(HKEY key, std::vector<std::string>* names);

// --- whole trees (for export and import) ------------------------------------------------------

struct RegTreeValue {
    std::string name;
    DWORD type = 0;
    std::string data;
};

struct RegTreeKey {
    std::string path;  // relative to the key read; "" for that key itself
    std::vector<RegTreeValue> values;  // in enumeration order
};

// Reads the key `subKey` below `key` and everything below it as one snapshot: the key
// first, then each sub-key's tree in enumeration order. Needs KEY_QUERY_VALUE.
LONG RegReadTree(HKEY key, const char* subKey, std::vector<RegTreeKey>* keys);

// One change of an import. Paths are relative to the key the edits are applied to.
struct RegEdit {
    enum class Kind {
        CreateKey,    // create `path` with every missing component
        DeleteTree,   // delete `path` with everything below it, if it exists (not "")
        SetValue,     // set value `name` of `path` (created when missing) to `type`/`data`
        DeleteValue,  // delete value `name` of `path`, if it exists
    };
    RegEdit() = default;
    RegEdit(Kind kind, std::string path, std::string name = {}, DWORD type = 0, std::string data = {})
        : kind(kind), path(std::move(path)), name(std::move(name)), type(type), data(std::move(data)) {}

    Kind kind = Kind::CreateKey;
    std::string path;
    std::string name;
    DWORD type = 0;
    std::string data;
};

// Applies `edits` in order as one transaction: all of them or, when any fails (a bad name,
// kind or size, a refused right, a full disk), none. Needs write rights on `key`.
LONG RegApplyEdits(HKEY key, const std::vector<RegEdit>& edits);

// Owns one key handle and closes it when it goes (predefined handles are never closed).
class CRegKey {
public:
    CRegKey() = default;
    explicit CRegKey(HKEY key) : m_key(key) {}
    ~CRegKey() { Close(); }
    CRegKey(CRegKey&& other) noexcept : m_key(other.Release()) {}
    CRegKey& operator=(CRegKey&& other) noexcept {
        if (this != &other) {
            Close();
            m_key = other.Release();
        }
        return *this;
    }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    HKEY Get() const { return m_key; }
    explicit operator bool() const { return m_key != nullptr; }
    // Closes the held key and returns where an opener may store the next one.
    HKEY* Receive() {
        Close();
        return &m_key;
    }
    HKEY Release() {
        HKEY key = m_key;
        m_key = nullptr;
        return key;
    }
    void Close() {
        if (m_key)
            RegCloseKey(Release());
    }

private:
    HKEY m_key = nullptr;
};
