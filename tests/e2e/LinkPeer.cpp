// Puts one half of the link handshake on a loopback socket for test_link.py to drive with its
// independent Python peer. Every event is one line on standard output:
//
//   norvane_link_peer serve TYPE [--fixed USER PASSWORD] [--user NAME PASSWORD]...
//       listens on 127.0.0.1 and prints "listening PORT"; then, for each connection in turn,
//       runs the server half and prints "admitted TYPE USER" or "refused CODE TEXT"; an admitted
//       client's messages (4-byte little-endian length, then the bytes; length 0 ends) are
//       answered with "ok " + the message and printed as "message LENGTH"; "closed" follows.
//   norvane_link_peer connect PORT TYPE USER PASSWORD [SIZE]...
//       connects with those credentials (so Connect runs the client half) and prints
//       "connected" or "refused CODE TEXT"; sends one message of each SIZE (bytes n * 7 + SIZE)
//       and prints "reply SIZE ok" when the answer is "ok " + the message.

#include "foundation/LinkFormat.h"
#include "foundation/X1Socket.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr DWORD kMessageTimeoutMs = 10000;
constexpr DWORD kMaxMessage = 1 << 20;

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Reports and frees a caught exception.
void SayRefused(X1SocketException* e) {
    Say("refused " + std::to_string(e->GetErrorCode()) + " " + e->GetErrorText());
    e->Delete();
}

std::string EncodeLength(DWORD length) {
    std::string bytes;
    for (unsigned shift = 0; shift < 32; shift += 8)
        bytes += static_cast<char>((length >> shift) & 0xFF);
    return bytes;
}

void SendMessage(X1Socket& socket, const std::string& payload) {
    const std::string framed = EncodeLength(static_cast<DWORD>(payload.size())) + payload;
    socket.Send(framed.data(), static_cast<int>(framed.size()));
}

// False when the peer closed or sent a length beyond kMaxMessage.
bool ReceiveMessage(X1Socket& socket, std::string& payload) {
    unsigned char head[4];
    if (socket.RecvFixedAmount(head, 4, kMessageTimeoutMs) != 4)
        return false;
    const DWORD length = head[0] | head[1] << 8 | head[2] << 16 | static_cast<DWORD>(head[3]) << 24;
    if (length > kMaxMessage)
        return false;
    payload.assign(length, '\0');
    return socket.RecvFixedAmount(payload.data(), static_cast<int>(length), kMessageTimeoutMs) ==
           static_cast<int>(length);
}

int Serve(int argc, char** argv) {
    if (argc < 3)
        return 2;
    const BYTE type = static_cast<BYTE>(std::atoi(argv[2]));
    bool fixed = false;
    std::string fixedUser, fixedPassword;
    std::map<std::string, std::string> users;
    for (int n = 3; n + 2 < argc; n += 3) {
        const std::string option = argv[n];
        if (option == "--fixed") {
            fixed = true;
            fixedUser = argv[n + 1];
            fixedPassword = argv[n + 2];
        } else if (option == "--user") {
            users[argv[n + 1]] = argv[n + 2];
        } else {
            return 2;
        }
    }
    const CLinkUserLookup lookup = [&users](const std::string& name, std::string& password) {
        auto it = users.find(name);
        if (it == users.end())
            return false;
        password = it->second;
        return true;
    };

    X1Socket listener;
    listener.Create();
    listener.SetReuseAddress(true);
    listener.Bind(0, "127.0.0.1");
    listener.Listen(5);
    Say("listening " + std::to_string(listener.GetLocalPort()));
    for (;;) {
        X1Socket connection;
        connection.SetLinkCredentials(type, fixed, fixedUser, fixedPassword);
        connection.Attach(listener.Accept());
        try {
            connection.ServerHandshake(lookup);
            Say("admitted " + std::to_string(connection.GetLinkType()) + " " +
                connection.GetLinkUserName());
            std::string payload;
            while (ReceiveMessage(connection, payload) && !payload.empty()) {
                Say("message " + std::to_string(payload.size()));
                SendMessage(connection, "ok " + payload);
            }
        } catch (X1SocketException* e) {
            SayRefused(e);
        }
        connection.Close();
        Say("closed");
    }
}

int Connect(int argc, char** argv) {
    if (argc < 6)
        return 2;
    X1Socket socket;
    socket.Create();
    socket.SetLinkCredentials(static_cast<BYTE>(std::atoi(argv[3])), false, argv[4], argv[5]);
    try {
        socket.Connect("127.0.0.1", static_cast<UINT>(std::atoi(argv[2])));
        Say("connected");
        for (int n = 6; n < argc; ++n) {
            const std::size_t size = static_cast<std::size_t>(std::atol(argv[n]));
            std::string message(size, '\0');
            for (std::size_t i = 0; i < size; ++i)
                message[i] = static_cast<char>((i * 7 + size) & 0xFF);
            SendMessage(socket, message);
            std::string reply;
            if (!ReceiveMessage(socket, reply) || reply != "ok " + message) {
                Say("reply " + std::to_string(size) + " wrong");
                return 1;
            }
            Say("reply " + std::to_string(size) + " ok");
        }
        SendMessage(socket, {});
    } catch (X1SocketException* e) {
        SayRefused(e);
    }
    socket.Close();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "serve")
            return Serve(argc, argv);
        if (mode == "connect")
            return Connect(argc, argv);
    } catch (X1SocketException* e) {
        std::fprintf(stderr, "norvane_link_peer: %d %s\n", e->GetErrorCode(),
                     e->GetErrorText().c_str());
        e->Delete();
        return 1;
    }
    std::fprintf(stderr, "usage: norvane_link_peer serve TYPE [--fixed USER PASSWORD] [--user NAME "
                         "PASSWORD]... | connect PORT TYPE USER PASSWORD [SIZE]...\n");
    return 2;
}
