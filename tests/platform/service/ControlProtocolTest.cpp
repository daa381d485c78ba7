#include "platform/service/ControlProtocol.h"

#include <gtest/gtest.h>

#include <vector>

using namespace ControlProtocol;

namespace {
std::vector<BYTE> Bytes(std::initializer_list<int> values) {
    std::vector<BYTE> out;
    for (int v : values)
        out.push_back(static_cast<BYTE>(v));
    return out;
}
template <std::size_t N>
std::vector<BYTE> Bytes(const std::array<BYTE, N>& a) {
    return {a.begin(), a.end()};
}
}  // namespace

TEST(ControlProtocol, MessagesAreLittleEndianWordsAfterTheMagic) {
    EXPECT_EQ(Bytes(EncodeRequest({kOpControl, 0x01020304})),
              Bytes({'N', 'V', 'S', 'C', 2, 0, 0, 0, 4, 3, 2, 1}));
    EXPECT_EQ(Bytes(EncodeStartMessage({kStartConnected, 0x1234})),
              Bytes({'N', 'V', 'S', 'C', 1, 0, 0, 0, 0x34, 0x12, 0, 0}));

    SERVICE_STATUS status;
    status.dwServiceType = 0x10;
    status.dwCurrentState = 4;
    status.dwControlsAccepted = 5;
    status.dwWin32ExitCode = 1067;
    status.dwServiceSpecificExitCode = 0xAABBCCDD;
    status.dwCheckPoint = 7;
    status.dwWaitHint = 3000;
    EXPECT_EQ(Bytes(EncodeReply({1061, status})),
              Bytes({'N',  'V',  'S',  'C', 0x25, 0x04, 0, 0, 0x10, 0,    0,    0,
                     4,    0,    0,    0,   5,    0,    0, 0, 0x2B, 0x04, 0,    0,
                     0xDD, 0xCC, 0xBB, 0xAA, 7,   0,    0, 0, 0xB8, 0x0B, 0,    0}));
}

TEST(ControlProtocol, DecodersRoundTripAndRefuseWrongSizeOrMagic) {
    SERVICE_STATUS status;
    status.dwCurrentState = SERVICE_STOP_PENDING;
    status.dwWaitHint = 99;
    auto reply = EncodeReply({5, status});
    auto decoded = DecodeReply(reply.data(), reply.size());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->error, 5u);
    EXPECT_EQ(decoded->status, status);

    auto request = EncodeRequest({kOpQueryStatus, 0});
    EXPECT_TRUE(DecodeRequest(request.data(), request.size()));
    EXPECT_FALSE(DecodeRequest(request.data(), request.size() - 1));
    EXPECT_FALSE(DecodeRequest(nullptr, kRequestSize));
    EXPECT_FALSE(DecodeReply(request.data(), request.size()));
    request[0] ^= 1;
    EXPECT_FALSE(DecodeRequest(request.data(), request.size()));
    auto start = EncodeStartMessage({kStartExecFailed, 2});
    start[3] = 0;
    EXPECT_FALSE(DecodeStartMessage(start.data(), start.size()));
}
