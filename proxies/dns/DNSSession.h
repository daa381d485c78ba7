#pragma once
// CDNSSession: one DNS query, from its arrival until its reply is sent. The DNS service makes
// it, admits it and checks it on the service thread, then ProcessQuery either readies a reply
// at once (a refusal) or starts an asynchronous lookup of the queried name, for the client's
// address (one client's lookups take only its share of the resolver's threads and queue). A
// resolver thread answers the client itself (AnswerLookup) when the lookup is done, or as a
// server failure when its deadline has passed first (it was held up on the network, or waited
// too long for a thread); then the completion comes back to the service thread, which finds
// the session by the lookup's id and ends it (code 0) either way. While the lookup is pending
// the query and the reply belong to the resolver's thread; everything else runs on the service
// thread, but EndSession.
//
// Its key in the service's session map is the low half of the lookup's id; the whole id is
// kept (GetLookupId), so a completion is matched exactly. Ending the session (the reply sent,
// the idle time-out, the service's end, its machine removed) cancels a pending lookup: no
// result reaches a session that has ended.
//
// Request variables: the server name (id 2) is the queried name, so request filters apply to
// the names looked up.

#include "engine/framework/UDPSession.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Types.h"
#include "platform/net/AsyncResolver.h"
#include "platform/net/Resolver.h"
#include "platform/net/Sockets.h"
#include "proxies/dns/DNSMessage.h"

#include <atomic>
#include <cstdint>
#include <string>

class CDatagramOutlet;
class CDNSService;

// Its lookup's hooks are its own: the dial check before, the answer after (the resolver holds
// a reference of the session meanwhile).
class CDNSSession : public CUDPSession, private CAsyncResolver::Hooks {
    DECLARE_SERIAL(CDNSSession)
public:
    CDNSSession();
    explicit CDNSSession(CDNSService* owner);

    // Cancels a pending lookup, then ends as a UDP session.
    void EndSession(int code) override;
    // A REFUSED reply (code 5) to the client, with the question when it can be read; nothing
    // for a response.
    void SendAccessDenied() override;
    void GetValue(DWORD id, CNVDataObject& value) override;

    // The query: receive into Buffer(), then SetLength.
    CDNSMessage& Message() { return m_message; }
    void SetAllowAutodial(DWORD allow) { m_allowAutodial = allow; }

    // TRUE when an asynchronous lookup is now pending; FALSE when the reply is ready
    // (Message().Length() 0: nothing to send).
    BOOL ProcessQuery();
    // The lookup's outcome as the reply: `error` 0 answers with the official name and first
    // address, 11001 and 11004 (no such name, no address) a name error, anything else a server
    // failure.
    void OnLookupDone(int error, const HostLookup& lookup);
    // On a resolver thread, when the lookup is done: the reply built (OnLookupDone) and sent
    // from the service's socket, unless the session has ended meanwhile.
    void AnswerLookup(int error, const HostLookup& lookup, CDatagramOutlet& outlet);
    // On the service thread, for the completion of lookup `id`: false when the session waits
    // for no such lookup (it has ended, or it is another lookup's); else how the reply went:
    // 0 (sent, or nothing to send), the socket error of its send, or kUnknownReplyFailure.
    // The session then ends.
    static constexpr int kUnknownReplyFailure = -1;
    bool FinishLookup(std::uint64_t id, int* replyError);
    // The client: its address and port, also as the session's client address text.
    void SetClient(const NetAddress& client);
    // Sends the reply, if any, to the client from the service's socket.
    void SendReply();
    // The reply, if any, as a datagram to the client (its bytes stay with the session until
    // it is destroyed), taken once: FALSE when there is nothing to send. CountReplySent books
    // the datagram once it went.
    BOOL TakeReply(NetOutgoingDatagram* datagram);
    void CountReplySent(const NetOutgoingDatagram& datagram);

    // The reply: the official name and first address of `lookup`, or a server failure when
    // it has no address or a name that cannot be written.
    void BuildAnswer(const HostLookup& lookup);
    void BuildRefusal(int code);

    std::uint64_t GetLookupId() const { return m_lookupId.load(); }
    std::string GetQueriedName() const;

private:
    // The service it was made by (null for a session made without one).
    CDNSService* GetDNSService() const;
    void SetQueriedName(const std::string& name);
    // Starts the lookup of the queried name; false when it could not be started.
    bool StartLookup(const std::string& name);
    // On the lookup thread: the dial on demand, when allowed (its failure is the lookup's
    // error), and the answer.
    int BeforeLookup() override;
    void AfterLookup(int error, const HostLookup& lookup) override;
    void ReleaseHooks() override;

    CDNSMessage m_message;
    NetAddress m_client;
    std::atomic<std::uint64_t> m_lookupId{0};
    std::atomic<int> m_replyError{0};
    DWORD m_allowAutodial = 0;
    mutable CMutex m_nameMutex;  // leaf: the name is read by access decisions anywhere
    std::string m_queriedName;
};
