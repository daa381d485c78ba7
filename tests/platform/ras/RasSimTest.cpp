// The simulated dial-up library, driven through the loader as the dialer drives it.

#include "platform/ras/RasLibrary.h"
#include "platform/ras/sim/RasSimControl.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Event = std::pair<std::uint32_t, std::uint32_t>;  // state, error
using Clock = std::chrono::steady_clock;

const std::uint32_t kPath[] = {0, 1, 2, 3, 4, 5, 6, 10, 11, 12, 14, RASCS_Connected};

std::vector<Event> PathTo(std::size_t steps, std::uint32_t lastError = 0) {
    std::vector<Event> events;
    for (std::size_t i = 0; i < steps; ++i)
        events.push_back({kPath[i], i + 1 == steps ? lastError : 0});
    return events;
}

std::size_t Terminals(const std::vector<Event>& events) {
    std::size_t n = 0;
    for (const auto& [state, error] : events)
        n += error != 0 || state == RASCS_Connected || state == RASCS_Disconnected;
    return n;
}

// Records asynchronous dial events. Given the library, it also calls back into it from the
// notifier (which the library calls without its lock): queries on every event, and a hang-up
// at one state.
class Events {
public:
    explicit Events(const RasEntryPoints* ras = nullptr, std::uint32_t hangUpAt = ~0u)
        : m_ras(ras), m_hangUpAt(hangUpAt) {}
    RASDIALNOTIFIER Notifier() { return {&Events::Notify, this}; }
    // The events of `handle`, once it has `count` of them (or after 10 s).
    std::vector<Event> Of(HRASCONN handle, std::size_t count = 0) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::seconds(10), [&] { return m_events[handle].size() >= count; });
        return m_events[handle];
    }

private:
    static void Notify(void* context, HRASCONN handle, std::uint32_t state, std::uint32_t error) {
        auto* self = static_cast<Events*>(context);
        if (self->m_ras) {
            RASCONNSTATUSA status{sizeof status, 0, 0, {}, {}};
            std::uint32_t bytes = 0, count = 0;
            self->m_ras->RasGetConnectStatusA(handle, &status);
            self->m_ras->RasEnumConnectionsA(nullptr, &bytes, &count);
            if (state == self->m_hangUpAt)
                self->m_ras->RasHangUpA(handle);
        }
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_events[handle].push_back({state, error});
        self->m_cv.notify_all();
    }

    const RasEntryPoints* m_ras;
    std::uint32_t m_hangUpAt;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::map<HRASCONN, std::vector<Event>> m_events;
};

RASDIALPARAMSA Params(const char* entry, const char* user = "", const char* password = "",
                      const char* domain = "*") {
    RASDIALPARAMSA p{};
    p.dwSize = sizeof p;
    std::strcpy(p.szEntryName, entry);
    std::strcpy(p.szCallbackNumber, "*");
    std::strcpy(p.szUserName, user);
    std::strcpy(p.szPassword, password);
    std::strcpy(p.szDomain, domain);
    return p;
}

class RasSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("NORVANE_RAS_LIBRARY", NORVANE_RAS_SIM, 1);
        RasLoadResult loaded = LoadRasLibrary();
        ASSERT_EQ(loaded.status, RasLoadStatus::kLoaded) << loaded.detail;
        ras = *loaded.api;
        void* sim = dlopen(NORVANE_RAS_SIM, RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(sim, nullptr);
        stats = reinterpret_cast<decltype(stats)>(dlsym(sim, "RasSimGetStats"));
        drop = reinterpret_cast<decltype(drop)>(dlsym(sim, "RasSimDropLine"));
        lastDial = reinterpret_cast<decltype(lastDial)>(dlsym(sim, "RasSimGetLastDialParams"));
        setOutcomes = reinterpret_cast<decltype(setOutcomes)>(dlsym(sim, "RasSimSetOutcomes"));
        ASSERT_TRUE(stats && drop && lastDial && setOutcomes);
    }
    // Every test starts without lines: those a test left are hung up and waited out.
    void TearDown() override {
        for (const RASCONNA& line : Connections())
            ras.RasHangUpA(line.hrasconn);
        for (Clock::time_point start = Clock::now(); !Connections().empty();) {
            ASSERT_LT(Clock::now() - start, std::chrono::seconds(5));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        unsetenv("NORVANE_RASSIM_CONFIG");
        unsetenv("NORVANE_RAS_LIBRARY");
    }

    void UsePhonebook(const std::string& text) {
        std::string path = m_dir.Path() + "/phonebook" + std::to_string(m_files++);
        std::ofstream(path) << text;
        setenv("NORVANE_RASSIM_CONFIG", path.c_str(), 1);
    }
    std::uint32_t Dial(const RASDIALPARAMSA& params, HRASCONN& handle, Events* events = nullptr) {
        RASDIALEXTENSIONS extensions{sizeof extensions, 0x3C1, 0, 0};
        RASDIALNOTIFIER notifier = events ? events->Notifier() : RASDIALNOTIFIER{};
        return ras.RasDialA(&extensions, nullptr, &params, RAS_NOTIFIER_FUNCTION,
                            events ? &notifier : nullptr, &handle);
    }
    // The connection's state and error; {0xFFFFFFFF, result} when the query fails.
    Event Status(HRASCONN handle) {
        RASCONNSTATUSA status{};
        status.dwSize = sizeof status;
        std::uint32_t result = ras.RasGetConnectStatusA(handle, &status);
        return result ? Event{~0u, result} : Event{status.rasconnstate, status.dwError};
    }
    // The connections, by the two-call protocol (again while other threads add some).
    std::vector<RASCONNA> Connections() {
        std::vector<RASCONNA> all(1);
        for (;;) {
            all[0].dwSize = sizeof(RASCONNA);
            std::uint32_t bytes = all.size() * sizeof(RASCONNA), count = 0;
            std::uint32_t result = ras.RasEnumConnectionsA(all.data(), &bytes, &count);
            EXPECT_EQ(bytes, count * sizeof(RASCONNA));
            all.resize(std::max<std::size_t>(count, result ? 1 : 0));
            if (result != ERROR_BUFFER_TOO_SMALL) {
                EXPECT_EQ(result, 0u);
                return all;
            }
        }
    }
    RASSIMSTATS Stats(const char* entry) {
        RASSIMSTATS s{};
        EXPECT_EQ(stats(entry, &s), 0u);
        return s;
    }

    RasEntryPoints ras{};
    decltype(&RasSimGetStats) stats = nullptr;
    decltype(&RasSimDropLine) drop = nullptr;
    decltype(&RasSimGetLastDialParams) lastDial = nullptr;
    decltype(&RasSimSetOutcomes) setOutcomes = nullptr;

private:
    TempDir m_dir;
    int m_files = 0;
};

TEST_F(RasSimTest, AsyncDialWalksTheStatesAndAHungUpLineLingersBeforeItsHandleGoes) {
    UsePhonebook("[Line A]\ndevice_type = isdn\ndevice_name = Sim ISDN\nip_address = 10.64.0.2\n"
                 "server_ip_address = 10.64.0.1\ndelay = 2\nlinger = 400\n");
    Events events;
    HRASCONN handle = 0;
    ASSERT_EQ(Dial(Params("Line A"), handle, &events), 0u);
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(events.Of(handle, 12), PathTo(12));

    std::vector<RASCONNA> lines = Connections();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].hrasconn, handle);
    EXPECT_STREQ(lines[0].szEntryName, "Line A");
    EXPECT_STREQ(lines[0].szDeviceType, "isdn");
    EXPECT_STREQ(lines[0].szDeviceName, "Sim ISDN");
    EXPECT_EQ(Status(handle), Event(RASCS_Connected, 0));
    RASPPPIPA ip{sizeof ip, 0, {}, {}};
    std::uint32_t bytes = sizeof ip;
    ASSERT_EQ(ras.RasGetProjectionInfoA(handle, RASP_PppIp, &ip, &bytes), 0u);
    EXPECT_STREQ(ip.szIpAddress, "10.64.0.2");
    EXPECT_STREQ(ip.szServerIpAddress, "10.64.0.1");

    // Dialling a connected entry answers its handle at once; asynchronously with one event.
    HRASCONN again = 0, sync = 0;
    EXPECT_EQ(Dial(Params("Line A"), again, &events), 0u);
    EXPECT_EQ(again, handle);
    EXPECT_EQ(events.Of(handle, 13).back(), Event(RASCS_Connected, 0));
    EXPECT_EQ(Dial(Params("Line A"), sync), 0u);
    EXPECT_EQ(sync, handle);

    Clock::time_point hungUp = Clock::now();
    EXPECT_EQ(ras.RasHangUpA(handle), 0u);
    EXPECT_EQ(ras.RasHangUpA(handle), 0u);
    EXPECT_EQ(Status(handle), Event(RASCS_Disconnected, 0));
    EXPECT_EQ(Connections().size(), 1u);
    HRASCONN busy = 77;
    EXPECT_EQ(Dial(Params("Line A"), busy), ERROR_PORT_ALREADY_OPEN);
    EXPECT_EQ(busy, 0u);
    EXPECT_EQ(ras.RasGetProjectionInfoA(handle, RASP_PppIp, &ip, &bytes),
              ERROR_PROJECTION_NOT_COMPLETE);
    while (Status(handle).first != ~0u && Clock::now() - hungUp < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(Clock::now() - hungUp, std::chrono::milliseconds(380));
    EXPECT_EQ(Status(handle), Event(~0u, ERROR_INVALID_HANDLE));
    EXPECT_TRUE(Connections().empty());
    EXPECT_EQ(ras.RasHangUpA(handle), ERROR_INVALID_HANDLE);

    HRASCONN next = 0;
    EXPECT_EQ(Dial(Params("Line A"), next), 0u);
    EXPECT_GT(next, handle);  // never a number handed out before
    EXPECT_EQ(ras.RasHangUpA(next), 0u);
    RASSIMSTATS s = Stats("Line A");
    EXPECT_EQ(std::vector<std::uint32_t>({s.dials, s.connects, s.hangUps, s.events}),
              std::vector<std::uint32_t>({2, 2, 2, 13}));
}

TEST_F(RasSimTest, FailedDialsAndDroppedLinesKeepTheirStateAndCodeUntilHungUp) {
    UsePhonebook("[Flaky]\ndelay = 15\nlinger = 0\noutcomes = fail 2 678, fail 12 629, connect\n");
    // Synchronous: the code comes back with a handle that stays listed until it is hung up.
    HRASCONN handle = 0, busy = 0;
    EXPECT_EQ(Dial(Params("Flaky"), handle), ERROR_NO_ANSWER);
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(Status(handle), Event(RASCS_ConnectDevice, ERROR_NO_ANSWER));
    EXPECT_EQ(Connections().size(), 1u);
    EXPECT_EQ(Dial(Params("Flaky"), busy), ERROR_PORT_ALREADY_OPEN);
    EXPECT_EQ(ras.RasHangUpA(handle), 0u);
    EXPECT_EQ(Status(handle), Event(~0u, ERROR_INVALID_HANDLE));  // linger 0

    Events events;
    ASSERT_EQ(Dial(Params("Flaky"), handle, &events), 0u);
    EXPECT_EQ(events.Of(handle, 10), PathTo(10, ERROR_REMOTE_DISCONNECTION));
    EXPECT_EQ(ras.RasHangUpA(handle), 0u);

    Clock::time_point start = Clock::now();
    EXPECT_EQ(Dial(Params("Flaky"), handle), 0u);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(12 * 15));
    // The network drops the line: listed, with its code, and the entry busy until hung up.
    ASSERT_EQ(drop("Flaky", 0), 0u);
    EXPECT_EQ(Status(handle), Event(RASCS_Disconnected, ERROR_DISCONNECTION));
    EXPECT_EQ(Connections().size(), 1u);
    EXPECT_EQ(Dial(Params("Flaky"), busy), ERROR_PORT_ALREADY_OPEN);
    EXPECT_EQ(drop("Flaky", 0), ERROR_INVALID_HANDLE);  // no connected line left
    EXPECT_EQ(ras.RasHangUpA(handle), 0u);
    EXPECT_EQ(Dial(Params("Flaky"), handle), 0u);  // the last outcome repeats
    EXPECT_EQ(drop("Flaky", 5), ERROR_INVALID_PARAMETER);
    ASSERT_EQ(drop("Flaky", ERROR_HARDWARE_FAILURE), 0u);
    EXPECT_EQ(Status(handle), Event(RASCS_Disconnected, ERROR_HARDWARE_FAILURE));
    EXPECT_EQ(ras.RasHangUpA(handle), 0u);

    // A test may change the list; it starts counting attempts again.
    EXPECT_EQ(setOutcomes("Flaky", "fail 0 680, fail 14 718"), 0u);
    EXPECT_EQ(Dial(Params("Flaky"), handle), ERROR_NO_DIALTONE);
    EXPECT_EQ(Status(handle), Event(RASCS_OpenPort, ERROR_NO_DIALTONE));
    EXPECT_EQ(ras.RasHangUpA(handle), 0u);
    EXPECT_EQ(setOutcomes("Flaky", "fail 13 680"), ERROR_INVALID_PARAMETER);  // not on the path
    EXPECT_EQ(setOutcomes("Flaky", "fail 2 12345"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(setOutcomes("Nobody", "connect"), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    RASSIMSTATS s = Stats("Flaky");
    EXPECT_EQ(std::vector<std::uint32_t>({s.dials, s.failures, s.connects, s.drops}),
              std::vector<std::uint32_t>({5, 3, 2, 2}));
}

TEST_F(RasSimTest, CredentialsAreCheckedRecordedAndSaved) {
    UsePhonebook("[Account]\ndelay = 1\nlinger = 0\nuser_name = Alice\npassword = s3cret\n"
                 "domain = OFFICE\n");
    const struct {
        const char *user, *password, *domain;
        std::uint32_t result;
    } cases[] = {
        {"alice", "s3cret", "*", 0},      {"ALICE", "s3cret", "office", 0},
        {"alice", "S3CRET", "*", 691},    {"bob", "s3cret", "*", 691},
        {"alice", "s3cret", "HOME", 691}, {"alice", "", "*", 691},
    };
    for (const auto& c : cases) {
        RASDIALPARAMSA params = Params("Account", c.user, c.password, c.domain);
        HRASCONN handle = 0;
        EXPECT_EQ(Dial(params, handle), c.result) << c.user << " " << c.password << " " << c.domain;
        if (c.result) {
            EXPECT_EQ(Status(handle), Event(RASCS_AuthNotify, ERROR_AUTHENTICATION_FAILURE));
        }
        RASDIALPARAMSA recorded{};
        ASSERT_EQ(lastDial("Account", &recorded), 0u);
        EXPECT_EQ(std::memcmp(&recorded, &params, sizeof params), 0);
        EXPECT_EQ(ras.RasHangUpA(handle), 0u);
    }
    // Saved dial parameters: kept for the entry, the password only until it is removed.
    RASDIALPARAMSA saved = Params("Account", "alice", "pw", "DOM"), got = Params("Account");
    std::strcpy(saved.szPhoneNumber, "5551234");
    std::int32_t retrieved = 0;
    ASSERT_EQ(ras.RasSetEntryDialParamsA(nullptr, &saved, 0), 0u);
    ASSERT_EQ(ras.RasGetEntryDialParamsA(nullptr, &got, &retrieved), 0u);
    EXPECT_TRUE(std::memcmp(&got, &saved, sizeof got) == 0 && retrieved == 1);
    ASSERT_EQ(ras.RasSetEntryDialParamsA(nullptr, &saved, 1), 0u);
    ASSERT_EQ(ras.RasGetEntryDialParamsA(nullptr, &got, &retrieved), 0u);
    EXPECT_TRUE(!*got.szPassword && std::strcmp(got.szUserName, "alice") == 0 && retrieved == 0);
    got = Params("Nobody");
    EXPECT_EQ(ras.RasGetEntryDialParamsA(nullptr, &got, &retrieved), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    EXPECT_EQ(lastDial("Nobody", &got), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
}

TEST_F(RasSimTest, AHangUpEndsADialThatNeverAnswersOrIsUnderWay) {
    UsePhonebook("[Silent]\ndelay = 1\nlinger = 0\noutcomes = noanswer\n"
                 "[Slow]\ndelay = 30\nlinger = 0\n");
    // Never answers: it waits at the connecting state until hung up, and when the hang-up
    // returns its one terminal event has been delivered.
    Events events(&ras);
    HRASCONN silent = 0;
    ASSERT_EQ(Dial(Params("Silent"), silent, &events), 0u);
    events.Of(silent, 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(events.Of(silent), PathTo(3));
    EXPECT_EQ(Status(silent), Event(RASCS_ConnectDevice, 0));
    EXPECT_EQ(ras.RasHangUpA(silent), 0u);
    std::vector<Event> expected = PathTo(3);
    expected.push_back({RASCS_Disconnected, ERROR_USER_DISCONNECTION});
    EXPECT_EQ(events.Of(silent), expected);

    // Under way: stopped between two states; nothing follows the terminal event.
    HRASCONN slow = 0;
    ASSERT_EQ(Dial(Params("Slow"), slow, &events), 0u);
    events.Of(slow, 2);
    EXPECT_EQ(ras.RasHangUpA(slow), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<Event> seen = events.Of(slow);
    EXPECT_EQ(seen.back(), Event(RASCS_Disconnected, ERROR_USER_DISCONNECTION));
    EXPECT_EQ(Terminals(seen), 1u);
    EXPECT_LT(seen.size(), 6u);

    // Hung up from inside its own notifier: no deadlock, and the same terminal event.
    Events hangsUp(&ras, RASCS_DeviceConnected);
    ASSERT_EQ(Dial(Params("Slow"), slow, &hangsUp), 0u);
    expected = PathTo(4);
    expected.push_back({RASCS_Disconnected, ERROR_USER_DISCONNECTION});
    EXPECT_EQ(hangsUp.Of(slow, 5), expected);

    // Synchronous: the blocked caller gets 631 when another thread hangs the line up.
    std::uint32_t result = 0;
    std::thread caller([&] {
        HRASCONN h = 0;
        result = Dial(Params("Silent"), h);
    });
    HRASCONN dialling = 0;
    for (Clock::time_point start = Clock::now(); !dialling;) {
        for (const RASCONNA& line : Connections())
            if (std::strcmp(line.szEntryName, "Silent") == 0)
                dialling = line.hrasconn;
        if (Clock::now() - start > std::chrono::seconds(10))
            break;  // hangs up nothing, and the caller stays blocked: the test fails loudly
    }
    ASSERT_NE(dialling, 0u);
    EXPECT_EQ(ras.RasHangUpA(dialling), 0u);
    caller.join();
    EXPECT_EQ(result, ERROR_USER_DISCONNECTION);
}

TEST_F(RasSimTest, EnumerationsAnswerTheSizeNeededAndEveryRecordSizeIsChecked) {
    UsePhonebook("[One]\ndelay = 0\nlinger = 0\n[Two]\ndelay = 0\nlinger = 0\n[Three]\n");
    RASENTRYNAMEA one{sizeof one, {}};
    std::uint32_t bytes = sizeof one, count = 0;
    ASSERT_EQ(ras.RasEnumEntriesA(nullptr, nullptr, &one, &bytes, &count), ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(bytes, 3 * 264u);
    EXPECT_EQ(count, 3u);
    std::vector<RASENTRYNAMEA> names(3);
    names[0].dwSize = sizeof one;
    ASSERT_EQ(ras.RasEnumEntriesA(nullptr, "", names.data(), &bytes, &count), 0u);
    EXPECT_EQ(count, 3u);
    EXPECT_STREQ(names[0].szEntryName, "One");
    EXPECT_STREQ(names[2].szEntryName, "Three");
    names[0].dwSize = 260;
    EXPECT_EQ(ras.RasEnumEntriesA(nullptr, nullptr, names.data(), &bytes, &count), ERROR_INVALID_SIZE);
    EXPECT_EQ(ras.RasEnumEntriesA(nullptr, nullptr, &one, &bytes, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ras.RasEnumEntriesA("x", nullptr, &one, &bytes, &count), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ras.RasEnumEntriesA(nullptr, "other.pbk", &one, &bytes, &count),
              ERROR_CANNOT_OPEN_PHONEBOOK);

    HRASCONN first = 0, second = 0;
    ASSERT_EQ(Dial(Params("One"), first), 0u);
    ASSERT_EQ(Dial(Params("Two"), second), 0u);
    std::vector<RASCONNA> lines = Connections();  // answered 603 first, with 2 * 412 bytes
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].hrasconn, first);
    EXPECT_EQ(lines[1].hrasconn, second);
    lines[0].dwSize = 400;
    EXPECT_EQ(ras.RasEnumConnectionsA(lines.data(), &bytes, &count), ERROR_INVALID_SIZE);

    RASCONNSTATUSA status{159, 0, 0, {}, {}};
    EXPECT_EQ(ras.RasGetConnectStatusA(first, &status), ERROR_INVALID_SIZE);
    RASPPPIPA ip{};
    bytes = sizeof ip;
    EXPECT_EQ(ras.RasGetProjectionInfoA(first, RASP_PppIp, &ip, &bytes), ERROR_INVALID_SIZE);
    bytes = 10;
    EXPECT_EQ(ras.RasGetProjectionInfoA(first, RASP_PppIp, &ip, &bytes), ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(bytes, 40u);
    EXPECT_EQ(ras.RasGetProjectionInfoA(first, 0x803F, &ip, &bytes), ERROR_PROTOCOL_NOT_CONFIGURED);
    RASDIALPARAMSA params = Params("Three"), shortParams = params;
    shortParams.dwSize = 1051;
    HRASCONN none = 0;
    std::int32_t retrieved;
    RASDIALEXTENSIONS extensions{12, 0, 0, 0};
    RASDIALNOTIFIER notifier{};
    EXPECT_EQ(ras.RasDialA(nullptr, nullptr, &shortParams, 0, nullptr, &none), ERROR_INVALID_SIZE);
    EXPECT_EQ(ras.RasGetEntryDialParamsA(nullptr, &shortParams, &retrieved), ERROR_INVALID_SIZE);
    EXPECT_EQ(ras.RasDialA(&extensions, nullptr, &params, 0, nullptr, &none), ERROR_INVALID_SIZE);
    EXPECT_EQ(ras.RasDialA(nullptr, nullptr, &params, 0, &notifier, &none), ERROR_INVALID_PARAMETER);
    std::memset(params.szDomain, 'x', sizeof params.szDomain);  // no terminating NUL
    EXPECT_EQ(ras.RasDialA(nullptr, nullptr, &params, 0, nullptr, &none), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(none, 0u);

    char text[256], small[4];
    for (std::uint32_t code : {6u, 8u, 87u, 602u, 603u, 614u, 621u, 622u, 623u, 625u, 628u, 631u,
                               632u, 691u, 703u, 730u, 731u})
        EXPECT_TRUE(!ras.RasGetErrorStringA(code, text, sizeof text) && std::strlen(text) > 10) << code;
    EXPECT_EQ(ras.RasGetErrorStringA(0, small, sizeof small), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ras.RasGetErrorStringA(12345, small, sizeof small), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ras.RasGetErrorStringA(691, small, sizeof small), ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(ras.RasCreatePhonebookEntryA(0, nullptr), ERROR_INTERACTIVE_MODE);
    EXPECT_EQ(ras.RasEditPhonebookEntryA(0, nullptr, "Two"), ERROR_INTERACTIVE_MODE);
    EXPECT_EQ(ras.RasEditPhonebookEntryA(0, nullptr, "Four"), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY);
    EXPECT_EQ(ras.RasHangUpA(first), 0u);
    EXPECT_EQ(ras.RasHangUpA(second), 0u);
}

TEST_F(RasSimTest, ThePhonebookFileIsReadAgainWhenItChangesAndBadFilesAreRefused) {
    RASENTRYNAMEA names[2] = {};
    names[0].dwSize = sizeof names[0];
    std::uint32_t bytes = sizeof names, count = 0;
    unsetenv("NORVANE_RASSIM_CONFIG");
    ASSERT_EQ(ras.RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count), 0u);
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(names[0].szEntryName, "Norvane Simulated Line");

    setenv("NORVANE_RASSIM_CONFIG", "/nonexistent/phonebook", 1);
    EXPECT_EQ(ras.RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count), ERROR_CANNOT_LOAD_PHONEBOOK);
    HRASCONN handle = 0;
    EXPECT_EQ(Dial(Params("Norvane Simulated Line"), handle), ERROR_CANNOT_LOAD_PHONEBOOK);
    setenv("NORVANE_RASSIM_CONFIG", "/dev/null", 1);  // not a regular file
    EXPECT_EQ(ras.RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count), ERROR_CANNOT_LOAD_PHONEBOOK);

    for (const char* bad : {
             "delay = 5\n", "[X]\ndelay.7 = 5\n",  // before any entry; a state no dial passes
             "[X]\noutcomes = fail 2 9999\n", "[X]\noutcomes = connect,\n", "[X\n", "[A]\n[A]\n",
             "[X]\nip_address = 300.1.1.1\n", "[X]\ndevice_type = 12345678901234567\n",
             "[X]\nlinger = 600001\n", "[X]\nuser_name = a\nUSER_NAME = b\n",
             "[X]\nspeed = 56000\n", "[X]\ndevice_name = a\x01z\n"}) {
        UsePhonebook(bad);
        EXPECT_EQ(ras.RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count),
                  ERROR_CORRUPT_PHONEBOOK)
            << bad;
    }
    UsePhonebook("; the lines\r\n[Good]\r\ndelay = 0\r\n\r\n[Also good]\r\n");
    bytes = sizeof names;
    ASSERT_EQ(ras.RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count), 0u);
    EXPECT_EQ(count, 2u);
    EXPECT_STREQ(names[1].szEntryName, "Also good");
}

TEST_F(RasSimTest, ConcurrentCallersEachGetTheirOwnOrderedDialsAndOneTerminalEvent) {
    constexpr int kLines = 6, kRounds = 5;
    std::string book;
    for (int i = 0; i < kLines; ++i)
        book += "[Line" + std::to_string(i) + "]\ndelay = 1\nlinger = 2\n" +
                "outcomes = connect, fail 5 691, connect, noanswer, connect\n";
    UsePhonebook(book);
    Events events(&ras);  // queries the library from every notifier call
    std::atomic<bool> done{false};
    std::vector<HRASCONN> dialled[kLines];
    std::vector<std::thread> threads;
    for (int i = 0; i < kLines; ++i)
        threads.emplace_back([&, i] {
            std::string name = "Line" + std::to_string(i);
            for (int round = 0; round < kRounds; ++round) {
                HRASCONN handle = 0;
                std::uint32_t result;
                while ((result = Dial(Params(name.c_str()), handle, &events)) ==
                       ERROR_PORT_ALREADY_OPEN)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // still lingering
                ASSERT_EQ(result, 0u);
                dialled[i].push_back(handle);
                if (round != 3)  // the never-answering attempt ends by the hang-up below
                    events.Of(handle, round == 1 ? 6 : 12);
                EXPECT_EQ(ras.RasHangUpA(handle), 0u);
            }
        });
    std::thread watcher([&] {
        while (!done) {
            for (const RASCONNA& line : Connections())
                Status(line.hrasconn);
            ras.RasHangUpA(0);
        }
    });
    for (std::thread& t : threads)
        t.join();
    done = true;
    watcher.join();
    for (int i = 0; i < kLines; ++i) {
        ASSERT_EQ(dialled[i].size(), std::size_t(kRounds));
        for (int round = 0; round < kRounds; ++round) {
            std::vector<Event> seen = events.Of(dialled[i][round]);
            EXPECT_EQ(Terminals(seen), 1u) << i << "/" << round;
            for (std::size_t k = 0; k + 1 < seen.size(); ++k)
                EXPECT_EQ(seen[k], Event(kPath[k], 0));
        }
    }
    RASSIMSTATS all = Stats(nullptr);
    EXPECT_EQ(all.dials, std::uint32_t(kLines * kRounds));
    EXPECT_EQ(all.failures, std::uint32_t(kLines));
}

}  // namespace
