#pragma once
// Collects the bytes a server sends until its response head is complete.
//
// The head ends at the first empty line: the earliest "\n\n" or "\n\r\n" (so "\r\n\r\n" and
// a bare "\n\n" both end it, whichever comes first). Without one, bytes that begin with
// "HTTP/1.0 304" are a whole head: such an answer has no body, and servers that send it
// without its blank line exist. A head is at most kMaxHeadSize bytes, terminator included;
// beyond that the collector refuses it (the session sends the socket-error page when nothing
// went to the client yet, and ends), so a server cannot make the buffer grow without bound.
//
// The session's ReceiveResponse is: receive up to 8096 bytes, Append them; incomplete logs
// kLogMoreResponse and waits for more; complete hands GetHead() to ParseResponse and relays
// TakeBody() (logged with kLogResponseResourceData when not empty) after the head; tooLarge
// ends the session. When the server closes first, TakeReceived() is what it sent: relayed as
// it is, or the socket-error page when it is empty.

#include <cstddef>
#include <string>
#include <string_view>

class CResponseCollector {
public:
    static constexpr std::size_t kMaxHeadSize = 65536;

    enum EState {
        incomplete,  // more bytes are needed
        complete,    // GetHead() holds the head, TakeBody() the bytes after it
        tooLarge,    // no head within kMaxHeadSize bytes; give the response up
    };

    CResponseCollector() = default;
    CResponseCollector(const CResponseCollector&) = delete;
    CResponseCollector& operator=(const CResponseCollector&) = delete;

    // Adds bytes received from the server and returns the new state. Bytes that arrive after
    // the head was complete are added to the body; after tooLarge they are dropped.
    EState Append(const void* bytes, std::size_t count);
    EState GetState() const { return m_state; }

    // The head with its terminator; empty until complete.
    std::string_view GetHead() const;
    // The bytes after the head received so far; handed over once, no copy is kept.
    std::string TakeBody();
    // Everything received while the head is still incomplete (what a server that closed
    // early sent); handed over once. Empty in the other states.
    std::string TakeReceived();
    // Back to the start, for a second request on the same session (a cached copy that
    // vanished is fetched again).
    void Reset();

private:
    void FindHeadEnd();

    std::string m_data;  // the head, or everything while incomplete
    std::string m_body;
    std::size_t m_scanned = 0;  // bytes already searched for the terminators
    EState m_state = incomplete;
};
