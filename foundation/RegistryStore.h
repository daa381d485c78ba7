#pragma once
// The registry store functions every configuration object saves and loads itself with.
//
// The caller names a key by a path relative to the configuration root,
// HKEY_LOCAL_MACHINE\SOFTWARE\<company>\<product>, with components joined by '\' (child
// paths are built as "<parent>\<child>"), and a value by its name. A null path means the
// configuration root itself. Each function opens what it needs, does one thing and closes it
// again; no handle is kept between calls. Opening creates every missing key of the path, so
// reading a value of a key that does not exist leaves that key created, empty.
//
// Nothing throws: readers return the caller's default on any failure, writers and deletes
// FALSE, the openers null. Callable from any thread once SetRegistryRoot has run.
//
// Value layouts (what other programs and older data rely on):
//   DWORD   REG_DWORD   4 bytes, little-endian
//   string  REG_SZ      the text's bytes and one terminating NUL (length + 1 bytes)
//   double  REG_BINARY  8 bytes, the IEEE 754 double, little-endian

#include "platform/registry/Registry.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

// A path, value name or text argument: a C string (null meaning "none", as each function
// below says), or a std::string / std::string_view of which every byte counts, NUL bytes
// included. Only valid during the call it is passed to.
class RegArg {
public:
    RegArg(const char* text) : m_text(text), m_size(text ? std::strlen(text) : 0) {}
    RegArg(const std::string& text) : m_text(text.data()), m_size(text.size()) {}
    RegArg(std::string_view text) : m_text(text.data() ? text.data() : ""), m_size(text.size()) {}

    bool IsNull() const { return m_text == nullptr; }
    std::string_view View() const { return m_text ? std::string_view(m_text, m_size) : std::string_view(); }

private:
    const char* m_text;
    std::size_t m_size;
};

// The rights every key is opened with: KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE.
inline constexpr REGSAM kRegistryStoreAccess = 0x2001F;
static_assert(kRegistryStoreAccess == (KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE));

// Keeps private copies of the company and product names ("Urvo Software", "Norvane 2" for
// the engine). Call once at start-up, before any other function here.
void SetRegistryRoot(RegArg company, RegArg product);

// The configuration root, created with its parents when missing; null on failure (also when
// no root names are set). The caller closes the key with RegCloseKey.
HKEY OpenRegistryRoot();

// The key at `subKeyPath` below the root, created with every missing component; with a null
// path the root itself. Null on failure. The caller closes the key.
HKEY OpenRegistryKey(RegArg subKeyPath);

// Readers: the value, or `defaultValue` when the key cannot be opened or the value is
// missing. The value's kind is not checked, but its size is: a DWORD must be stored in
// exactly 4 bytes and a double in exactly 8, or the default is returned.
DWORD RegReadDWORD(RegArg subKeyPath, RegArg valueName, DWORD defaultValue);
double RegReadDouble(RegArg subKeyPath, RegArg valueName, double defaultValue);
// Every stored byte (NUL bytes inside included) except one terminating NUL. A value stored
// empty reads as the empty string, not the default. A null default reads as "".
std::string RegReadString(RegArg subKeyPath, RegArg valueName, RegArg defaultValue);

// Writers: TRUE when the value was stored.
BOOL RegWriteDWORD(RegArg subKeyPath, RegArg valueName, DWORD value);
BOOL RegWriteDouble(RegArg subKeyPath, RegArg valueName, double value);
// Stores `text` as a string. Also the two delete forms:
//  - with a null valueName it deletes the key at subKeyPath (text is ignored). A key that
//    still has sub-keys is not deleted, and a null path (the root) is refused: FALSE.
//  - with a null text it deletes the value; FALSE when there was no such value.
BOOL RegWriteString(RegArg subKeyPath, RegArg valueName, RegArg text);

// Deletes the key at subKeyPath with everything below it, in one transaction: all of it or,
// on failure, nothing. A null path deletes the product key itself (the whole configuration;
// the next OpenRegistryRoot creates it again, empty). TRUE when the key is gone afterwards
// (also when it did not exist).
BOOL RegDeleteKeyTree(RegArg subKeyPath);

// The sub-keys of the key at subKeyPath for a list saved as numbered sub-keys
// (<prefix>0, <prefix>1, ... <prefix>10): those named <prefix><digits> (prefix compared
// case-insensitively) in numeric order, then any other sub-keys in the store's order, so
// that nothing is lost. Empty when the key cannot be opened.
std::vector<std::string> RegEnumNumberedSubKeys(RegArg subKeyPath, RegArg prefix);

// The same ordering for names already enumerated (for callers holding the key open).
void SortNumberedSubKeys(std::vector<std::string>& names, std::string_view prefix);

// Every sub-key name of the key at subKeyPath, in the store's order (case-insensitive name
// order), read in one transaction. Empty when the key cannot be opened.
std::vector<std::string> RegEnumSubKeys(RegArg subKeyPath);

// Every value of the key at subKeyPath (name, kind and stored bytes), in the store's order,
// read while the key is open. Empty when the key cannot be opened; a failure part-way ends
// the list there.
std::vector<RegTreeValue> RegEnumValues(RegArg subKeyPath);

// Whether two key or value names name the same thing in the store: equal but for the case
// of the ASCII letters ("Bob" and "bob"; not "Bø" and "BØ"). RegFoldName gives the name
// with its ASCII letters in lower case: two names are equal exactly when their folds are.
bool RegNamesEqual(std::string_view a, std::string_view b);
std::string RegFoldName(std::string_view name);
