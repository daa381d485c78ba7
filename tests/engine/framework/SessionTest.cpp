#include "engine/framework/Session.h"

#include "engine/LogFile.h"
#include "engine/access/Location.h"
#include "engine/framework/HandlerGuard.h"
#include "engine/framework/Machine.h"
#include "foundation/Currency.h"
#include "foundation/NVDataObject.h"
#include "foundation/X1SocketException.h"
#include "platform/framework/Exception.h"
#include "support/ArchiveHelpers.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <new>
#include <optional>
#include <cstdio>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

class SessionTest : public FrameworkTest {
protected:
    CRef<CCountingSession> Admitted(const std::string& address, BOOL remoteSide = FALSE) {
        auto session = CRef<CCountingSession>::Adopt(new CCountingSession(address, remoteSide));
        EXPECT_TRUE(m_engine->RegisterSession(session.Get()));
        return session;
    }
    std::string Id(const CSession& session) {
        char text[16];
        std::snprintf(text, sizeof text, "%010u", session.GetSessionId());
        return text;
    }
};

TEST_F(SessionTest, TheEndIsLoggedWithTrafficAndExitCodeInTheServiceLogAndTheAudit) {
    FakeClock clock;
    CUser& bob = AddUser("bob");
    bob.SetAuditUser(TRUE);
    bob.SetAuditOptions(0xFFFF);
    bob.OpenAuditFile();
    ASSERT_TRUE(m_engine->GetLocations().AddLocation(new CLocation("192.168.1.*", "bob")));

    auto session = Admitted("192.168.1.20", TRUE);
    session->SetLoggingValues(0xFFFF, CLogFile::Open(LogFolder(), "Web"));
    session->SetDescription("GET http://example.com/");
    session->clientSent = 1;
    session->clientReceived = 2;
    session->remoteSent = 3;
    session->remoteReceived = 4;
    FakeClock::Advance(9500);
    session->Terminate(2);

    const std::string id = Id(*session);
    EXPECT_EQ(WithoutTimes(LogLines("Web")),
              (Strings{"192.168.1.20\tbob\t" + id + "\tTraffic\t 1\t2\t3\t4\t9s",
                       "192.168.1.20\tbob\t" + id + "\tTerminated exit code 2"}));
    EXPECT_EQ(WithoutTimes(AuditLines("bob")),
              (Strings{"192.168.1.20\t" + id + "\tTraffic\t 1\t2\t3\t4\t9s",
                       "192.168.1.20\t" + id + "\tTerminated exit code 2"}));
}

TEST_F(SessionTest, AGuardedHandlerNeverThrowsAndWritesTheLineOfWhatItThrew) {
    using EKind = SHandlerFailure::EKind;
    auto session = Admitted("10.0.0.9");
    session->SetLoggingValues(0xFFFF, CLogFile::Open(LogFolder(), "Guard"));
    const SHandlerLines lines{"Caught socket exception %s", "Caught other exception"};
    struct Case {
        std::function<void()> handler;
        std::optional<EKind> kind;  // none: the handler returned
        int code;
        std::string text;
        const char* line;  // the line's text after "Error:\t", or none
    };
    const Case cases[] = {
        {[] {}, std::nullopt, 0, "", nullptr},
        {[] { throw new X1SocketException(10054, "reset by peer"); }, EKind::socket, 10054,
         "reset by peer", "Caught socket exception reset by peer"},
        {[] { throw new CNotSupportedException(); }, EKind::library, 0, "",
         "Caught other exception"},
        {[] { throw std::bad_alloc(); }, EKind::memory, 0, "", "Caught other exception"},
        {[] { throw 7; }, EKind::unknown, 0, "", "Caught other exception"},
    };
    Strings expected;
    for (const Case& c : cases) {
        const std::optional<SHandlerFailure> failure = RunGuarded(*session, lines, c.handler);
        ASSERT_EQ(failure.has_value(), c.kind.has_value());
        if (failure) {
            EXPECT_EQ(failure->kind, *c.kind);
            EXPECT_EQ(failure->code, c.code);
            EXPECT_EQ(failure->text, c.text);
        }
        if (c.line)
            expected.push_back("10.0.0.9\tGuest\t" + Id(*session) + "\tError:\t" + c.line);
    }
    // Only socket exceptions pass the narrower guard; anything else goes on to the caller's.
    EXPECT_TRUE(CatchSocketFailure([] { throw new X1SocketException(10060, "timed out"); }));
    EXPECT_THROW(CatchSocketFailure([] { throw std::bad_alloc(); }), std::bad_alloc);
    EXPECT_EQ(WithoutTimes(LogLines("Guard")), expected);
}

TEST_F(SessionTest, TheDefaultOptionsLogOnlyTrafficAndAMachineDeletionWritesMinusOneAsUnsigned) {
    auto session = Admitted("10.0.0.7");
    session->SetLoggingValues(219, CLogFile::Open(LogFolder(), "Web"));
    session->WriteServiceLog(4, "%s", "");  // Created: not in 219
    m_engine->RemoveMachine("10.0.0.7");
    EXPECT_EQ(WithoutTimes(LogLines("Web")),
              (Strings{"10.0.0.7\tGuest\t" + Id(*session) + "\tTraffic\t 0\t0\t0\t0\t0s"}));

    auto other = Admitted("10.0.0.8");
    other->SetLoggingValues(0xFFFF, CLogFile::Open(LogFolder(), "Other"));
    m_engine->RemoveMachine("10.0.0.8");
    const Strings lines = WithoutTimes(LogLines("Other"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "10.0.0.8\tGuest\t" + Id(*other) + "\tTerminated exit code 4294967295");
}

TEST_F(SessionTest, AuditLinesNeedAnAuditedUserWithTheBitAndAFile) {
    CUser& carol = AddUser("carol");
    carol.SetAuditUser(TRUE);
    carol.OpenAuditFile();
    carol.SetAuditUser(FALSE);  // the file stays open; the flag alone silences the audit
    carol.SetAuditOptions(16);
    ASSERT_TRUE(m_engine->GetLocations().AddLocation(new CLocation("10.*", "carol")));
    auto session = Admitted("10.1.1.1");
    session->SetDescription("relay");

    session->WriteAudit(16, "%s", "");  // AuditUser is off
    carol.SetAuditUser(TRUE);
    session->WriteAudit(32, "%s", "");  // not in the options
    session->WriteAudit(16, "%s", "");
    EXPECT_EQ(WithoutTimes(AuditLines("carol")),
              (Strings{"10.1.1.1\t" + Id(*session) + "\tCreated\trelay"}));

    auto guest = Admitted("172.16.0.1");  // "Guest" is not in this database
    guest->WriteAudit(16, "%s", "");
}

TEST_F(SessionTest, DescriptionsFromTheNetworkHaveTheirControlCharactersEscaped) {
    auto session = Admitted("10.0.0.9");
    session->SetDescription("GET /a\r\nX-Forged: 1\x7f\tz");
    EXPECT_EQ(session->GetDescription(), "GET /a\\x0D\\x0AX-Forged: 1\\x7F\\x09z");
    session->SetDescription(std::string(5000, 'a') + "\n");
    EXPECT_EQ(session->GetDescription().size(), 2047u);
}

TEST_F(SessionTest, GetValueAnswersTheSessionAndItsUsersVariables) {
    CUser& dave = AddUser("dave");
    dave.SetCounter(CUser::ClientSendTraffic, 6);
    dave.SetCounter(CUser::ClientRecvTraffic, 7);
    dave.SetCounter(CUser::NonClientSendTraffic, 8);
    dave.SetCounter(CUser::NonClientRecvTraffic, 9);
    dave.SetCounter(CUser::TimeOnLine, 10);
    dave.SetAmount(CUser::OpeningBalance, CCurrency::FromUnits(-12, -5000));
    ASSERT_TRUE(m_engine->GetLocations().AddLocation(new CLocation("10.2.*", "dave")));
    auto session = Admitted("10.2.3.4");

    auto value = [&](DWORD id) {
        CNVDataObject data(std::string("untouched"));
        session->GetValue(id, data);
        return data;
    };
    EXPECT_EQ(value(0).DataType, CNVDataObject::TypeString);
    EXPECT_EQ(value(0).strData, "10.2.3.4");
    EXPECT_EQ(value(1).DataType, CNVDataObject::TypeDWORD);
    EXPECT_EQ(value(1).dwData, 40000u);
    EXPECT_EQ(value(2).DataType, CNVDataObject::TypeInt);
    EXPECT_EQ(value(3).nData, 0);
    EXPECT_EQ(value(4).strData, "dave");
    EXPECT_EQ(value(5).DataType, CNVDataObject::TypeInt);
    EXPECT_EQ(value(5).nData, 1);
    for (DWORD id = 6; id <= 10; ++id) {
        EXPECT_EQ(value(id).DataType, CNVDataObject::TypeDWORD);
        EXPECT_EQ(value(id).dwData, id);
    }
    EXPECT_EQ(value(11).DataType, CNVDataObject::TypeInt);
    EXPECT_EQ(value(11).nData, -12);  // -12.5 less no charges, toward zero
    EXPECT_EQ(value(12).DataType, CNVDataObject::TypeInt);
    EXPECT_EQ(value(99).nData, 0);

    auto stranger = Admitted("172.16.0.1");  // "Guest" is not a user here
    for (DWORD id = 6; id <= 11; ++id) {
        CNVDataObject data(std::string("untouched"));
        stranger->GetValue(id, data);
        EXPECT_EQ(data.strData, "untouched");
        EXPECT_EQ(data.DataType, CNVDataObject::TypeString);
    }
}

TEST_F(SessionTest, TheArchiveFormIsIdStartDescriptionAddressAndPort) {
    auto session = Admitted("10.0.0.1");
    session->SetDescription("ab");
    const DWORD id = session->GetSessionId();
    const DWORD start = static_cast<DWORD>(session->GetStartTime());
    const std::vector<BYTE> bytes = StoreBytes([&](CArchive& ar) { session->Serialize(ar); });
    const std::vector<BYTE> expected = {
        BYTE(id), BYTE(id >> 8), BYTE(id >> 16), BYTE(id >> 24),
        BYTE(start), BYTE(start >> 8), BYTE(start >> 16), BYTE(start >> 24),
        2, 'a', 'b',
        8, '1', '0', '.', '0', '.', '0', '.', '1',
        0x40, 0x9C, 0, 0,  // 40000
    };
    EXPECT_EQ(bytes, expected);

    auto copy = CRef<CSession>::Adopt(new CSession);
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { copy->Serialize(ar); }));
    EXPECT_EQ(copy->GetSessionId(), id);
    EXPECT_EQ(copy->GetDescription(), "ab");
    EXPECT_EQ(copy->GetClientAddress(), "10.0.0.1");
    EXPECT_EQ(copy->GetClientPort(), 40000u);
    EXPECT_EQ(static_cast<DWORD>(copy->GetStartTime()), start);
}

TEST(SessionNumbers, TheCounterNeverHandsOutZeroOrTheSameNumberTwice) {
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::vector<DWORD> all;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            std::vector<DWORD> mine;
            for (int i = 0; i < 2000; ++i)
                mine.push_back(CSession::NextSessionId());
            std::lock_guard<std::mutex> lock(mutex);
            all.insert(all.end(), mine.begin(), mine.end());
        });
    }
    for (auto& thread : threads)
        thread.join();
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_NE(all.front(), 0u);
}

}  // namespace
