// What SOCKS clients send, as arbitrary bytes. Each message parser is driven the way the session
// reads (exactly the bytes it asks for, or up to the next NUL for a user id) and must agree
// with a parse of the same bytes at once, never ask past a decided message, and give fields
// that fit the bytes. The bytes also serve as a datagram of a UDP association, whose header
// is parsed and whose data is wrapped for the client and parsed back, and as the first bytes
// of a CONNECT to a web port (the hand-over test).

#include "platform/net/Resolver.h"
#include "proxies/socks/SOCKSFormat.h"
#include "proxies/socks/SOCKSProtocol.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using State = SSOCKSParse::State;
using Parser = std::function<SSOCKSParse(std::string_view)>;

void Check(bool ok) {
    if (!ok)
        std::abort();
}

// Reads `input` as the session would; returns the final result and the bytes it took.
SSOCKSParse ReadAsTheSession(std::string_view input, const Parser& parse, std::size_t& taken) {
    taken = 0;
    for (;;) {
        const SSOCKSParse parsed = parse(input.substr(0, taken));
        if (parsed.state != State::incomplete)
            return parsed;
        Check(parsed.size >= 1);
        std::size_t step = parsed.size;
        if (parsed.toNul) {
            const std::size_t nul = input.find('\0', taken);
            step = nul == std::string_view::npos ? input.size() - taken : nul + 1 - taken;
            step = std::max<std::size_t>(step, 1);
        }
        if (taken + step > input.size())
            return parsed;  // the client would have closed here
        taken += step;
    }
}

// Returns the decided state.
State FuzzParser(std::string_view input, const Parser& parse) {
    std::size_t taken = 0;
    const SSOCKSParse parsed = ReadAsTheSession(input, parse, taken);
    // The same bytes at once decide the same way, and more bytes change nothing decided.
    const SSOCKSParse whole = parse(input.substr(0, taken));
    Check(whole.state == parsed.state && whole.size == parsed.size && whole.fault == parsed.fault);
    if (parsed.state == State::complete) {
        Check(parsed.size == taken);
        const SSOCKSParse longer = parse(input);
        Check(longer.state == State::complete && longer.size == parsed.size);
    }
    if (parsed.state == State::invalid)
        Check(parsed.fault != ESOCKSFault::none && parse(input).state == State::invalid);
    return parsed.state;
}

void CheckRequest(const SSOCKSRequest& r, bool version5) {
    if (!version5 || r.addressType == SOCKSFormat::kAddressIPv4)
        Check(r.host == FormatDottedAddress(r.address));
    else
        Check(r.host.size() <= 255);
    Check(r.port <= 0xFFFF);
    Check(r.userId.size() <= SOCKSFormat::kMaxSocks4UserId &&
          r.userId.find('\0') == std::string::npos);
}

void FuzzDatagram(std::string_view datagram) {
    SUdpHeader header;
    const SSOCKSParse parsed = ParseUdpHeader(datagram, header);
    if (parsed.state != State::complete) {
        Check(parsed.state == State::invalid && parsed.fault != ESOCKSFault::none);
        return;
    }
    Check(header.size == parsed.size && header.size <= datagram.size());
    const std::string_view data = datagram.substr(header.size);
    std::array<char, SOCKSFormat::kDatagramBufferSize> out;
    const std::size_t size = WrapDatagram(0x7F000001, header.port, data, out.data(), out.size());
    if (data.size() > SOCKSFormat::kMaxDatagram) {
        Check(size == 0);
        return;
    }
    Check(size == data.size() + SOCKSFormat::kUdpHeaderIPv4Size);
    SUdpHeader back;
    Check(ParseUdpHeader(std::string_view(out.data(), size), back).state == State::complete);
    Check(back.host == "127.0.0.1" && back.port == header.port && back.fragment == 0);
    Check(std::string_view(out.data() + back.size, size - back.size) == data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    SSOCKSRequest request;
    if (FuzzParser(input, [&](std::string_view b) { return ParseSocks4Request(b, request); }) ==
        State::complete)
        CheckRequest(request, false);
    request = {};
    if (FuzzParser(input, [&](std::string_view b) { return ParseSocks5Request(b, request); }) ==
        State::complete)
        CheckRequest(request, true);
    std::vector<BYTE> methods;
    FuzzParser(input, [&](std::string_view b) {
        const SSOCKSParse p = ParseSocks5Greeting(b, methods);
        if (p.state == State::complete)
            Check(methods.size() + 2 == p.size);
        return p;
    });
    std::string user, password;
    FuzzParser(input, [&](std::string_view b) {
        const SSOCKSParse p = ParseUserPassword(b, user, password);
        if (p.state == State::complete)
            Check(user.size() + password.size() + 3 == p.size);
        return p;
    });
    FuzzDatagram(input);
    if (IsHandOverRequest(input))
        Check(input.size() >= SOCKSFormat::kHandOverMinimum && input.find(" /") <= 4);
    return 0;
}
