#pragma once
// A copy of a resolved host's names and IPv4 addresses, kept after the resolver's own entry
// is gone.

#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <cstdint>
#include <string>
#include <vector>

struct hostent;

class CHostEntry : public CObject {
public:
    // The only family and address length an entry is copied for.
    static constexpr std::int16_t InternetFamily = 2;
    static constexpr std::int16_t IPv4Length = 4;

    // Empty name and lists, type 2, length 4.
    CHostEntry() = default;
    // A copy of `entry` when its addresses are 4 bytes long; otherwise empty.
    explicit CHostEntry(const hostent& entry);

    // For an entry with 4-byte addresses: empties the name and both lists, then copies the
    // name, every alias and every address in order. Any other entry leaves the object as it
    // was. TRUE when the entry was copied.
    BOOL Assign(const hostent& entry);

    const std::string& GetName() const { return m_name; }
    const std::vector<std::string>& GetAliases() const { return m_aliases; }
    std::int16_t GetAddressType() const { return m_addressType; }
    std::int16_t GetAddressLength() const { return m_addressLength; }
    // The addresses as the resolver gives them: network byte order in memory.
    const std::vector<DWORD>& GetAddresses() const { return m_addresses; }

private:
    std::string m_name;
    std::vector<std::string> m_aliases;
    std::int16_t m_addressType = InternetFamily;
    std::int16_t m_addressLength = IPv4Length;
    std::vector<DWORD> m_addresses;
};
