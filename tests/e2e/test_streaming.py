"""The RealAudio and VDOLive proxies of the real NorvaneEngine, with scripted players and
servers (no such programs exist in Debian), one scenario per protocol: the control connection
relayed with its watched messages rewritten, the UDP stream forwarded both ways (strangers'
datagrams dropped), packets that arrive in pieces, non-proxy requests, refusals and hostile
lengths. Servers live on 127.0.0.2 and strangers on 127.0.0.3, so that sources differ."""

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


def word(value):
    return struct.pack(">H", value)


def dword(value):
    return struct.pack(">I", value)


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
            raise AssertionError("closed after %r" % data)
        data += chunk
    return data


def closes(s):
    try:
        return s.recv(1) == b""
    except ConnectionResetError:
        return True


class StreamingTest(harness.EngineTestCase):
    def start(self, kind):
        """An engine with two services of class `kind`: "Proxy" refuses players that take it
        for the server, "Forward" sends them on to the server (127.0.0.2, with a UDP socket)."""
        self.norvane = self.new_norvane()
        self.server = self.keep(socket.create_server(("127.0.0.2", 0)))
        self.server_port = self.server.getsockname()[1]
        self.server_udp = self.udp("127.0.0.2")
        self.stranger = self.udp("127.0.0.3")
        remote, self.proxy, self.forward = harness.free_ports(3)
        self.norvane.import_reg(
            REG.format(logs=os.path.join(self.norvane.root, "logs"), remote=remote) + "".join(
                SERVICE.format(name=name, kind=kind, port=port, action=action,
                               target=self.server_port)
                for name, port, action in (("Proxy", self.proxy, 0), ("Forward", self.forward, 1))))
        self.norvane.install_and_start()
        self.norvane.wait_for_port(self.proxy)
        self.norvane.wait_for_port(self.forward)

    def keep(self, s):
        s.settimeout(harness.WAIT_TIMEOUT)
        self.addCleanup(s.close)
        return s

    def connect(self, port):
        s = self.keep(socket.create_connection(("127.0.0.1", port), timeout=harness.WAIT_TIMEOUT))
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        return s

    def accept(self):
        return self.keep(self.server.accept()[0])

    def udp(self, host):
        s = self.keep(socket.socket(socket.AF_INET, socket.SOCK_DGRAM))
        s.bind((host, 0))
        return s

    def log_path(self, name="Proxy"):
        return os.path.join(self.norvane.root, "logs", name + ".log")

    def log(self, name="Proxy"):
        return harness.read_log(self.log_path(name))

    def wait_for_log(self, *texts, name="Proxy"):
        return harness.wait_for_log(self.log_path(name), *texts)

    def session_end(self):
        """The four byte counts and the exit code of the first session that moved bytes (the
        port probes made sessions that moved none)."""
        def ended():
            for m in re.finditer(r"\tTraffic\t (\d+)\t(\d+)\t(\d+)\t(\d+)\t\d+s\r\n"
                                 r"[^\r]*\tTerminated exit code (\d+)\r\n", self.log()):
                if m.group(1, 2, 3, 4) != ("0",) * 4:
                    return tuple(map(int, m.group(1, 2, 3, 4))), int(m.group(5))
            return None
        return harness.wait_until(ended, message=lambda: "no session ended:\n" + self.log())

    def refused(self, sent, answer=b"", line=None):
        """Sends `sent` to the proxy service; it answers `answer`, closes and logs `line`."""
        client = self.connect(self.proxy)
        client.sendall(sent)
        self.assertEqual(recv_exact(client, len(answer)), answer)
        self.assertTrue(closes(client), sent[:40])
        if line:
            self.wait_for_log(line)
        return client


def packet(command, data=b""):
    return word(len(data) + 1) + bytes([command]) + data


def message(id, payload):
    return word(id) + word(len(payload)) + payload


def status(code, text):
    return word(len(text) + 2) + bytes([6, code]) + text


HELLO, HELLO_ANSWER, PREAMBLE = packet(1, b"\x01"), b"\x02\x00\x01\x01", b"PNA\x00\x0a"


class RealAudio(StreamingTest):
    def test_realaudio(self):
        self.start("CRealAudioService")
        client = self.connect(self.proxy)
        send_split(client, HELLO, 1)
        self.assertEqual(recv_exact(client, 4), HELLO_ANSWER)
        commands = (packet(2, b"127.0.0.2") + packet(3, word(self.server_port)) +
                    packet(4, word(7)) + packet(6, b"ready") + packet(9) + packet(0))
        send_split(client, commands, 4)
        self.assertEqual(recv_exact(client, 16), status(0, b"Connected OK"))
        upstream = self.accept()

        # The client's messages reach the server as sent but for the ports of the data (1)
        # and robust (7) messages; a payload over 512 bytes passes unchanged; after id 0 the
        # bytes pass unread.
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
        greeting = b"PNA\x00\x00\x00\x00\x00\x01O\x08\x00\x07" + \
            word(self.server_udp.getsockname()[1]) + b"\x01\x02\x03\x04server raw"
        send_split(upstream, greeting, 4)
        self.assertEqual(recv_exact(client, len(greeting)),
                         greeting[:13] + word(robust_port) + greeting[15:])

        # Audio from the server reaches the client's data port, robust datagrams from the
        # client the server's robust port; strangers' datagrams are dropped.
        for source, target, payload in ((self.stranger, data_port, b"noise"),
                                        (self.server_udp, data_port, b"audio 1"),
                                        (self.stranger, robust_port, b"noise"),
                                        (self.udp("127.0.0.1"), robust_port, b"resend 7")):
            source.sendto(payload, ("127.0.0.1", target))
        self.assertEqual(player.recvfrom(2048), (b"audio 1", ("127.0.0.1", data_port)))
        data, source = self.server_udp.recvfrom(2048)
        self.assertEqual((data, source[1]), (b"resend 7", robust_port))

        # The client's close ends the session with code 1. The data socket's datagrams count
        # as sent to the client and received from the server, the robust socket's as received
        # from the client and sent to the server (strangers' were received too).
        client.close()
        self.assertTrue(closes(upstream))
        self.assertEqual(self.session_end(), ((
            4 + 16 + len(greeting) + 7, len(HELLO + commands + sent) + 5 + 8,
            len(sent) + 8, len(greeting) + 5 + 7), 1))
        self.wait_for_log("Requested:\tRealPlayer: 127.0.0.2", "Client port offset 7", "status ready",
                          "Received unknown command in RealPlayer Proxy session 9",
                          "Client Message ID 4 length 600, received 600")

        # TCP mode: both directions pass unread after "Connected OK".
        client = self.connect(self.proxy)
        client.sendall(HELLO + commands[:-3] + packet(5, b"\x01") + packet(0))
        self.assertEqual(recv_exact(client, 20), HELLO_ANSWER + status(0, b"Connected OK"))
        upstream = self.accept()
        sent = PREAMBLE + message(1, word(5000)) + b"\x00" * 6
        client.sendall(sent)
        self.assertEqual(recv_exact(upstream, len(sent)), sent)
        upstream.sendall(greeting)
        self.assertEqual(recv_exact(client, len(greeting)), greeting)
        upstream.close()
        self.assertTrue(closes(client))
        self.wait_for_log("Terminated exit code 0")

        # A client that takes the proxy for the server: refused, or its bytes go to the
        # configured server with the data port rewritten.
        self.refused(sent, status(2, b"Bad Info Passed"), "Error:\tNon proxy request rejected")
        client = self.connect(self.forward)
        send_split(client, sent, 3)
        got = recv_exact(self.accept(), len(sent))
        self.assertEqual(got, sent[:9] + got[9:11] + sent[11:])
        self.assertNotEqual(got[9:11], word(5000))
        self.wait_for_log("Requested:\tRealPlayer: 127.0.0.2:%d" % self.server_port, name="Forward")

        # No server named, hostile lengths, a bad hello, a server that does not answer.
        self.refused(HELLO + packet(0), HELLO_ANSWER + status(2, b"Bad Info Passed"),
                     "Error:\tBad protocol - no server name given or bad port number")
        self.refused(HELLO + b"\x00\x00\x05", HELLO_ANSWER, "control packet of length 0")
        self.refused(HELLO + packet(2, b"a" * 300), HELLO_ANSWER,
                     "command 2 carries a text of 300 bytes (at most 255)")
        self.refused(HELLO + packet(1, b"\x02"), HELLO_ANSWER)
        closed = harness.free_port()
        client = self.connect(self.proxy)
        client.sendall(HELLO + packet(2, b"127.0.0.2") + packet(3, word(closed)) + packet(0))
        failure = recv_exact(client, 8)
        self.assertEqual((failure[:4], failure[6:]), (HELLO_ANSWER, b"\x06\x01"))
        text = recv_exact(client, struct.unpack(">H", failure[4:6])[0] - 2).decode("latin-1")
        self.assertTrue(closes(client))
        self.wait_for_log("CRealAudioSession::ReadPacket() %s - terminating" % text)


def vdo(type, body):
    return dword(len(body) + 4) + dword(type) + body


def text4(text):
    return dword(len(text)) + text + b"\x00" * (-len(text) % 4)


def request(port, clip):
    return vdo(32, dword(port) + text4(b"127.0.0.2") + dword(len(clip)) + clip)


def stream(name, port):
    return vdo(6, text4(name) + b"\x11" * 8 + dword(port) + b"tail")


def marked(mark, port):
    return vdo(1, mark + dword(port))


class VDOLive(StreamingTest):
    def test_vdolive(self):
        self.start("CVDOLiveService")
        player = self.connect(self.proxy)
        asked = request(self.server_port, b"clip.vdo")
        send_split(player, asked, 5)
        upstream = self.accept()

        # The request is not passed on; an unmarked type 1 passes unchanged; a stream message
        # (name "abc", padded to 4) carries the proxy's server-side port after its 8 bytes.
        player_udp = self.udp("127.0.0.1")
        player_port = player_udp.getsockname()[1]
        unmarked, streamed = marked(b"VDO Dead", 1234), stream(b"abc", player_port)
        send_split(player, unmarked + streamed, 5)
        got = recv_exact(upstream, len(unmarked + streamed))
        server_side = struct.unpack(">I", got[len(unmarked) + 24:][:4])[0]
        self.assertEqual(got, unmarked + streamed[:24] + dword(server_side) + streamed[28:])

        # Frames from the server reach the player through the player-side socket, the
        # player's answers to that socket the server; strangers' datagrams are dropped.
        self.stranger.sendto(b"noise", ("127.0.0.1", server_side))
        self.server_udp.sendto(b"frame 1", ("127.0.0.1", server_side))
        data, (_, player_side) = player_udp.recvfrom(2048)
        self.assertEqual(data, b"frame 1")
        self.stranger.sendto(b"noise", ("127.0.0.1", player_side))
        player_udp.sendto(b"ack 1", ("127.0.0.1", player_side))
        data, source = self.server_udp.recvfrom(2048)
        self.assertEqual((data, source[1]), (b"ack 1", server_side))

        # A marked type 1 is rewritten too, and from then on the player's bytes pass unread.
        last = marked(b"VDO Live", player_port) + b"\xff\xff\xff\xffraw"
        send_split(player, last, 3)
        self.assertEqual(recv_exact(upstream, len(last)), last[:16] + dword(server_side) + last[20:])
        upstream.sendall(b"server says")
        self.assertEqual(recv_exact(player, 11), b"server says")

        # The server's close ends the session with code 0; the player-side socket's datagrams
        # count for the player, the server-side socket's for the server.
        upstream.close()
        self.assertTrue(closes(player))
        self.assertEqual(self.session_end(), ((
            11 + 7, len(asked + unmarked + streamed + last) + 5 + 5,
            len(unmarked + streamed + last) + 5, 11 + 5 + 7), 0))
        self.wait_for_log("Requested:\tVDOLive://127.0.0.2:%d/clip.vdo" % self.server_port)

        # A stream message first: passed to the configured server, rewritten, "Unknown File";
        # refused by the other service.
        first = stream(b"live!", 7777)
        self.connect(self.forward).sendall(first)
        got = recv_exact(self.accept(), len(first))
        self.assertEqual(got, first[:28] + got[28:32] + first[32:])
        self.assertNotEqual(got[28:32], dword(7777))
        self.wait_for_log("Requested:\tVDOLive://127.0.0.2:%d/Unknown File" % self.server_port,
                          name="Forward")
        self.refused(first)

        # A marked type 1 without a stream message before it: the player-side socket is made
        # from its port.
        player = self.connect(self.proxy)
        player.sendall(request(self.server_port, b"c") + marked(b"VDO Live", player_port))
        server_side = struct.unpack(">I", recv_exact(self.accept(), 20)[16:])[0]
        self.server_udp.sendto(b"frame", ("127.0.0.1", server_side))
        self.assertEqual(player_udp.recvfrom(2048)[0], b"frame")

        for sent, line in (
                (vdo(7, b""), "first message of type 7"),
                (dword(3), "message length 3 "),
                (dword(0xFFFFFFFC), "message length 4294967292 "),  # L + 4 is 0 in 32 bits
                (vdo(32, dword(7000) + dword(1000) + b"host"), "type 32 message with fields outside"),
                (request(self.server_port, b"c") + vdo(6, dword(64) + b"name"),
                 "type 6 message with fields outside")):
            self.refused(sent, line="Bad protocol - " + line)


if __name__ == "__main__":
    harness.main()
