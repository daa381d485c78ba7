#pragma once
// The REGEDIT4 text form of the configuration store, which nvreg exports and imports.
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software]   a key, created on import
//   "Name"="plain text"                            REG_SZ, stored with one terminating NUL;
//                                                  \\ and \" are the only escapes
//   @="text"                                       the key's default (unnamed) value
//   "Port"=dword:00000050                          REG_DWORD (1 to 8 hex digits on import)
//   "Blob"=hex:01,02,ff                            REG_BINARY
//   "Secret"=hex(1):70,00,77,00                    REG_SZ given as its bytes, NUL included
//   "Path"=hex(2):25,48,00                         REG_EXPAND_SZ
//   "Old"=-                                        delete the value
//   [-HKEY_LOCAL_MACHINE\SOFTWARE\Old]             delete the key with its whole tree
//
// Export writes a string in quotes only when it is plain printable ASCII ending in exactly
// one NUL; any other string goes out as hex(1) or hex(2), so that every byte comes back on
// import. Hex lists may go on over several lines, each but the last ending in '\'. Lines
// starting with ';' are comments; lines end in LF or CR LF. HKLM and HKCU may stand for
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, root names in any case. hex(3) and hex(4) are
// read as REG_BINARY and REG_DWORD; other kinds are refused.

#include "platform/registry/Registry.h"

#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kRegFileSignature = "REGEDIT4";

// Splits "HKEY_LOCAL_MACHINE\SOFTWARE\x" (or "HKLM\...", "HKEY_CURRENT_USER", "HKCU\...")
// into its hive root and the path below it ("" for the root itself). False when the text
// does not begin with a root name.
bool SplitRootedPath(std::string_view text, HKEY& root, std::string& path);

// "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER", followed by "\path" when path is not empty.
std::string RootedPath(HKEY root, std::string_view path);

// One value in its text form, `"name"=data` (`@=data` for the default value), without a
// line end; long hex lists are wrapped over continued lines.
std::string FormatRegValue(const RegTreeValue& value);

// The REGEDIT4 text of a tree that RegReadTree read from `path` below `root`.
std::string FormatRegFile(HKEY root, std::string_view path, const std::vector<RegTreeKey>& keys);

struct RegFileContent {
    HKEY root = nullptr;          // the one hive the text names (null when it names no key)
    std::vector<RegEdit> edits;   // in text order, paths relative to `root`
};

// Parses REGEDIT4 text. On the first fault returns false with `error` set to
// "line N: what is wrong"; every key of one text must belong to one hive.
bool ParseRegFile(std::string_view text, RegFileContent& content, std::string& error);
