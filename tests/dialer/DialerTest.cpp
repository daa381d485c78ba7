// The dialer's stored forms, and a line dialled, dropped and reset through the simulated
// dial-up library, with the engine's dialer thread.

#include "dialer/Dialer.h"

#include "engine/access/Recipient.h"
#include "foundation/RegistryStore.h"
#include "foundation/X1SocketException.h"
#include "platform/ras/sim/RasSimControl.h"
#include "support/ArchiveHelpers.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dlfcn.h>
#include <fstream>
#include <thread>

namespace {

// A password whose first byte scrambles to NUL: byte i is XORed with 2 * i + 2.
const std::string kPassword("\x02pw", 3);

CDialerProfile* MakeProfile(const std::string& name, const std::string& entry) {
    auto* profile = new CDialerProfile(name);
    CDialerProfile::Settings s;
    s.autoDisconnect = 0;
    s.disconnectAfter = 60;
    s.profileName = entry;
    s.username = "alice";
    s.password = kPassword;
    s.retries = 2;
    profile->SetSettings(s);
    profile->GetAccessRights().AddRecipient(new CRecipient());
    return profile;
}

std::vector<std::uint8_t> Image(CObject& object) {
    return StoreBytes([&](CArchive& ar) { object.Serialize(ar); });
}

Bytes Text(const std::string& text) { return Bytes().Byte(static_cast<std::uint8_t>(text.size())).Text(text); }

class DialerTest : public FrameworkTest {
protected:
    CDialer& Dialer() { return m_engine->GetDialer(); }
};

TEST_F(DialerTest, ProfileFormsKeepEveryByteOfThePassword) {
    CRef<CDialerProfile> profile = CRef<CDialerProfile>::Adopt(MakeProfile("Office", "ISP"));
    const Bytes expected = Bytes()
                               .Append(Text("Office"))
                               .Append(Text(""))
                               .Dword(1)
                               .Dword(0)
                               .Dword(60)
                               .Append(Text("ISP"))
                               .Append(Text("alice"))
                               .Append(Text(std::string("\0tq", 3)))
                               .Append(Text(""))
                               .Dword(2)
                               .Append(Text(""));
    const std::vector<std::uint8_t> image = Image(*profile);
    const std::vector<std::uint8_t> right = Image(profile->GetAccessRights());
    ASSERT_EQ(image.size(), expected.Size() + right.size()) << HexDump(image);
    EXPECT_TRUE(std::equal(expected.Get().begin(), expected.Get().end(), image.begin())) << HexDump(image);
    EXPECT_TRUE(std::equal(right.begin(), right.end(), image.begin() + expected.Size()));

    CDialerProfile loaded;
    EXPECT_TRUE(LoadBytes(image, [&](CArchive& ar) { loaded.Serialize(ar); }));
    EXPECT_EQ(loaded.GetName(), "Office");
    EXPECT_EQ(loaded.GetSettings().password, kPassword);
    EXPECT_EQ(Image(loaded), image);

    ASSERT_TRUE(profile->SaveToRegistry("Dialer\\Profiles\\Office"));
    EXPECT_EQ(RegReadString("Dialer\\Profiles\\Office", "Password", ""), std::string("\0tq", 3));
    CDialerProfile reloaded;
    reloaded.LoadFromRegistry("Dialer\\Profiles\\Office");
    EXPECT_EQ(Image(reloaded), image);

    CDialerProfile fresh;
    EXPECT_EQ(fresh.GetName(), "New Dialer Profile");
    EXPECT_EQ(fresh.GetAccessRights().GetDescription(), "Users can use this dialer account");
    EXPECT_EQ(fresh.GetAccessRights().GetIncludeDefaultRights(), 0u);
    EXPECT_EQ(fresh.GetDescriptionText(), "Account  at  ");
    CDialerProfile::Settings off;
    off.autoConnect = 0;
    off.username = "bob";
    off.profileName = "ISP";
    fresh.SetSettings(off);
    EXPECT_EQ(fresh.GetDescriptionText(), "Account bob at ISP (disabled)");
}

TEST_F(DialerTest, LoadsReplaceProfilesByNameAndRefuseWhatTheStoreCannotKeep) {
    CDialer& dialer = Dialer();
    dialer.AddProfile(MakeProfile("Home", "ISP"));
    dialer.AddProfile(MakeProfile("Office", "ISP"));
    dialer.SetLocalSites({"intranet", "10.1."});
    const CRef<CDialerProfile> office = dialer.FindProfile("Office");

    // A console's image: Office with new settings, Travel new, Home gone.
    CDialer console;
    console.AddProfile(MakeProfile("Office", "Other ISP"));
    console.AddProfile(MakeProfile("Travel", "ISP"));
    console.SetLocalSites({"lan"});
    console.SetTimerInterval(5);
    const std::vector<std::uint8_t> image = Image(console);
    // The profile count is a 32-bit word.
    EXPECT_EQ(std::vector<std::uint8_t>(image.begin(), image.begin() + 4), Bytes().Dword(2).Get());

    const std::vector<std::uint8_t> before = Image(dialer);
    const auto load = [&](const std::vector<std::uint8_t>& bytes) {
        return LoadFailure(Bytes().Text(std::string(bytes.begin(), bytes.end())),
                           [&](CArchive& ar) { dialer.Serialize(ar); });
    };
    EXPECT_EQ(load(std::vector<std::uint8_t>(image.begin(), image.end() - 1)), CArchiveException::endOfFile);
    CDialer unsafe;
    unsafe.AddProfile(MakeProfile("..", "ISP"));
    EXPECT_EQ(load(Image(unsafe)), CArchiveException::generic);
    unsafe.RemoveProfile("..");
    unsafe.AddProfile(MakeProfile("Twin", "ISP"));
    unsafe.AddProfile(MakeProfile("twin", "ISP"));
    EXPECT_EQ(load(Image(unsafe)), CArchiveException::generic);
    EXPECT_EQ(Image(dialer), before) << "a refused load changes nothing";

    ASSERT_TRUE(LoadBytes(image, [&](CArchive& ar) { dialer.Serialize(ar); }));
    EXPECT_EQ(dialer.FindProfile("Office").Get(), office.Get()) << "the same profile stays";
    EXPECT_EQ(office->GetSettings().profileName, "Other ISP");
    EXPECT_FALSE(dialer.FindProfile("Home"));
    EXPECT_TRUE(dialer.FindProfile("Travel"));
    EXPECT_EQ(dialer.GetLocalSites(), std::vector<std::string>{"lan"});
    EXPECT_EQ(dialer.GetTimerInterval(), 5u);
    EXPECT_EQ(Image(dialer), image);

    // The store: Home's key goes, the others are written; a reload gives the same dialer.
    ASSERT_TRUE(CDialer().SaveToRegistry("Dialer"));
    dialer.AddProfile(MakeProfile("Home", "ISP"));
    ASSERT_TRUE(dialer.SaveToRegistry("Dialer"));
    dialer.RemoveProfile("Home");
    ASSERT_TRUE(dialer.SaveToRegistry("Dialer"));
    EXPECT_EQ(RegEnumSubKeys("Dialer\\Profiles"), (std::vector<std::string>{"Office", "Travel"}));
    CDialer reloaded;
    reloaded.LoadFromRegistry("Dialer");
    EXPECT_EQ(Image(reloaded), image);
    EXPECT_EQ(reloaded.GetRasdialTimeout(), 90000u);
}

class DialerLineTest : public DialerTest {
protected:
    void SetUp() override {
        DialerTest::SetUp();
        setenv("NORVANE_RAS_LIBRARY", NORVANE_RAS_SIM, 1);
        std::ofstream(m_logs.Path() + "/phonebook") << "[ISP]\ndevice_type = isdn\n"
                                                       "device_name = Simulated ISDN\ndelay = 5\n"
                                                       "linger = 0\n";
        setenv("NORVANE_RASSIM_CONFIG", (m_logs.Path() + "/phonebook").c_str(), 1);
        void* sim = dlopen(NORVANE_RAS_SIM, RTLD_NOW);
        ASSERT_NE(sim, nullptr);
        drop = reinterpret_cast<decltype(drop)>(dlsym(sim, "RasSimDropLine"));
        lastDial = reinterpret_cast<decltype(lastDial)>(dlsym(sim, "RasSimGetLastDialParams"));
        ASSERT_TRUE(drop && lastDial);
    }
    void TearDown() override {
        DialerTest::TearDown();
        unsetenv("NORVANE_RAS_LIBRARY");
        unsetenv("NORVANE_RASSIM_CONFIG");
    }

    decltype(&RasSimDropLine) drop = nullptr;
    decltype(&RasSimGetLastDialParams) lastDial = nullptr;
};

TEST_F(DialerLineTest, DialsOnRequestSeesADroppedLineAndResetsIt) {
    CDialer& dialer = Dialer();
    dialer.SetLogOptions(3);
    dialer.AddProfile(MakeProfile("Office", "ISP"));
    ASSERT_TRUE(dialer.Start());
    ASSERT_TRUE(WaitFor([&] { return dialer.IsRasAvailable(); }));
    EXPECT_EQ(dialer.GetPhonebookEntries(), std::vector<std::string>{"ISP"});
    EXPECT_FALSE(dialer.RequestDialOrHangUp("Nobody", 1));
    const CRef<CDialerProfile> office = dialer.FindProfile("Office");
    EXPECT_FALSE(office->IsOnLine());

    ASSERT_TRUE(dialer.RequestDialOrHangUp("Office", 1));
    ASSERT_TRUE(WaitFor([&] {
        return office->GetStatusText() == "On line to ISP" && !dialer.IsDialInProgress();
    }));
    EXPECT_TRUE(office->IsOnLine());
    EXPECT_EQ(office->GetLineState(), 1u);
    RASDIALPARAMSA params{};
    ASSERT_EQ(lastDial("ISP", &params), 0u);
    EXPECT_STREQ(params.szUserName, "alice");
    EXPECT_EQ(std::string(params.szPassword), kPassword);
    EXPECT_STREQ(params.szDomain, "*");
    EXPECT_STREQ(params.szCallbackNumber, "*");

    ASSERT_EQ(drop("ISP", ERROR_REMOTE_DISCONNECTION), 0u);
    EXPECT_FALSE(office->IsOnLine());
    EXPECT_EQ(office->GetLineState(), 2u);
    ASSERT_TRUE(dialer.RequestDialOrHangUp("Office", 0));
    ASSERT_TRUE(WaitFor([&] { return office->GetStatusText() == "Disconnected from ISP"; }));
    EXPECT_FALSE(office->IsOnLine());
    // A synchronous dial shows no states on the way; the stop hangs its line up.
    dialer.SetUseSynchronousRasdial(1);
    ASSERT_TRUE(dialer.RequestDialOrHangUp("Office", 1));
    ASSERT_TRUE(WaitFor([&] {
        return office->GetStatusText() == "On line to ISP" && !dialer.IsDialInProgress();
    }));

    // Every status line below went to the consoles too, with the line state of its moment.
    const std::vector<std::string> notices = m_console.Messages(63);
    EXPECT_EQ(notices.size(), 17u);
    for (const char* notice : {"63|Office|0|On line to ISP", "63|Office|2|The remote computer closed the connection.",
                               "63|Office|0|Disconnected from ISP"})
        EXPECT_NE(std::find(notices.begin(), notices.end(), notice), notices.end()) << notice;
    dialer.HangUpAll();
    EXPECT_EQ(WithoutTimes(LogLines("Dialer")),
              (std::vector<std::string>{
                  "Debug:\tRefreshing OS phonebook entries", "Debug:\tDialer thread started",
                  "Debug:\tOffice: Off-Line", "Debug:\tOffice: Dialling ISP", "Dialling ISP",
                  "Debug:\tOffice: Opening Port", "Debug:\tOffice: Port Opened",
                  "Debug:\tOffice: Connecting (ISDN) to Simulated ISDN", "Debug:\tOffice: Connected",
                  "Debug:\tOffice: All devices connected",
                  "Debug:\tOffice: Verifying username and password",
                  "Debug:\tOffice: Registering your computer on the network",
                  "Debug:\tOffice: Calculating Link Speed", "Debug:\tOffice: On line to ISP",
                  "Debug:\tDial (Office) succeeded",
                  "Debug:\tOffice: The remote computer closed the connection.", "Resetting ISP",
                  "Debug:\tOffice: Disconnecting from ISP",
                  "Debug:\tCould not find connection to reset (Office) try 2",
                  "Debug:\tCould not find connection to reset (Office) try 3",
                  "Debug:\tOffice: Disconnected from ISP", "Debug:\tOffice: Off-Line",
                  "Debug:\tOffice: Dialling ISP", "Dialling ISP", "Debug:\tDialing Synchronous Office",
                  "Debug:\tOffice: On line to ISP", "Debug:\tDial (Office) succeeded",
                  "Debug:\tHanging up profile Office", "Disconnecting from ISP",
                  "Debug:\tOffice: Disconnecting from ISP",
                  "Debug:\tCould not find connection to hangup (Office) try 2",
                  "Debug:\tCould not find connection to hangup (Office) try 3",
                  "Debug:\tOffice: Disconnected from ISP", "Debug:\tDialer thread stopping"}));
}

TEST_F(DialerLineTest, SessionsNeedingTheLineAtOnceShareOneDialAndTheIdleLineIsHungUp) {
    AddUser("Guest");
    CDialer& dialer = Dialer();
    dialer.SetLogOptions(3);
    dialer.SetTimerInterval(1);
    CDialerProfile* office = MakeProfile("Office", "ISP");
    CDialerProfile::Settings s = office->GetSettings();
    s.autoDisconnect = 1;
    s.disconnectAfter = 0;
    office->SetSettings(s);
    dialer.AddProfile(office);
    ASSERT_TRUE(dialer.Start());
    ASSERT_TRUE(WaitFor([&] { return dialer.IsRasAvailable(); }));

    std::vector<CRef<CCountingSession>> sessions;
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
        sessions.push_back(CRef<CCountingSession>::Adopt(new CCountingSession("10.0.0.5")));
        ASSERT_TRUE(m_engine->RegisterSession(sessions.back().Get()));
        threads.emplace_back([&dialer, session = sessions.back()] {
            EXPECT_FALSE(ThrowsPtr<X1SocketException>([&] { dialer.CheckDialFirst(session.Get()); }));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    // No session's socket is on the line's address: the idle check hangs it up.
    ASSERT_TRUE(WaitFor([&] { return office->GetStatusText() == "Disconnected from ISP"; }));
    dialer.HangUpAll();
    const std::vector<std::string> lines = WithoutTimes(LogLines("Dialer"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Dialing profile Office"), 1);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
                  return line.rfind("Debug:\tProfile Office on line and grants access for ", 0) == 0;
              }),
              2);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Debug:\tTiming out profile Office"), 1);
}

}  // namespace
