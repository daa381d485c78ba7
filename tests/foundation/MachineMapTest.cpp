#include "foundation/LockableList.h"
#include "foundation/MachineMap.h"
#include "support/ArchiveHelpers.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// A stand-in for the engine's client-machine record: an address, a user name and a count of
// session records.
class CTestMachine : public CMachineBase {
    DECLARE_SERIAL(CTestMachine)
public:
    CTestMachine() { ++live; }
    CTestMachine(std::string address, std::string user) : address(std::move(address)), user(std::move(user)) {
        ++live;
    }
    ~CTestMachine() override { --live; }
    std::string GetAddressText() const override { return address; }
    void DeleteAllSessions() override {
        sessionsDeleted += sessions;
        sessions = 0;
    }
    std::string GetUserName() const override { return user; }
    void CheckIdleSessions() override {}
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring())
            ar << address << user;
        else
            ar >> address >> user;
    }
    std::string address, user;
    int sessions = 0;
    static inline std::atomic<int> live{0};
    static inline std::atomic<int> sessionsDeleted{0};
};
IMPLEMENT_SERIAL(CTestMachine, CLockableObject, 1)

namespace {

// A map that frees its machines at the end of a test.
struct InertMap : CMachineMap {
    ~InertMap() override {
        if (!IsLive())
            DeleteAll();
    }
};

TEST(MachineMapTest, RunTimeBaseIsThePlainMap) {
    CMachineMap map;
    EXPECT_FALSE(map.IsKindOf(RUNTIME_CLASS(CLockableMap)));
    EXPECT_TRUE(map.IsKindOf(RUNTIME_CLASS(CObjectMap)));
    EXPECT_EQ(RUNTIME_CLASS(CTestMachine)->GetBaseClass(), RUNTIME_CLASS(CLockableObject));
}

TEST(MachineMapTest, AddFindRemove) {
    InertMap map;
    EXPECT_EQ(map.FindMachine("10.0.0.1"), nullptr);
    auto* one = new CTestMachine("10.0.0.1", "Guest");
    EXPECT_FALSE(map.RemoveMachine(one));
    map.AddMachine(one);
    EXPECT_EQ(map.FindMachine("10.0.0.1"), one);
    EXPECT_EQ(map.FindMachine("10.0.0.10"), nullptr);
    {
        CRef<CMachineBase> ref = map.FindMachineRef("10.0.0.1");
        EXPECT_EQ(ref.Get(), one);
        EXPECT_EQ(one->GetReferenceCount(), 2);
    }
    // A second record for the address replaces the entry; removing the first one then leaves
    // the entry of the second alone.
    auto* two = new CTestMachine("10.0.0.1", "Fred");
    map.AddMachine(two);
    EXPECT_EQ(map.FindMachine("10.0.0.1"), two);
    EXPECT_FALSE(map.RemoveMachine(one));
    EXPECT_EQ(map.FindMachine("10.0.0.1"), two);
    EXPECT_TRUE(map.RemoveMachine(two));
    EXPECT_FALSE(map.RemoveMachine(two));
    EXPECT_EQ(map.GetCount(), 0u);
    delete one;
    delete two;
    EXPECT_EQ(CTestMachine::live, 0);
}

TEST(MachineMapTest, DeleteAllDeletesSessionsThenMachines) {
    InertMap map;
    auto* a = new CTestMachine("1.2.3.4", "a");
    auto* b = new CTestMachine("5.6.7.8", "b");
    a->sessions = 2;
    b->sessions = 3;
    map.AddMachine(a);
    map.AddMachine(b);
    const int before = CTestMachine::sessionsDeleted;
    map.DeleteAll();
    EXPECT_EQ(CTestMachine::sessionsDeleted, before + 5);
    EXPECT_EQ(map.GetCount(), 0u);
    EXPECT_EQ(CTestMachine::live, 0);
}

TEST(MachineMapTest, ArchiveFormAndLoadingReplacesEverything) {
    InertMap map;
    map.AddMachine(new CTestMachine("10.0.0.1", "Guest"));
    auto bytes = StoreBytes([&](CArchive& ar) { ar.WriteObject(&map); });
    Bytes expected("FF FF 01 00 0B 00");
    expected.Text("CMachineMap").Hex("01 00 08").Text("10.0.0.1");
    expected.Hex("FF FF 01 00 0C 00").Text("CTestMachine").Hex("08").Text("10.0.0.1");
    expected.Hex("05").Text("Guest");
    EXPECT_EQ(expected, bytes);

    // Loading first deletes every machine the map held, with its sessions.
    InertMap console;
    auto* stale = new CTestMachine("9.9.9.9", "old");
    stale->sessions = 4;
    console.AddMachine(stale);
    const int before = CTestMachine::sessionsDeleted;
    Bytes untagged("01 00 08");
    untagged.Text("10.0.0.1").Hex("FF FF 01 00 0C 00").Text("CTestMachine").Hex("08");
    untagged.Text("10.0.0.1").Hex("05").Text("Guest");
    EXPECT_TRUE(LoadBytes(untagged, [&](CArchive& ar) { console.Serialize(ar); }));
    EXPECT_EQ(CTestMachine::sessionsDeleted, before + 4);
    EXPECT_EQ(console.FindMachine("9.9.9.9"), nullptr);
    auto* loaded = dynamic_cast<CTestMachine*>(console.FindMachine("10.0.0.1"));
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->user, "Guest");
    EXPECT_EQ(CTestMachine::live, 2);
}

TEST(MachineMapTest, LoadingAcceptsOnlyNewMachineObjects) {
    auto load = [](const Bytes& bytes) {
        InertMap map;
        return LoadFailure(bytes, [&](CArchive& ar) { map.Serialize(ar); });
    };
    // A lockable object that is not a machine; a class outside the lockable objects; null;
    // and one machine under two keys.
    EXPECT_EQ(load(Bytes("01 00 01 61 FF FF 01 00 0F 00").Text("CLockableObject")),
              CArchiveException::badClass);
    EXPECT_EQ(load(Bytes("01 00 01 61 FF FF 01 00 0D 00").Text("CLockableList").Hex("00 00")),
              CArchiveException::badClass);
    EXPECT_EQ(load(Bytes("01 00 01 61 00 00")), CArchiveException::badClass);
    Bytes twice("02 00 01 61 FF FF 01 00 0C 00");
    twice.Text("CTestMachine").Hex("00 00 01 62 02 00");
    EXPECT_EQ(load(twice), CArchiveException::badIndex);
    EXPECT_EQ(CTestMachine::live, 0);
}

TEST(MachineMapTest, LiveMapRefusesToDeleteOrLoad) {
    CMachineMap engine;
    engine.MarkLive();
    CTestMachine machine("10.1.1.1", "Guest");
    machine.sessions = 1;
    engine.AddMachine(&machine);
    EXPECT_TRUE(ThrowsPtr<CNotSupportedException>([&] { engine.DeleteAll(); }));
    EXPECT_TRUE(ThrowsPtr<CNotSupportedException>(
        [&] { LoadBytes(Bytes("00 00"), [&](CArchive& ar) { engine.Serialize(ar); }); }));
    EXPECT_EQ(engine.FindMachine("10.1.1.1"), &machine);
    EXPECT_EQ(machine.sessions, 1);
    // Storing the live map is what the engine does for the consoles.
    auto bytes = StoreBytes([&](CArchive& ar) { engine.Serialize(ar); });
    EXPECT_EQ(bytes.size(), 2u + 9u + 6u + 12u + 9u + 6u);
    EXPECT_TRUE(engine.RemoveMachine(&machine));
}

TEST(MachineMapTest, ConcurrentAdmissionAndRemoval) {
    InertMap map;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                auto* machine = new CTestMachine("10.0." + std::to_string(t) + "." +
                                                     std::to_string(i % 7),
                                                 "u");
                CRef<CTestMachine> mine = CRef<CTestMachine>::Adopt(machine);
                map.AddMachine(machine);
                machine->AddRef();  // the map's reference
                if (CRef<CMachineBase> found = map.FindMachineRef(machine->address)) {
                    EXPECT_EQ(found->GetAddressText(), machine->address);
                }
                if (map.RemoveMachine(machine))
                    machine->Release();
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(map.GetCount(), 0u);
    EXPECT_EQ(CTestMachine::live, 0);
}

}  // namespace
