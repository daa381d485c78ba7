#pragma once
// CPOP3Service: the POP3 proxy service. Mail clients log on to it as "mailbox#host[:port]"
// and each connection becomes a CPOP3Session. Besides a TCP service's settings it keeps the
// character that separates the mailbox from the server in a log-on (Delimiter, '#' by default).
//
// Registry (after the TCP service's values): Delimiter, a DWORD holding the character's value
// sign-extended; a load keeps its low 8 bits, '#' when it is missing. Archive (after the TCP
// service's fields): the delimiter as one byte.

#include "engine/framework/TCPService.h"
#include "platform/kernel/Types.h"

class CPOP3Service : public CTCPService {
    DECLARE_SERIAL(CPOP3Service)
public:
    // "POP3 Proxy server" on port 110.
    CPOP3Service();

    void Serialize(CArchive& ar) override;
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    void LoadFromRegistry(const std::string& keyPath) override;
    // A CPOP3Session for the accepted connection, with the service's delimiter.
    CSession* CreateSession(int acceptedHandle) override;

    char GetDelimiter() const;
    void SetDelimiter(char delimiter);

private:
    signed char m_delimiter;
};
