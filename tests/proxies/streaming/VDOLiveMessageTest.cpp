#include "proxies/streaming/VDOLiveMessage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using EKind = SVDOLivePort::EKind;
using namespace std::string_literals;

std::string Dword(DWORD value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string Message(DWORD type, const std::string& body) {
    return Dword(static_cast<DWORD>(body.size() + 4)) + Dword(type) + body;
}

// A counted text padded to a multiple of 4.
std::string Text4(const std::string& text) {
    return Dword(static_cast<DWORD>(text.size())) + text +
           std::string((4 - text.size() % 4) % 4, '\0');
}

TEST(VDOLiveMessageTest, NamesArePaddedToMultiplesOfFourBeforeTheNextField) {
    for (std::size_t n = 0; n <= 5; ++n) {
        const std::string name(n, 'h');
        SVDOLiveRequest request;
        ASSERT_TRUE(ParseVDOLiveRequest(
            Message(32, Dword(7000) + Text4(name) + Dword(4) + "clip"), request));
        EXPECT_EQ(request.port, 7000u);
        EXPECT_EQ(request.host, name);
        EXPECT_EQ(request.clip, "clip");

        const std::string stream = Message(6, Text4(name) + "12345678" + Dword(5004) + "tail");
        const SVDOLivePort found = FindVDOLivePlayerPort(stream);
        EXPECT_EQ(found.kind, EKind::stream);
        EXPECT_EQ(found.offset, 20 + (n + 3) / 4 * 4);
        EXPECT_EQ(found.port, 5004u);
        EXPECT_EQ(found.streamName, name);
        std::string rewritten = stream;
        WriteVDOLivePlayerPort(rewritten, found, 0xBEEF);
        EXPECT_EQ(rewritten, stream.substr(0, found.offset) + Dword(0xBEEF) +
                                 stream.substr(found.offset + 4));
    }
}

TEST(VDOLiveMessageTest, FieldsOutsideTheMessageAndTheMark) {
    SVDOLiveRequest request;
    EXPECT_FALSE(ParseVDOLiveRequest(Message(32, Dword(7000) + Dword(5) + "host"), request));
    EXPECT_FALSE(ParseVDOLiveRequest(Message(32, Dword(7000) + Dword(0xFFFFFFFE) + "host"), request));
    EXPECT_FALSE(ParseVDOLiveRequest(Message(32, Dword(7000) + Text4("h") + Dword(9) + "c"), request));
    const struct {
        std::string message;
        EKind kind;
    } rows[] = {
        {Message(6, Dword(0xFFFFFFFF) + "name"), EKind::outside},
        {Message(6, Text4("abc") + "12345678"), EKind::outside},
        {Message(1, "VDO Live" + Dword(5000)), EKind::marked},
        {Message(1, "VDO Live"), EKind::outside},
        {Message(1, "VDO Li\0\0"s + Dword(5000)), EKind::none},
        {Message(1, "VDO live" + Dword(5000)), EKind::none},
        {Message(1, "VDO"), EKind::none},
        {Message(32, "VDO Live" + Dword(5000)), EKind::none},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FindVDOLivePlayerPort(row.message).kind, row.kind) << row.message.size();
}

}  // namespace
