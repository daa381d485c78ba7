"""The link handshake and link cipher against an independent Python peer, both ways: our server
half (norvane_link_peer serve) with linkclient.py as the client, and our client half
(norvane_link_peer connect) with linkclient.py as the server. Every refusal code, malformed and
short frames, peers that stay silent or close early, and enciphered messages of many sizes."""

import os
import queue
import socket
import struct
import subprocess
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import linkclient  # noqa: E402

BINARY_DIR = os.environ.get("NORVANE_BINARY_DIR", "build")
PEER = os.path.join(BINARY_DIR, "tests", "e2e", "norvane_link_peer")
SIZES = [1, 100, 8191, 8192, 8193, 20000, 70000]


class Peer:
    """A running norvane_link_peer whose output lines are read as they come."""

    def __init__(self, *args):
        self.proc = subprocess.Popen([PEER] + [str(a) for a in args], stdout=subprocess.PIPE,
                                     stdin=subprocess.DEVNULL)
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw.decode("latin-1").rstrip("\n"))
        self.lines.put(None)

    def line(self, timeout=harness.WAIT_TIMEOUT):
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError("no output from the peer within %ss" % timeout)
        if line is None:
            raise AssertionError("the peer ended (exit %s)" % self.proc.wait())
        return line

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()

    def wait(self, timeout=harness.WAIT_TIMEOUT):
        return self.proc.wait(timeout=timeout)


class OurServer(unittest.TestCase):
    """Our server half; the Python client connects."""

    users = ["--user", "admin", "secret", "--user", "guest", ""]
    server_type = 2

    def setUp(self):
        self.peer = Peer("serve", self.server_type, *self.users)
        self.addCleanup(self.peer.stop)
        first = self.peer.line()
        self.assertTrue(first.startswith("listening "), first)
        self.port = int(first.split()[1])

    def connect(self, link_type, user, password, **options):
        channel = linkclient.connect("127.0.0.1", self.port, link_type, user, password, **options)
        self.addCleanup(channel.close)
        return channel

    def raw(self):
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=harness.WAIT_TIMEOUT)
        self.addCleanup(sock.close)
        return sock

    def expect(self, *lines):
        for wanted in lines:
            self.assertEqual(self.peer.line(), wanted)

    def exchange(self, channel, sizes):
        for size in sizes:
            message = bytes((n * 13 + size) & 0xFF for n in range(size))
            channel.send_message(message)
            self.assertEqual(channel.recv_message(), b"ok " + message)
            self.expect("message %d" % size)
        channel.send_message(b"")

    def refused(self, code, **options):
        sock = self.raw()
        with self.assertRaises(linkclient.Refused) as caught:
            linkclient.client_handshake(sock, options.pop("link_type", 2),
                                        options.pop("user", b"admin"),
                                        options.pop("password", b"secret"), **options)
        self.assertEqual(caught.exception.code, code)

    def closed_without_status(self, answer):
        """Sends `answer` (whole frame) after the challenge; the server must close without a
        status frame."""
        sock = self.raw()
        linkclient.parse_challenge(linkclient.read_frame(sock))
        sock.sendall(answer)
        self.assertIsNone(linkclient.read_frame(sock))


class ConsoleServer(OurServer):
    def test_admits_and_enciphers_messages_of_every_size(self):
        channel = self.connect(2, b"admin", b"secret")
        self.expect("admitted 2 admin")
        self.exchange(channel, SIZES)
        self.expect("closed")

    def test_challenge_is_a_fresh_32_bit_decimal(self):
        seen = set()
        for _ in range(3):
            sock = self.raw()
            challenge = linkclient.parse_challenge(linkclient.read_frame(sock))
            self.assertRegex(challenge, rb"^[0-9]{1,10}$")
            self.assertLessEqual(int(challenge), 0xFFFFFFFF)
            seen.add(challenge)
            sock.close()
            self.expect("refused 100 No response from client to challenge", "closed")
        self.assertGreater(len(seen), 1)

    def test_type_3_client_is_admitted_as_type_3(self):
        channel = self.connect(3, b"admin", b"secret",
                                     version=b"\x01\x09")
        self.expect("admitted 3 admin")
        self.exchange(channel, [5])
        self.expect("closed")

    def test_empty_password_user(self):
        channel = self.connect(2, b"guest", b"")
        self.expect("admitted 2 guest")
        self.exchange(channel, [3])
        self.expect("closed")

    def test_refusals_with_status(self):
        self.refused(108, password=b"wrong")
        self.expect("refused 108 User admin failed password", "closed")
        sock = self.raw()
        challenge = linkclient.parse_challenge(linkclient.read_frame(sock))
        good = linkclient.response_for(challenge, b"secret")
        upper = good.upper() if good.upper() != good else b"X" + good
        sock.sendall(linkclient.answer_frame(2, 1, b"admin", upper))
        self.assertEqual(linkclient.read_frame(sock), b"\x01\x03\x00\x6c")
        self.expect("refused 108 User admin failed password", "closed")

        self.refused(107, user=b"nobody")
        self.expect("refused 107 No such user", "closed")
        self.refused(106, user=b"")
        self.expect("refused 106 No username given", "closed")
        self.refused(109, link_type=1)
        self.expect("refused 109 Wrong client type", "closed")

    def test_refusals_without_status(self):
        self.closed_without_status(linkclient.answer_frame(2, 1, b"admin", b"x", version=b"\x01\x04"))
        self.expect("refused 102 Wrong protocol version", "closed")
        self.closed_without_status(linkclient.answer_frame(2, 1, b"admin", b"x", command=3))
        self.expect("refused 101 Wrong command", "closed")
        # Texts without their NULs, and a body shorter than the fixed part.
        self.closed_without_status(linkclient.frame(b"\x01\x03\x02\x00\x00\x00\x00\x02admin"))
        self.expect("refused 101 Bad Protocol", "closed")
        self.closed_without_status(linkclient.frame(b"\x01\x03\x02"))
        self.expect("refused 101 Bad Protocol", "closed")
        self.closed_without_status(linkclient.frame(b""))
        self.expect("refused 101 Bad Protocol", "closed")

    def test_short_frame_and_early_close(self):
        sock = self.raw()
        linkclient.read_frame(sock)
        sock.sendall(bytes([50]) + b"\x01\x03\x02\x00\x00")
        sock.shutdown(socket.SHUT_WR)
        self.assertIsNone(linkclient.read_frame(sock))
        self.expect("refused 101 Bad Protocol", "closed")

        sock = self.raw()
        linkclient.read_frame(sock)
        sock.close()
        self.expect("refused 100 No response from client to challenge", "closed")

    def test_silent_client_times_out(self):
        sock = self.raw()
        linkclient.read_frame(sock)
        self.expect("refused 0 Timeout in RecvFixedAmount function", "closed")
        self.assertIsNone(linkclient.read_frame(sock))


class EngineServer(OurServer):
    users = ["--fixed", "link", "pw"]
    server_type = 1

    def test_fixed_user_admitted_without_version_check(self):
        channel = self.connect(1, b"link", b"pw")
        self.expect("admitted 1 link")
        self.exchange(channel, [8192, 9000])
        self.expect("closed")
        channel = self.connect(1, b"link", b"pw",
                                     version=b"\x07\x07")
        self.expect("admitted 1 link")
        self.exchange(channel, [1])
        self.expect("closed")

    def test_refusals(self):
        self.refused(105, link_type=1, user=b"other", password=b"pw")
        self.expect("refused 105 Wrong username", "closed")
        self.refused(108, link_type=1, user=b"link", password=b"PW")
        self.expect("refused 108 User link failed password", "closed")
        self.refused(109, link_type=2, user=b"link", password=b"pw")
        self.expect("refused 109 Wrong client type", "closed")


class OurClient(unittest.TestCase):
    """Our client half; a Python server accepts."""

    def setUp(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.listener.settimeout(harness.WAIT_TIMEOUT)
        self.addCleanup(self.listener.close)
        self.port = self.listener.getsockname()[1]

    def run_client(self, user=b"admin", password=b"secret", link_type=2, sizes=()):
        peer = Peer("connect", self.port, link_type, user.decode("latin-1"),
                    password.decode("latin-1"), *sizes)
        self.addCleanup(peer.stop)
        conn, address = self.listener.accept()
        self.addCleanup(conn.close)
        conn.settimeout(harness.WAIT_TIMEOUT)
        return peer, conn, address

    def test_handshake_and_messages(self):
        peer, conn, address = self.run_client(sizes=SIZES)
        challenge = b"4000000000"
        conn.sendall(linkclient.challenge_frame(challenge))
        their_type, version, port, command, user, response = \
            linkclient.parse_answer(linkclient.read_frame(conn))
        self.assertEqual((their_type, version, command, user), (2, b"\x01\x03", 2, b"admin"))
        self.assertEqual(port, address[1])
        self.assertEqual(response, linkclient.response_for(challenge, b"secret"))
        conn.sendall(linkclient.status_frame(4))
        channel = linkclient.Channel(conn, linkclient.md5(challenge, b"secret", b"admin"),
                                     linkclient.md5(challenge, b"admin", b"secret"))
        self.assertEqual(peer.line(), "connected")
        for size in SIZES:
            message = channel.recv_message()
            self.assertEqual(message, bytes((n * 7 + size) & 0xFF for n in range(size)))
            channel.send_message(b"ok " + message)
            self.assertEqual(peer.line(), "reply %d ok" % size)
        self.assertEqual(channel.recv_message(), b"")
        self.assertEqual(peer.wait(), 0)

    def test_against_python_server_half(self):
        peer, conn, _ = self.run_client(user=b"guest", password=b"pw", link_type=2, sizes=[10])
        channel, user = linkclient.server_handshake(conn, 2, {b"guest": b"pw"})
        self.assertEqual(user, b"guest")
        self.assertEqual(peer.line(), "connected")
        message = channel.recv_message()
        channel.send_message(b"ok " + message)
        self.assertEqual(peer.line(), "reply 10 ok")

    def refused_by(self, frames, wanted, close=True):
        """Sends the challenge (and whatever else) in `frames` and expects `wanted`."""
        peer, conn, _ = self.run_client()
        for i, data in enumerate(frames):
            conn.sendall(data)
            if i == 0 and len(frames) > 1:
                linkclient.read_frame(conn)  # the answer
        if close:
            conn.shutdown(socket.SHUT_WR)
        self.assertEqual(peer.line(), wanted)
        self.assertEqual(peer.wait(), 0)

    def test_status_refusals_carry_the_code(self):
        for code in (105, 106, 107, 108, 109):
            self.refused_by([linkclient.challenge_frame(b"1"), linkclient.status_frame(code)],
                            "refused %d Socket Error %d" % (code, code))

    def test_bad_status_frames(self):
        self.refused_by([linkclient.challenge_frame(b"1"),
                         linkclient.status_frame(4, version=b"\x01\x04")],
                        "refused 102 Wrong protocol version")
        self.refused_by([linkclient.challenge_frame(b"1"), linkclient.frame(b"\x01\x03\x00")],
                        "refused 101 Bad Protocol")
        self.refused_by([linkclient.challenge_frame(b"1"), bytes([4, 1, 3])],
                        "refused 101 Bad Protocol")
        self.refused_by([linkclient.challenge_frame(b"1")], "refused 100 No response from server")

    def test_bad_challenges(self):
        self.refused_by([linkclient.challenge_frame(b"1", version=b"\x02\x03")],
                        "refused 102 Wrong protocol version")
        self.refused_by([linkclient.challenge_frame(b"1", command=2)],
                        "refused 101 Wrong response")
        self.refused_by([linkclient.frame(b"\x01\x03\x00\x01123")], "refused 101 Protocol error")
        self.refused_by([linkclient.frame(b"")], "refused 101 Protocol error")
        self.refused_by([bytes([20]) + b"\x01\x03\x00\x01"], "refused 101 Protocol error")
        self.refused_by([], "refused 100 No response from server")

    def test_silent_server_times_out(self):
        peer, conn, _ = self.run_client()
        self.assertEqual(peer.line(), "refused 0 Timeout in RecvFixedAmount function")
        self.assertEqual(peer.wait(), 0)
        self.assertEqual(conn.recv(1), b"")

    def test_user_name_too_long_is_refused_before_sending(self):
        peer, conn, _ = self.run_client(user=b"u" * 240)
        conn.sendall(linkclient.challenge_frame(b"1"))
        self.assertTrue(peer.line().startswith("refused 0 User name too long"))
        self.assertIsNone(linkclient.read_frame(conn))
        self.assertEqual(peer.wait(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
