#include "engine/framework/Machine.h"

#include "engine/access/Location.h"
#include "engine/framework/FrameworkFormat.h"
#include "foundation/Archive.h"
#include "foundation/ScopedLock.h"
#include "support/ArchiveHelpers.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

class MachineTest : public FrameworkTest {
protected:
    CRef<CCountingSession> NewSession(const std::string& address, BOOL remoteSide = FALSE) {
        return CRef<CCountingSession>::Adopt(new CCountingSession(address, remoteSide));
    }
    CRef<CMachine> Machine(const std::string& address) {
        return CRef<CMachine>(dynamic_cast<CMachine*>(m_engine->GetMachineMap().FindMachine(address)));
    }
    void AddLocation(const std::string& pattern, const std::string& user) {
        ASSERT_TRUE(m_engine->GetLocations().AddLocation(new CLocation(pattern, user)));
    }
    // The engine timer's walk over every machine.
    void TimerWalk() { m_engine->Tick(); }
};

TEST_F(MachineTest, ANewMachineTakesTheLocationsUserOrGuestAndIsAnnouncedAfterItsLevel) {
    AddLocation("192.168.1.*", "bob");
    AddLocation("192.168.2.*", "Guest");

    auto unknown = NewSession("10.0.0.5");
    auto assumed = NewSession("192.168.1.20");
    auto guest = NewSession("192.168.2.30");
    ASSERT_TRUE(m_engine->RegisterSession(unknown.Get()));
    ASSERT_TRUE(m_engine->RegisterSession(assumed.Get()));
    ASSERT_TRUE(m_engine->RegisterSession(guest.Get()));

    EXPECT_EQ(m_console.Messages(), (Strings{
                                        "72|10.0.0.5|Guest|0",
                                        "71|10.0.0.5|Guest|0",
                                        "72|192.168.1.20|bob|1",
                                        "71|192.168.1.20|bob|1",
                                        "72|192.168.2.30|Guest|1",
                                        "72|192.168.2.30|Guest|0",
                                        "71|192.168.2.30|Guest|0",
                                    }));
    EXPECT_EQ(unknown->GetUserName(), "Guest");
    EXPECT_EQ(unknown->GetLogonLevel(), 0);
    EXPECT_EQ(assumed->GetUserName(), "bob");
    EXPECT_EQ(assumed->GetLogonLevel(), 1);
    EXPECT_EQ(guest->GetLogonLevel(), 0);
    EXPECT_EQ(Machine("192.168.1.20")->GetUserName(), "bob");
    EXPECT_EQ(Machine("192.168.1.20")->GetLogonState(), 1);
    EXPECT_EQ(assumed->GetMachine().Get(), Machine("192.168.1.20").Get());
}

TEST_F(MachineTest, SessionsOfOneAddressShareTheMachineAndAreNumberedInOrder) {
    auto first = NewSession("10.0.0.5");
    auto second = NewSession("10.0.0.5");
    ASSERT_TRUE(m_engine->RegisterSession(first.Get()));
    m_console.Clear();
    ASSERT_TRUE(m_engine->RegisterSession(second.Get()));

    EXPECT_TRUE(m_console.Messages().empty());
    EXPECT_NE(first->GetSessionId(), 0u);
    EXPECT_EQ(second->GetSessionId(), first->GetSessionId() + 1);
    CRef<CMachine> machine = Machine("10.0.0.5");
    ASSERT_TRUE(machine);
    EXPECT_EQ(machine->GetSessionCount(), 2u);
    EXPECT_EQ(machine->FindSession(second->GetSessionId()), second.Get());

    // Admitted again, a session keeps its number.
    const DWORD id = first->GetSessionId();
    ASSERT_TRUE(m_engine->RegisterSession(first.Get()));
    EXPECT_EQ(first->GetSessionId(), id);
    EXPECT_EQ(machine->GetSessionCount(), 2u);
}

TEST_F(MachineTest, TerminateActsOnceBooksTheTrafficAndRemovesTheLastSessionsMachine) {
    FakeClock clock;
    CUser& bob = AddUser("bob");
    AddLocation("192.168.1.*", "bob");
    auto relay = NewSession("192.168.1.20", TRUE);
    auto plain = NewSession("192.168.1.20", FALSE);
    ASSERT_TRUE(m_engine->RegisterSession(relay.Get()));
    ASSERT_TRUE(m_engine->RegisterSession(plain.Get()));
    relay->clientSent = 10;
    relay->clientReceived = 20;
    relay->remoteSent = 30;
    relay->remoteReceived = 40;
    plain->clientSent = 1;
    plain->clientReceived = 2;
    plain->remoteSent = 3;  // not booked: no remote side
    plain->remoteReceived = 4;
    m_console.Clear();
    FakeClock::Advance(7000);

    relay->Terminate(0);
    relay->Terminate(5);
    EXPECT_EQ(relay->EndCodes(), (std::vector<int>{0}));
    EXPECT_EQ(relay->GetTerminateCount(), 2);
    EXPECT_FALSE(relay->GetMachine());
    ASSERT_TRUE(Machine("192.168.1.20"));

    plain->Terminate(3);
    EXPECT_EQ(plain->EndCodes(), (std::vector<int>{3}));
    EXPECT_FALSE(Machine("192.168.1.20"));

    const std::string relayId = std::to_string(relay->GetSessionId());
    const std::string plainId = std::to_string(plain->GetSessionId());
    EXPECT_EQ(m_console.Messages(), (Strings{
                                        "76|192.168.1.20|" + relayId + "|10 20 30 40",
                                        "76|192.168.1.20|" + plainId + "|1 2 0 0",
                                        "73|192.168.1.20|7|",
                                    }));
    EXPECT_EQ(bob.GetCounter(CUser::ClientSendTraffic), 11u);
    EXPECT_EQ(bob.GetCounter(CUser::ClientRecvTraffic), 22u);
    EXPECT_EQ(bob.GetCounter(CUser::NonClientSendTraffic), 30u);
    EXPECT_EQ(bob.GetCounter(CUser::NonClientRecvTraffic), 40u);
    EXPECT_EQ(bob.GetCounter(CUser::TimeOnLine), 7u);
}

TEST_F(MachineTest, AMachineWhoseUserIsNotInTheDatabaseReportsZeros) {
    AddLocation("192.168.1.*", "ghost");
    auto session = NewSession("192.168.1.20", TRUE);
    ASSERT_TRUE(m_engine->RegisterSession(session.Get()));
    session->clientSent = 10;
    session->remoteSent = 30;
    m_console.Clear();

    session->Terminate(0);

    EXPECT_EQ(m_console.Messages(),
              (Strings{"76|192.168.1.20|" + std::to_string(session->GetSessionId()) + "|0 0 0 0",
                       "73|192.168.1.20|0|"}));
}

TEST_F(MachineTest, DeletingAMachineEndsItsSessionsWithMinusOneAndNoSessionNotices) {
    FakeClock clock;
    AddUser("Guest", "");
    auto first = NewSession("10.0.0.5");
    auto second = NewSession("10.0.0.5");
    ASSERT_TRUE(m_engine->RegisterSession(first.Get()));
    ASSERT_TRUE(m_engine->RegisterSession(second.Get()));
    first->clientSent = 100;
    m_console.Clear();
    FakeClock::Advance(3000);

    m_engine->RemoveMachine("10.0.0.5");

    EXPECT_EQ(first->EndCodes(), (std::vector<int>{-1}));
    EXPECT_EQ(second->EndCodes(), (std::vector<int>{-1}));
    EXPECT_EQ(m_console.Messages(), (Strings{"73|10.0.0.5|3|"}));
    EXPECT_EQ(m_engine->FindUser("Guest", FALSE) != nullptr, true);
    EXPECT_EQ(dynamic_cast<CUser*>(m_engine->FindUser("Guest", FALSE))->GetCounter(CUser::ClientSendTraffic),
              100u);
    // A Terminate arriving afterwards finds the session ended and reaches no machine.
    first->Terminate(2);
    EXPECT_EQ(first->EndCodes(), (std::vector<int>{-1}));
    EXPECT_FALSE(first->GetMachine());
    EXPECT_FALSE(Machine("10.0.0.5"));
}

TEST_F(MachineTest, TheTimerWalkEndsOnlySessionsIdleLongerThanTheirTimeOut) {
    FakeClock clock;
    auto idle = NewSession("10.0.0.5");
    auto busy = NewSession("10.0.0.5");
    auto untimed = NewSession("10.0.0.6");
    idle->SetSessionTimeout(TRUE, 60);
    busy->SetSessionTimeout(TRUE, 60);
    untimed->SetSessionTimeout(FALSE, 1);
    for (auto* s : {idle.Get(), busy.Get(), untimed.Get()})
        ASSERT_TRUE(m_engine->RegisterSession(s));

    FakeClock::Advance(60000);  // exactly at the deadline: not yet past it
    TimerWalk();
    EXPECT_TRUE(idle->EndCodes().empty());

    busy->clientReceived = 512;  // traffic since the last walk moves the deadline
    FakeClock::Advance(1);
    TimerWalk();
    EXPECT_EQ(idle->EndCodes(), (std::vector<int>{2}));
    EXPECT_TRUE(busy->EndCodes().empty());
    EXPECT_TRUE(untimed->EndCodes().empty());

    FakeClock::Advance(60000);
    TimerWalk();
    EXPECT_TRUE(busy->EndCodes().empty());
    FakeClock::Advance(1);
    TimerWalk();
    EXPECT_EQ(busy->EndCodes(), (std::vector<int>{2}));
    EXPECT_FALSE(Machine("10.0.0.5"));

    FakeClock::Advance(24ull * 3600 * 1000);
    TimerWalk();
    EXPECT_TRUE(untimed->EndCodes().empty());
    ASSERT_TRUE(Machine("10.0.0.6"));
}

TEST_F(MachineTest, ASessionEndedOnTheWalkersThreadCanRemoveTheMachineMidWalk) {
    FakeClock clock;
    std::vector<CRef<CCountingSession>> sessions;
    for (int i = 0; i < 5; ++i) {
        sessions.push_back(NewSession("10.0.0.5"));
        sessions.back()->SetSessionTimeout(TRUE, 1);
        ASSERT_TRUE(m_engine->RegisterSession(sessions.back().Get()));
    }
    FakeClock::Advance(1001);
    TimerWalk();
    for (const auto& session : sessions)
        EXPECT_EQ(session->EndCodes(), (std::vector<int>{2}));
    EXPECT_FALSE(Machine("10.0.0.5"));
    EXPECT_EQ(m_console.Messages(73).size(), 1u);
}

TEST_F(MachineTest, SetLogonStateTellsTheConsolesAndTheArchiveFormCarriesTheRecord) {
    auto session = NewSession("10.1.2.3");
    ASSERT_TRUE(m_engine->RegisterSession(session.Get()));
    CRef<CMachine> machine = Machine("10.1.2.3");
    m_console.Clear();
    machine->SetUserName("carol");
    machine->SetLogonState(2);
    EXPECT_EQ(m_console.Messages(), (Strings{"72|10.1.2.3|carol|2"}));

    const std::vector<BYTE> bytes = StoreBytes([&](CArchive& ar) { machine->Serialize(ar); });
    const DWORD time = static_cast<DWORD>(machine->GetConnectTime());
    const std::vector<BYTE> expected = {
        8, '1', '0', '.', '1', '.', '2', '.', '3',  // address
        5, 'c', 'a', 'r', 'o', 'l',                 // user
        2, 0, 0, 0,                                 // level
        BYTE(time), BYTE(time >> 8), BYTE(time >> 16), BYTE(time >> 24),
    };
    EXPECT_EQ(bytes, expected);

    CRef<CMachine> copy = CRef<CMachine>::Adopt(new CMachine);
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { copy->Serialize(ar); }));
    EXPECT_EQ(copy->GetAddressText(), "10.1.2.3");
    EXPECT_EQ(copy->GetUserName(), "carol");
    EXPECT_EQ(copy->GetLogonState(), 2);
    EXPECT_EQ(copy->GetConnectTime(), machine->GetConnectTime());
}

}  // namespace
