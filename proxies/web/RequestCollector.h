#pragma once
// Collects the bytes a browser sends until its request head is complete.
//
// The head ends at the first "\r\n\r\n". A request line without a version ("GET /x\r\n", no
// "HTTP/" in the line) is a whole request at its first "\r\n". The bytes after the head are
// the start of the request body and are kept apart from it. A head is at most kMaxHeadSize
// bytes, terminator included; a longer one is refused (the session answers it with the
// malformed-request page), so a client cannot make the buffer grow without bound.

#include "foundation/ByteBuffer.h"

#include <cstddef>
#include <string>
#include <string_view>

class CRequestCollector {
public:
    static constexpr std::size_t kMaxHeadSize = 65536;

    enum EState {
        incomplete,  // more bytes are needed
        complete,    // GetHead() holds the head, TakeBody() the bytes after it
        tooLarge,    // no head within kMaxHeadSize bytes; refuse the request
    };

    CRequestCollector() = default;
    CRequestCollector(const CRequestCollector&) = delete;
    CRequestCollector& operator=(const CRequestCollector&) = delete;

    // Adds bytes received from the client and returns the new state. Bytes that arrive after
    // the head was complete are added to the body; after tooLarge they are dropped.
    EState Append(const void* bytes, std::size_t count);
    EState GetState() const { return m_state; }

    // The head with its terminator; empty until complete.
    std::string_view GetHead() const;
    // The body bytes received so far (possibly none); they are handed over once, the
    // collector keeps no copy.
    std::string TakeBody();
    // Number of body bytes waiting to be taken.
    std::size_t GetBodySize() const { return m_body.size(); }

private:
    void FindHeadEnd();

    CByteBuffer m_buffer;
    std::string m_body;
    std::size_t m_scanned = 0;  // bytes already searched for the terminators
    std::size_t m_lineEnd = 0;  // end of the request line once found (0 = not yet)
    bool m_versionless = false;  // the request line holds no "HTTP/"
    EState m_state = incomplete;
};
