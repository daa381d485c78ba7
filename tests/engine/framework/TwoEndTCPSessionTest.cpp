#include "engine/framework/TwoEndTCPSession.h"

#include "foundation/NVDataObject.h"
#include "support/FrameworkTestKit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class TwoEndTCPSessionTest : public FrameworkTest {};

TEST_F(TwoEndTCPSessionTest, RemoteCountersCountForTheUserAndTargetVariablesAnswer) {
    auto session = CRef<CTwoEndTCPSession>::Adopt(new CTwoEndTCPSession);
    EXPECT_TRUE(session->HasRemoteSide());
    session->SetRemoteTarget("www.example.com", 8443);
    CNVDataObject host;
    session->GetValue(2, host);
    EXPECT_EQ(host.DataType, CNVDataObject::TypeString);
    EXPECT_EQ(host.strData, "www.example.com");
    CNVDataObject port;
    session->GetValue(3, port);
    EXPECT_EQ(port.DataType, CNVDataObject::TypeDWORD);
    EXPECT_EQ(port.dwData, 8443u);
    CNVDataObject other;
    session->GetValue(17, other);
    EXPECT_EQ(other.DataType, CNVDataObject::TypeInt);
    EXPECT_FALSE(session->IsOwnAddress("127.0.0.1"));  // neither side connected
}

TEST_F(TwoEndTCPSessionTest, ConnectRemoteFollowsTheSessionsConnectMethod) {
    RawListener proxy;
    auto session = CRef<CTwoEndTCPSession>::Adopt(new CTwoEndTCPSession);
    COutboundSettings upstream;
    upstream.ConnectMethod = 1;  // through an upstream HTTP proxy: connect to it instead
    upstream.ProxyServer = "127.0.0.1";
    upstream.ProxyPort = proxy.Port();
    session->SetUpstream(upstream);

    X1Socket socket;
    session->ConnectRemote(socket, "unreachable.invalid", 80);
    RawPeer accepted = proxy.Accept(5000);
    EXPECT_GE(accepted.Fd(), 0);
    EXPECT_TRUE(socket.IsConnected());
    socket.Close();

    upstream.ConnectMethod = 3;  // not a method
    session->SetUpstream(upstream);
    X1Socket other;
    EXPECT_EQ(CatchSocketError([&] { session->ConnectRemote(other, "127.0.0.1", proxy.Port()); }).code,
              10022);
    EXPECT_FALSE(other.IsConnected());
}

}  // namespace
