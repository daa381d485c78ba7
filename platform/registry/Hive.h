#pragma once
// One hive of the configuration store: a SQLite database file holding a tree of keys and
// their values. Used only by platform/registry; everything else goes through Registry.h.
//
// Keys are rows with a parent id; the hive's own root key has the id kRootKeyId. Ids are
// never reused (AUTOINCREMENT), so a handle whose key was deleted, even by another process,
// sees ERROR_KEY_DELETED instead of reaching a newer key.
//
// Every public operation below must run inside Read or Write, which hold the hive's mutex
// (one connection serves every thread of the process) and wrap the body in one SQLite
// transaction: committed when the body returns ERROR_SUCCESS, rolled back otherwise. Writes
// begin IMMEDIATE so that waiting for another process's writer goes through the busy timeout;
// with WAL and synchronous=FULL a committed write is durable when Write returns.

#include "platform/kernel/Types.h"
#include "platform/registry/Registry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class CHive {
public:
    using KeyId = std::int64_t;
    static constexpr KeyId kRootKeyId = 1;

    enum class OpenMode {
        Create,    // read-write; creates the file (mode 0600) and its folders when missing
        Write,     // read-write; the file must exist
        ReadOnly,  // never creates anything, also works in a folder that is not writable
    };

    // Opens the hive file at `path`. Returns ERROR_SUCCESS and sets `hive`, or an error
    // number: ERROR_FILE_NOT_FOUND (no file and not Create), ERROR_ACCESS_DENIED (not
    // writable for a read-write mode), ERROR_BADDB (not a hive, or a newer format),
    // ERROR_CANTOPEN and the I/O errors of SqliteError().
    static LONG Open(const std::string& path, OpenMode mode, std::shared_ptr<CHive>& hive);

    ~CHive();
    CHive(const CHive&) = delete;
    CHive& operator=(const CHive&) = delete;

    const std::string& Path() const { return m_path; }
    bool IsReadOnly() const { return m_readOnly; }
    // True when the file at Path() is still the one this connection has open (it may have
    // been removed or replaced since).
    bool IsCurrentFile() const;

    LONG Read(const std::function<LONG()>& body);
    LONG Write(const std::function<LONG()>& body);

    // --- operations; call only inside Read or Write ---------------------------------------
    LONG KeyExists(KeyId key);  // ERROR_SUCCESS or ERROR_KEY_DELETED
    // ERROR_SUCCESS with `child` set, or ERROR_FILE_NOT_FOUND.
    LONG FindChild(KeyId parent, std::string_view name, KeyId& child);
    LONG CreateChild(KeyId parent, std::string_view name, KeyId& child);
    // The sub-key at `index` in case-insensitive name order, or ERROR_NO_MORE_ITEMS.
    LONG ChildAt(KeyId parent, DWORD index, std::string& name);
    // Every sub-key (id and name) in case-insensitive name order.
    LONG Children(KeyId parent, std::vector<std::pair<KeyId, std::string>>& children);
    LONG CountChildren(KeyId parent, DWORD& count);
    LONG CountValues(KeyId key, DWORD& count);
    // ERROR_SUCCESS, or ERROR_FILE_NOT_FOUND when the value does not exist.
    LONG GetValue(KeyId key, std::string_view name, DWORD& type, std::string& data);
    // Replaces the kind and bytes of an existing value in place (its enumeration position
    // stays), or appends a new value.
    LONG SetValue(KeyId key, std::string_view name, DWORD type, std::string_view data);
    LONG DeleteValue(KeyId key, std::string_view name);
    // The value at `index` in insertion order, or ERROR_NO_MORE_ITEMS.
    LONG ValueAt(KeyId key, DWORD index, std::string& name, DWORD& type, std::string& data);
    // Every value of `key` in insertion order.
    LONG Values(KeyId key, std::vector<RegTreeValue>& values);
    // Deletes a key without sub-keys, with its values; ERROR_KEY_HAS_CHILDREN otherwise.
    LONG DeleteKey(KeyId key);
    // Deletes everything below `key`, and the key itself when `includeKey`.
    LONG DeleteSubtree(KeyId key, bool includeKey);

private:
    class Statement;

    CHive(std::string path, sqlite3* db, bool readOnly, dev_t dev, ino_t ino);
    LONG Transaction(const char* begin, const std::function<LONG()>& body);
    // The cached prepared statement for `sql` (prepared on first use); null on failure.
    sqlite3_stmt* Prepare(const char* sql);
    LONG Count(const char* sql, KeyId id, DWORD& count);
    // Runs a statement whose one parameter is a key id and that returns no rows.
    LONG Run(const char* sql, KeyId id);

    std::string m_path;
    sqlite3* m_db;
    bool m_readOnly;
    dev_t m_dev;
    ino_t m_ino;
    std::mutex m_mutex;
    std::vector<std::pair<const char*, sqlite3_stmt*>> m_statements;
};

// Maps a SQLite result code to the error number the registry functions report.
LONG SqliteError(int rc);
