#pragma once
// The RealAudio proxy's byte layouts and texts, as one table. Numbers on the wire are in
// network byte order.
//
// Control packet, client to proxy, before "Connected OK":
//   offset  size   field
//   0       2      length L: the command byte and the data
//   2       1      command (kCommand...)
//   3       L - 1  data
// A client that speaks the proxy protocol opens with a hello (command 1), so the third byte
// of its first packet is 1; any other byte marks a client that took the proxy for the server.
// Commands whose length is not theirs (hello and TCP mode: L = 2; server and client port:
// L = 3) are taken as their 3 header bytes only: the data is the start of the next packet.
//
// Status packet, proxy to client (BuildRealAudioStatusPacket):
//   0       2      strlen(text) + 2
//   2       1      6
//   3       1      code (kStatus...)
//   4       n      the text, without a terminating zero
//
// After "Connected OK" the client's bytes are: a 5-byte preamble (sent on once 11 bytes have
// come), then messages of
//   0       2      message id (0 ends the messages: from then on the client's bytes pass
//                  unread)
//   2       2      payload length N
//   4       N      payload; ids 1 (data port) and 7 (robust port) carry the client's UDP port
//                  in their first two bytes, where the proxy puts its own socket's port
// The server's bytes are a 9-byte preamble, then a 10-byte answer:
//   0       1      'O'
//   1       1      8
//   2       2      7: the server offers the robust channel
//   4       2      the server's robust UDP port, where the proxy puts its robust socket's port
//   6       4      not looked at
// after which the server's bytes pass unread.

#include "platform/kernel/Types.h"

#include <cstddef>
#include <string_view>

namespace RealAudioFormat {

// --- Service --------------------------------------------------------------------------------
inline constexpr const char* kServiceName = "RealAudio Proxy server";
inline constexpr UINT kServicePort = 1090;
inline constexpr DWORD kSupportedMethods = 0;

// --- Control packets ------------------------------------------------------------------------
inline constexpr std::size_t kPacketHeaderSize = 3;  // length and command
inline constexpr std::size_t kCommandOffset = 2;
inline constexpr BYTE kCommandConnect = 0;
inline constexpr BYTE kCommandHello = 1;
inline constexpr BYTE kCommandServerName = 2;
inline constexpr BYTE kCommandServerPort = 3;
inline constexpr BYTE kCommandClientPortOffset = 4;
inline constexpr BYTE kCommandTCPMode = 5;
inline constexpr BYTE kCommandStatus = 6;
// The lengths L of the commands that carry a byte or a port.
inline constexpr WORD kByteCommandLength = 2;
inline constexpr WORD kWordCommandLength = 3;
// The texts of commands 2 and 6 fill an area of this many bytes with their terminating zero.
inline constexpr std::size_t kTextArea = 256;
// The hello byte that the proxy answers with kHelloAnswer; any other ends the session.
inline constexpr BYTE kHelloVersion = 1;
inline constexpr std::string_view kHelloAnswer{"\x02\x00\x01\x01", 4};

// --- Status packets -------------------------------------------------------------------------
inline constexpr BYTE kStatusCommand = 6;
inline constexpr BYTE kStatusOK = 0;
inline constexpr BYTE kStatusFailed = 1;  // with the exception's text
inline constexpr BYTE kStatusBadRequest = 2;
inline constexpr const char* kConnectedOK = "Connected OK";
inline constexpr const char* kBadInfoPassed = "Bad Info Passed";

// --- Messages after "Connected OK" ----------------------------------------------------------
inline constexpr std::size_t kClientPreambleSize = 5;
inline constexpr std::size_t kClientPreambleWait = 11;  // bytes waiting before it goes on
inline constexpr std::size_t kMessageHeaderSize = 4;
inline constexpr WORD kMessageEnd = 0;
inline constexpr WORD kMessageDataPort = 1;
inline constexpr WORD kMessageRobustPort = 7;
// Payloads up to this size are read whole (and rewritten); longer ones pass unchanged.
inline constexpr std::size_t kPayloadArea = 512;

inline constexpr std::size_t kServerPreambleSize = 9;
inline constexpr std::size_t kServerAnswerSize = 10;
inline constexpr char kAnswerMark = 'O';
inline constexpr BYTE kAnswerKind = 8;
inline constexpr WORD kAnswerRobust = 7;
inline constexpr std::size_t kAnswerRobustPortOffset = 4;

// TCP bytes and datagrams move in blocks of at most this size, one block per read notice.
inline constexpr std::size_t kRelayBlock = 1024;

// --- Session texts --------------------------------------------------------------------------
inline constexpr const char* kDescriptionStart = "RealPlayer: ";
inline constexpr const char* kDescriptionServer = "RealPlayer: %s";
inline constexpr const char* kDescriptionServerPort = "RealPlayer: %s:%u";

// Debug lines (service log bit 512).
inline constexpr const char* kDebugServerName = "RealPlayer: Server name %s";
inline constexpr const char* kDebugServerPort = "RealPlayer: Server port number %u";
inline constexpr const char* kDebugClientPortOffset = "RealPlayer: Client port offset %u";
inline constexpr const char* kDebugTCPMode = "RealPlayer: using TCP mode";
inline constexpr const char* kDebugStatus = "RealPlayer: status %s";
// Formatted with the command number.
inline constexpr const char* kDebugUnknownCommand =
    "Received unknown command in RealPlayer Proxy session %u\n";
inline constexpr const char* kDebugClientMessage = "Client Message ID %u length %u, received %u";
inline constexpr const char* kDebugNoRobust = "Robust UDP not supported by server";

// Error lines (service log bit 128).
inline constexpr const char* kErrorNonProxy = "Non proxy request rejected";
inline constexpr const char* kErrorNoServer =
    "Bad protocol - no server name given or bad port number";
inline constexpr const char* kErrorZeroLength =
    "Bad protocol - control packet of length 0 in CRealAudioSession - terminating";
// Command, the text's length, the longest text.
inline constexpr const char* kErrorTextTooLong =
    "Bad protocol - command %u carries a text of %u bytes (at most %u) in CRealAudioSession - "
    "terminating";
inline constexpr const char* kOnReadDataSocket =
    "Caught socket exception in CRealAudioSession::OnRead() m_DataUDPSocket: %s - terminating";
inline constexpr const char* kOnReadRobustSocket =
    "Caught socket exception in CRealAudioSession::OnRead() m_RobustUDPSocket: %s - terminating";
inline constexpr const char* kOnReadClientSocket =
    "Caught socket exception in CRealAudioSession::OnRead() m_ClientSocket: %s - terminating";
inline constexpr const char* kOnReadServerSocket =
    "Caught socket exception in CRealAudioSession::OnRead() m_ServerSocket: %s - terminating";
inline constexpr const char* kOnReadUnknown =
    "Caught unknown exception in CRealAudioSession::OnRead() - terminating";
inline constexpr const char* kReadPacketSocket =
    "Caught socket exception in CRealAudioSession::ReadPacket() %s - terminating";
inline constexpr const char* kReadPacketUnknown =
    "Caught unknown exception in CRealAudioSession::ReadPacket() - terminating";
inline constexpr const char* kOnCloseSocket =
    "Caught socket exception in CRealAudioSession::OnClose() %s - terminating";
inline constexpr const char* kOnCloseUnknown =
    "Caught unknown exception in CRealAudioSession::OnClose() - terminating";

}  // namespace RealAudioFormat
