#include "platform/registry/Registry.h"

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::string_literals;

class RegistryTest : public ::testing::Test {
protected:
    TempStateDir state;

    static CRegKey Create(HKEY parent, const char* path, REGSAM access = KEY_ALL_ACCESS) {
        CRegKey key;
        EXPECT_EQ(RegCreateKeyEx(parent, path, access, key.Receive()), ERROR_SUCCESS) << path;
        return key;
    }
    static std::vector<std::string> SubKeys(HKEY key) {
        std::vector<std::string> names;
        std::string name;
        for (DWORD i = 0; RegEnumKeyEx(key, i, &name) == ERROR_SUCCESS; ++i)
            names.push_back(name);
        return names;
    }
    static std::vector<std::string> ValueNames(HKEY key) {
        std::vector<std::string> names;
        std::string name;
        for (DWORD i = 0; RegEnumValue(key, i, &name, nullptr, nullptr) == ERROR_SUCCESS; ++i)
            names.push_back(name);
        return names;
    }
    static bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
};

TEST_F(RegistryTest, HivesLiveWhereTheEnvironmentSaysWithPrivateModes) {
    EXPECT_EQ(RegHivePath(HKEY_LOCAL_MACHINE), state.Path() + "/state/machine.db");
    EXPECT_EQ(RegHivePath(HKEY_CURRENT_USER), state.Path() + "/config/norvane/user.db");
    // Opening for reading creates nothing.
    CRegKey key;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ, key.Receive()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, nullptr, KEY_ALL_ACCESS, key.Receive()), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(Exists(state.Path() + "/state"));
    EXPECT_FALSE(Exists(state.Path() + "/config"));

    Create(HKEY_LOCAL_MACHINE, "SOFTWARE");
    Create(HKEY_CURRENT_USER, "Settings");
    for (const std::string& file : {RegHivePath(HKEY_LOCAL_MACHINE), RegHivePath(HKEY_CURRENT_USER)}) {
        struct stat st;
        ASSERT_EQ(stat(file.c_str(), &st), 0) << file;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    }
    struct stat dir;
    ASSERT_EQ(stat((state.Path() + "/config/norvane").c_str(), &dir), 0);
    EXPECT_EQ(dir.st_mode & 0777, 0700u);
    // The two hives are separate trees.
    EXPECT_EQ(SubKeys(HKEY_LOCAL_MACHINE), std::vector<std::string>{"SOFTWARE"});
    EXPECT_EQ(SubKeys(HKEY_CURRENT_USER), std::vector<std::string>{"Settings"});
}

TEST_F(RegistryTest, NamesAreCaseInsensitiveAndKeepTheirCase) {
    DWORD disposition = 0;
    CRegKey first;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Urvo Software\\Norvane 2", KEY_ALL_ACCESS,
                             first.Receive(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    CRegKey second;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "software\\URVO SOFTWARE\\norvane 2", KEY_ALL_ACCESS,
                             second.Receive(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    CRegKey company = Create(HKEY_LOCAL_MACHINE, "Software\\urvo software");
    EXPECT_EQ(SubKeys(company.Get()), std::vector<std::string>{"Norvane 2"});

    ASSERT_EQ(RegSetValueEx(first.Get(), "LogFile", REG_SZ, "a.log\0"s), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(second.Get(), "LOGFILE", REG_SZ, "b.log\0"s), ERROR_SUCCESS);
    std::string data;
    ASSERT_EQ(RegQueryValueEx(first.Get(), "logfile", nullptr, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, "b.log\0"s);
    EXPECT_EQ(ValueNames(first.Get()), std::vector<std::string>{"LogFile"});

    // Only ASCII letters fold: other bytes compare exactly.
    Create(first.Get(), "\xC4rger");
    Create(first.Get(), "\xE4rger");
    EXPECT_EQ(SubKeys(first.Get()).size(), 2u);
}

TEST_F(RegistryTest, RefusesEmptyComponentsControlCharactersAndOverlongNames) {
    CRegKey key = Create(HKEY_LOCAL_MACHINE, "Base");
    CRegKey out;
    for (const char* bad : {"a\\\\b", "\\a", "a\\", "\\", "a\x01" "b", "tab\there", "del\x7f"}) {
        EXPECT_EQ(RegCreateKeyEx(key.Get(), bad, KEY_ALL_ACCESS, out.Receive()), ERROR_INVALID_PARAMETER) << bad;
        EXPECT_EQ(RegOpenKeyEx(key.Get(), bad, KEY_READ, out.Receive()), ERROR_INVALID_PARAMETER) << bad;
        EXPECT_EQ(RegDeleteTree(key.Get(), bad), ERROR_INVALID_PARAMETER) << bad;
    }
    EXPECT_FALSE(out);
    std::string longest(255, 'k');
    EXPECT_EQ(RegCreateKeyEx(key.Get(), longest.c_str(), KEY_ALL_ACCESS, out.Receive()), ERROR_SUCCESS);
    std::string tooLong(256, 'k');
    EXPECT_EQ(RegCreateKeyEx(key.Get(), tooLong.c_str(), KEY_ALL_ACCESS, out.Receive()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(key.Get(), "line\nbreak", REG_SZ, "x\0"s), ERROR_INVALID_PARAMETER);
    std::string longName(16384, 'v');
    EXPECT_EQ(RegSetValueEx(key.Get(), longName.c_str(), REG_SZ, "x\0"s), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKey(key.Get(), ""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKey(key.Get(), nullptr), ERROR_INVALID_PARAMETER);
    // Separators of other systems are ordinary characters here; the value name may hold '\'.
    EXPECT_EQ(RegCreateKeyEx(key.Get(), "a/b", KEY_ALL_ACCESS, out.Receive()), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueEx(key.Get(), "C:\\path", REG_SZ, "x\0"s), ERROR_SUCCESS);
    EXPECT_EQ(SubKeys(key.Get()), (std::vector<std::string>{"a/b", longest}));
}

TEST_F(RegistryTest, ValuesKeepTheirKindAndExactBytes) {
    CRegKey key = Create(HKEY_LOCAL_MACHINE, "Values");
    const std::string secret = "pa\0ss\xff\x80\x01\0"s;
    ASSERT_EQ(RegSetValueEx(key.Get(), "Secret", REG_SZ, secret), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key.Get(), "Path", REG_EXPAND_SZ, "%HOME%\0"s), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key.Get(), "Empty", REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    const BYTE port[4] = {0x50, 0x00, 0x00, 0x00};
    ASSERT_EQ(RegSetValueEx(key.Get(), "Port", REG_DWORD, port, 4), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key.Get(), "", REG_SZ, "default\0"s), ERROR_SUCCESS);

    struct Expected {
        const char* name;
        DWORD type;
        std::string data;
    };
    for (const Expected& e : {Expected{"Secret", REG_SZ, secret}, Expected{"Path", REG_EXPAND_SZ, "%HOME%\0"s},
                              Expected{"Empty", REG_BINARY, ""}, Expected{"Port", REG_DWORD, "\x50\0\0\0"s},
                              Expected{"", REG_SZ, "default\0"s}}) {
        DWORD type = 0;
        std::string data = "junk";
        ASSERT_EQ(RegQueryValueEx(key.Get(), e.name, &type, &data), ERROR_SUCCESS) << e.name;
        EXPECT_EQ(type, e.type) << e.name;
        EXPECT_EQ(data, e.data) << e.name;
    }

    // The buffer form: size first, a short buffer is refused and left alone, then the bytes.
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueEx(key.Get(), "Secret", nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, secret.size());
    BYTE buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), 0xAA);
    size = 4;
    EXPECT_EQ(RegQueryValueEx(key.Get(), "Secret", nullptr, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, secret.size());
    EXPECT_EQ(buffer[0], 0xAA);
    size = sizeof buffer;
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueEx(key.Get(), "Secret", &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), secret);

    // A DWORD is exactly 4 bytes; kinds the store does not keep are refused.
    EXPECT_EQ(RegSetValueEx(key.Get(), "Short", REG_DWORD, port, 2), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(key.Get(), "Multi", 7, "a\0\0"s), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(key.Get(), "Null", REG_BINARY, nullptr, 3), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(key.Get(), "Huge", REG_BINARY, std::string(REG_MAX_VALUE_SIZE + 1, 'x')),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueEx(key.Get(), "Short", nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);

    // Replacing a value changes its kind and bytes.
    ASSERT_EQ(RegSetValueEx(key.Get(), "Port", REG_SZ, "eighty\0"s), ERROR_SUCCESS);
    std::string data;
    ASSERT_EQ(RegQueryValueEx(key.Get(), "Port", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data, "eighty\0"s);
}

TEST_F(RegistryTest, SubKeysEnumerateByNameValuesByInsertion) {
    CRegKey key = Create(HKEY_LOCAL_MACHINE, "Order");
    for (const char* name : {"b", "Mapping2", "A", "mapping10", "C", "Mapping1"})
        Create(key.Get(), name);
    EXPECT_EQ(SubKeys(key.Get()), (std::vector<std::string>{"A", "b", "C", "Mapping1", "mapping10", "Mapping2"}));
    std::vector<std::string> names;
    ASSERT_EQ(RegEnumKeyNames(key.Get(), &names), ERROR_SUCCESS);
    EXPECT_EQ(names, SubKeys(key.Get()));

    for (const char* name : {"zeta", "Alpha", "mid"})
        ASSERT_EQ(RegSetValueEx(key.Get(), name, REG_SZ, "1\0"s), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key.Get(), "ALPHA", REG_BINARY, "\x02"s), ERROR_SUCCESS);  // keeps its place
    EXPECT_EQ(ValueNames(key.Get()), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
    ASSERT_EQ(RegDeleteValue(key.Get(), "zeta"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key.Get(), "Zeta", REG_SZ, "2\0"s), ERROR_SUCCESS);  // a new one goes last
    EXPECT_EQ(ValueNames(key.Get()), (std::vector<std::string>{"Alpha", "mid", "Zeta"}));

    DWORD subKeys = 0, values = 0;
    ASSERT_EQ(RegQueryInfoKey(key.Get(), &subKeys, &values), ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 6u);
    EXPECT_EQ(values, 3u);
    std::string name;
    EXPECT_EQ(RegEnumKeyEx(key.Get(), 6, &name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumValue(key.Get(), 3, &name, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    char small[5];
    DWORD size = sizeof small;
    EXPECT_EQ(RegEnumKeyEx(key.Get(), 3, small, &size), ERROR_MORE_DATA);  // "Mapping1" needs 9
    char fits[9];
    size = sizeof fits;
    ASSERT_EQ(RegEnumKeyEx(key.Get(), 3, fits, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    EXPECT_STREQ(fits, "Mapping1");
}

TEST_F(RegistryTest, DeletingKeysAndTrees) {
    CRegKey key = Create(HKEY_LOCAL_MACHINE, "Tree\\Branch\\Leaf");
    ASSERT_EQ(RegSetValueEx(key.Get(), "v", REG_SZ, "x\0"s), ERROR_SUCCESS);
    CRegKey tree = Create(HKEY_LOCAL_MACHINE, "Tree");
    ASSERT_EQ(RegSetValueEx(tree.Get(), "top", REG_SZ, "x\0"s), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteKey(tree.Get(), "Branch"), ERROR_KEY_HAS_CHILDREN);
    EXPECT_EQ(SubKeys(tree.Get()), std::vector<std::string>{"Branch"});
    EXPECT_EQ(RegDeleteKey(tree.Get(), "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKey(tree.Get(), "branch\\LEAF"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueEx(key.Get(), "v", nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegSetValueEx(key.Get(), "v", REG_SZ, "x\0"s), ERROR_KEY_DELETED);
    CRegKey out;
    EXPECT_EQ(RegCreateKeyEx(key.Get(), "Child", KEY_ALL_ACCESS, out.Receive()), ERROR_KEY_DELETED);
    // A key created again at the same path is a new key; the old handle stays dead.
    Create(HKEY_LOCAL_MACHINE, "Tree\\Branch\\Leaf");
    EXPECT_EQ(RegQueryInfoKey(key.Get(), nullptr, nullptr), ERROR_KEY_DELETED);

    // An empty sub-key path empties the key itself and keeps it.
    Create(tree.Get(), "Other\\Deep\\Deeper");
    ASSERT_EQ(RegDeleteTree(tree.Get(), nullptr), ERROR_SUCCESS);
    DWORD subKeys = 9, values = 9;
    ASSERT_EQ(RegQueryInfoKey(tree.Get(), &subKeys, &values), ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 0u);
    EXPECT_EQ(values, 0u);

    Create(tree.Get(), "Branch\\Leaf");
    ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "TREE"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryInfoKey(tree.Get(), nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_TRUE(SubKeys(HKEY_LOCAL_MACHINE).empty());
    EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "Tree"), ERROR_FILE_NOT_FOUND);
    // Emptying a hive empties its root key, which itself stays.
    EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Again", KEY_ALL_ACCESS, out.Receive()), ERROR_SUCCESS);
}

TEST_F(RegistryTest, RightsOfAHandleAreEnforced) {
    Create(HKEY_LOCAL_MACHINE, "Locked\\Child");
    CRegKey reader;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Locked", KEY_READ, reader.Receive()), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueEx(reader.Get(), "v", REG_SZ, "x\0"s), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValue(reader.Get(), "v"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTree(reader.Get(), "Child"), ERROR_ACCESS_DENIED);
    CRegKey out;
    EXPECT_EQ(RegCreateKeyEx(reader.Get(), "New", KEY_ALL_ACCESS, out.Receive()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyEx(reader.Get(), "child", KEY_READ, out.Receive()), ERROR_SUCCESS);  // exists
    EXPECT_EQ(SubKeys(reader.Get()), std::vector<std::string>{"Child"});

    CRegKey writer;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Locked", KEY_SET_VALUE, writer.Receive()), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueEx(writer.Get(), "v", REG_SZ, "x\0"s), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueEx(writer.Get(), "v", nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
    std::string name;
    EXPECT_EQ(RegEnumKeyEx(writer.Get(), 0, &name), ERROR_ACCESS_DENIED);

    // Pointers that are not open handles are refused, not followed.
    HKEY bogus = reinterpret_cast<HKEY>(&name);
    EXPECT_EQ(RegQueryInfoKey(bogus, nullptr, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Locked", KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, AFileThatIsNoHiveIsRefusedAndLeftAlone) {
    std::string path = RegHivePath(HKEY_LOCAL_MACHINE);
    mkdir((state.Path() + "/state").c_str(), 0700);
    const std::string text = "not a database\n";
    std::ofstream(path) << text;
    CRegKey key;
    EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_ALL_ACCESS, key.Receive()), ERROR_BADDB);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ, key.Receive()), ERROR_BADDB);
    std::ifstream in(path);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, text);
}

TEST_F(RegistryTest, AHiveFileRemovedWhileOpenIsCreatedAnew) {
    CRegKey old = Create(HKEY_LOCAL_MACHINE, "Old");
    std::string path = RegHivePath(HKEY_LOCAL_MACHINE);
    for (const char* suffix : {"", "-wal", "-shm"})
        unlink((path + suffix).c_str());
    Create(HKEY_LOCAL_MACHINE, "New");
    EXPECT_EQ(SubKeys(HKEY_LOCAL_MACHINE), std::vector<std::string>{"New"});
    EXPECT_TRUE(Exists(path));
}

TEST_F(RegistryTest, ManyThreadsShareOneHive) {
    constexpr int kThreads = 8, kRounds = 60;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            std::string own = "Threads\\T" + std::to_string(t);
            for (int i = 0; i < kRounds; ++i) {
                CRegKey key;
                std::string sub = own + "\\K" + std::to_string(i);
                if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, sub.c_str(), KEY_ALL_ACCESS, key.Receive()) != ERROR_SUCCESS ||
                    RegSetValueEx(key.Get(), "i", REG_SZ, std::to_string(i) + '\0') != ERROR_SUCCESS)
                    ++failures;
                std::string data;
                if (RegQueryValueEx(key.Get(), "I", nullptr, &data) != ERROR_SUCCESS || data != std::to_string(i) + '\0')
                    ++failures;
                // Everyone also creates and deletes keys of one shared parent.
                CRegKey shared;
                std::string name = "Threads\\Shared\\S" + std::to_string(t * kRounds + i);
                if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, name.c_str(), KEY_ALL_ACCESS, shared.Receive()) != ERROR_SUCCESS)
                    ++failures;
                if (i % 2 == 0 && RegDeleteKey(HKEY_LOCAL_MACHINE, name.c_str()) != ERROR_SUCCESS)
                    ++failures;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    CRegKey shared = Create(HKEY_LOCAL_MACHINE, "Threads\\Shared");
    DWORD subKeys = 0;
    ASSERT_EQ(RegQueryInfoKey(shared.Get(), &subKeys, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(subKeys, static_cast<DWORD>(kThreads * kRounds / 2));
    for (int t = 0; t < kThreads; ++t) {
        CRegKey own = Create(HKEY_LOCAL_MACHINE, ("Threads\\T" + std::to_string(t)).c_str());
        EXPECT_EQ(SubKeys(own.Get()).size(), static_cast<std::size_t>(kRounds));
    }
}

TEST_F(RegistryTest, ATreeIsReadAsOneSnapshotInOrder) {
    CRegKey b = Create(HKEY_LOCAL_MACHINE, "Top\\b\\Deep");
    Create(HKEY_LOCAL_MACHINE, "Top\\A");
    CRegKey top = Create(HKEY_LOCAL_MACHINE, "Top");
    ASSERT_EQ(RegSetValueEx(top.Get(), "z", REG_SZ, "1\0"s), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(top.Get(), "a", REG_BINARY, "\x02"s), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(b.Get(), "d", REG_DWORD, "\x01\0\0\0"s), ERROR_SUCCESS);
    std::vector<RegTreeKey> tree;
    ASSERT_EQ(RegReadTree(HKEY_LOCAL_MACHINE, "top", &tree), ERROR_SUCCESS);
    ASSERT_EQ(tree.size(), 4u);
    EXPECT_EQ(tree[0].path, "");
    ASSERT_EQ(tree[0].values.size(), 2u);
    EXPECT_EQ(tree[0].values[0].name, "z");
    EXPECT_EQ(tree[0].values[1].data, "\x02"s);
    EXPECT_EQ(tree[1].path, "A");
    EXPECT_EQ(tree[2].path, "b");
    EXPECT_EQ(tree[3].path, "b\\Deep");
    ASSERT_EQ(tree[3].values.size(), 1u);
    EXPECT_EQ(tree[3].values[0].type, REG_DWORD);
    EXPECT_EQ(RegReadTree(HKEY_LOCAL_MACHINE, "Missing", &tree), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, EditsApplyAllOrNothing) {
    CRegKey kept = Create(HKEY_LOCAL_MACHINE, "Kept\\Child");
    ASSERT_EQ(RegSetValueEx(kept.Get(), "v", REG_SZ, "old\0"s), ERROR_SUCCESS);
    using Kind = RegEdit::Kind;
    std::vector<RegEdit> good = {
        RegEdit{Kind::CreateKey, "New\\Empty"},
        RegEdit{Kind::SetValue, "New\\Values", "s", REG_SZ, "x\0"s},
        RegEdit{Kind::SetValue, "kept\\child", "v", REG_SZ, "new\0"s},
        RegEdit{Kind::DeleteValue, "Kept\\Child", "missing"},
        RegEdit{Kind::DeleteTree, "Missing\\Tree"},
        RegEdit{Kind::DeleteTree, "New\\Empty"},
    };
    ASSERT_EQ(RegApplyEdits(HKEY_LOCAL_MACHINE, good), ERROR_SUCCESS);
    std::string data;
    ASSERT_EQ(RegQueryValueEx(kept.Get(), "v", nullptr, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, "new\0"s);
    CRegKey values;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "New\\Values", KEY_READ, values.Receive()), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "New\\Empty", KEY_READ, values.Receive()), ERROR_FILE_NOT_FOUND);

    // A bad edit anywhere refuses the whole batch before anything is written.
    std::vector<RegEdit> bad = {RegEdit{Kind::SetValue, "Kept\\Child", "v", REG_SZ, "lost\0"s},
                                RegEdit{Kind::SetValue, "Kept", "w", REG_DWORD, "\x01"s}};
    EXPECT_EQ(RegApplyEdits(HKEY_LOCAL_MACHINE, bad), ERROR_INVALID_PARAMETER);
    bad = {RegEdit{Kind::DeleteTree, "Kept"}, RegEdit{Kind::CreateKey, "a\\\\b"}};
    EXPECT_EQ(RegApplyEdits(HKEY_LOCAL_MACHINE, bad), ERROR_INVALID_PARAMETER);
    // A failure inside the transaction rolls back what came before it.
    CRegKey noCreate;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Kept", KEY_SET_VALUE, noCreate.Receive()), ERROR_SUCCESS);
    bad = {RegEdit{Kind::SetValue, "Child", "v", REG_SZ, "lost\0"s}, RegEdit{Kind::DeleteTree, "Child"},
           RegEdit{Kind::CreateKey, "Brand\\New"}};
    EXPECT_EQ(RegApplyEdits(noCreate.Get(), bad), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegQueryValueEx(kept.Get(), "v", nullptr, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, "new\0"s);
}

// --- read-only opening ----------------------------------------------------------------------

// Run in a process of its own as an unprivileged user: fills the hive named by
// NORVANE_STATE_DIR, then ends (so the hive is closed and its journal folded in).
TEST(RegistryHelper, DISABLED_FillHive) {
    ASSERT_TRUE(DropRootRights());
    CRegKey key;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Checked", KEY_ALL_ACCESS, key.Receive()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key.Get(), "Port", REG_SZ, "808\0"s), ERROR_SUCCESS);
}

// Run the same way after the folder was made read-only: reads it without creating anything.
TEST(RegistryHelper, DISABLED_ReadHiveReadOnly) {
    ASSERT_TRUE(DropRootRights());
    std::string folder = std::getenv("NORVANE_STATE_DIR");
    ASSERT_NE(access(folder.c_str(), W_OK), 0) << "the folder should not be writable";
    CRegKey key;
    ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Checked", KEY_READ, key.Receive()), ERROR_SUCCESS);
    std::string data;
    ASSERT_EQ(RegQueryValueEx(key.Get(), "Port", nullptr, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, "808\0"s);
    std::string name;
    EXPECT_EQ(RegEnumValue(key.Get(), 0, &name, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(name, "Port");
    EXPECT_EQ(RegSetValueEx(key.Get(), "Port", REG_SZ, "1\0"s), ERROR_ACCESS_DENIED);
    CRegKey writer;
    EXPECT_NE(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", KEY_ALL_ACCESS, writer.Receive()), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ReadOnlyOpenWorksInAFolderThatIsNotWritable) {
    std::string folder = state.Path() + "/ro";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(chmod(state.Path().c_str(), 0755), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(folder.c_str(), kNobodyId, kNobodyId), 0);
    }
    std::vector<std::string> env = {"NORVANE_STATE_DIR=" + folder};
    ASSERT_EQ(WaitTestProcess(StartTestProcess("RegistryHelper.DISABLED_FillHive", env)), 0);
    ASSERT_TRUE(Exists(folder + "/machine.db"));
    ASSERT_FALSE(Exists(folder + "/machine.db-wal"));
    ASSERT_EQ(chmod(folder.c_str(), 0500), 0);
    EXPECT_EQ(WaitTestProcess(StartTestProcess("RegistryHelper.DISABLED_ReadHiveReadOnly", env)), 0);
    EXPECT_FALSE(Exists(folder + "/machine.db-shm"));
    chmod(folder.c_str(), 0700);
}

// --- two processes ----------------------------------------------------------------------------

// One of several writers in processes of their own; NORVANE_TEST_WRITER names its key.
TEST(RegistryHelper, DISABLED_Writer) {
    const char* writer = std::getenv("NORVANE_TEST_WRITER");
    ASSERT_NE(writer, nullptr);
    for (int i = 0; i < 150; ++i) {
        CRegKey key;
        std::string path = std::string("Shared\\") + writer + "\\K" + std::to_string(i);
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS, key.Receive()), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(key.Get(), "n", REG_SZ, std::to_string(i) + '\0'), ERROR_SUCCESS);
        CRegKey common;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Shared\\Common", KEY_ALL_ACCESS, common.Receive()), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(common.Get(), (std::string(writer) + std::to_string(i)).c_str(), REG_BINARY, "x"s),
                  ERROR_SUCCESS);
    }
}

TEST_F(RegistryTest, ProcessesWriteOneHiveAtOnce) {
    std::vector<pid_t> children;
    for (const char* writer : {"A", "B", "C"})
        children.push_back(StartTestProcess("RegistryHelper.DISABLED_Writer", {"NORVANE_TEST_WRITER="s + writer}));
    // This process writes at the same time, through its own long-lived connection.
    for (int i = 0; i < 150; ++i) {
        CRegKey key = Create(HKEY_LOCAL_MACHINE, ("Shared\\P\\K" + std::to_string(i)).c_str());
        ASSERT_EQ(RegSetValueEx(key.Get(), "n", REG_SZ, std::to_string(i) + '\0'), ERROR_SUCCESS);
    }
    for (pid_t child : children)
        EXPECT_EQ(WaitTestProcess(child), 0);
    for (const char* writer : {"A", "B", "C", "P"}) {
        CRegKey key = Create(HKEY_LOCAL_MACHINE, ("Shared\\"s + writer).c_str());
        EXPECT_EQ(SubKeys(key.Get()).size(), 150u) << writer;
        std::string data;
        CRegKey last = Create(key.Get(), "K149");
        ASSERT_EQ(RegQueryValueEx(last.Get(), "n", nullptr, &data), ERROR_SUCCESS);
        EXPECT_EQ(data, "149\0"s);
    }
    CRegKey common = Create(HKEY_LOCAL_MACHINE, "Shared\\Common");
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKey(common.Get(), nullptr, &values), ERROR_SUCCESS);
    EXPECT_EQ(values, 450u);
}

}  // namespace
