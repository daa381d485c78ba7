"""The RealAudio and VDOLive proxies of the real NorvaneEngine, with scripted players and
servers (no such programs exist in Debian): the control connection relayed with its watched
messages rewritten, the UDP stream forwarded both ways (and strangers' datagrams dropped),
packets that arrive in pieces, refusals and hostile lengths. The server side lives on
127.0.0.2 and strangers on 127.0.0.3, so that datagram sources can be told apart."""

import os
import re
import socket
import struct
import time

import harness

ROOT = r"HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2"

REG = "[" + ROOT + r'''\Settings]
"LogFileDirectory"="{logs}"

[''' + ROOT + r'''\Services\Remote Control Service]
"ServiceType"="CRemoteControlService"
"Name"="Remote Control Service"
"Description"="Remote Control Service"
"PortNumber"=dword:{remote:08x}
'''

# Every line is logged, debug lines included.
SERVICE = "\n[" + ROOT + r'''\Services\{name}]
"ServiceType"="{kind}"
"Name"="{name}"
"PortNumber"=dword:{port:08x}
"LogOptions"=dword:000002ff
"NonProxyRequestAction"=dword:{action:08x}
"NonProxyRequestHost"="127.0.0.2"
"NonProxyRequestPort"=dword:{target:08x}
'''

SERVER_HOST = "127.0.0.2"
TIMEOUT = 10


class StreamingTest(harness.EngineTestCase):
    """Sockets made through these methods are closed when the test ends."""

    def start(self, kind):
        """An engine with two services of class `kind`: "Proxy" refuses players that take it
        for the server, "Forward" sends them on to the server. Returns (norvane, proxy port,
        forward port, server)."""
        server = Server(self)
        norvane = self.new_norvane()
        remote, proxy, forward = harness.free_ports(3)
        norvane.import_reg(
            REG.format(logs=os.path.join(norvane.root, "logs"), remote=remote) +
            SERVICE.format(name="Proxy", kind=kind, port=proxy, action=0, target=server.port) +
            SERVICE.format(name="Forward", kind=kind, port=forward, action=1, target=server.port))
        norvane.install_and_start()
        norvane.wait_for_port(proxy)
        norvane.wait_for_port(forward)
        return norvane, proxy, forward, server

    def keep(self, s):
        s.settimeout(TIMEOUT)
        self.addCleanup(s.close)
        return s

    def connect(self, port):
        s = self.keep(socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT))
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return s

    def udp(self, host):
        s = self.keep(socket.socket(socket.AF_INET, socket.SOCK_DGRAM))
        s.bind((host, 0))
        return s


class Server:
    """A listening server on 127.0.0.2 with a UDP socket beside it."""

    def __init__(self, test):
        self.test = test
        self.listener = test.keep(socket.create_server((SERVER_HOST, 0)))
        self.port = self.listener.getsockname()[1]
        self.udp = test.udp(SERVER_HOST)
        self.udp_port = self.udp.getsockname()[1]

    def accept(self):
        return self.test.keep(self.listener.accept()[0])


def send_split(s, data, size):
    """Sends `data` in pieces of `size` bytes that arrive one by one."""
    for at in range(0, len(data), size):
        s.sendall(data[at:at + size])
        time.sleep(0.005)


def recv_exact(s, count):
    data = b""
    while len(data) < count:
        chunk = s.recv(count - len(data))
        if not chunk:
            raise AssertionError("closed after %d of %d bytes: %r" % (len(data), count, data))
        data += chunk
    return data


def closes(s):
    """True when the peer closes the connection without sending anything more."""
    try:
        return s.recv(1) == b""
    except ConnectionResetError:
        return True


def word(value):
    return struct.pack(">H", value)


def dword(value):
    return struct.pack(">I", value)


def log_text(norvane, name="Proxy"):
    try:
        with open(os.path.join(norvane.root, "logs", name + ".log"), encoding="latin-1",
                  newline="") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def wait_for_log(norvane, text, name="Proxy"):
    harness.wait_until(lambda: text in log_text(norvane, name),
                       message=lambda: "%r not in the log:\n%s" % (text, log_text(norvane, name)))


def session_end(norvane, name="Proxy"):
    """The four byte counts and the exit code of the first session that moved bytes (the
    engine's port probe made sessions that moved none)."""
    def ended():
        for m in re.finditer(r"\tTraffic\t (\d+)\t(\d+)\t(\d+)\t(\d+)\t\d+s\r\n"
                             r"[^\r]*\tTerminated exit code (\d+)\r\n", log_text(norvane, name)):
            if m.group(1, 2, 3, 4) != ("0",) * 4:
                return tuple(map(int, m.group(1, 2, 3, 4))), int(m.group(5))
        return None
    return harness.wait_until(ended, message=lambda: "no session ended:\n" + log_text(norvane, name))


# --- RealAudio --------------------------------------------------------------------------------

def packet(command, data=b""):
    return word(len(data) + 1) + bytes([command]) + data


def message(id, payload):
    return word(id) + word(len(payload)) + payload


def status(code, text):
    return word(len(text) + 2) + bytes([6, code]) + text


HELLO = packet(1, b"\x01")
HELLO_ANSWER = b"\x02\x00\x01\x01"
PREAMBLE = b"PNA\x00\x0a"


class RealAudio(StreamingTest):
    def test_a_session_with_its_messages_and_udp_stream(self):
        norvane, proxy, _, server = self.start("CRealAudioService")
        client = self.connect(proxy)
        send_split(client, HELLO, 1)
        self.assertEqual(recv_exact(client, 4), HELLO_ANSWER)
        commands = (packet(2, b"127.0.0.2") + packet(3, word(server.port)) +
                    packet(4, word(7)) + packet(6, b"ready") + packet(9) + packet(0))
        send_split(client, commands, 4)
        self.assertEqual(recv_exact(client, 16), status(0, b"Connected OK"))
        upstream = server.accept()

        # The client's messages reach the server as sent, but for the ports of the data (id 1)
        # and robust (id 7) messages; a payload over 512 bytes passes unchanged; after id 0
        # the bytes pass unread.
        player = self.udp("127.0.0.1")
        sent = (PREAMBLE + message(1, word(player.getsockname()[1]) + b"\xaa\xbb") +
                message(7, word(4444)) + message(3, b"hello") + message(4, os.urandom(600)) +
                message(0, b"") + b"\x00\x01raw")
        send_split(client, sent, 7)
        got = recv_exact(upstream, len(sent))
        data_port, robust_port = struct.unpack(">H", got[9:11])[0], struct.unpack(">H", got[17:19])[0]
        self.assertEqual(got, sent[:9] + word(data_port) + sent[11:17] + word(robust_port) + sent[19:])
        self.assertNotIn(data_port, (0, player.getsockname()[1], robust_port))

        # The server's robust port in its answer becomes the proxy's robust socket's.
        greeting = b"PNA\x00\x00\x00\x00\x00\x01" + b"O\x08\x00\x07" + word(server.udp_port) + \
            b"\x01\x02\x03\x04" + b"server raw"
        send_split(upstream, greeting, 4)
        self.assertEqual(recv_exact(client, len(greeting)),
                         greeting[:13] + word(robust_port) + greeting[15:])

        # Audio from the server reaches the client's data port; robust datagrams from the
        # client reach the server's robust port. Strangers' datagrams are dropped.
        stranger = self.udp("127.0.0.3")
        robust_client = self.udp("127.0.0.1")
        for source, target, payload in ((stranger, data_port, b"noise"),
                                        (server.udp, data_port, b"audio 1"),
                                        (stranger, robust_port, b"noise"),
                                        (robust_client, robust_port, b"resend 7")):
            source.sendto(payload, ("127.0.0.1", target))
        self.assertEqual(player.recvfrom(2048), (b"audio 1", ("127.0.0.1", data_port)))
        data, source = server.udp.recvfrom(2048)
        self.assertEqual((data, source[1]), (b"resend 7", robust_port))

        client.close()
        self.assertTrue(closes(upstream))
        # The datagrams count with the TCP bytes: the data socket's for the client's sent and
        # the server's received, the robust socket's for the client's received and the
        # server's sent (strangers' datagrams were received too). The client's close ends the
        # session with code 1.
        self.assertEqual(session_end(norvane), ((
            4 + 16 + len(greeting) + 7, len(HELLO + commands + sent) + 5 + 8,
            len(sent) + 8, len(greeting) + 5 + 7), 1))
        log = log_text(norvane)
        for line in ("Requested:\tRealPlayer: 127.0.0.2", "Debug:\tRealPlayer: Server name 127.0.0.2",
                     "Debug:\tRealPlayer: Server port number %d" % server.port,
                     "Debug:\tRealPlayer: Client port offset 7", "Debug:\tRealPlayer: status ready",
                     "Debug:\tReceived unknown command in RealPlayer Proxy session 9",
                     "Debug:\tClient Message ID 1 length 4, received 4",
                     "Debug:\tClient Message ID 4 length 600, received 600"):
            self.assertIn(line, log)

    def test_tcp_mode_non_proxy_requests_and_refusals(self):
        norvane, proxy, forward, server = self.start("CRealAudioService")
        announce = HELLO + packet(2, b"127.0.0.2") + packet(3, word(server.port))

        # TCP mode: both directions pass unread after "Connected OK".
        client = self.connect(proxy)
        client.sendall(announce + packet(5, b"\x01") + packet(0))
        self.assertEqual(recv_exact(client, 20), HELLO_ANSWER + status(0, b"Connected OK"))
        upstream = server.accept()
        sent = PREAMBLE + message(1, word(5000)) + b"\x00" * 6
        client.sendall(sent)
        self.assertEqual(recv_exact(upstream, len(sent)), sent)
        answer = b"\x00" * 9 + b"O\x08\x00\x07" + word(6000) + b"\x00" * 4
        upstream.sendall(answer)
        self.assertEqual(recv_exact(client, len(answer)), answer)
        upstream.close()
        self.assertTrue(closes(client))
        wait_for_log(norvane, "Terminated exit code 0")

        # A client that takes the proxy for the server is refused, or its bytes go to the
        # configured server with the data port rewritten.
        client = self.connect(proxy)
        client.sendall(sent)
        self.assertEqual(recv_exact(client, 19), status(2, b"Bad Info Passed"))
        self.assertTrue(closes(client))
        wait_for_log(norvane, "Error:\tNon proxy request rejected")
        client = self.connect(forward)
        send_split(client, sent, 3)
        got = recv_exact(server.accept(), len(sent))
        self.assertNotEqual(got[9:11], word(5000))
        self.assertEqual(got, sent[:9] + got[9:11] + sent[11:])
        wait_for_log(norvane, "Requested:\tRealPlayer: 127.0.0.2:%d" % server.port, "Forward")
        client.close()

        # No server named; a server that does not answer; hostile lengths.
        closed_port = harness.free_port()
        for sent, answer, line in (
                (HELLO + packet(0), HELLO_ANSWER + status(2, b"Bad Info Passed"),
                 "Error:\tBad protocol - no server name given or bad port number"),
                (HELLO + b"\x00\x00\x05", HELLO_ANSWER, "control packet of length 0"),
                (HELLO + packet(2, b"a" * 300), HELLO_ANSWER,
                 "command 2 carries a text of 300 bytes (at most 255)"),
                (HELLO + packet(1, b"\x02"), HELLO_ANSWER, None)):
            client = self.connect(proxy)
            client.sendall(sent)
            self.assertEqual(recv_exact(client, len(answer)), answer)
            self.assertTrue(closes(client), sent)
            if line:
                wait_for_log(norvane, line)
        client = self.connect(proxy)
        client.sendall(HELLO + packet(2, b"127.0.0.2") + packet(3, word(closed_port)) + packet(0))
        self.assertEqual(recv_exact(client, 4), HELLO_ANSWER)
        failure = recv_exact(client, 4)
        self.assertEqual(failure[2:], b"\x06\x01")
        text = recv_exact(client, struct.unpack(">H", failure[:2])[0] - 2)
        self.assertTrue(closes(client))
        wait_for_log(norvane, "Caught socket exception in CRealAudioSession::ReadPacket() %s - "
                     "terminating" % text.decode("latin-1"))


# --- VDOLive ----------------------------------------------------------------------------------

def vdo(type, body):
    return dword(len(body) + 4) + dword(type) + body


def text4(text):
    return dword(len(text)) + text + b"\x00" * (-len(text) % 4)


def request(host, port, clip):
    return vdo(32, dword(port) + text4(host) + dword(len(clip)) + clip)


def stream(name, port):
    return vdo(6, text4(name) + b"\x11" * 8 + dword(port) + b"tail")


def marked(mark, port):
    return vdo(1, mark + dword(port))


class VDOLive(StreamingTest):
    def test_a_session_with_its_messages_and_udp_stream(self):
        norvane, proxy, _, server = self.start("CVDOLiveService")
        player = self.connect(proxy)
        asked = request(b"127.0.0.2", server.port, b"clip.vdo")
        send_split(player, asked, 5)
        upstream = server.accept()

        # The request is not passed on; an unmarked type 1 passes unchanged; a stream message
        # (name "abc", padded to 4) carries the proxy's server-side port after its 8 bytes.
        player_udp = self.udp("127.0.0.1")
        unmarked, streamed = marked(b"VDO Dead", 1234), stream(b"abc", player_udp.getsockname()[1])
        send_split(player, unmarked + streamed, 5)
        got = recv_exact(upstream, len(unmarked + streamed))
        at = len(unmarked) + 24
        server_side = struct.unpack(">I", got[at:at + 4])[0]
        self.assertEqual(got, unmarked + streamed[:24] + dword(server_side) + streamed[28:])

        # Frames from the server reach the player through the player-side socket; the
        # player's answers to that socket reach the server. Strangers' datagrams are dropped.
        stranger = self.udp("127.0.0.3")
        stranger.sendto(b"noise", ("127.0.0.1", server_side))
        server.udp.sendto(b"frame 1", ("127.0.0.1", server_side))
        data, (_, player_side) = player_udp.recvfrom(2048)
        self.assertEqual(data, b"frame 1")
        stranger.sendto(b"noise", ("127.0.0.1", player_side))
        player_udp.sendto(b"ack 1", ("127.0.0.1", player_side))
        data, source = server.udp.recvfrom(2048)
        self.assertEqual((data, source[1]), (b"ack 1", server_side))

        # A marked type 1 is rewritten too, and from then on the player's bytes pass unread.
        last = marked(b"VDO Live", player_udp.getsockname()[1]) + b"\xff\xff\xff\xffraw"
        send_split(player, last, 3)
        self.assertEqual(recv_exact(upstream, len(last)), last[:16] + dword(server_side) + last[20:])
        upstream.sendall(b"server says")
        self.assertEqual(recv_exact(player, 11), b"server says")
        upstream.close()
        self.assertTrue(closes(player))
        # The server's close ends the session with code 0; the player-side socket's datagrams
        # count for the player, the server-side socket's for the server.
        self.assertEqual(session_end(norvane), ((
            11 + 7, len(asked + unmarked + streamed + last) + 5 + 5,
            len(unmarked + streamed + last) + 5, 11 + 5 + 7), 0))
        self.assertIn("Requested:\tVDOLive://127.0.0.2:%d/clip.vdo" % server.port, log_text(norvane))

    def test_non_proxy_requests_refusals_and_hostile_lengths(self):
        norvane, proxy, forward, server = self.start("CVDOLiveService")

        # A stream message first: passed to the configured server, rewritten, as "Unknown File".
        player = self.connect(forward)
        first = stream(b"live!", 7777)
        player.sendall(first)
        got = recv_exact(server.accept(), len(first))
        self.assertNotEqual(got[28:32], dword(7777))
        self.assertEqual(got, first[:28] + got[28:32] + first[32:])
        wait_for_log(norvane, "Requested:\tVDOLive://127.0.0.2:%d/Unknown File" % server.port,
                     "Forward")
        player.close()

        # A marked type 1 without a stream message before it: the player-side socket is made
        # from its port.
        player, player_udp = self.connect(proxy), self.udp("127.0.0.1")
        player.sendall(request(b"127.0.0.2", server.port, b"c"))
        upstream = server.accept()
        sent = marked(b"VDO Live", player_udp.getsockname()[1])
        player.sendall(sent)
        server_side = struct.unpack(">I", recv_exact(upstream, len(sent))[16:20])[0]
        server.udp.sendto(b"frame", ("127.0.0.1", server_side))
        self.assertEqual(player_udp.recvfrom(2048)[0], b"frame")
        player.close()

        for sent, line in (
                (stream(b"x", 7777), None),
                (vdo(7, b""), "Bad protocol - first message of type 7"),
                (dword(3), "Bad protocol - message length 3 "),
                (dword(2045) + b"\x00" * 2045, "Bad protocol - message length 2045 "),
                (dword(0xFFFFFFFC), "Bad protocol - message length 4294967292 "),
                (vdo(32, dword(7000) + dword(1000) + b"host"),
                 "Bad protocol - type 32 message with fields outside it"),
                (request(b"127.0.0.2", server.port, b"c") + vdo(6, dword(64) + b"name"),
                 "Bad protocol - type 6 message with fields outside it")):
            player = self.connect(proxy)
            player.sendall(sent)
            self.assertTrue(closes(player), sent[:40])
            if line:
                wait_for_log(norvane, line)


if __name__ == "__main__":
    harness.main()
