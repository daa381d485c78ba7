#pragma once
// IPv4 addresses as text and host-name resolution. Addresses are 32-bit values in host byte
// order throughout platform/net. Lookups use the system resolver (getaddrinfo/getnameinfo),
// which is safe to call from any number of threads at once; each lookup blocks its caller.

#include "platform/kernel/Types.h"

#include <string>
#include <vector>

// Host names longer than this are refused without a lookup (a DNS name has at most 253
// characters).
inline constexpr std::size_t kMaxHostNameLength = 255;

// True when `text` is a dotted IPv4 address of four decimal parts ("192.168.0.1"); the address
// goes to `address`. Nothing else (names, shortened or hexadecimal forms) is taken.
bool ParseDottedAddress(const std::string& text, DWORD* address);

// "a.b.c.d" for an address.
std::string FormatDottedAddress(DWORD address);

// The addresses of `host`: a dotted address as it is, otherwise the IPv4 addresses the resolver
// gives, in its order. False, with WSAGetLastError() set (11001 not found, 11002 try again,
// 11003 no recovery, 11004 no address), when there is none; names that are empty, too long or
// hold a NUL or a control character are refused as not found.
bool ResolveHostAddresses(const std::string& host, std::vector<DWORD>* addresses);

// True when `text` is a host address in any numeric form the classic inet_addr takes: four,
// three, two or one parts, each decimal, octal ("0..") or hexadecimal ("0x.."), as in "10.0.0.1",
// "127.1" or "0x7f000001". The address goes to `address`.
bool ParseNumericHostAddress(const std::string& text, DWORD* address);

// A host's official name and IPv4 addresses, as the system resolver gives them.
struct HostLookup {
    std::string officialName;      // the canonical name; the looked-up name when none is given
    std::vector<DWORD> addresses;  // in the resolver's order, without repeats
};

// Looks `host` up (a name, or a numeric address, whose official name is then its text) and
// fills `lookup`. False, with WSAGetLastError() set as ResolveHostAddresses sets it, when there
// is no address.
bool LookupHost(const std::string& host, HostLookup* lookup);

// The first address of ResolveHostAddresses.
bool ResolveHostAddress(const std::string& host, DWORD* address);

// The name registered for `address` (reverse lookup). False, with WSAGetLastError() set, when
// the resolver knows none.
bool ReverseLookup(DWORD address, std::string* name);
