#include "foundation/RegistryStore.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <mutex>
#include <utility>

namespace {

struct RootNames {
    std::mutex mutex;
    std::string company, product;
};

RootNames& Names() {
    static RootNames* names = new RootNames;  // never destroyed: usable from any thread at exit
    return *names;
}

// A name or path as a C string for the store; false for null or for bytes that a C string
// cannot carry (a NUL inside).
bool ToCString(const RegArg& arg, std::string& out) {
    if (arg.IsNull())
        return false;
    std::string_view view = arg.View();
    if (view.find('\0') != std::string_view::npos)
        return false;
    out.assign(view);
    return true;
}

// Opens the key at `subKeyPath` and runs `op(key, name)` on it.
template <class Op>
LONG OnValue(const RegArg& subKeyPath, const RegArg& valueName, Op op) {
    std::string name;
    if (!ToCString(valueName, name))
        return ERROR_INVALID_PARAMETER;
    CRegKey key(OpenRegistryKey(subKeyPath));
    if (!key)
        return ERROR_CANTOPEN;
    return op(key.Get(), name.c_str());
}

// Every byte of the value, read in one query (a writer between a size query and a read
// could otherwise make the read fail or come back cut).
bool ReadValue(const RegArg& subKeyPath, const RegArg& valueName, std::string& data) {
    return OnValue(subKeyPath, valueName, [&](HKEY key, const char* name) {
               return RegQueryValueEx(key, name, nullptr, &data);
           }) == ERROR_SUCCESS;
}

// Exactly `N` bytes of the value, or false.
template <std::size_t N>
bool ReadFixed(const RegArg& subKeyPath, const RegArg& valueName, unsigned char (&bytes)[N]) {
    std::string data;
    if (!ReadValue(subKeyPath, valueName, data) || data.size() != N)
        return false;
    std::memcpy(bytes, data.data(), N);
    return true;
}

BOOL WriteValue(const RegArg& subKeyPath, const RegArg& valueName, DWORD type, const std::string& data) {
    return OnValue(subKeyPath, valueName, [&](HKEY key, const char* name) {
               return RegSetValueEx(key, name, type, data);
           }) == ERROR_SUCCESS;
}

template <std::size_t N>
std::string LittleEndian(std::uint64_t value) {
    std::string bytes(N, '\0');
    for (std::size_t i = 0; i < N; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

template <std::size_t N>
std::uint64_t FromLittleEndian(const unsigned char (&bytes)[N]) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < N; ++i)
        value |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    return value;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The digits after `prefix` in `name`, or an empty view when `name` is not <prefix><digits>.
std::string_view NumberPart(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size())
        return {};
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (AsciiLower(name[i]) != AsciiLower(prefix[i]))
            return {};
    std::string_view digits = name.substr(prefix.size());
    for (char c : digits)
        if (c < '0' || c > '9')
            return {};
    return digits;
}

// Orders decimal digit strings of any length by value.
bool NumberLess(std::string_view a, std::string_view b) {
    auto strip = [](std::string_view d) {
        while (d.size() > 1 && d.front() == '0')
            d.remove_prefix(1);
        return d;
    };
    a = strip(a);
    b = strip(b);
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

}  // namespace

void SetRegistryRoot(RegArg company, RegArg product) {
    RootNames& names = Names();
    std::lock_guard<std::mutex> lock(names.mutex);
    names.company.assign(company.View());
    names.product.assign(product.View());
}

HKEY OpenRegistryRoot() {
    std::string company, product;
    {
        RootNames& names = Names();
        std::lock_guard<std::mutex> lock(names.mutex);
        company = names.company;
        product = names.product;
    }
    // Each name must be one key name: no separator, no NUL (the store refuses empty names
    // and control characters itself).
    for (const std::string& name : {company, product})
        if (name.find('\\') != std::string::npos || name.find('\0') != std::string::npos)
            return nullptr;
    std::string path = "SOFTWARE\\" + company + "\\" + product;
    HKEY root = nullptr;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), kRegistryStoreAccess, &root) != ERROR_SUCCESS)
        return nullptr;
    return root;
}

HKEY OpenRegistryKey(RegArg subKeyPath) {
    if (subKeyPath.IsNull())
        return OpenRegistryRoot();
    std::string path;
    if (!ToCString(subKeyPath, path))
        return nullptr;
    HKEY root = OpenRegistryRoot();
    if (!root)
        return nullptr;
    HKEY key = nullptr;
    LONG result = RegCreateKeyEx(root, path.c_str(), kRegistryStoreAccess, &key);
    RegCloseKey(root);
    return result == ERROR_SUCCESS ? key : nullptr;
}

DWORD RegReadDWORD(RegArg subKeyPath, RegArg valueName, DWORD defaultValue) {
    unsigned char bytes[4];
    if (!ReadFixed(subKeyPath, valueName, bytes))
        return defaultValue;
    return static_cast<DWORD>(FromLittleEndian(bytes));
}

double RegReadDouble(RegArg subKeyPath, RegArg valueName, double defaultValue) {
    unsigned char bytes[8];
    if (!ReadFixed(subKeyPath, valueName, bytes))
        return defaultValue;
    return std::bit_cast<double>(FromLittleEndian(bytes));
}

std::string RegReadString(RegArg subKeyPath, RegArg valueName, RegArg defaultValue) {
    std::string data;
    if (!ReadValue(subKeyPath, valueName, data))
        return std::string(defaultValue.View());
    if (!data.empty() && data.back() == '\0')
        data.pop_back();
    return data;
}

BOOL RegWriteDWORD(RegArg subKeyPath, RegArg valueName, DWORD value) {
    return WriteValue(subKeyPath, valueName, REG_DWORD, LittleEndian<4>(value));
}

BOOL RegWriteDouble(RegArg subKeyPath, RegArg valueName, double value) {
    return WriteValue(subKeyPath, valueName, REG_BINARY, LittleEndian<8>(std::bit_cast<std::uint64_t>(value)));
}

BOOL RegWriteString(RegArg subKeyPath, RegArg valueName, RegArg text) {
    if (valueName.IsNull()) {
        // Deleting the root through this form would remove the whole configuration.
        std::string path;
        if (subKeyPath.IsNull() || !ToCString(subKeyPath, path))
            return FALSE;
        HKEY root = OpenRegistryRoot();
        if (!root)
            return FALSE;
        LONG result = RegDeleteKey(root, path.c_str());
        RegCloseKey(root);
        return result == ERROR_SUCCESS;
    }
    if (text.IsNull()) {
        return OnValue(subKeyPath, valueName, [](HKEY key, const char* name) {
                   return RegDeleteValue(key, name);
               }) == ERROR_SUCCESS;
    }
    std::string data(text.View());
    data.push_back('\0');
    return WriteValue(subKeyPath, valueName, REG_SZ, data);
}

BOOL RegDeleteKeyTree(RegArg subKeyPath) {
    HKEY parent = nullptr;
    std::string victim;
    if (subKeyPath.IsNull()) {
        // The product key itself goes: delete it below the company key.
        HKEY root = OpenRegistryRoot();
        if (!root)
            return FALSE;
        RegCloseKey(root);
        std::string company;
        {
            RootNames& names = Names();
            std::lock_guard<std::mutex> lock(names.mutex);
            company = names.company;
            victim = names.product;
        }
        std::string path = "SOFTWARE\\" + company;
        if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), kRegistryStoreAccess, &parent) != ERROR_SUCCESS)
            return FALSE;
    } else {
        if (!ToCString(subKeyPath, victim) || victim.empty())
            return FALSE;
        parent = OpenRegistryRoot();
        if (!parent)
            return FALSE;
    }
    LONG result = RegDeleteTree(parent, victim.c_str());
    RegCloseKey(parent);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

std::vector<std::string> RegEnumNumberedSubKeys(RegArg subKeyPath, RegArg prefix) {
    std::vector<std::string> names;
    HKEY key = OpenRegistryKey(subKeyPath);
    if (!key)
        return names;
    if (RegEnumKeyNames(key, &names) != ERROR_SUCCESS)
        names.clear();
    RegCloseKey(key);
    SortNumberedSubKeys(names, prefix.View());
    return names;
}

void SortNumberedSubKeys(std::vector<std::string>& names, std::string_view prefix) {
    std::stable_sort(names.begin(), names.end(), [prefix](const std::string& a, const std::string& b) {
        std::string_view na = NumberPart(a, prefix), nb = NumberPart(b, prefix);
        if (na.empty() || nb.empty())
            return !na.empty() && nb.empty();  // numbered ones first, the rest keep their order
        return NumberLess(na, nb);
    });
}

std::vector<std::string> RegEnumSubKeys(RegArg subKeyPath) {
    std::vector<std::string> names;
    CRegKey key(OpenRegistryKey(subKeyPath));
    if (!key || RegEnumKeyNames(key.Get(), &names) != ERROR_SUCCESS)
        names.clear();
    return names;
}

std::vector<RegTreeValue> RegEnumValues(RegArg subKeyPath) {
    std::vector<RegTreeValue> values;
    CRegKey key(OpenRegistryKey(subKeyPath));
    if (!key)
        return values;
    for (DWORD index = 0;; ++index) {
        RegTreeValue value;
        if (RegEnumValue(key.Get(), index, &value.name, &value.type, &value.data) != ERROR_SUCCESS)
            break;
        values.push_back(std::move(value));
    }
    return values;
}

bool RegNamesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

std::string RegFoldName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        c = AsciiLower(c);
    return folded;
}
