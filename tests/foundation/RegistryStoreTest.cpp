#include "foundation/RegistryStore.h"

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::string_literals;

const char* const kRoot = "SOFTWARE\\Urvo Software\\Norvane 2";

class RegistryStoreTest : public ::testing::Test {
protected:
    TempStateDir state;

    void SetUp() override { SetRegistryRoot("Urvo Software", "Norvane 2"); }

    // The raw kind and bytes of a value, read past the functions under test.
    static std::string Raw(const std::string& path, const char* name, DWORD* type = nullptr) {
        CRegKey key;
        std::string full = std::string(kRoot) + (path.empty() ? "" : "\\" + path);
        EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, full.c_str(), KEY_READ, key.Receive()), ERROR_SUCCESS) << full;
        std::string data;
        LONG result = RegQueryValueEx(key.Get(), name, type, &data);
        return result == ERROR_SUCCESS ? data : "<missing>";
    }
    static void SetRaw(const std::string& path, const char* name, DWORD type, const std::string& data) {
        CRegKey key(OpenRegistryKey(path));
        ASSERT_TRUE(key);
        ASSERT_EQ(RegSetValueEx(key.Get(), name, type, data), ERROR_SUCCESS);
    }
    static bool KeyExists(const std::string& path) {
        CRegKey key;
        std::string full = std::string(kRoot) + (path.empty() ? "" : "\\" + path);
        return RegOpenKeyEx(HKEY_LOCAL_MACHINE, full.c_str(), KEY_READ, key.Receive()) == ERROR_SUCCESS;
    }
};

TEST_F(RegistryStoreTest, ValuesAreStoredInTheirFixedLayouts) {
    ASSERT_TRUE(RegWriteDWORD("Services\\Web", "Port", 0x12345678));
    ASSERT_TRUE(RegWriteString("Services\\Web", "Name", "Web"));
    ASSERT_TRUE(RegWriteDouble("Services\\Web", "Ratio", 1.5));
    ASSERT_TRUE(RegWriteDouble("Services\\Web", "Minus", -2.0));
    DWORD type = 0;
    EXPECT_EQ(Raw("Services\\Web", "Port", &type), "\x78\x56\x34\x12"s);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(Raw("Services\\Web", "Name", &type), "Web\0"s);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(Raw("Services\\Web", "Ratio", &type), "\x00\x00\x00\x00\x00\x00\xF8\x3F"s);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(Raw("Services\\Web", "Minus"), "\x00\x00\x00\x00\x00\x00\x00\xC0"s);
    ASSERT_TRUE(RegWriteString(nullptr, "Version", "2.0"));
    EXPECT_EQ(Raw("", "Version"), "2.0\0"s);

    EXPECT_EQ(RegReadDWORD("Services\\Web", "Port", 0), 0x12345678u);
    EXPECT_EQ(RegReadString("Services\\Web", "Name", "x"), "Web");
    EXPECT_EQ(RegReadDouble("Services\\Web", "Ratio", 0), 1.5);
    EXPECT_EQ(RegReadString(nullptr, "Version", nullptr), "2.0");
}

TEST_F(RegistryStoreTest, ReadingAMissingPathGivesTheDefaultAndLeavesThePathCreated) {
    EXPECT_FALSE(KeyExists("Dialer\\Profiles"));
    EXPECT_EQ(RegReadDWORD("Dialer\\Profiles", "Count", 77), 77u);
    EXPECT_EQ(RegReadString("Dialer\\Profiles", "Name", "none"), "none");
    EXPECT_EQ(RegReadString("Dialer\\Profiles", "Name", nullptr), "");
    EXPECT_EQ(RegReadDouble("Dialer\\Profiles", "Rate", 2.5), 2.5);
    ASSERT_TRUE(KeyExists("Dialer\\Profiles"));
    CRegKey key(OpenRegistryKey("Dialer\\Profiles"));
    DWORD subKeys = 9, values = 9;
    ASSERT_EQ(RegQueryInfoKey(key.Get(), &subKeys, &values), ERROR_SUCCESS);
    EXPECT_EQ(subKeys + values, 0u);
}

TEST_F(RegistryStoreTest, WrongSizedNumbersReadAsTheDefault) {
    SetRaw("Sizes", "LongString", REG_SZ, "abcd\0"s);
    SetRaw("Sizes", "Short", REG_BINARY, "\x01\x02"s);
    SetRaw("Sizes", "Empty", REG_BINARY, "");
    SetRaw("Sizes", "Nine", REG_BINARY, "123456789"s);
    SetRaw("Sizes", "Seven", REG_BINARY, "1234567"s);
    EXPECT_EQ(RegReadDWORD("Sizes", "LongString", 5), 5u);
    EXPECT_EQ(RegReadDWORD("Sizes", "Short", 5), 5u);
    EXPECT_EQ(RegReadDWORD("Sizes", "Empty", 5), 5u);
    EXPECT_EQ(RegReadDouble("Sizes", "Nine", 0.25), 0.25);
    EXPECT_EQ(RegReadDouble("Sizes", "Seven", 0.25), 0.25);
    EXPECT_EQ(RegReadDouble("Sizes", "Short", 0.25), 0.25);
    // The kind is not checked, only the size: a 4-byte string reads as a DWORD.
    SetRaw("Sizes", "FourBytes", REG_SZ, "abc\0"s);
    EXPECT_EQ(RegReadDWORD("Sizes", "FourBytes", 5), 0x00636261u);
}

TEST_F(RegistryStoreTest, StringsKeepEveryByte) {
    const std::string scrambled = "p\0ss\xff\x80\x7f\x01w"s;
    ASSERT_TRUE(RegWriteString("Users\\Alice", "Password", scrambled));
    EXPECT_EQ(Raw("Users\\Alice", "Password"), scrambled + '\0');
    EXPECT_EQ(RegReadString("Users\\Alice", "Password", "x"), scrambled);

    ASSERT_TRUE(RegWriteString("Users\\Alice", "Empty", ""));
    EXPECT_EQ(Raw("Users\\Alice", "Empty"), "\0"s);
    EXPECT_EQ(RegReadString("Users\\Alice", "Empty", "default"), "");
    // Only one terminating NUL is dropped; a value stored without one is read whole.
    SetRaw("Users\\Alice", "TwoNuls", REG_SZ, "ab\0\0"s);
    EXPECT_EQ(RegReadString("Users\\Alice", "TwoNuls", "x"), "ab\0"s);
    SetRaw("Users\\Alice", "NoNul", REG_SZ, "abc");
    EXPECT_EQ(RegReadString("Users\\Alice", "NoNul", "x"), "abc");
    SetRaw("Users\\Alice", "ZeroBytes", REG_SZ, "");
    EXPECT_EQ(RegReadString("Users\\Alice", "ZeroBytes", "x"), "");

    // A path or name that a C string cannot carry is refused, never cut at the NUL.
    EXPECT_FALSE(RegWriteDWORD("Users\0Bob"s, "Port", 1));
    EXPECT_FALSE(RegWriteDWORD("Users", "Po\0rt"s, 1));
    EXPECT_EQ(RegReadDWORD("Users", "Po", 9), 9u);
    EXPECT_FALSE(KeyExists("Users\\Bob"));
}

TEST_F(RegistryStoreTest, DoublesReadBackBitIdentical) {
    const double values[] = {0.0,
                             -0.0,
                             3.141592653589793,
                             std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::max(),
                             -std::numeric_limits<double>::infinity(),
                             std::bit_cast<double>(std::uint64_t{0x7FF8000000012345})};
    for (double value : values) {
        ASSERT_TRUE(RegWriteDouble("Doubles", "v", value));
        double read = RegReadDouble("Doubles", "v", 42.0);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(read), std::bit_cast<std::uint64_t>(value));
    }
}

TEST_F(RegistryStoreTest, LookupsIgnoreCaseAndKeepTheStoredCase) {
    ASSERT_TRUE(RegWriteDWORD("Services\\WebProxy", "MaxSessions", 10));
    EXPECT_EQ(RegReadDWORD("SERVICES\\webproxy", "maxsessions", 0), 10u);
    ASSERT_TRUE(RegWriteDWORD("services\\WEBPROXY", "MAXSESSIONS", 11));
    EXPECT_EQ(RegReadDWORD("Services\\WebProxy", "MaxSessions", 0), 11u);
    CRegKey key(OpenRegistryKey("services"));
    std::string name;
    ASSERT_EQ(RegEnumKeyEx(key.Get(), 0, &name), ERROR_SUCCESS);
    EXPECT_EQ(name, "WebProxy");
    CRegKey web(OpenRegistryKey("Services\\WebProxy"));
    ASSERT_EQ(RegEnumValue(web.Get(), 0, &name, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(name, "MaxSessions");
}

TEST_F(RegistryStoreTest, TheDeleteForms) {
    ASSERT_TRUE(RegWriteString("Groups\\Staff\\Members", "Alice", "1"));
    ASSERT_TRUE(RegWriteString("Groups\\Staff", "Comment", "c"));
    // A key with sub-keys is refused and nothing goes.
    EXPECT_FALSE(RegWriteString("Groups\\Staff", nullptr, "ignored"));
    EXPECT_EQ(RegReadString("Groups\\Staff\\Members", "Alice", "gone"), "1");
    EXPECT_EQ(RegReadString("Groups\\Staff", "Comment", "gone"), "c");
    // A key without sub-keys goes with its values.
    EXPECT_TRUE(RegWriteString("Groups\\Staff\\Members", nullptr, nullptr));
    EXPECT_FALSE(KeyExists("Groups\\Staff\\Members"));
    EXPECT_FALSE(RegWriteString("Groups\\Staff\\Members", nullptr, nullptr));  // already gone
    // The root cannot be deleted through the value form.
    EXPECT_FALSE(RegWriteString(nullptr, nullptr, nullptr));
    EXPECT_FALSE(RegWriteString("", nullptr, nullptr));
    EXPECT_TRUE(KeyExists("Groups\\Staff"));

    // A null text deletes the value; a second time there is nothing to delete.
    EXPECT_TRUE(RegWriteString("Groups\\Staff", "Comment", nullptr));
    EXPECT_EQ(Raw("Groups\\Staff", "Comment"), "<missing>");
    EXPECT_FALSE(RegWriteString("Groups\\Staff", "Comment", nullptr));
    ASSERT_TRUE(RegWriteString(nullptr, "Top", "t"));
    EXPECT_TRUE(RegWriteString(nullptr, "Top", nullptr));
    EXPECT_EQ(RegReadString(nullptr, "Top", "gone"), "gone");

    // The tree delete removes a key with everything below it.
    ASSERT_TRUE(RegWriteString("Groups\\Staff\\Members\\Deep", "x", "1"));
    EXPECT_TRUE(RegDeleteKeyTree("groups\\STAFF"));
    EXPECT_FALSE(KeyExists("Groups\\Staff"));
    EXPECT_TRUE(KeyExists("Groups"));
    EXPECT_TRUE(RegDeleteKeyTree("Groups\\Staff"));  // nothing there: still gone
    EXPECT_FALSE(RegDeleteKeyTree(""));
    EXPECT_FALSE(RegDeleteKeyTree("Groups\\\\Staff"));
}

TEST_F(RegistryStoreTest, DeletingTheWholeConfigurationRemovesTheProductKey) {
    ASSERT_TRUE(RegWriteDWORD("Services\\Web", "Port", 8080));
    ASSERT_TRUE(RegWriteDWORD(nullptr, "Installed", 1));
    CRegKey other;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Urvo Software\\Other Product", KEY_ALL_ACCESS,
                             other.Receive()),
              ERROR_SUCCESS);
    EXPECT_TRUE(RegDeleteKeyTree(nullptr));
    CRegKey company;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Urvo Software", KEY_READ, company.Receive()), ERROR_SUCCESS);
    std::vector<std::string> names;
    ASSERT_EQ(RegEnumKeyNames(company.Get(), &names), ERROR_SUCCESS);
    EXPECT_EQ(names, std::vector<std::string>{"Other Product"});
    // The next start creates it again, empty.
    EXPECT_EQ(RegReadDWORD("Services\\Web", "Port", 80), 80u);
    EXPECT_EQ(RegReadDWORD(nullptr, "Installed", 0), 0u);
}

TEST_F(RegistryStoreTest, ATreeDeleteIsAllOrNothing) {
    constexpr int kChildren = 300;
    for (int i = 0; i < kChildren; ++i)
        ASSERT_TRUE(RegWriteDWORD("Big\\Child" + std::to_string(i), "n", static_cast<DWORD>(i)));
    CRegKey big(OpenRegistryKey("Big"));
    ASSERT_TRUE(big);
    // An observer that sees the tree part-way deleted proves the delete was not one step.
    std::atomic<bool> started{false}, done{false};
    std::set<DWORD> seen;
    std::thread observer([&] {
        DWORD subKeys = 0;
        while (!done && RegQueryInfoKey(big.Get(), &subKeys, nullptr) == ERROR_SUCCESS) {
            seen.insert(subKeys);
            started = true;
        }
    });
    while (!started)
        std::this_thread::yield();
    EXPECT_TRUE(RegDeleteKeyTree("Big"));
    done = true;
    observer.join();
    EXPECT_EQ(seen, std::set<DWORD>{kChildren});
    EXPECT_FALSE(KeyExists("Big"));

    // A delete that cannot be done leaves everything in place.
    ASSERT_TRUE(RegWriteDWORD("Kept\\Child", "n", 1));
    CRegKey reader;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kRoot, KEY_READ, reader.Receive()), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(reader.Get(), "Kept"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegReadDWORD("Kept\\Child", "n", 0), 1u);
}

TEST_F(RegistryStoreTest, NumberedListsLoadInNumericOrder) {
    for (int i : {7, 11, 0, 10, 3, 1, 9, 2, 5, 8, 4, 6})
        ASSERT_TRUE(RegWriteDWORD("Mappings\\Mapping" + std::to_string(i), "Port", static_cast<DWORD>(1000 + i)));
    ASSERT_TRUE(RegWriteDWORD("Mappings\\Notes", "x", 1));
    std::vector<std::string> expected;
    for (int i = 0; i < 12; ++i)
        expected.push_back("Mapping" + std::to_string(i));
    expected.push_back("Notes");
    EXPECT_EQ(RegEnumNumberedSubKeys("Mappings", "Mapping"), expected);
    EXPECT_EQ(RegEnumNumberedSubKeys("Missing", "Mapping"), std::vector<std::string>{});

    std::vector<std::string> names = {"Filter10", "zeta", "filter9", "Filter", "Filter007", "Filterx1",
                                      "Filter123456789012345678901234567890", "Filter08", "alpha"};
    SortNumberedSubKeys(names, "Filter");
    EXPECT_EQ(names, (std::vector<std::string>{"Filter007", "Filter08", "filter9", "Filter10",
                                               "Filter123456789012345678901234567890", "zeta", "Filter",
                                               "Filterx1", "alpha"}));
}

TEST_F(RegistryStoreTest, EnumeratingSubKeysAndValues) {
    ASSERT_TRUE(RegWriteString("L\\beta", "x", "1"));
    ASSERT_TRUE(RegWriteString("L\\Alpha\\deep", "x", "1"));
    ASSERT_TRUE(RegWriteDWORD("L", "Second", 0x01020304));
    ASSERT_TRUE(RegWriteString("L", "first", "a\0b"s));
    ASSERT_TRUE(RegWriteDWORD("L", "Second", 5));  // keeps its place
    EXPECT_EQ(RegEnumSubKeys("L"), (std::vector<std::string>{"Alpha", "beta"}));
    const std::vector<RegTreeValue> values = RegEnumValues("L");
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name, "Second");
    EXPECT_EQ(values[0].type, REG_DWORD);
    EXPECT_EQ(values[0].data, "\x05\0\0\0"s);
    EXPECT_EQ(values[1].name, "first");
    EXPECT_EQ(values[1].type, REG_SZ);
    EXPECT_EQ(values[1].data, "a\0b\0"s);
    EXPECT_TRUE(RegEnumSubKeys("L\\beta").empty());
    EXPECT_TRUE(RegEnumValues("Nothing").empty());
    EXPECT_TRUE(RegEnumSubKeys("bad\\\\path").empty());
}

TEST(RegistryNames, CompareAsTheStoreDoes) {
    EXPECT_TRUE(RegNamesEqual("Bob", "bOB"));
    EXPECT_TRUE(RegNamesEqual("", ""));
    EXPECT_FALSE(RegNamesEqual("Bob", "Bob "));
    EXPECT_FALSE(RegNamesEqual("B\xC3\xB8", "B\xC3\x98"));  // only ASCII letters fold
    EXPECT_FALSE(RegNamesEqual("[", "{"));
    EXPECT_EQ(RegFoldName("AbC-\xC3\x98z"), "abc-\xC3\x98z");
}

TEST_F(RegistryStoreTest, WithoutRootNamesNothingOpens) {
    SetRegistryRoot("", "");
    EXPECT_EQ(OpenRegistryRoot(), nullptr);
    EXPECT_EQ(RegReadDWORD("x", "y", 3), 3u);
    EXPECT_FALSE(RegWriteDWORD("x", "y", 3));
    SetRegistryRoot("Urvo\\Software", "Norvane 2");  // one key name each
    EXPECT_EQ(OpenRegistryRoot(), nullptr);
    SetRegistryRoot(std::string("Urvo Software"), std::string("Norvane 2"));
    CRegKey root(OpenRegistryRoot());
    EXPECT_TRUE(root);
}

TEST_F(RegistryStoreTest, ManyThreadsReadAndWrite) {
    constexpr int kThreads = 8, kRounds = 40;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            std::string path = "Users\\U" + std::to_string(t);
            for (int i = 0; i < kRounds; ++i) {
                std::string text = "text" + std::to_string(i) + '\0' + "tail";
                if (!RegWriteString(path, "Text", text) || !RegWriteDWORD(path, "N", static_cast<DWORD>(i)) ||
                    !RegWriteDouble("Shared", "D" + std::to_string(t), i + 0.5))
                    ++failures;
                if (RegReadString(path, "Text", "") != text || RegReadDWORD(path, "N", 999) != static_cast<DWORD>(i))
                    ++failures;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(RegReadDouble("Shared", "D" + std::to_string(t), 0), kRounds - 0.5);
}

// A second process that saves configuration through the store functions while the test's
// own process does the same.
TEST(RegistryStoreHelper, DISABLED_SaveInOtherProcess) {
    SetRegistryRoot("Urvo Software", "Norvane 2");
    for (DWORD i = 0; i < 200; ++i) {
        ASSERT_TRUE(RegWriteDWORD("Child\\Values", ("V" + std::to_string(i)).c_str(), i));
        ASSERT_TRUE(RegWriteString("Both", "Child" + std::to_string(i), "c"));
    }
}

TEST_F(RegistryStoreTest, TwoProcessesSaveIntoOneStore) {
    pid_t child = StartTestProcess("RegistryStoreHelper.DISABLED_SaveInOtherProcess");
    ASSERT_GT(child, 0);
    for (DWORD i = 0; i < 200; ++i) {
        ASSERT_TRUE(RegWriteDWORD("Parent\\Values", ("V" + std::to_string(i)).c_str(), i));
        ASSERT_TRUE(RegWriteString("Both", "Parent" + std::to_string(i), "p"));
    }
    ASSERT_EQ(WaitTestProcess(child), 0);
    for (DWORD i = 0; i < 200; i += 13) {
        EXPECT_EQ(RegReadDWORD("Child\\Values", "V" + std::to_string(i), 9999), i);
        EXPECT_EQ(RegReadDWORD("Parent\\Values", "V" + std::to_string(i), 9999), i);
    }
    CRegKey both(OpenRegistryKey("Both"));
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKey(both.Get(), nullptr, &values), ERROR_SUCCESS);
    EXPECT_EQ(values, 400u);
}

}  // namespace
