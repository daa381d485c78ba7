// Reads arbitrary bytes as a DNS query, as a hostile client would send it to the DNS service,
// and builds both replies from it. Besides crashes and reads past the message it checks that a
// refusal is never longer than the query and keeps no record after the question, that an
// answer stays within 512 bytes and reads back with the same question, and that a name written
// in label form reads back as it was.

#include "proxies/dns/DNSMessage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

WORD At16(const CDNSMessage& m, std::size_t offset) {
    return static_cast<WORD>((m.Data()[offset] << 8) | m.Data()[offset + 1]);
}

// The header of a reply: QR, AA and RA set, TC, Z, AD and CD clear, the code, no records
// beyond the answers.
void CheckReplyHeader(const CDNSMessage& m, int code, WORD answers) {
    if (m.Length() < DNSFormat::kHeaderSize)
        return;
    Require((m.Data()[2] & 0x86) == 0x84);
    Require((m.Data()[3] & 0xFF & ~0x0F) == 0x80);
    Require((m.Data()[3] & 0x0F) == code);
    Require(At16(m, 6) == answers && At16(m, 8) == 0 && At16(m, 10) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks the official name of the answer: the queried name, or the rest of
    // the input as text.
    const bool ownName = (data[0] & 1) != 0;
    ++data;
    --size;

    CDNSMessage refusal;
    refusal.Assign(data, size);
    std::string name;
    WORD type = 0, qclass = 0;
    const bool parsed = refusal.ParseQuestion(&name, &type, &qclass);
    refusal.BuildRefusal(DNSFormat::kRcodeFormatError);
    Require(refusal.Length() <= std::min<std::size_t>(size, DNSFormat::kMaxMessage) ||
            refusal.Length() == DNSFormat::kHeaderSize);
    // A refusal is a whole header at least, or nothing for a datagram shorter than one.
    Require((refusal.Length() == 0) ==
            (std::min<std::size_t>(size, DNSFormat::kMaxMessage) < DNSFormat::kHeaderSize));
    CheckReplyHeader(refusal, DNSFormat::kRcodeFormatError, 0);

    std::string encoded;
    if (EncodeName(name, &encoded)) {
        Require(encoded.size() <= DNSFormat::kMaxName);
        // Read it back from a query of its own.
        std::string query(12, '\0');
        query[5] = 1;
        query += encoded + std::string("\0\x01\0\x01", 4);
        CDNSMessage again;
        again.Assign(query.data(), query.size());
        std::string back;
        WORD t = 0, c = 0;
        Require(again.ParseQuestion(&back, &t, &c));
        Require(back == name || back + "." == name);
    }
    if (!parsed)
        return 0;

    CDNSMessage answer;
    answer.Assign(data, size);
    std::string again;
    Require(answer.ParseQuestion(&again, &type, &qclass) && again == name);
    const std::string official =
        ownName ? std::string(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 300)) : name;
    if (!answer.BuildAnswer(official, 0x7F000001))
        return 0;
    Require(answer.Length() <= DNSFormat::kMaxMessage);
    if (answer.Length() == 0)
        return 0;
    CheckReplyHeader(answer, DNSFormat::kRcodeNoError, 1);
    CDNSMessage reply;
    reply.Assign(answer.Data(), answer.Length());
    std::string replyName;
    WORD replyType = 0, replyClass = 0;
    Require(reply.ParseQuestion(&replyName, &replyType, &replyClass));
    Require(replyName == name && replyType == type && replyClass == qclass);
    return 0;
}
