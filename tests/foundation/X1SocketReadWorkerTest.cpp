// RecvLine and RecvFixedAmount: reads on the owner thread, served by the read worker.

#include "foundation/X1SocketReadWorker.h"

#include "foundation/RegistryStore.h"
#include "foundation/SocketErrorTexts.h"
#include "foundation/X1Socket.h"
#include "foundation/X1SocketNotifyWindow.h"
#include "platform/kernel/Clock.h"
#include "platform/kernel/Sync.h"
#include "support/SocketTestKit.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

constexpr UINT kRead = X1SocketNotifyWindow::kSocketRead;
constexpr UINT kClose = X1SocketNotifyWindow::kSocketClose;

X1SocketReadWorker& Worker() { return X1SocketNotifyWindow::Instance().GetReadWorker(); }

// Sends `parts` one after another with a pause, from its own thread.
class SlowSender {
public:
    SlowSender(RawPeer& peer, std::vector<std::string> parts, bool closeAfter = false)
        : m_thread([&peer, parts = std::move(parts), closeAfter] {
              for (const std::string& part : parts) {
                  Sleep(30);
                  peer.Send(part);
              }
              if (closeAfter) {
                  Sleep(30);
                  peer.Close();
              }
          }) {}
    ~SlowSender() { m_thread.join(); }

private:
    std::thread m_thread;
};

TEST(RecvLineTest, ALineAlreadyWaitingIsReturnedWithoutTheWorker) {
    OwnedConnection c;
    c.Peer().Send("USER anonymous\r\nPASS x\r\n");
    ASSERT_TRUE(c.WaitForCount(kRead, 1));
    const std::size_t filed = Worker().RequestsFiled();
    std::string line;
    int n = 0;
    c.Run([&](X1Socket& s) { n = s.RecvLine(line, 30000); });
    EXPECT_EQ(n, 16);
    EXPECT_EQ(line, "USER anonymous\r\n");  // the carriage return is kept
    EXPECT_EQ(Worker().RequestsFiled(), filed);
    c.Run([&](X1Socket& s) { n = s.RecvLine(line, 30000); });
    EXPECT_EQ(line, "PASS x\r\n");
}

TEST(RecvLineTest, ALongLineInPiecesIsAssembledOverSeveralReadEvents) {
    OwnedConnection c;
    std::string expected(600, 'p');
    expected += "\n";
    std::string line;
    const std::size_t filed = Worker().RequestsFiled();
    {
        SlowSender sender(c.Peer(), {expected.substr(0, 200), expected.substr(200, 300),
                                     expected.substr(500) + "next"});
        c.Run([&](X1Socket& s) { EXPECT_EQ(s.RecvLine(line, 30000), 601); });
    }
    EXPECT_EQ(line, expected);
    EXPECT_EQ(Worker().RequestsFiled(), filed + 1);
    c.Run([&](X1Socket& s) {
        EXPECT_EQ(s.GetEventMask(), 33u);  // write events are no longer asked for
        EXPECT_TRUE(s.IsAsync());
    });
    // The bytes after the line are announced to the reader once the socket is back.
    ASSERT_TRUE(WaitUntil([&] {
        int waiting = 0;
        c.Run([&](X1Socket& s) { waiting = s.GetBytesAvailable(); });
        return waiting == 4;
    }));
    const int reads = c.Count(kRead);
    c.Peer().Send("!");
    ASSERT_TRUE(c.WaitForCount(kRead, reads + 1));
}

TEST(RecvLineTest, GivingTheSocketBackAnnouncesBytesThatArrivedDuringTheRead) {
    OwnedConnection c({}, FD_READ | FD_CLOSE);
    const int before = c.Count(kRead);
    std::string line;
    {
        SlowSender sender(c.Peer(), {"one\ntwo\n"});
        c.Run([&](X1Socket& s) { s.RecvLine(line, 30000); });
    }
    EXPECT_EQ(line, "one\n");
    ASSERT_TRUE(c.WaitForCount(kRead, before + 1));  // "two\n" is waiting for the reader
    c.Run([&](X1Socket& s) { s.RecvLine(line, 30000); });
    EXPECT_EQ(line, "two\n");
}

TEST(RecvLineTest, AnUnterminatedLastLineIsReturnedWhenThePeerCloses) {
    OwnedConnection c;
    std::string line;
    {
        SlowSender sender(c.Peer(), {"partial"}, true);
        c.Run([&](X1Socket& s) { EXPECT_EQ(s.RecvLine(line, 30000), 7); });
    }
    EXPECT_EQ(line, "partial");
    ASSERT_TRUE(c.WaitForCount(kClose, 1));  // as if the socket had never been lent
    Sleep(200);
    EXPECT_EQ(c.Count(kClose), 1);
}

TEST(RecvLineTest, ALineIsCutAtItsCap) {
    OwnedConnection c;
    const std::string flood(X1SocketReadWorker::kMaxLineLength + 5000, 'f');
    std::thread sender([&] { c.Peer().Send(flood + "\n"); });
    std::string line;
    c.Run([&](X1Socket& s) {
        EXPECT_EQ(s.RecvLine(line, 30000), static_cast<int>(X1SocketReadWorker::kMaxLineLength));
    });
    sender.join();
    EXPECT_EQ(line.find('\n'), std::string::npos);
    c.Run([&](X1Socket& s) { EXPECT_EQ(s.RecvLine(line, 30000), 5001); });
    EXPECT_EQ(line, std::string(5000, 'f') + "\n");
}

TEST(RecvLineTest, ATimeOutThrowsCode0AndLaterDataGoesToTheReader) {
    OwnedConnection c;
    std::string line;
    CaughtSocketError e;
    c.Run([&](X1Socket& s) { e = CatchSocketError([&] { s.RecvLine(line, 150); }); });
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(e.text, "Timeout in recvline function");
    const int reads = c.Count(kRead);
    c.Peer().Send("late\n");
    ASSERT_TRUE(c.WaitForCount(kRead, reads + 1));  // the reader has its socket back
    Sleep(100);
    c.Run([&](X1Socket& s) { EXPECT_EQ(s.GetBytesAvailable(), 5); });
    EXPECT_TRUE(line.empty());  // the withdrawn request was not written to
}

TEST(RecvLineTest, AStoredTimeOutTextIsUsed) {
    TempStateDir state;
    SetRegistryRoot("Urvo Software", "Norvane 2");
    ASSERT_TRUE(RegWriteString(kSocketErrorsKey, "RecvLineTimeout", "Server too slow"));
    OwnedConnection c;
    std::string text;
    c.Run([&](X1Socket& s) {
        std::string line;
        text = CatchSocketError([&] { s.RecvLine(line, 50); }).text;
    });
    SetRegistryRoot("", "");
    EXPECT_EQ(text, "Server too slow");
}

TEST(RecvLineTest, SelectionThatWasOffStaysOffAfterTheRead) {
    OwnedConnection c;
    c.Run([](X1Socket& s) { s.StopAsyncSelect(); });
    std::string line;
    {
        SlowSender sender(c.Peer(), {"quiet\n"});
        c.Run([&](X1Socket& s) { EXPECT_EQ(s.RecvLine(line, 30000), 6); });
    }
    c.Run([](X1Socket& s) { EXPECT_FALSE(s.IsAsync()); });
    const int reads = c.Count(kRead);
    c.Peer().Send("x");
    Sleep(200);
    EXPECT_EQ(c.Count(kRead), reads);
}

TEST(RecvFixedAmountTest, ReadsTheCountInPiecesAndACountOfZeroAtOnce) {
    OwnedConnection c;
    char buf[16] = {};
    {
        SlowSender sender(c.Peer(), {"abc", "defgh", "ijklmnop"});
        c.Run([&](X1Socket& s) {
            EXPECT_EQ(s.RecvFixedAmount(buf, 0, 10), 0);
            EXPECT_EQ(s.RecvFixedAmount(buf, 16, 30000), 16);
        });
    }
    EXPECT_EQ(std::string(buf, 16), "abcdefghijklmnop");
    c.Run([](X1Socket& s) {
        EXPECT_EQ(s.GetEventMask(), 33u);
        EXPECT_EQ(s.GetBytesReceived(), 16u);
    });
}

TEST(RecvFixedAmountTest, APeerClosingAfterThreeOfEightBytesGivesThreeAndACloseNotice) {
    OwnedConnection c;
    char buf[8] = {};
    {
        SlowSender sender(c.Peer(), {"xyz"}, true);
        c.Run([&](X1Socket& s) { EXPECT_EQ(s.RecvFixedAmount(buf, 8, 30000), 3); });
    }
    EXPECT_EQ(std::string(buf, 3), "xyz");
    ASSERT_TRUE(c.WaitForCount(kClose, 1));
}

TEST(RecvFixedAmountTest, ATimeOutThrowsCode0AndTheBufferIsNotWrittenLater) {
    OwnedConnection c;
    char buf[8];
    std::fill(std::begin(buf), std::end(buf), '.');
    CaughtSocketError e;
    c.Run([&](X1Socket& s) { e = CatchSocketError([&] { s.RecvFixedAmount(buf, 8, 150); }); });
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(e.text, "Timeout in RecvFixedAmount function");
    c.Peer().Send("12345678");
    ASSERT_TRUE(c.WaitForCount(kRead, 1));
    Sleep(100);
    EXPECT_EQ(std::string(buf, 8), "........");
}

// The end of a wait as the reader sees it: it takes its request back, and a request that the
// worker completed meanwhile (a time-out racing with completion) is found completed, its bytes
// kept; a request still filed is withdrawn and the worker does not touch it afterwards.
TEST(ReadWorkerTest, TakingARequestBackTellsCompletedFromStillWaiting) {
    OwnedConnection c({}, FD_CLOSE);
    c.Peer().Send("done\nrest");
    ASSERT_TRUE(WaitUntil([&] {
        int waiting = 0;
        c.Run([&](X1Socket& s) { waiting = s.GetBytesAvailable(); });
        return waiting == 9;
    }));
    c.Run([&](X1Socket& s) {
        std::string line;
        CEvent wake(false, false);
        X1SocketLineRequest request{&line, &s, &wake, GetCurrentThreadId()};
        Worker().AddLineRequest(&request);
        Worker().OnSocketRead(s.GetHandle());  // served here, as the worker thread would
        EXPECT_FALSE(Worker().WithdrawLineRequest(&request));
        EXPECT_TRUE(request.completed);
        EXPECT_EQ(line, "done\n");
        EXPECT_EQ(wake.Wait(0), WAIT_OBJECT_0);

        char buf[8] = {};
        X1SocketFixedRequest fixed{reinterpret_cast<unsigned char*>(buf), 8, &s, &wake,
                                   GetCurrentThreadId(), 8};
        Worker().AddFixedRequest(&fixed);
        EXPECT_TRUE(Worker().WithdrawFixedRequest(&fixed));
        EXPECT_FALSE(fixed.completed);
        Worker().OnSocketRead(s.GetHandle());
        Worker().OnSocketClose(s.GetHandle(), 0);
        EXPECT_EQ(buf[0], 0);                     // not written after it was withdrawn
        EXPECT_EQ(s.GetBytesAvailable(), 4);      // "rest" still waits
        EXPECT_EQ(wake.Wait(0), WAIT_TIMEOUT);    // and nobody woke the reader
    });
}

TEST(RecvFixedAmountTest, ManyReadersOnManySocketsAtOnce) {
    constexpr int kReaders = 6, kRecords = 40;
    std::vector<std::unique_ptr<OwnedConnection>> conns;
    for (int i = 0; i < kReaders; ++i)
        conns.push_back(std::make_unique<OwnedConnection>());
    std::vector<std::thread> senders, readers;
    std::atomic<int> good{0};
    for (int i = 0; i < kReaders; ++i) {
        senders.emplace_back([&, i] {
            for (int r = 0; r < kRecords; ++r)
                conns[i]->Peer().Send(std::string(1, static_cast<char>('A' + i)) + "bcdefg\n");
        });
        readers.emplace_back([&, i] {
            for (int r = 0; r < kRecords; ++r) {
                if (r % 2) {
                    char rec[8];
                    conns[i]->Run([&](X1Socket& s) {
                        if (s.RecvFixedAmount(rec, 8, 30000) == 8 && rec[0] == 'A' + i)
                            ++good;
                    });
                } else {
                    std::string line;
                    conns[i]->Run([&](X1Socket& s) {
                        if (s.RecvLine(line, 30000) == 8 && line[0] == 'A' + i)
                            ++good;
                    });
                }
            }
        });
    }
    for (auto& t : senders)
        t.join();
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(good, kReaders * kRecords);
}

}  // namespace
