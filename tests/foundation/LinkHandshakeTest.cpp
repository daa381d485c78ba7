#include "foundation/LinkHandshake.h"

#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>

namespace {

using namespace LinkFormat;

std::string Str(const Bytes& bytes) {
    return std::string(bytes.Get().begin(), bytes.Get().end());
}

// Challenge "3735928559", user "admin", password "secret": MD5("3735928559secret") is
// 0d 16 01 15 17 29 03 1e 1b 89 a1 c5 bb 69 ff 35, so the response drops three zeros.
const char kChallenge[] = "3735928559";
const char kResponse[] = "d16115172931e1b89a1c5bb69ff35";

std::string ChallengeBody(const std::string& text) { return Str(Bytes("01 03 00 01").Text(text).Byte(0)); }

std::string AnswerBody(BYTE type, const std::string& user, const std::string& response,
                       BYTE major = 1, BYTE minor = 3, BYTE command = 2) {
    return Str(Bytes()
                   .Byte(major)
                   .Byte(minor)
                   .Byte(type)
                   .Dword(4321)
                   .Byte(command)
                   .Text(user)
                   .Byte(0)
                   .Text(response)
                   .Byte(0));
}

void ExpectRefusal(const std::optional<CLinkRefusal>& refusal, int code, const std::string& text,
                   bool sendStatus) {
    ASSERT_TRUE(refusal.has_value()) << "expected refusal " << code;
    EXPECT_EQ(refusal->code, code);
    EXPECT_EQ(refusal->text, text);
    EXPECT_EQ(refusal->sendStatus, sendStatus);
}

CLinkUserLookup Table(std::map<std::string, std::string> users) {
    return [users](const std::string& name, std::string& password) {
        auto it = users.find(name);
        if (it == users.end())
            return false;
        password = it->second;
        return true;
    };
}

TEST(LinkHandshakeTest, FramesAreByteExact) {
    EXPECT_EQ(CLinkHandshake::ChallengeFrame(kChallenge),
              Str(Bytes("0f 01 03 00 01").Text(kChallenge).Byte(0)));
    EXPECT_EQ(CLinkHandshake::StatusFrame(4), Str(Bytes("04 01 03 00 04")));
    EXPECT_EQ(CLinkHandshake::StatusFrame(109), Str(Bytes("04 01 03 00 6d")));

    CLinkHandshake client(kLinkConsole, false, "admin", "secret");
    ASSERT_FALSE(client.TakeChallenge(ChallengeBody(kChallenge)));
    EXPECT_EQ(client.GetChallenge(), kChallenge);
    std::string answer;
    ASSERT_FALSE(client.MakeAnswer(0x1234, answer));
    // Length: 5 (name) + 29 (response) + 10 = 44.
    EXPECT_EQ(answer, Str(Bytes("2c 01 03 02 34 12 00 00 02")
                              .Text("admin")
                              .Byte(0)
                              .Text(kResponse)
                              .Byte(0)));

    CLinkHandshake server(kLinkConsole, false, "", "");
    EXPECT_EQ(server.MakeChallenge(std::string("12\0" "34", 5)), Str(Bytes("07 01 03 00 01 31 32 00")));
    EXPECT_EQ(server.GetChallenge(), "12");
}

TEST(LinkHandshakeTest, ResponseIsUnpaddedLowerCaseHex) {
    EXPECT_EQ(CLinkHandshake::Response(kChallenge, "secret"), kResponse);
    // MD5("313pw") = 28 a7 35 19 c1 f3 00 0a 96 05 16 90 16 f2 1b da: 0x00 gives "0", 0x0A "a".
    EXPECT_EQ(CLinkHandshake::Response("313", "pw"), "28a73519c1f30a965169016f21bda");
    // MD5("349483pw") = 02 06 0d 06 0d 20 0d 53 6f e7 00 6c 0a a5 03 30: 23 characters.
    EXPECT_EQ(CLinkHandshake::Response("349483", "pw"), "26d6d20d536fe706caa5330");
}

TEST(LinkHandshakeTest, ClientRefusesMalformedChallenges) {
    CLinkHandshake client(kLinkConsole, false, "admin", "secret");
    ExpectRefusal(client.TakeChallenge(""), kCodeProtocol, kTextProtocolError, false);
    ExpectRefusal(client.TakeChallenge(Str(Bytes("01 03 00 01"))), kCodeProtocol,
                  kTextProtocolError, false);
    ExpectRefusal(client.TakeChallenge(Str(Bytes("01 04 00 01 00"))), kCodeVersion,
                  kTextWrongVersion, false);
    ExpectRefusal(client.TakeChallenge(Str(Bytes("02 03 00 01 00"))), kCodeVersion,
                  kTextWrongVersion, false);
    ExpectRefusal(client.TakeChallenge(Str(Bytes("01 03 00 02 31 00"))), kCodeProtocol,
                  kTextWrongResponse, false);
    // The text must end inside the frame.
    ExpectRefusal(client.TakeChallenge(Str(Bytes("01 03 00 01 31 32 33"))), kCodeProtocol,
                  kTextProtocolError, false);

    // The link-type slot is not checked; the text ends at its first NUL; it may be empty.
    EXPECT_FALSE(client.TakeChallenge(Str(Bytes("01 03 07 01 39 00 38 00"))));
    EXPECT_EQ(client.GetChallenge(), "9");
    EXPECT_FALSE(client.TakeChallenge(Str(Bytes("01 03 00 01 00"))));
    EXPECT_EQ(client.GetChallenge(), "");
}

TEST(LinkHandshakeTest, ClientRefusesAnswersThatDoNotFitOneLengthByte) {
    // The response to kChallenge with "secret" is 29 characters: 216 + 29 + 10 = 255 fits.
    CLinkHandshake fits(kLinkEngine, true, std::string(216, 'u'), "secret");
    ASSERT_FALSE(fits.TakeChallenge(ChallengeBody(kChallenge)));
    std::string frame;
    ASSERT_FALSE(fits.MakeAnswer(1, frame));
    EXPECT_EQ(frame.size(), 256u);
    EXPECT_EQ(static_cast<BYTE>(frame[0]), 255);

    CLinkHandshake tooLong(kLinkEngine, true, std::string(217, 'u'), "secret");
    ASSERT_FALSE(tooLong.TakeChallenge(ChallengeBody(kChallenge)));
    frame = "untouched";
    ExpectRefusal(tooLong.MakeAnswer(1, frame), kCodeLocal, kTextUserTooLong, false);

    CLinkHandshake withNul(kLinkEngine, true, std::string("ad\0min", 6), "secret");
    ASSERT_FALSE(withNul.TakeChallenge(ChallengeBody(kChallenge)));
    ExpectRefusal(withNul.MakeAnswer(1, frame), kCodeLocal, kTextUserHasNul, false);
}

TEST(LinkHandshakeTest, ClientChecksTheStatusFrame) {
    CLinkHandshake client(kLinkConsole, false, "admin", "secret");
    EXPECT_FALSE(client.CheckStatus(Str(Bytes("01 03 00 04"))));
    EXPECT_FALSE(client.CheckStatus(Str(Bytes("01 03 09 04 ff"))));  // slot and tail not read
    ExpectRefusal(client.CheckStatus(Str(Bytes("01 04 00 04"))), kCodeVersion, kTextWrongVersion,
                  false);
    // A refusal carries the server's code; its text is the one configured for the code.
    ExpectRefusal(client.CheckStatus(Str(Bytes("01 03 00 6b"))), 107, "", false);
    ExpectRefusal(client.CheckStatus(Str(Bytes("01 03 00 00"))), 0, "", false);
    ExpectRefusal(client.CheckStatus(Str(Bytes("01 03 00"))), kCodeProtocol, kTextBadProtocol,
                  false);
    ExpectRefusal(client.CheckStatus(""), kCodeProtocol, kTextBadProtocol, false);
}

// One server decision: the socket's type and credentials, the client's answer body.
struct AnswerCase {
    const char* name;
    BYTE socketType;
    bool fixedUser;
    std::string body;
    int code;  // -1: admitted
    std::string text;
    bool sendStatus;
    BYTE typeAfter;
};

TEST(LinkHandshakeTest, ServerChecksAnswersInOrder) {
    const std::string good = kResponse;
    const std::string upper = "D16115172931E1B89A1C5BB69FF35";
    const AnswerCase cases[] = {
        {"console admitted", kLinkConsole, false, AnswerBody(2, "admin", good), -1, "", false, 2},
        {"fixed admitted", kLinkEngine, true, AnswerBody(1, "admin", good), -1, "", false, 1},
        {"type 3 promoted", kLinkConsole, false, AnswerBody(3, "admin", good), -1, "", false, 3},
        {"type 3 checks major only", kLinkConsole, false, AnswerBody(3, "admin", good, 1, 9), -1,
         "", false, 3},
        {"type 3 wrong major", kLinkConsole, false, AnswerBody(3, "admin", good, 2, 3),
         kCodeVersion, kTextWrongVersion, false, 3},
        {"engine link skips version", kLinkEngine, true, AnswerBody(1, "admin", good, 7, 7), -1,
         "", false, 1},
        {"console wrong minor", kLinkConsole, false, AnswerBody(2, "admin", good, 1, 4),
         kCodeVersion, kTextWrongVersion, false, 2},
        {"engine refuses console", kLinkEngine, true, AnswerBody(2, "admin", good),
         kCodeWrongType, kTextWrongClientType, true, 1},
        {"console refuses engine", kLinkConsole, false, AnswerBody(1, "admin", good),
         kCodeWrongType, kTextWrongClientType, true, 2},
        {"type 3 socket refuses 2", kLinkConsole3, false, AnswerBody(2, "admin", good),
         kCodeWrongType, kTextWrongClientType, true, 3},
        {"wrong command", kLinkConsole, false, AnswerBody(2, "admin", good, 1, 3, 1),
         kCodeProtocol, kTextWrongCommand, false, 2},
        {"fixed wrong user", kLinkEngine, true, AnswerBody(1, "Admin", good), kCodeWrongUser,
         kTextWrongUsername, true, 1},
        {"no user name", kLinkConsole, false, AnswerBody(2, "", good), kCodeNoUser,
         kTextNoUsername, true, 2},
        {"no such user", kLinkConsole, false, AnswerBody(2, "nobody", good), kCodeNoSuchUser,
         kTextNoSuchUser, true, 2},
        {"upper-case response", kLinkConsole, false, AnswerBody(2, "admin", upper),
         kCodeBadPassword, "User admin failed password", true, 2},
        {"padded response", kLinkConsole, false,
         AnswerBody(2, "admin", "0d1601151729031e1b89a1c5bb69ff35"), kCodeBadPassword,
         "User admin failed password", true, 2},
        {"empty response", kLinkEngine, true, AnswerBody(1, "admin", ""), kCodeBadPassword,
         "User admin failed password", true, 1},
        {"other user's password", kLinkConsole, false, AnswerBody(2, "guest", good),
         kCodeBadPassword, "User guest failed password", true, 2},
        {"shorter than fixed part", kLinkConsole, false, Str(Bytes("01 03 02 00 00 00 00 02 00")),
         kCodeProtocol, kTextBadProtocol, false, 2},
        {"empty frame", kLinkConsole, false, "", kCodeProtocol, kTextBadProtocol, false, 2},
        {"no NUL after user", kLinkConsole, false,
         Str(Bytes("01 03 02 00 00 00 00 02").Text("admin")), kCodeProtocol, kTextBadProtocol,
         false, 2},
        {"no NUL after response", kLinkConsole, false,
         Str(Bytes("01 03 02 00 00 00 00 02").Text("admin").Byte(0).Text(good)), kCodeProtocol,
         kTextBadProtocol, false, 2},
    };
    const CLinkUserLookup users = Table({{"admin", "secret"}, {"guest", "other"}});
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        CLinkHandshake server(c.socketType, c.fixedUser, c.fixedUser ? "admin" : "", "secret");
        server.MakeChallenge(kChallenge);
        std::optional<CLinkRefusal> refusal = server.CheckAnswer(c.body, users);
        if (c.code < 0)
            EXPECT_FALSE(refusal) << refusal->text;
        else
            ExpectRefusal(refusal, c.code, c.text, c.sendStatus);
        EXPECT_EQ(server.GetLinkType(), c.typeAfter);

        // Not letting the password pass changes nothing but an admission into the refusal a
        // wrong password gets.
        CLinkHandshake held(c.socketType, c.fixedUser, c.fixedUser ? "admin" : "", "secret");
        held.MakeChallenge(kChallenge);
        if (c.code < 0)
            ExpectRefusal(held.CheckAnswer(c.body, users, false), kCodeBadPassword,
                          "User admin failed password", true);
        else
            ExpectRefusal(held.CheckAnswer(c.body, users, false), c.code, c.text, c.sendStatus);
    }

    // The name the client gave, also where only a fixed user is admitted.
    CLinkHandshake fixed(kLinkEngine, true, "admin", "secret");
    ExpectRefusal(fixed.CheckAnswer(AnswerBody(1, "Admin", kResponse), users), kCodeWrongUser,
                  kTextWrongUsername, true);
    EXPECT_EQ(fixed.GetAnsweredUserName(), "Admin");
}

TEST(LinkHandshakeTest, ServerWithoutLookupKnowsNoUser) {
    CLinkHandshake server(kLinkConsole, false, "", "");
    server.MakeChallenge(kChallenge);
    ExpectRefusal(server.CheckAnswer(AnswerBody(2, "admin", kResponse), {}), kCodeNoSuchUser,
                  kTextNoSuchUser, true);
    EXPECT_EQ(server.GetUserName(), "admin");
}

TEST(LinkHandshakeTest, KeysCrossBetweenClientAndServer) {
    CLinkHandshake server(kLinkConsole, false, "", "");
    CLinkHandshake client(kLinkConsole, false, "admin", "secret");
    std::string challenge = server.MakeChallenge(kChallenge);
    ASSERT_FALSE(client.TakeChallenge(std::string_view(challenge).substr(1)));
    std::string answer;
    ASSERT_FALSE(client.MakeAnswer(50000, answer));
    ASSERT_FALSE(server.CheckAnswer(std::string_view(answer).substr(1), Table({{"admin", "secret"}})));
    EXPECT_EQ(server.GetUserName(), "admin");

    EXPECT_FALSE(client.IsCipherActive());
    client.StartCipher(false);
    server.StartCipher(true);
    EXPECT_TRUE(client.IsCipherActive());

    // Client to server under MD5("3735928559adminsecret") = ee e8 1f d1 ...; its stream starts
    // ef a1 13 60 9a 32 46 70. Server to client under MD5("3735928559secretadmin") = ff cc 46
    // cf ...; its stream starts 7e d1 16 cf dc 3a 3c be.
    BYTE up[8] = {}, down[8] = {};
    client.SendCipher().Apply(up, 8);
    server.SendCipher().Apply(down, 8);
    EXPECT_EQ(std::vector<BYTE>(up, up + 8),
              (std::vector<BYTE>{0xef, 0xa1, 0x13, 0x60, 0x9a, 0x32, 0x46, 0x70}));
    EXPECT_EQ(std::vector<BYTE>(down, down + 8),
              (std::vector<BYTE>{0x7e, 0xd1, 0x16, 0xcf, 0xdc, 0x3a, 0x3c, 0xbe}));
    server.ReceiveCipher().Apply(up, 8);
    client.ReceiveCipher().Apply(down, 8);
    EXPECT_EQ(std::vector<BYTE>(up, up + 8), std::vector<BYTE>(8, 0));
    EXPECT_EQ(std::vector<BYTE>(down, down + 8), std::vector<BYTE>(8, 0));

    // A new handshake restarts both states and ends a send stream's being out of step.
    client.SetSendOutOfStep();
    client.StartCipher(false);
    EXPECT_FALSE(client.IsSendOutOfStep());
    BYTE again = 0;
    client.SendCipher().Apply(&again, 1);
    EXPECT_EQ(again, 0xef);
    client.StopCipher();
    EXPECT_FALSE(client.IsCipherActive());
}

TEST(LinkHandshakeTest, ChallengesAreRandomDecimalNumbers) {
    std::set<std::string> seen;
    for (int n = 0; n < 8; ++n) {
        std::string text = CLinkHandshake::NewChallengeText();
        ASSERT_FALSE(text.empty());
        ASSERT_LE(text.size(), 10u);
        EXPECT_EQ(text.find_first_not_of("0123456789"), std::string::npos) << text;
        EXPECT_EQ(std::to_string(std::strtoull(text.c_str(), nullptr, 10)), text);
        EXPECT_LE(std::strtoull(text.c_str(), nullptr, 10), 0xFFFFFFFFull);
        seen.insert(text);
    }
    EXPECT_GT(seen.size(), 1u);

    CLinkHandshake server(kLinkConsole, false, "", "");
    std::string frame = server.MakeChallenge();
    EXPECT_EQ(frame, CLinkHandshake::ChallengeFrame(server.GetChallenge()));
}

TEST(LinkHandshakeTest, SameTextComparesWholeTexts) {
    EXPECT_TRUE(CLinkHandshake::SameText("", ""));
    EXPECT_TRUE(CLinkHandshake::SameText("abc", "abc"));
    EXPECT_FALSE(CLinkHandshake::SameText("abc", "abd"));
    EXPECT_FALSE(CLinkHandshake::SameText("abc", "ABC"));
    EXPECT_FALSE(CLinkHandshake::SameText("abc", "ab"));
    EXPECT_FALSE(CLinkHandshake::SameText("ab", "abc"));
    EXPECT_FALSE(CLinkHandshake::SameText(std::string_view("ab\0", 3), "ab"));
    EXPECT_FALSE(CLinkHandshake::SameText("", "a"));
}

}  // namespace
