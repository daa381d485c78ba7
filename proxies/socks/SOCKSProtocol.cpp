#include "proxies/socks/SOCKSProtocol.h"

#include "platform/net/Resolver.h"
#include "proxies/socks/SOCKSFormat.h"
#include "proxies/web/HeaderList.h"

#include <algorithm>
#include <array>
#include <cstring>

using namespace SOCKSFormat;

namespace {

using State = SSOCKSParse::State;

SSOCKSParse Complete(std::size_t size) { return {State::complete, size, false, ESOCKSFault::none}; }

// The bytes hold `have`; the message needs at least `need`.
SSOCKSParse Incomplete(std::size_t need, std::size_t have) {
    return {State::incomplete, need - have, false, ESOCKSFault::none};
}

SSOCKSParse Invalid(ESOCKSFault fault) { return {State::invalid, 0, false, fault}; }

BYTE At(std::string_view bytes, std::size_t i) { return static_cast<BYTE>(bytes[i]); }

UINT PortAt(std::string_view bytes, std::size_t i) {
    return (UINT{At(bytes, i)} << 8) | At(bytes, i + 1);
}

DWORD AddressAt(std::string_view bytes, std::size_t i) {
    return (DWORD{At(bytes, i)} << 24) | (DWORD{At(bytes, i + 1)} << 16) |
           (DWORD{At(bytes, i + 2)} << 8) | At(bytes, i + 3);
}

void PutPort(std::string& out, UINT port) {
    out += static_cast<char>((port >> 8) & 0xFF);
    out += static_cast<char>(port & 0xFF);
}

void PutAddress(std::string& out, DWORD address) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((address >> shift) & 0xFF);
}

// The address part of a SOCKS 5 request or datagram header whose address type is at `at`:
// the length of everything up to and including the port, or 0 for an unknown type. A name's
// length byte must be present to tell its length (`need` then says so).
struct SAddressPart {
    std::size_t end = 0;  // offset after the port; 0 while unknown
    bool badType = false;
};

SAddressPart MeasureAddress(std::string_view bytes, std::size_t at) {
    const BYTE type = At(bytes, at);
    if (type == kAddressIPv4)
        return {at + 1 + 4 + 2, false};
    if (type != kAddressName)
        return {0, true};
    if (bytes.size() < at + 2)
        return {at + 2, false};  // the length byte first
    return {at + 2 + At(bytes, at + 1) + 2, false};
}

// Reads the address and port of a complete address part at `at` (its type byte).
void ReadAddress(std::string_view bytes, std::size_t at, DWORD& address, std::string& host,
                 UINT& port) {
    if (At(bytes, at) == kAddressIPv4) {
        address = AddressAt(bytes, at + 1);
        host = FormatDottedAddress(address);
        port = PortAt(bytes, at + 5);
        return;
    }
    const std::size_t length = At(bytes, at + 1);
    address = 0;
    host.assign(bytes.substr(at + 2, length));
    port = PortAt(bytes, at + 2 + length);
}

}  // namespace

SSOCKSParse ParseSocks4Request(std::string_view bytes, SSOCKSRequest& request) {
    if (bytes.size() < kSocks4FixedSize)
        return Incomplete(kSocks4FixedSize, bytes.size());
    request.version = At(bytes, 0);
    request.command = At(bytes, 1);
    request.port = PortAt(bytes, 2);
    request.address = AddressAt(bytes, 4);
    request.host = FormatDottedAddress(request.address);
    request.addressType = 0;
    const std::string_view id = bytes.substr(kSocks4FixedSize, kMaxSocks4UserId + 1);
    const std::size_t nul = id.find('\0');
    if (nul != std::string_view::npos) {
        request.userId.assign(id.substr(0, nul));
        return Complete(kSocks4FixedSize + nul + 1);
    }
    if (id.size() > kMaxSocks4UserId)
        return Invalid(ESOCKSFault::userIdTooLong);
    SSOCKSParse more = Incomplete(1, 0);
    more.toNul = true;
    return more;
}

SSOCKSParse ParseSocks5Greeting(std::string_view bytes, std::vector<BYTE>& methods) {
    if (bytes.size() < 2)
        return Incomplete(2, bytes.size());
    const std::size_t size = 2 + std::size_t{At(bytes, 1)};
    if (bytes.size() < size)
        return Incomplete(size, bytes.size());
    methods.assign(bytes.begin() + 2, bytes.begin() + static_cast<std::ptrdiff_t>(size));
    return Complete(size);
}

SSOCKSParse ParseUserPassword(std::string_view bytes, std::string& user, std::string& password) {
    if (bytes.size() < 2)
        return Incomplete(2, bytes.size());
    const std::size_t userLength = At(bytes, 1);
    const std::size_t passwordAt = 2 + userLength;  // the password's length byte
    if (bytes.size() < passwordAt + 1)
        return Incomplete(passwordAt + 1, bytes.size());
    const std::size_t size = passwordAt + 1 + At(bytes, passwordAt);
    if (bytes.size() < size)
        return Incomplete(size, bytes.size());
    user.assign(bytes.substr(2, userLength));
    password.assign(bytes.substr(passwordAt + 1, size - passwordAt - 1));
    return Complete(size);
}

SSOCKSParse ParseSocks5Request(std::string_view bytes, SSOCKSRequest& request) {
    if (bytes.size() < kSocks5RequestFixedSize)
        return Incomplete(kSocks5RequestFixedSize, bytes.size());
    request.version = At(bytes, 0);
    request.command = At(bytes, 1);
    request.addressType = At(bytes, 3);
    const SAddressPart part = MeasureAddress(bytes, 3);
    if (part.badType)
        return Invalid(ESOCKSFault::badAddressType);
    if (bytes.size() < part.end)
        return Incomplete(part.end, bytes.size());
    ReadAddress(bytes, 3, request.address, request.host, request.port);
    request.userId.clear();
    return Complete(part.end);
}

SSOCKSParse ParseUdpHeader(std::string_view datagram, SUdpHeader& header) {
    if (datagram.size() < 4)
        return Invalid(ESOCKSFault::truncatedDatagram);
    header.fragment = At(datagram, 2);
    header.addressType = At(datagram, 3);
    const SAddressPart part = MeasureAddress(datagram, 3);
    if (part.badType)
        return Invalid(ESOCKSFault::badAddressType);
    if (datagram.size() < part.end)
        return Invalid(ESOCKSFault::truncatedDatagram);
    DWORD address = 0;
    ReadAddress(datagram, 3, address, header.host, header.port);
    header.size = part.end;
    return Complete(part.end);
}

std::string BuildSocks4Reply(BYTE code, UINT port, DWORD address) {
    std::string reply;
    reply += static_cast<char>(kSocks4ReplyVersion);
    reply += static_cast<char>(code);
    PutPort(reply, port);
    PutAddress(reply, address);
    return reply;
}

std::string BuildSocks5Reply(BYTE code, DWORD address, UINT port) {
    std::string reply;
    reply += static_cast<char>(kVersion5);
    reply += static_cast<char>(code);
    reply += '\0';
    reply += static_cast<char>(kAddressIPv4);
    PutAddress(reply, address);
    PutPort(reply, port);
    return reply;
}

BYTE ChooseMethod(const std::vector<BYTE>& offered, bool useRFC1929) {
    const auto offers = [&](BYTE method) {
        return std::find(offered.begin(), offered.end(), method) != offered.end();
    };
    if (useRFC1929)
        return offers(kMethodUserPassword) ? kMethodUserPassword : kMethodNoAuthentication;
    return offers(kMethodNoAuthentication) ? kMethodNoAuthentication : kMethodNoAcceptable;
}

std::string BuildMethodReply(BYTE method) {
    return {static_cast<char>(kVersion5), static_cast<char>(method)};
}

std::string BuildUserPasswordReply(BYTE status) {
    return {static_cast<char>(kUserPasswordReplyVersion), static_cast<char>(status)};
}

std::size_t WrapDatagram(DWORD sender, UINT port, std::string_view data, char* out,
                         std::size_t capacity) {
    if (data.size() > capacity || capacity - data.size() < kUdpHeaderIPv4Size)
        return 0;
    std::string header = {'\0', '\0', '\0', static_cast<char>(kAddressIPv4)};
    PutAddress(header, sender);
    PutPort(header, port);
    std::memcpy(out, header.data(), header.size());
    if (!data.empty())
        std::memcpy(out + header.size(), data.data(), data.size());
    return header.size() + data.size();
}

bool IsHandOverRequest(std::string_view firstBytes) {
    if (firstBytes.size() < kHandOverMinimum)
        return false;
    static constexpr std::array<std::string_view, 3> kMethods = {"GET", "HEAD", "POST"};
    for (std::string_view method : kMethods) {
        const std::size_t space = method.size();
        if (firstBytes.size() > space + 1 && EqualsNoCase(firstBytes.substr(0, space), method) &&
            firstBytes[space] == ' ' && firstBytes[space + 1] == '/')
            return true;
    }
    return false;
}
