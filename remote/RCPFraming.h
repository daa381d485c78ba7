#pragma once
// The framing of the remote-control link (remote/RCPFormat.h gives the layout): frames made
// from objects and objects read back from frames, as pure functions over bytes, and
// CRCPChannel, which moves whole frames over one connected X1Socket. Both ends use them: the
// engine's remote-control session and the console's session derived from it.

#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"
#include "remote/RCPFormat.h"

#include <cstddef>
#include <memory>
#include <vector>

class X1Socket;

namespace RCPFraming {

// The whole frame of `object`: the length word, then the image of its Serialize (untagged) or
// of the archive's object write (tagged: class record, then its fields). Throws what the
// archive throws (an object of a class that cannot stand in a stream, no memory).
std::vector<BYTE> Encode(CObject& object, bool tagged);
// The image length that a frame's first four bytes announce.
DWORD ImageLength(const BYTE lengthBytes[RCPFormat::kLengthBytes]);

// Reads `image` into `object` through its Serialize. Throws the archive's exceptions when the
// image is malformed; a class whose Serialize reads aside (CNVRCPMessage) is then unchanged.
void DecodeInto(const BYTE* image, std::size_t size, CObject& object);
// A new object of the class the image names, which must be `expected` or derive from it (a
// different class fails as bad class before any of its fields are read). Throws the archive's
// exceptions.
std::unique_ptr<CObject> DecodeTagged(const BYTE* image, std::size_t size,
                                      const CRuntimeClass* expected);

}  // namespace RCPFraming

// Whole frames over one connected socket. The socket belongs to the calling thread (its
// blocking reads run through the socket layer's read worker) and must outlive the channel.
//
// A frame that fails on the way (a length above the limit, an image cut short, a time-out, a
// failed send) leaves the two ends out of step: nothing that follows on the connection can be
// trusted to start on a frame boundary. The channel remembers it (IsOutOfStep); its owner
// closes the connection. A frame that arrived whole but held a malformed image leaves the
// stream in step.
class CRCPChannel {
public:
    explicit CRCPChannel(X1Socket& socket) : m_socket(socket) {}
    CRCPChannel(const CRCPChannel&) = delete;
    CRCPChannel& operator=(const CRCPChannel&) = delete;

    // Sends a frame made by RCPFraming::Encode in one send. Throws the socket's exceptions.
    void Send(const std::vector<BYTE>& frame);
    // Receives one frame and returns its image: the length word within kLengthTimeoutMs, a
    // length of at most kMaxImageLength, then the image within N × 10 + 10000 ms. Throws
    // X1SocketException(0, text) with kCommunicationsFailure (no length word in time, or the
    // peer closed inside it), kOutOfSync (too long), kMemoryAllocationError, or
    // `shortImageText` (the image did not all come).
    std::vector<BYTE> Receive(const char* shortImageText);

    bool IsOutOfStep() const { return m_outOfStep; }

    // Time-outs other than the protocol's, for tests.
    void SetTimeouts(DWORD lengthMs, DWORD payloadBaseMs, DWORD payloadPerByteMs);

private:
    std::vector<BYTE> ReceiveImage(const char* shortImageText);

    X1Socket& m_socket;
    bool m_outOfStep = false;
    DWORD m_lengthTimeoutMs = RCPFormat::kLengthTimeoutMs;
    DWORD m_payloadBaseMs = RCPFormat::kPayloadTimeoutBaseMs;
    DWORD m_payloadPerByteMs = RCPFormat::kPayloadTimeoutPerByteMs;
};
