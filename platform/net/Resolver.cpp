#include "platform/net/Resolver.h"

#include "platform/net/SocketErrors.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <utility>

namespace {

int SocketErrorFromResolver(int eai) {
    switch (eai) {
    case EAI_AGAIN:
        return WSATRY_AGAIN;
    case EAI_FAIL:
        return WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return WSANO_DATA;
#endif
    case EAI_ADDRFAMILY:
        return WSANO_DATA;
    case EAI_MEMORY:
        return WSAENOBUFS;
    default:
        return WSAHOST_NOT_FOUND;
    }
}

bool IsAcceptableHostName(const std::string& host) {
    if (host.empty() || host.size() > kMaxHostNameLength)
        return false;
    return std::none_of(host.begin(), host.end(), [](char c) {
        auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
}

}  // namespace

bool ParseDottedAddress(const std::string& text, DWORD* address) {
    if (text.size() > 15 || text.find('\0') != std::string::npos)
        return false;
    in_addr in{};
    if (inet_pton(AF_INET, text.c_str(), &in) != 1)
        return false;
    *address = ntohl(in.s_addr);
    return true;
}

std::string FormatDottedAddress(DWORD address) {
    // Written by hand: every datagram a service receives has its sender's address made into
    // text, and inet_ntop goes through sprintf.
    char text[INET_ADDRSTRLEN];
    char* out = text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned part = (address >> shift) & 0xFF;
        if (part >= 100)
            *out++ = static_cast<char>('0' + part / 100);
        if (part >= 10)
            *out++ = static_cast<char>('0' + part / 10 % 10);
        *out++ = static_cast<char>('0' + part % 10);
        if (shift != 0)
            *out++ = '.';
    }
    return std::string(text, out);
}

bool ParseNumericHostAddress(const std::string& text, DWORD* address) {
    if (text.empty() || text.size() > kMaxHostNameLength || text.find('\0') != std::string::npos)
        return false;
    in_addr in{};
    if (inet_aton(text.c_str(), &in) == 0)
        return false;
    *address = ntohl(in.s_addr);
    return true;
}

namespace {

// `canonical`: ask the resolver for the official name too.
bool Lookup(const std::string& host, bool canonical, HostLookup* lookup) {
    lookup->officialName.clear();
    lookup->addresses.clear();
    DWORD dotted = 0;
    if (ParseDottedAddress(host, &dotted)) {
        lookup->officialName = host;
        lookup->addresses.push_back(dotted);
        return true;
    }
    if (!IsAcceptableHostName(host)) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = canonical ? AI_CANONNAME : 0;
    addrinfo* result = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &result);
    if (rc != 0) {
        WSASetLastError(SocketErrorFromResolver(rc));
        return false;
    }
    if (result->ai_canonname != nullptr)
        lookup->officialName = result->ai_canonname;
    for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || ai->ai_addrlen < sizeof(sockaddr_in))
            continue;
        DWORD a = ntohl(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
        if (std::find(lookup->addresses.begin(), lookup->addresses.end(), a) ==
            lookup->addresses.end())
            lookup->addresses.push_back(a);
    }
    freeaddrinfo(result);
    if (lookup->officialName.empty())
        lookup->officialName = host;
    if (lookup->addresses.empty()) {
        WSASetLastError(WSANO_DATA);
        return false;
    }
    return true;
}

}  // namespace

bool LookupHost(const std::string& host, HostLookup* lookup) { return Lookup(host, true, lookup); }

bool ResolveHostAddresses(const std::string& host, std::vector<DWORD>* addresses) {
    HostLookup lookup;
    const bool found = Lookup(host, false, &lookup);
    *addresses = std::move(lookup.addresses);
    return found;
}

bool ResolveHostAddress(const std::string& host, DWORD* address) {
    std::vector<DWORD> all;
    if (!ResolveHostAddresses(host, &all))
        return false;
    *address = all.front();
    return true;
}

bool ReverseLookup(DWORD address, std::string* name) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(address);
    char host[NI_MAXHOST] = {};
    int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&sin), sizeof sin, host, sizeof host,
                         nullptr, 0, NI_NAMEREQD);
    if (rc != 0) {
        WSASetLastError(SocketErrorFromResolver(rc));
        return false;
    }
    *name = host;
    return true;
}
