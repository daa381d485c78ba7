#pragma once
// CDNSMessage: one DNS query as received, rewritten in place into its reply. It reads the
// header and the first question of a query with every read checked against the received
// length, and builds the two replies the DNS service sends: a refusal with a response code and
// an answer with one address record. Pure: no sockets, no engine; fuzzed by fuzz/dns_query.cpp.
//
// Replies carry the header and the first question only: whatever followed the question in the
// query (further questions, a client's EDNS OPT record, cookies) is left out, and the counts
// say so. Their flags: QR, AA and RA set; TC, Z, AD and CD cleared; the ID, OPCODE and RD as
// received.
//
// A question is rejected (ParseQuestion false) when the header says there is none, when a
// label or a pointer or the QTYPE and QCLASS lie past the received bytes, when a label type
// other than a plain label or a compression pointer appears, when a pointer does not point
// backwards to a place after the header, when the name reached through a pointer runs on to
// that pointer or past it, or when the name exceeds 255 octets or 255 labels and pointers.
// The question must then be answered as a format error.

#include "proxies/dns/DNSFormat.h"
#include "platform/kernel/Types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CDNSMessage {
public:
    // Keeps the first 512 bytes of `bytes`.
    void Assign(const void* bytes, std::size_t length);
    // The buffer a datagram is received into, and the length received.
    BYTE* Buffer() { return m_bytes.data(); }
    static constexpr std::size_t Capacity() { return DNSFormat::kMaxMessage; }
    void SetLength(std::size_t length);

    // The bytes to send: after a refusal or an answer, the reply (0 = send nothing).
    const BYTE* Data() const { return m_bytes.data(); }
    std::size_t Length() const { return m_length; }

    // The QR bit of a message long enough to have one.
    bool IsResponse() const;
    // OPCODE, or -1 when the message is too short to have one.
    int Opcode() const;

    // Reads the first question: the name as dotted text (label bytes as they are, no trailing
    // dot), QTYPE and QCLASS. False when the question breaks any rule above.
    bool ParseQuestion(std::string* name, WORD* type, WORD* qclass);

    // A refusal with response code `code`. A message shorter than a header gets none (length
    // 0); otherwise the reply is the header with the first question when ParseQuestion
    // accepted one, else the header alone (QDCOUNT 0).
    void BuildRefusal(int code);
    // The answer to the parsed question: one A record of class IN, TTL 0, owned by `name` (the
    // official name, written in full) with `address` (host order). False, the message
    // unchanged, when there is no parsed question or the name cannot be encoded. A reply that
    // would exceed 512 bytes is not sent (length 0).
    bool BuildAnswer(const std::string& name, DWORD address);

private:
    // The reply's flags and response code, then the four counts (the message holds a
    // header).
    void SetReplyHeader(int code, WORD questions, WORD answers);
    WORD Read16(std::size_t offset) const;
    void Write16(std::size_t offset, WORD value);

    std::array<BYTE, DNSFormat::kMaxMessage> m_bytes{};
    // Offsets into the 512 bytes: one session per query holds a message, so it is kept small.
    std::uint16_t m_length = 0;
    std::uint16_t m_questionEnd = 0;  // 0: no question accepted
};

// A dotted name in label form ("a.bc" gives 1 'a' 2 'b' 'c' 0), one trailing dot ignored.
// False when a label is empty or longer than 63 octets, or the whole exceeds 255 octets.
bool EncodeName(std::string_view text, std::string* encoded);
