#include "foundation/HostEntry.h"

#include <cstring>
#include <netdb.h>

CHostEntry::CHostEntry(const hostent& entry) { Assign(entry); }

BOOL CHostEntry::Assign(const hostent& entry) {
    if (entry.h_length != IPv4Length)
        return FALSE;
    m_name.clear();
    m_aliases.clear();
    m_addresses.clear();
    if (entry.h_name)
        m_name = entry.h_name;
    for (char** alias = entry.h_aliases; alias && *alias; ++alias)
        m_aliases.emplace_back(*alias);
    m_addressType = InternetFamily;
    m_addressLength = IPv4Length;
    for (char** address = entry.h_addr_list; address && *address; ++address) {
        DWORD value;
        std::memcpy(&value, *address, sizeof value);
        m_addresses.push_back(value);
    }
    return TRUE;
}
