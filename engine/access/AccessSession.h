#pragma once
// A session as the access decision sees it (CRight::IsGranted): who it runs as, from where,
// and the values of its request (engine/access/RequestValueSource.h). Every session
// implements it; decisions can be tested with a fake one.

#include "engine/access/AccessContext.h"
#include "engine/access/RequestValueSource.h"
#include "platform/kernel/Types.h"

#include <string>

class CGroupMemberDatabase;
class CNVDataObject;

class CAccessSession : public CRequestValueSource {
public:
    // The user name the session runs as, copied from its client machine.
    virtual std::string GetUserName() const = 0;
    // The session's copy of its machine's log-on level: 0 unknown ("Guest"), 1 user assumed
    // from a location, 2 user authenticated by a console log-on from that host.
    virtual int GetLogonLevel() const = 0;
    // The client's dotted address ("192.168.1.20").
    virtual std::string GetClientAddress() const = 0;
    // Where the user database and the default rights are.
    virtual CAccessContext& GetAccessContext() const = 0;

protected:
    CAccessSession() = default;
    CAccessSession(const CAccessSession&) = default;
    CAccessSession& operator=(const CAccessSession&) = default;
    ~CAccessSession() = default;
};

// The user values of the request-variable table for a session's GetValue: for index 6-10
// the user's counter (ClientSendTraffic, ClientRecvTraffic, NonClientSendTraffic,
// NonClientRecvTraffic, TimeOnLine) as unsigned, for 11 the ClosingBalance after
// UpdateBalance in whole units, truncated toward zero, as integer (kept inside the integer
// range). Looked up under the database lock with the user lookup (a user account of exactly
// that name). Answers whether `index` is one of 6-11; `data` is left unchanged for any other
// index and when the name is not a user account.
bool GetUserRequestValue(CGroupMemberDatabase& users, const std::string& userName, DWORD index,
                         CNVDataObject& data);
