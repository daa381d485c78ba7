#include "proxies/dns/DNSMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

// A header with ID 0x1234, the two flag bytes and the counts, then `body`.
Bytes Query(const Bytes& body, BYTE flags = 0x01, BYTE codes = 0x00, WORD qdcount = 1,
            WORD arcount = 0) {
    Bytes q = {0x12, 0x34, flags, codes, static_cast<BYTE>(qdcount >> 8),
               static_cast<BYTE>(qdcount), 0, 0, 0, 0, static_cast<BYTE>(arcount >> 8),
               static_cast<BYTE>(arcount)};
    q.insert(q.end(), body.begin(), body.end());
    return q;
}

CDNSMessage Load(const Bytes& bytes) {
    CDNSMessage m;
    m.Assign(bytes.data(), bytes.size());
    return m;
}

Bytes Sent(const CDNSMessage& m) { return Bytes(m.Data(), m.Data() + m.Length()); }

// A name of labels of these lengths ('a' each), in label form with its zero.
Bytes Labels(std::initializer_list<int> lengths) {
    Bytes name;
    for (int n : lengths) {
        name.push_back(static_cast<BYTE>(n));
        name.insert(name.end(), static_cast<std::size_t>(n), 'a');
    }
    name.push_back(0);
    return name;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kTypeAClassIN = {0, 1, 0, 1};

}  // namespace

TEST(DNSMessage, QuestionsReadWithNameTypeAndClass) {
    struct Case {
        const char* what;
        Bytes body;
        std::string name;
        WORD type, qclass;
        std::size_t questionEnd;
    };
    const std::vector<Case> cases = {
        {"plain", {3, 'w', 'w', 'w', 2, 'a', 'b', 0, 0, 1, 0, 1}, "www.ab", 1, 1, 24},
        {"root", {0, 0, 15, 0, 3}, "", 15, 3, 17},
        // A label whose bytes hold a name, reached again by a pointer into its middle.
        {"pointer backwards", {3, 1, 'c', 0, 0xC0, 13, 0, 28, 0, 1}, std::string("\x01" "c", 2) + '\0' + ".c", 28, 1, 22},
        {"label bytes as they are", {3, 'a', '.', 0x7F, 0, 0, 1, 0, 1}, "a.\x7F", 1, 1, 21},
        {"255 octets", Concat(Labels({63, 63, 63, 61}), kTypeAClassIN),
         std::string(63, 'a') + "." + std::string(63, 'a') + "." + std::string(63, 'a') + "." +
             std::string(61, 'a'),
         1, 1, 12 + 255 + 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDNSMessage m = Load(Query(c.body));
        std::string name;
        WORD type = 0, qclass = 0;
        ASSERT_TRUE(m.ParseQuestion(&name, &type, &qclass));
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(qclass, c.qclass);
        m.BuildRefusal(3);
        EXPECT_EQ(m.Length(), c.questionEnd);  // the reply keeps the question and nothing after
    }
}

TEST(DNSMessage, MalformedQuestionsAreFormatErrorsWithTheHeaderAlone) {
    struct Case {
        const char* what;
        Bytes body;
        WORD qdcount = 1;
    };
    const std::vector<Case> cases = {
        {"pointer loop", {1, 'x', 0xC0, 12, 0, 1, 0, 1}},
        {"pointer to itself", {0xC0, 12, 0, 1, 0, 1}},
        {"forward pointer", {0xC0, 14, 1, 'a', 0, 0, 1, 0, 1}},
        {"pointer into the header", {0xC0, 2, 0, 1, 0, 1}},
        // "\x03a" then a pointer into it, whose label runs over the pointer to a zero byte.
        {"name running past its pointer", {2, 3, 'a', 0xC0, 13, 0, 1, 0, 1}},
        {"pointer cut short", {0xC0}},
        {"label past the end", {5, 'a', 'b'}},
        {"name without its zero", {1, 'a'}},
        {"QTYPE and QCLASS cut short", {1, 'a', 0, 0, 1, 0}},
        {"reserved label type 01", {0x41, 'a', 0, 0, 1, 0, 1}},
        {"reserved label type 10", {0x81, 'a', 0, 0, 1, 0, 1}},
        {"256 octets", Concat(Labels({63, 63, 63, 62}), kTypeAClassIN)},
        {"no question counted", {1, 'a', 0, 0, 1, 0, 1}, 0},
        {"header only", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDNSMessage m = Load(Query(c.body, 0x01, 0x00, c.qdcount));
        std::string name;
        WORD type = 0, qclass = 0;
        EXPECT_FALSE(m.ParseQuestion(&name, &type, &qclass));
        m.BuildRefusal(1);
        EXPECT_EQ(Sent(m), Bytes({0x12, 0x34, 0x85, 0x81, 0, 0, 0, 0, 0, 0, 0, 0}));
    }
}

TEST(DNSMessage, RepliesCarryTheFirstQuestionOnlyWithTheirFlagsSetAndCleared) {
    // TC in the query, Z, AD and CD set, OPCODE 0, RD; an EDNS OPT record after the question.
    const Bytes question = {1, 'h', 0, 0, 1, 0, 1};
    const Bytes opt = {0, 0, 41, 0x10, 0, 0, 0, 0, 0, 0, 0};
    CDNSMessage m = Load(Query(Concat(question, opt), 0x03, 0x70, 1, 1));
    std::string name;
    WORD type = 0, qclass = 0;
    ASSERT_TRUE(m.ParseQuestion(&name, &type, &qclass));
    m.BuildRefusal(2);
    EXPECT_EQ(Sent(m), Query(question, 0x85, 0x82, 1, 0));

    // The answer: official name with its trailing dot dropped, TTL 0, the address.
    m = Load(Query(Concat(question, opt), 0x01, 0x00, 1, 1));
    ASSERT_TRUE(m.ParseQuestion(&name, &type, &qclass));
    ASSERT_TRUE(m.BuildAnswer("h.ex.", 0x0A010203));
    Bytes expected = Query(question, 0x85, 0x80, 1, 0);
    expected[7] = 1;  // ANCOUNT
    expected = Concat(expected, {1, 'h', 2, 'e', 'x', 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 4, 10, 1, 2, 3});
    EXPECT_EQ(Sent(m), expected);

    // A datagram shorter than a header gets no refusal at all.
    for (const Bytes& runt : {Bytes{0x12, 0x34, 0x01, 0x70, 0, 1, 0, 0, 0, 0, 0}, Bytes{0}}) {
        m = Load(runt);
        m.BuildRefusal(1);
        EXPECT_EQ(m.Length(), 0u);
    }
}

TEST(DNSMessage, AnswersThatCannotBeWrittenOrSent) {
    const Bytes big = Concat(Labels({63, 63, 63, 61}), kTypeAClassIN);
    std::string name;
    WORD type = 0, qclass = 0;
    CDNSMessage m = Load(Query(big));
    EXPECT_FALSE(m.BuildAnswer("a", 1));  // no question read yet
    ASSERT_TRUE(m.ParseQuestion(&name, &type, &qclass));
    // Empty labels, a label over 63 octets, a name over 255.
    const std::string label63(63, 'x');
    for (const std::string& bad : {std::string(), std::string("."), std::string("a..b"),
                                   std::string(".a"), label63 + "y",
                                   label63 + "." + label63 + "." + label63 + "." + std::string(62, 'z')}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(m.BuildAnswer(bad, 1));
    }
    std::string encoded;
    ASSERT_TRUE(EncodeName(label63 + "." + label63 + "." + label63 + "." + std::string(61, 'z') + ".",
                           &encoded));
    EXPECT_EQ(encoded.size(), 255u);
    // 271 bytes of query and a 255-octet owner: more than 512 bytes, so nothing is sent.
    ASSERT_TRUE(m.BuildAnswer(std::string(name), 1));
    EXPECT_EQ(m.Length(), 0u);
}
