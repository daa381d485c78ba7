#include "foundation/HostEntry.h"
#include "foundation/NVEvent.h"

#include <gtest/gtest.h>

#include <ctime>
#include <netdb.h>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// A resolver entry over storage of its own.
class FakeHost {
public:
    FakeHost(std::string name, std::vector<std::string> aliases,
             std::vector<std::string> addresses, int length)
        : m_name(std::move(name)), m_aliases(std::move(aliases)),
          m_addresses(std::move(addresses)) {
        for (std::string& alias : m_aliases)
            m_aliasList.push_back(alias.data());
        m_aliasList.push_back(nullptr);
        for (std::string& address : m_addresses)
            m_addressList.push_back(address.data());
        m_addressList.push_back(nullptr);
        m_entry.h_name = m_name.data();
        m_entry.h_aliases = m_aliasList.data();
        m_entry.h_addrtype = length == 4 ? 2 : 10;
        m_entry.h_length = length;
        m_entry.h_addr_list = m_addressList.data();
    }
    const hostent& Get() const { return m_entry; }

private:
    std::string m_name;
    std::vector<std::string> m_aliases, m_addresses;
    std::vector<char*> m_aliasList, m_addressList;
    hostent m_entry{};
};

TEST(HostEntryTest, CopiesNamesAndAddressesInOrder) {
    FakeHost host("gate.example", {"gate", "proxy"}, {"\x0A\x00\x00\x01"s, "\xC0\xA8\x01\x02"s}, 4);
    CHostEntry copy(host.Get());
    EXPECT_EQ(copy.GetName(), "gate.example");
    EXPECT_EQ(copy.GetAliases(), (std::vector<std::string>{"gate", "proxy"}));
    EXPECT_EQ(copy.GetAddressType(), 2);
    EXPECT_EQ(copy.GetAddressLength(), 4);
    ASSERT_EQ(copy.GetAddresses().size(), 2u);
    const BYTE* first = reinterpret_cast<const BYTE*>(&copy.GetAddresses()[0]);
    EXPECT_EQ(first[0], 10);
    EXPECT_EQ(first[3], 1);
    const BYTE* second = reinterpret_cast<const BYTE*>(&copy.GetAddresses()[1]);
    EXPECT_EQ(second[0], 192);
    EXPECT_EQ(second[3], 2);

    // Assign replaces what was there.
    FakeHost other("other.example", {}, {"\x01\x02\x03\x04"}, 4);
    EXPECT_TRUE(copy.Assign(other.Get()));
    EXPECT_EQ(copy.GetName(), "other.example");
    EXPECT_TRUE(copy.GetAliases().empty());
    EXPECT_EQ(copy.GetAddresses().size(), 1u);
}

TEST(HostEntryTest, EntriesWithLongerAddressesAreNotCopied) {
    FakeHost six("six.example", {"six"}, {std::string(8, '\x01')}, 8);
    CHostEntry fresh(six.Get());
    EXPECT_EQ(fresh.GetName(), "");
    EXPECT_TRUE(fresh.GetAliases().empty());
    EXPECT_TRUE(fresh.GetAddresses().empty());
    EXPECT_EQ(fresh.GetAddressType(), 2);
    EXPECT_EQ(fresh.GetAddressLength(), 4);

    FakeHost old("old.example", {}, {"\x01\x02\x03\x04"}, 4);
    CHostEntry kept(old.Get());
    EXPECT_FALSE(kept.Assign(six.Get()));
    EXPECT_EQ(kept.GetName(), "old.example");
    EXPECT_EQ(kept.GetAddresses().size(), 1u);
}

TEST(NVEventTest, ValueTextAndTimeOfConstruction) {
    std::time_t before = std::time(nullptr);
    CNVEvent plain;
    CNVEvent full(nullptr, 17, "dialled");
    std::time_t after = std::time(nullptr);
    EXPECT_EQ(plain.GetValue(), 0);
    EXPECT_EQ(plain.GetText(), "");
    EXPECT_EQ(full.GetValue(), 17);
    EXPECT_EQ(full.GetText(), "dialled");
    EXPECT_EQ(full.GetFirstExtra(), "");
    EXPECT_EQ(full.GetSecondExtra(), "");
    EXPECT_GE(full.GetTime(), before);
    EXPECT_LE(full.GetTime(), after);
    // Known to run-time checks, but never created by name nor stored.
    EXPECT_TRUE(full.IsKindOf(RUNTIME_CLASS(CNVEvent)));
    EXPECT_EQ(RUNTIME_CLASS(CNVEvent)->GetSchema(), 0xFFFF);
    EXPECT_FALSE(RUNTIME_CLASS(CNVEvent)->CanCreate());
    EXPECT_EQ(CRuntimeClass::FromName("CNVEvent"), nullptr);
}

}  // namespace
