#include "remote/RCPFraming.h"

#include "foundation/Archive.h"
#include "foundation/MemFile.h"
#include "foundation/X1Socket.h"
#include "foundation/X1SocketException.h"

#include <algorithm>
#include <new>

using namespace RCPFormat;

namespace RCPFraming {

std::vector<BYTE> Encode(CObject& object, bool tagged) {
    CMemFile store(kImageGrowBy);
    {
        CArchive ar(&store, CArchive::store, kArchiveBuffer);
        if (tagged)
            ar.WriteObject(&object);
        else
            object.Serialize(ar);
        ar.Close();
    }
    const std::uint64_t length = store.GetLength();
    if (length > kMaxImageLength)
        throw new X1SocketException(0, kObjectTooLong);
    std::vector<BYTE> frame(kLengthBytes + static_cast<std::size_t>(length));
    for (std::size_t n = 0; n < kLengthBytes; ++n)
        frame[n] = static_cast<BYTE>(length >> (8 * n));
    if (length != 0)
        std::copy_n(store.GetData(), static_cast<std::size_t>(length), frame.begin() + kLengthBytes);
    return frame;
}

DWORD ImageLength(const BYTE lengthBytes[kLengthBytes]) {
    return DWORD{lengthBytes[0]} | DWORD{lengthBytes[1]} << 8 | DWORD{lengthBytes[2]} << 16 |
           DWORD{lengthBytes[3]} << 24;
}

void DecodeInto(const BYTE* image, std::size_t size, CObject& object) {
    CMemFile store(image, size, kImageGrowBy);
    CArchive ar(&store, CArchive::load, kArchiveBuffer);
    object.Serialize(ar);
    ar.Close();
}

std::unique_ptr<CObject> DecodeTagged(const BYTE* image, std::size_t size,
                                      const CRuntimeClass* expected) {
    CMemFile store(image, size, kImageGrowBy);
    CArchive ar(&store, CArchive::load, kArchiveBuffer);
    std::unique_ptr<CObject> object = ar.ReadOwnedObject<CObject>(expected, false);
    ar.Close();
    return object;
}

}  // namespace RCPFraming

void CRCPChannel::SetTimeouts(DWORD lengthMs, DWORD payloadBaseMs, DWORD payloadPerByteMs) {
    m_lengthTimeoutMs = lengthMs;
    m_payloadBaseMs = payloadBaseMs;
    m_payloadPerByteMs = payloadPerByteMs;
}

void CRCPChannel::Send(const std::vector<BYTE>& frame) {
    try {
        m_socket.Send(frame.data(), static_cast<int>(frame.size()));
    } catch (...) {
        m_outOfStep = true;  // how much of the frame went out is unknown
        throw;
    }
}

std::vector<BYTE> CRCPChannel::Receive(const char* shortImageText) {
    // Whatever fails here leaves the stream at an unknown place; only a whole frame keeps it
    // in step.
    try {
        return ReceiveImage(shortImageText);
    } catch (...) {
        m_outOfStep = true;
        throw;
    }
}

std::vector<BYTE> CRCPChannel::ReceiveImage(const char* shortImageText) {
    BYTE lengthBytes[kLengthBytes];
    int got;
    try {
        got = m_socket.RecvFixedAmount(lengthBytes, kLengthBytes, m_lengthTimeoutMs);
    } catch (X1SocketException* e) {
        e->Delete();
        throw new X1SocketException(0, kCommunicationsFailure);
    }
    if (got < static_cast<int>(kLengthBytes))
        throw new X1SocketException(0, kCommunicationsFailure);
    const DWORD length = RCPFraming::ImageLength(lengthBytes);
    if (length > kMaxImageLength)
        throw new X1SocketException(0, kOutOfSync);
    std::vector<BYTE> image;
    try {
        image.resize(length);
    } catch (const std::bad_alloc&) {
        throw new X1SocketException(0, kMemoryAllocationError);
    }
    const DWORD timeoutMs = length * m_payloadPerByteMs + m_payloadBaseMs;
    try {
        got = m_socket.RecvFixedAmount(image.data(), static_cast<int>(length), timeoutMs);
    } catch (X1SocketException* e) {
        e->Delete();
        throw new X1SocketException(0, shortImageText);
    }
    if (got < static_cast<int>(length))
        throw new X1SocketException(0, shortImageText);
    return image;
}
