#include "platform/registry/Registry.h"

#include "platform/kernel/Paths.h"
#include "platform/registry/Hive.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <pwd.h>
#include <string_view>
#include <type_traits>
#include <unistd.h>
#include <unordered_set>

namespace registry_detail {
enum class Root { None, Machine, User };
}  // namespace registry_detail
using registry_detail::Root;

namespace {

constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE;
constexpr REGSAM kDeleteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE;

}  // namespace

// A key handle: the hive connection it keeps open, the key's id in that hive and the rights
// it was opened with. The predefined handles carry only their root; their hive is looked up
// at each use.
struct RegKeyObject {
    constexpr explicit RegKeyObject(Root root) : root(root) {}
    Root root;
    std::shared_ptr<CHive> hive;
    CHive::KeyId id = 0;
    REGSAM access = 0;
};

namespace registry_detail {
RegKeyObject localMachine(Root::Machine);
RegKeyObject currentUser(Root::User);
}  // namespace registry_detail

namespace {

// Process-wide state: the handles given out (so a stale or foreign pointer is refused
// instead of followed) and one cached read-write connection per hive. Never destroyed, so
// threads still running at exit cannot reach a destroyed mutex.
struct State {
    std::mutex mutex;
    std::unordered_set<RegKeyObject*> handles;
    std::string cachedPath[2];
    std::shared_ptr<CHive> cachedHive[2];
};

State& Global();

// At exit the cached connections are closed (each hive stays open while a handle still
// uses it), so that the last connection to a hive folds its WAL journal into the file.
void CloseCachedHives() {
    std::shared_ptr<CHive> closing[2];
    State& state = Global();
    std::lock_guard<std::mutex> lock(state.mutex);
    for (int i = 0; i < 2; ++i)
        closing[i].swap(state.cachedHive[i]);
}

State& Global() {
    static State* state = [] {
        State* created = new State;
        std::atexit(CloseCachedHives);
        return created;
    }();
    return *state;
}

std::string UserConfigDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.config";
    struct passwd pw;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && pw.pw_dir &&
        pw.pw_dir[0] == '/')
        return std::string(pw.pw_dir) + "/.config";
    return {};
}

std::string HivePathOf(Root root) {
    if (root == Root::Machine)
        return StateDirectory() + "/machine.db";
    if (root == Root::User) {
        std::string config = UserConfigDirectory();
        return config.empty() ? std::string() : config + "/norvane/user.db";
    }
    return {};
}

// The connection for a predefined root. A cached read-write connection serves every mode
// while its file is still the one at the hive's current path; read-only connections are
// not cached (one lives as long as the handles opened through it).
LONG AcquireHive(Root root, CHive::OpenMode mode, std::shared_ptr<CHive>& hive) {
    std::string path = HivePathOf(root);
    if (path.empty())
        return ERROR_FILE_NOT_FOUND;
    State& state = Global();
    std::lock_guard<std::mutex> lock(state.mutex);
    int slot = root == Root::Machine ? 0 : 1;
    std::shared_ptr<CHive>& cached = state.cachedHive[slot];
    if (cached && (state.cachedPath[slot] != path || !cached->IsCurrentFile()))
        cached.reset();
    if (cached) {
        hive = cached;
        return ERROR_SUCCESS;
    }
    LONG result = CHive::Open(path, mode, hive);
    if (result == ERROR_SUCCESS && mode != CHive::OpenMode::ReadOnly) {
        cached = hive;
        state.cachedPath[slot] = path;
    }
    return result;
}

struct Target {
    std::shared_ptr<CHive> hive;
    CHive::KeyId id = 0;
    REGSAM access = 0;
};

// What a handle names. A predefined handle has every right; its hive is opened in `mode`.
LONG Resolve(HKEY key, CHive::OpenMode mode, Target& target) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) {
        target.id = CHive::kRootKeyId;
        target.access = KEY_ALL_ACCESS;
        return AcquireHive(key->root, mode, target.hive);
    }
    State& state = Global();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!key || state.handles.count(key) == 0)
        return ERROR_INVALID_HANDLE;
    target.hive = key->hive;
    target.id = key->id;
    target.access = key->access;
    return ERROR_SUCCESS;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool ValidName(std::string_view name, std::size_t maxLength) {
    if (name.size() > maxLength)
        return false;
    for (unsigned char c : name)
        if (IsControl(c))
            return false;
    return true;
}

// Splits a key path into its names; null or "" gives none.
LONG SplitPath(const char* path, std::vector<std::string_view>& parts) {
    parts.clear();
    if (!path || !*path)
        return ERROR_SUCCESS;
    std::string_view rest(path);
    for (;;) {
        std::string_view::size_type slash = rest.find('\\');
        std::string_view part = rest.substr(0, slash);
        if (part.empty() || !ValidName(part, REG_MAX_KEY_NAME) || parts.size() >= REG_MAX_KEY_DEPTH)
            return ERROR_INVALID_PARAMETER;
        parts.push_back(part);
        if (slash == std::string_view::npos)
            return ERROR_SUCCESS;
        rest.remove_prefix(slash + 1);
    }
}

LONG ValueName(const char* name, std::string_view& out) {
    out = name ? std::string_view(name) : std::string_view();
    return ValidName(out, REG_MAX_VALUE_NAME) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

// Follows `parts` from `key`; every component must exist.
LONG Walk(CHive& hive, CHive::KeyId key, const std::vector<std::string_view>& parts, CHive::KeyId& found) {
    LONG result = hive.KeyExists(key);
    for (std::size_t i = 0; result == ERROR_SUCCESS && i < parts.size(); ++i)
        result = hive.FindChild(key, parts[i], key);
    if (result == ERROR_SUCCESS)
        found = key;
    return result;
}

// Follows `parts` from `key`, creating what is missing (which needs KEY_CREATE_SUB_KEY in
// `access`); `created` is set when anything was.
LONG CreatePath(CHive& hive, CHive::KeyId key, REGSAM access, const std::vector<std::string_view>& parts,
                CHive::KeyId& found, bool& created) {
    LONG step = ERROR_SUCCESS;
    for (std::size_t i = 0; step == ERROR_SUCCESS && i < parts.size(); ++i) {
        step = hive.FindChild(key, parts[i], key);
        if (step == ERROR_FILE_NOT_FOUND) {
            if ((access & KEY_CREATE_SUB_KEY) == 0)
                return ERROR_ACCESS_DENIED;
            step = hive.CreateChild(key, parts[i], key);
            created = true;
        }
    }
    if (step == ERROR_SUCCESS)
        found = key;
    return step;
}

bool ValidValue(DWORD type, std::size_t size) {
    bool kindOk = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_BINARY || (type == REG_DWORD && size == 4);
    return kindOk && size <= REG_MAX_VALUE_SIZE;
}

LONG NewHandle(std::shared_ptr<CHive> hive, CHive::KeyId id, REGSAM access, HKEY* result) {
    RegKeyObject* handle = new (std::nothrow) RegKeyObject(Root::None);
    if (!handle)
        return ERROR_NOT_ENOUGH_MEMORY;
    handle->hive = std::move(hive);
    handle->id = id;
    handle->access = access;
    State& state = Global();
    try {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.handles.insert(handle);
    } catch (const std::bad_alloc&) {
        delete handle;
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    *result = handle;
    return ERROR_SUCCESS;
}

// Runs `body` in one transaction (a write transaction when `write`) on the key `key` names,
// after checking `need` (any one of its rights suffices) and that the key still exists.
// `mode` says how a predefined handle's hive is opened.
template <class Body>
LONG OnKey(HKEY key, REGSAM need, CHive::OpenMode mode, bool write, Body body) {
    Target target;
    LONG result = Resolve(key, mode, target);
    if (result != ERROR_SUCCESS)
        return result;
    if ((target.access & need) == 0)
        return ERROR_ACCESS_DENIED;
    CHive& hive = *target.hive;
    auto checked = [&] {
        LONG exists = hive.KeyExists(target.id);
        if (exists != ERROR_SUCCESS)
            return exists;
        if constexpr (std::is_invocable_v<Body, CHive&, CHive::KeyId, REGSAM>)
            return body(hive, target.id, target.access);
        else
            return body(hive, target.id);
    };
    return write ? hive.Write(checked) : hive.Read(checked);
}

template <class Body>
LONG ReadKey(HKEY key, REGSAM need, Body body) {
    return OnKey(key, need, CHive::OpenMode::ReadOnly, false, body);
}

template <class Body>
LONG WriteKey(HKEY key, REGSAM need, CHive::OpenMode mode, Body body) {
    return OnKey(key, need, mode, true, body);
}

}  // namespace

const char* RegErrorText(LONG error) {
    switch (static_cast<DWORD>(error)) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY: return "Not enough storage is available to process this command.";
    case ERROR_DISK_FULL: return "There is not enough space on the disk.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_BUSY: return "The requested resource is in use.";
    case ERROR_MORE_DATA: return "More data is available.";
    case ERROR_NO_MORE_ITEMS: return "No more data is available.";
    case ERROR_BADDB: return "The configuration registry database is corrupt.";
    case ERROR_CANTOPEN: return "The configuration registry key could not be opened.";
    case ERROR_CANTREAD: return "The configuration registry key could not be read.";
    case ERROR_CANTWRITE: return "The configuration registry key could not be written.";
    case ERROR_REGISTRY_IO_FAILED: return "An I/O operation initiated by the registry failed.";
    case ERROR_KEY_DELETED: return "The registry key has been deleted.";
    case ERROR_KEY_HAS_CHILDREN: return "The registry key has sub-keys and cannot be deleted.";
    default: return "Unknown error.";
    }
}

bool RegIsValidKeyPath(std::string_view path) {
    if (path.find('\0') != std::string_view::npos)
        return false;
    std::vector<std::string_view> parts;
    return SplitPath(std::string(path).c_str(), parts) == ERROR_SUCCESS;
}

bool RegIsValidValueName(std::string_view name) { return ValidName(name, REG_MAX_VALUE_NAME); }

std::string RegHivePath(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE || root == HKEY_CURRENT_USER)
        return HivePathOf(root->root);
    return {};
}

// What RegOpenKeyEx and RegCreateKeyEx share: checks the arguments, splits the path and
// resolves the parent in `mode`.
static LONG BeginOpen(HKEY key, const char* subKey, REGSAM access, CHive::OpenMode mode, HKEY* result,
               std::vector<std::string_view>& parts, Target& target) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    LONG error = SplitPath(subKey, parts);
    if (error == ERROR_SUCCESS)
        error = Resolve(key, mode, target);
    if (error == ERROR_SUCCESS && (access & kWriteRights) && target.hive->IsReadOnly())
        error = ERROR_ACCESS_DENIED;
    return error;
}

LONG RegOpenKeyEx(HKEY key, const char* subKey, REGSAM access, HKEY* result) {
    std::vector<std::string_view> parts;
    Target target;
    bool write = (access & kWriteRights) != 0;
    LONG error = BeginOpen(key, subKey, access, write ? CHive::OpenMode::Write : CHive::OpenMode::ReadOnly,
                           result, parts, target);
    if (error != ERROR_SUCCESS)
        return error;
    CHive::KeyId found = 0;
    error = target.hive->Read([&] { return Walk(*target.hive, target.id, parts, found); });
    if (error != ERROR_SUCCESS)
        return error;
    return NewHandle(target.hive, found, access, result);
}

LONG RegCreateKeyEx(HKEY key, const char* subKey, REGSAM access, HKEY* result, DWORD* disposition) {
    std::vector<std::string_view> parts;
    Target target;
    LONG error = BeginOpen(key, subKey, access, CHive::OpenMode::Create, result, parts, target);
    if (error != ERROR_SUCCESS)
        return error;
    CHive& hive = *target.hive;
    CHive::KeyId found = 0;
    // Most calls open keys that exist: try that without taking the write lock.
    error = hive.Read([&] { return Walk(hive, target.id, parts, found); });
    bool created = false;
    if (error == ERROR_FILE_NOT_FOUND) {
        error = hive.Write([&] {
            LONG step = hive.KeyExists(target.id);
            return step == ERROR_SUCCESS ? CreatePath(hive, target.id, target.access, parts, found, created) : step;
        });
    }
    if (error != ERROR_SUCCESS)
        return error;
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return NewHandle(target.hive, found, access, result);
}

LONG RegCloseKey(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER)
        return ERROR_SUCCESS;
    State& state = Global();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (!key || state.handles.erase(key) == 0)
            return ERROR_INVALID_HANDLE;
    }
    delete key;  // may close the hive connection: outside the lock
    return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, const char* name, DWORD* type, std::string* data) {
    std::string_view valueName;
    LONG error = ValueName(name, valueName);
    if (error != ERROR_SUCCESS)
        return error;
    DWORD kind = 0;
    std::string bytes;
    error = ReadKey(key, KEY_QUERY_VALUE, [&](CHive& hive, CHive::KeyId id) {
        return hive.GetValue(id, valueName, kind, bytes);
    });
    if (error != ERROR_SUCCESS)
        return error;
    if (type)
        *type = kind;
    if (data)
        *data = std::move(bytes);
    return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    DWORD kind = 0;
    std::string bytes;
    LONG error = RegQueryValueEx(key, name, &kind, &bytes);
    if (error != ERROR_SUCCESS)
        return error;
    if (type)
        *type = kind;
    if (!size)
        return ERROR_SUCCESS;
    DWORD length = static_cast<DWORD>(bytes.size());
    DWORD room = *size;
    *size = length;
    if (!data)
        return ERROR_SUCCESS;
    if (room < length)
        return ERROR_MORE_DATA;
    if (length)
        std::memcpy(data, bytes.data(), length);
    return ERROR_SUCCESS;
}

LONG RegSetValueEx(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) {
    if (size && !data)
        return ERROR_INVALID_PARAMETER;
    std::string_view bytes(reinterpret_cast<const char*>(data), data ? size : 0);
    std::string_view valueName;
    LONG error = ValueName(name, valueName);
    if (error != ERROR_SUCCESS)
        return error;
    if (!ValidValue(type, size))
        return ERROR_INVALID_PARAMETER;
    return WriteKey(key, KEY_SET_VALUE, CHive::OpenMode::Create, [&](CHive& hive, CHive::KeyId id) {
        return hive.SetValue(id, valueName, type, bytes);
    });
}

LONG RegSetValueEx(HKEY key, const char* name, DWORD type, const std::string& data) {
    if (data.size() > REG_MAX_VALUE_SIZE)
        return ERROR_INVALID_PARAMETER;
    return RegSetValueEx(key, name, type, reinterpret_cast<const BYTE*>(data.data()),
                         static_cast<DWORD>(data.size()));
}

LONG RegDeleteValue(HKEY key, const char* name) {
    std::string_view valueName;
    LONG error = ValueName(name, valueName);
    if (error != ERROR_SUCCESS)
        return error;
    return WriteKey(key, KEY_SET_VALUE, CHive::OpenMode::Write, [&](CHive& hive, CHive::KeyId id) {
        return hive.DeleteValue(id, valueName);
    });
}

LONG RegDeleteKey(HKEY key, const char* subKey) {
    std::vector<std::string_view> parts;
    LONG error = SplitPath(subKey, parts);
    if (error != ERROR_SUCCESS)
        return error;
    if (parts.empty())
        return ERROR_INVALID_PARAMETER;
    return WriteKey(key, kDeleteRights, CHive::OpenMode::Write, [&](CHive& hive, CHive::KeyId id) {
        CHive::KeyId victim = 0;
        LONG step = Walk(hive, id, parts, victim);
        return step == ERROR_SUCCESS ? hive.DeleteKey(victim) : step;
    });
}

LONG RegDeleteTree(HKEY key, const char* subKey) {
    std::vector<std::string_view> parts;
    LONG error = SplitPath(subKey, parts);
    if (error != ERROR_SUCCESS)
        return error;
    return WriteKey(key, kDeleteRights, CHive::OpenMode::Write, [&](CHive& hive, CHive::KeyId id) {
        CHive::KeyId top = 0;
        LONG step = Walk(hive, id, parts, top);
        return step == ERROR_SUCCESS ? hive.DeleteSubtree(top, !parts.empty()) : step;
    });
}

LONG RegEnumKeyEx(HKEY key, DWORD index, std::string* name) {
    std::string found;
    LONG error = ReadKey(key, KEY_ENUMERATE_SUB_KEYS, [&](CHive& hive, CHive::KeyId id) {
        return hive.ChildAt(id, index, found);
    });
    if (error == ERROR_SUCCESS && name)
        *name = std::move(found);
    return error;
}

LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* size) {
    if (!name || !size)
        return ERROR_INVALID_PARAMETER;
    std::string found;
    LONG error = RegEnumKeyEx(key, index, &found);
    if (error != ERROR_SUCCESS)
        return error;
    if (found.size() + 1 > *size)
        return ERROR_MORE_DATA;
    std::memcpy(name, found.c_str(), found.size() + 1);
    *size = static_cast<DWORD>(found.size());
    return ERROR_SUCCESS;
}

LONG RegEnumValue(HKEY key, DWORD index, std::string* name, DWORD* type, std::string* data) {
    std::string foundName, foundData;
    DWORD foundType = 0;
    LONG error = ReadKey(key, KEY_QUERY_VALUE, [&](CHive& hive, CHive::KeyId id) {
        return hive.ValueAt(id, index, foundName, foundType, foundData);
    });
    if (error != ERROR_SUCCESS)
        return error;
    if (name)
        *name = std::move(foundName);
    if (type)
        *type = foundType;
    if (data)
        *data = std::move(foundData);
    return ERROR_SUCCESS;
}

LONG RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* values) {
    DWORD keys = 0, vals = 0;
    LONG error = ReadKey(key, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, [&](CHive& hive, CHive::KeyId id) {
        LONG step = hive.CountChildren(id, keys);
        return step == ERROR_SUCCESS ? hive.CountValues(id, vals) : step;
    });
    if (error != ERROR_SUCCESS)
        return error;
    if (subKeys)
        *subKeys = keys;
    if (values)
        *values = vals;
    return ERROR_SUCCESS;
}

LONG RegEnumKeyNames(HKEY key, std::vector<std::string>* names) {
    if (!names)
        return ERROR_INVALID_PARAMETER;
    std::vector<std::string> found;
    LONG error = ReadKey(key, KEY_ENUMERATE_SUB_KEYS, [&](CHive& hive, CHive::KeyId id) {
        std::vector<std::pair<CHive::KeyId, std::string>> children;
        LONG step = hive.Children(id, children);
        for (auto& child : children)
            found.push_back(std::move(child.second));
        return step;
    });
    if (error == ERROR_SUCCESS)
        *names = std::move(found);
    return error;
}

LONG RegReadTree(HKEY key, const char* subKey, std::vector<RegTreeKey>* keys) {
    if (!keys)
        return ERROR_INVALID_PARAMETER;
    std::vector<std::string_view> parts;
    LONG error = SplitPath(subKey, parts);
    if (error != ERROR_SUCCESS)
        return error;
    std::vector<RegTreeKey> found;
    error = ReadKey(key, KEY_QUERY_VALUE, [&](CHive& hive, CHive::KeyId id) {
        CHive::KeyId top = 0;
        LONG step = Walk(hive, id, parts, top);
        // Depth-first, each key before its sub-keys, sub-keys in name order. The depth bound
        // ends the walk on a damaged file whose parent links form a cycle.
        struct Pending {
            CHive::KeyId id;
            std::string path;
            std::size_t depth;
        };
        std::vector<Pending> stack;
        if (step == ERROR_SUCCESS)
            stack.push_back({top, "", parts.size()});
        std::vector<std::pair<CHive::KeyId, std::string>> children;
        while (step == ERROR_SUCCESS && !stack.empty()) {
            Pending at = std::move(stack.back());
            stack.pop_back();
            if (at.depth > REG_MAX_KEY_DEPTH)
                return static_cast<LONG>(ERROR_BADDB);
            RegTreeKey entry;
            entry.path = at.path;
            step = hive.Values(at.id, entry.values);
            if (step == ERROR_SUCCESS)
                step = hive.Children(at.id, children);
            found.push_back(std::move(entry));
            for (auto child = children.rbegin(); step == ERROR_SUCCESS && child != children.rend(); ++child)
                stack.push_back({child->first, at.path.empty() ? child->second : at.path + "\\" + child->second,
                                 at.depth + 1});
        }
        return step;
    });
    if (error == ERROR_SUCCESS)
        *keys = std::move(found);
    return error;
}

LONG RegApplyEdits(HKEY key, const std::vector<RegEdit>& edits) {
    // Everything is checked before the transaction starts.
    std::vector<std::vector<std::string_view>> paths(edits.size());
    for (std::size_t i = 0; i < edits.size(); ++i) {
        const RegEdit& edit = edits[i];
        if (!RegIsValidKeyPath(edit.path) || SplitPath(edit.path.c_str(), paths[i]) != ERROR_SUCCESS)
            return ERROR_INVALID_PARAMETER;
        bool valueEdit = edit.kind == RegEdit::Kind::SetValue || edit.kind == RegEdit::Kind::DeleteValue;
        if (valueEdit && !ValidName(edit.name, REG_MAX_VALUE_NAME))
            return ERROR_INVALID_PARAMETER;
        if (edit.kind == RegEdit::Kind::SetValue && !ValidValue(edit.type, edit.data.size()))
            return ERROR_INVALID_PARAMETER;
        if (edit.kind == RegEdit::Kind::DeleteTree && paths[i].empty())
            return ERROR_INVALID_PARAMETER;
    }
    return WriteKey(key, KEY_SET_VALUE, CHive::OpenMode::Create, [&](CHive& hive, CHive::KeyId id, REGSAM access) {
        LONG step = ERROR_SUCCESS;
        for (std::size_t i = 0; step == ERROR_SUCCESS && i < edits.size(); ++i) {
            const RegEdit& edit = edits[i];
            CHive::KeyId at = 0;
            bool created = false;
            switch (edit.kind) {
            case RegEdit::Kind::CreateKey:
                step = CreatePath(hive, id, access, paths[i], at, created);
                break;
            case RegEdit::Kind::SetValue:
                step = CreatePath(hive, id, access, paths[i], at, created);
                if (step == ERROR_SUCCESS)
                    step = hive.SetValue(at, edit.name, edit.type, edit.data);
                break;
            case RegEdit::Kind::DeleteTree:
                step = Walk(hive, id, paths[i], at);
                if (step == ERROR_SUCCESS)
                    step = hive.DeleteSubtree(at, true);
                break;
            case RegEdit::Kind::DeleteValue:
                step = Walk(hive, id, paths[i], at);
                if (step == ERROR_SUCCESS)
                    step = hive.DeleteValue(at, edit.name);
                break;
            }
            // Deleting what is not there leaves the store as the edit wants it.
            bool isDelete = edit.kind == RegEdit::Kind::DeleteTree || edit.kind == RegEdit::Kind::DeleteValue;
            if (isDelete && step == ERROR_FILE_NOT_FOUND)
                step = ERROR_SUCCESS;
        }
        return step;
    });
}
