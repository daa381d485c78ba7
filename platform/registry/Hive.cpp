#include "platform/registry/Hive.h"

#include "platform/kernel/Paths.h"
#include "platform/registry/Registry.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <new>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Marks our files: PRAGMA application_id holds "NVRG", PRAGMA user_version the layout.
constexpr int kApplicationId = 0x4E565247;
constexpr int kLayoutVersion = 1;

// The layout. Names use NOCASE (ASCII case folding), so lookups, uniqueness and the sub-key
// order are case-insensitive while the stored text keeps its case. AUTOINCREMENT keeps ids
// from being reused after a delete.
const char* const kSqlCreateLayout =
    "CREATE TABLE keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " UNIQUE(parent, name));"
    "CREATE TABLE vals("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE(key, name));"
    "INSERT INTO keys(id, parent, name) VALUES(1, 0, '');"
    "PRAGMA application_id=1314280007;"
    "PRAGMA user_version=1;";
static_assert(kApplicationId == 1314280007);

const char* const kSqlKeyExists = "SELECT 1 FROM keys WHERE id=?1";
const char* const kSqlFindChild = "SELECT id FROM keys WHERE parent=?1 AND name=?2";
const char* const kSqlCreateChild = "INSERT INTO keys(parent, name) VALUES(?1, ?2)";
const char* const kSqlChildAt = "SELECT name FROM keys WHERE parent=?1 ORDER BY name LIMIT 1 OFFSET ?2";
const char* const kSqlChildren = "SELECT id, name FROM keys WHERE parent=?1 ORDER BY name";
const char* const kSqlValues = "SELECT name, type, data FROM vals WHERE key=?1 ORDER BY id";
const char* const kSqlCountChildren = "SELECT count(*) FROM keys WHERE parent=?1";
const char* const kSqlCountValues = "SELECT count(*) FROM vals WHERE key=?1";
const char* const kSqlGetValue = "SELECT type, data FROM vals WHERE key=?1 AND name=?2";
const char* const kSqlSetValue =
    "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4)"
    " ON CONFLICT(key, name) DO UPDATE SET type=excluded.type, data=excluded.data";
const char* const kSqlDeleteValue = "DELETE FROM vals WHERE key=?1 AND name=?2";
const char* const kSqlValueAt =
    "SELECT name, type, data FROM vals WHERE key=?1 ORDER BY id LIMIT 1 OFFSET ?2";
const char* const kSqlDeleteValuesOfKey = "DELETE FROM vals WHERE key=?1";
const char* const kSqlDeleteKeyRow = "DELETE FROM keys WHERE id=?1";
// The subtree below ?1 is one snapshot inside the transaction; UNION (not UNION ALL) ends
// the walk even if a damaged file held a cycle.
const char* const kSqlDeleteSubtreeValues =
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION SELECT k.id FROM keys k JOIN sub ON k.parent=sub.id)"
    " DELETE FROM vals WHERE key IN sub";
const char* const kSqlDeleteSubtreeKeys =
    "WITH RECURSIVE sub(id) AS (SELECT id FROM keys WHERE parent=?1"
    " UNION SELECT k.id FROM keys k JOIN sub ON k.parent=sub.id)"
    " DELETE FROM keys WHERE id IN sub";

LONG ErrnoError(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
        return ERROR_DISK_FULL;
    default:
        return ERROR_CANTOPEN;
    }
}

std::string ParentFolder(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates the hive file (private) when it does not exist, and makes its directory
// entry durable.
LONG CreateFile(const std::string& path) {
    std::string folder = ParentFolder(path);
    if (!MakeDirectories(folder))
        return ErrnoError(errno);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                  kPrivateFileMode);
    if (fd < 0)
        return errno == EEXIST ? ERROR_SUCCESS : ErrnoError(errno);
    close(fd);
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return ERROR_SUCCESS;
}

// file: URI of an absolute or relative path, for the read-only fallback below.
std::string FileUri(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (unsigned char c : path) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}

// Runs a statement that answers one row and keeps its first column, as text or number.
int QueryOne(sqlite3* db, const char* sql, std::string* text, int* number) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) {
            if (text) {
                const unsigned char* column = sqlite3_column_text(stmt, 0);
                *text = column ? reinterpret_cast<const char*>(column) : "";
            }
            if (number)
                *number = sqlite3_column_int(stmt, 0);
            rc = SQLITE_OK;
        }
    }
    sqlite3_finalize(stmt);
    return rc;
}

// Checks (and for a new read-write hive, lays out) the file's tables. Runs in a transaction
// so that two processes creating one hive at once lay it out once.
LONG CheckLayout(sqlite3* db, bool readOnly) {
    int rc = sqlite3_exec(db, readOnly ? "BEGIN" : "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return SqliteError(rc);
    int appId = 0, version = 0, tables = 0;
    rc = QueryOne(db, "PRAGMA application_id", nullptr, &appId);
    if (rc == SQLITE_OK)
        rc = QueryOne(db, "PRAGMA user_version", nullptr, &version);
    if (rc == SQLITE_OK)
        rc = QueryOne(db, "SELECT count(*) FROM sqlite_master", nullptr, &tables);
    LONG result = rc == SQLITE_OK ? ERROR_SUCCESS : SqliteError(rc);
    if (result == ERROR_SUCCESS) {
        if (appId == 0 && version == 0 && tables == 0) {
            // An empty file: a hive that is still being laid out counts as not there yet.
            if (readOnly)
                result = ERROR_FILE_NOT_FOUND;
            else if ((rc = sqlite3_exec(db, kSqlCreateLayout, nullptr, nullptr, nullptr)) != SQLITE_OK)
                result = SqliteError(rc);
        } else if (appId != kApplicationId || version < 1 || version > kLayoutVersion) {
            result = ERROR_BADDB;
        }
    }
    if (result == ERROR_SUCCESS && (rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr)) != SQLITE_OK)
        result = SqliteError(rc);
    if (result != ERROR_SUCCESS)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return result;
}

// Puts a hive into WAL mode (kept in the file, so this happens once per hive). Switching
// needs the file to itself and SQLite reports a busy file here at once instead of through
// the busy handler, so a busy switch is retried until the busy time-out.
int SwitchToWal(sqlite3* db) {
    std::string mode;
    int rc = QueryOne(db, "PRAGMA journal_mode", &mode, nullptr);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRegistryBusyTimeoutMs);
    while (rc == SQLITE_OK && mode != "wal") {
        rc = QueryOne(db, "PRAGMA journal_mode=WAL", &mode, nullptr);
        if ((rc & 0xFF) == SQLITE_BUSY && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            rc = SQLITE_OK;
        } else if (rc == SQLITE_OK && mode != "wal") {
            break;  // a file system without shared memory: the rollback journal serves
        }
    }
    return rc;
}

// Opens one connection and checks the file. `name` is a path, or a URI when `uri`.
LONG Connect(const std::string& name, bool uri, bool readOnly, sqlite3*& db) {
    int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX |
                (uri ? SQLITE_OPEN_URI : 0);
    db = nullptr;
    int rc = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
    LONG result = rc == SQLITE_OK ? ERROR_SUCCESS : SqliteError(rc);
    if (result == ERROR_SUCCESS) {
        sqlite3_busy_timeout(db, kRegistryBusyTimeoutMs);
        // A hive file is data, not code: refuse anything a damaged or planted file could use
        // to run SQL or write outside the tables.
        sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        if (!readOnly && sqlite3_db_readonly(db, "main") != 0)
            result = ERROR_ACCESS_DENIED;
    }
    if (result == ERROR_SUCCESS)
        result = CheckLayout(db, readOnly);
    if (result == ERROR_SUCCESS && !readOnly) {
        rc = SwitchToWal(db);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            result = SqliteError(rc);
    }
    if (result != ERROR_SUCCESS) {
        sqlite3_close(db);
        db = nullptr;
    }
    return result;
}

// The error for a result that should have been SQLITE_OK, SQLITE_ROW or SQLITE_DONE.
LONG Fail(int rc) {
    LONG error = SqliteError(rc);
    return error == ERROR_SUCCESS ? ERROR_REGISTRY_IO_FAILED : error;
}

}  // namespace

LONG SqliteError(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
        return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ERROR_BUSY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_FULL:
        return ERROR_DISK_FULL;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
        return ERROR_BADDB;
    case SQLITE_CANTOPEN:
        return ERROR_CANTOPEN;
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

// A cached statement bound for one use; reset and unbound when the object goes.
class CHive::Statement {
public:
    explicit Statement(sqlite3_stmt* stmt) : m_stmt(stmt) {}
    ~Statement() {
        if (m_stmt) {
            sqlite3_reset(m_stmt);
            sqlite3_clear_bindings(m_stmt);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return m_stmt != nullptr; }
    Statement& Bind(int index, std::int64_t value) {
        Check(sqlite3_bind_int64(m_stmt, index, value));
        return *this;
    }
    Statement& BindText(int index, std::string_view text) {
        Check(sqlite3_bind_text(m_stmt, index, text.empty() ? "" : text.data(),
                                static_cast<int>(text.size()), SQLITE_STATIC));
        return *this;
    }
    Statement& BindBlob(int index, std::string_view bytes) {
        // A zero-length blob must not be bound from a null pointer: that binds SQL NULL.
        if (bytes.empty())
            Check(sqlite3_bind_zeroblob(m_stmt, index, 0));
        else
            Check(sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()),
                                    SQLITE_STATIC));
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error (a failed bind is reported here).
    int Step() { return m_bindError != SQLITE_OK ? m_bindError : sqlite3_step(m_stmt); }
    std::int64_t Int(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::string Bytes(int column) const {
        const void* data = sqlite3_column_blob(m_stmt, column);
        int size = sqlite3_column_bytes(m_stmt, column);
        return data && size > 0 ? std::string(static_cast<const char*>(data), static_cast<std::size_t>(size))
                                : std::string();
    }

private:
    void Check(int rc) {
        if (rc != SQLITE_OK && m_bindError == SQLITE_OK)
            m_bindError = rc;
    }
    sqlite3_stmt* m_stmt;
    int m_bindError = SQLITE_OK;
};

LONG CHive::Open(const std::string& path, OpenMode mode, std::shared_ptr<CHive>& hive) {
    if (path.empty())
        return ERROR_FILE_NOT_FOUND;
    if (mode == OpenMode::Create) {
        LONG created = CreateFile(path);
        if (created != ERROR_SUCCESS)
            return created;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return ErrnoError(errno);
    if (!S_ISREG(st.st_mode))
        return ERROR_BADDB;

    bool readOnly = mode == OpenMode::ReadOnly;
    sqlite3* db = nullptr;
    LONG result = Connect(path, false, readOnly, db);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND && result != ERROR_BADDB && readOnly) {
        // A WAL hive can be read normally only where its -shm file can be created or opened.
        // In a folder we may not write, with no writer running (so nothing is waiting in a
        // WAL file), the database file alone is the whole hive: read it as immutable.
        result = Connect(FileUri(path) + "?immutable=1", true, true, db);
    }
    if (result != ERROR_SUCCESS)
        return result;
    try {
        hive.reset(new CHive(path, db, readOnly, st.st_dev, st.st_ino));
    } catch (const std::bad_alloc&) {
        sqlite3_close(db);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}

CHive::CHive(std::string path, sqlite3* db, bool readOnly, dev_t dev, ino_t ino)
    : m_path(std::move(path)), m_db(db), m_readOnly(readOnly), m_dev(dev), m_ino(ino) {}

CHive::~CHive() {
    for (auto& entry : m_statements)
        sqlite3_finalize(entry.second);
    sqlite3_close(m_db);
}

bool CHive::IsCurrentFile() const {
    struct stat st;
    return stat(m_path.c_str(), &st) == 0 && st.st_dev == m_dev && st.st_ino == m_ino;
}

sqlite3_stmt* CHive::Prepare(const char* sql) {
    for (auto& entry : m_statements)
        if (entry.first == sql)
            return entry.second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return nullptr;
    }
    m_statements.emplace_back(sql, stmt);
    return stmt;
}

LONG CHive::Transaction(const char* begin, const std::function<LONG()>& body) {
    std::lock_guard<std::mutex> lock(m_mutex);
    int rc = sqlite3_exec(m_db, begin, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return Fail(rc);
    LONG result;
    try {
        result = body();
    } catch (const std::bad_alloc&) {
        result = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (result == ERROR_SUCCESS) {
        rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            result = Fail(rc);
    }
    if (result != ERROR_SUCCESS && !sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    return result;
}

LONG CHive::Read(const std::function<LONG()>& body) { return Transaction("BEGIN", body); }

LONG CHive::Write(const std::function<LONG()>& body) {
    if (m_readOnly)
        return ERROR_ACCESS_DENIED;
    return Transaction("BEGIN IMMEDIATE", body);
}

LONG CHive::KeyExists(KeyId key) {
    Statement stmt(Prepare(kSqlKeyExists));
    if (!stmt.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    int rc = stmt.Bind(1, key).Step();
    if (rc == SQLITE_ROW)
        return ERROR_SUCCESS;
    return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Fail(rc);
}

LONG CHive::FindChild(KeyId parent, std::string_view name, KeyId& child) {
    Statement stmt(Prepare(kSqlFindChild));
    if (!stmt.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    int rc = stmt.Bind(1, parent).BindText(2, name).Step();
    if (rc == SQLITE_ROW) {
        child = stmt.Int(0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Fail(rc);
}

LONG CHive::CreateChild(KeyId parent, std::string_view name, KeyId& child) {
    Statement stmt(Prepare(kSqlCreateChild));
    if (!stmt.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    int rc = stmt.Bind(1, parent).BindText(2, name).Step();
    if (rc != SQLITE_DONE)
        return Fail(rc);
    child = sqlite3_last_insert_rowid(m_db);
    return ERROR_SUCCESS;
}

LONG CHive::ChildAt(KeyId parent, DWORD index, std::string& name) {
    Statement stmt(Prepare(kSqlChildAt));
    if (!stmt.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    int rc = stmt.Bind(1, parent).Bind(2, index).Step();
    if (rc == SQLITE_ROW) {
        name = stmt.Bytes(0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Fail(rc);
}

LONG CHive::Children(KeyId parent, std::vector<std::pair<KeyId, std::string>>& children) {
    Statement stmt(Prepare(kSqlChildren));
    if (!stmt.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    stmt.Bind(1, parent);
    children.clear();
    int rc;
    while ((rc = stmt.Step()) == SQLITE_ROW)
        children.emplace_back(stmt.Int(0), stmt.Bytes(1));
    return rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(rc);
}

LONG CHive::Values(KeyId key, std::vector<RegTreeValue>& values) {
    Statement stmt(Prepare(kSqlValues));
    if (!stmt.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    stmt.Bind(1, key);
    values.clear();
    int rc;
    while ((rc = stmt.Step()) == SQLITE_ROW)
        values.push_back(RegTreeValue{stmt.Bytes(0), static_cast<DWORD>(stmt.Int(1)), stmt.Bytes(2)});
    return rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(rc);
}

LONG CHive::Count(const char* sql, KeyId id, DWORD& count) {
    Statement stmt(Prepare(sql));
    if (!stmt.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    int rc = stmt.Bind(1, id).Step();
    if (rc != SQLITE_ROW)
        return Fail(rc);
    count = static_cast<DWORD>(stmt.Int(0));
    return ERROR_SUCCESS;
}

LONG CHive::Run(const char* sql, KeyId id) {
    Statement stmt(Prepare(sql));
    if (!stmt.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    int rc = stmt.Bind(1, id).Step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(rc);
}

LONG CHive::CountChildren(KeyId parent, DWORD& count) { return Count(kSqlCountChildren, parent, count); }

LONG CHive::CountValues(KeyId key, DWORD& count) { return Count(kSqlCountValues, key, count); }

LONG CHive::GetValue(KeyId key, std::string_view name, DWORD& type, std::string& data) {
    Statement stmt(Prepare(kSqlGetValue));
    if (!stmt.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    int rc = stmt.Bind(1, key).BindText(2, name).Step();
    if (rc == SQLITE_ROW) {
        type = static_cast<DWORD>(stmt.Int(0));
        data = stmt.Bytes(1);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Fail(rc);
}

LONG CHive::SetValue(KeyId key, std::string_view name, DWORD type, std::string_view data) {
    Statement stmt(Prepare(kSqlSetValue));
    if (!stmt.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    int rc = stmt.Bind(1, key).BindText(2, name).Bind(3, type).BindBlob(4, data).Step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(rc);
}

LONG CHive::DeleteValue(KeyId key, std::string_view name) {
    Statement stmt(Prepare(kSqlDeleteValue));
    if (!stmt.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    int rc = stmt.Bind(1, key).BindText(2, name).Step();
    if (rc != SQLITE_DONE)
        return Fail(rc);
    return sqlite3_changes(m_db) > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG CHive::ValueAt(KeyId key, DWORD index, std::string& name, DWORD& type, std::string& data) {
    Statement stmt(Prepare(kSqlValueAt));
    if (!stmt.Ok())
        return ERROR_REGISTRY_IO_FAILED;
    int rc = stmt.Bind(1, key).Bind(2, index).Step();
    if (rc == SQLITE_ROW) {
        name = stmt.Bytes(0);
        type = static_cast<DWORD>(stmt.Int(1));
        data = stmt.Bytes(2);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Fail(rc);
}

LONG CHive::DeleteKey(KeyId key) {
    if (key == kRootKeyId)
        return ERROR_ACCESS_DENIED;
    DWORD children = 0;
    LONG result = CountChildren(key, children);
    if (result == ERROR_SUCCESS && children > 0)
        result = ERROR_KEY_HAS_CHILDREN;
    if (result == ERROR_SUCCESS)
        result = Run(kSqlDeleteValuesOfKey, key);
    if (result == ERROR_SUCCESS)
        result = Run(kSqlDeleteKeyRow, key);
    return result;
}

LONG CHive::DeleteSubtree(KeyId key, bool includeKey) {
    if (includeKey && key == kRootKeyId)
        return ERROR_ACCESS_DENIED;
    LONG result = Run(kSqlDeleteSubtreeValues, key);
    if (result == ERROR_SUCCESS)
        result = Run(kSqlDeleteSubtreeKeys, key);
    if (result == ERROR_SUCCESS && includeKey)
        result = Run(kSqlDeleteKeyRow, key);
    return result;
}
