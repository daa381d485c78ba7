"""The Telnet proxy in the real NorvaneEngine: a raw socket client that types one byte per
packet and splits its option sequences, Debian's telnet under tmux, and small servers of the
test's own behind it."""

import os
import shutil
import socket
import subprocess
import time

import harness

SERVICE = "[" + harness.CONFIG_ROOT + r'''\Services\Telnet]
"ServiceType"="CTelnetService"
"Name"="Telnet"
"PortNumber"=dword:{port:08x}
"SpecifiedInterfaceAddress"=dword:00000001
"InterfaceAddress"="127.0.0.1"
"LogOptions"=dword:000003ff
'''

IAC, DONT, DO, WONT, WILL, SB, SE = 255, 254, 253, 252, 251, 250, 240
GREETING = bytes([IAC, WILL, 1, IAC, WILL, 3, IAC, DO, 3]) + b"Norvane>"


class Recorder:
    """A server on host:port that records what each connection sends; with `echo` it sends
    everything back, and it closes a connection that sends b"bye"."""

    def __init__(self, host="127.0.0.1", port=0, echo=True):
        self.echo = echo
        self.received = []
        self.server = harness.ConnectionServer(self._session, host, port)
        self.port = self.server.port
        self.close = self.server.close

    def _session(self, conn):
        index = len(self.received)
        self.received.append(b"")
        while b"bye" not in self.received[index]:
            data = conn.recv(4096)
            if not data:
                return
            self.received[index] += data
            if self.echo:
                conn.sendall(data)


class Typist:
    """A raw Telnet client that sends each piece in a packet of its own."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=harness.WAIT_TIMEOUT)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.seen = b""

    def send(self, *pieces):
        for piece in pieces:
            self.sock.sendall(piece)
            time.sleep(0.01)

    def type(self, text):
        self.send(*(bytes([b]) for b in text))

    def until(self, end=None):
        """What arrives up to and including `end`; without one, up to the end of the stream."""
        while end is None or end not in self.seen:
            data = self.sock.recv(4096)
            if not data and end is None:
                text, self.seen = self.seen, b""
                return text
            if not data:
                raise AssertionError("closed before %r; got %r" % (end, self.seen))
            self.seen += data
        text, _, self.seen = self.seen.partition(end)
        return text + end

    def close(self):
        self.sock.close()


class TelnetProxyTest(harness.EngineTestCase):
    def setUp(self):
        super().setUp()
        self.echo = Recorder()
        self.addCleanup(self.echo.close)
        self.norvane = self.new_norvane()
        self.logs = os.path.join(self.norvane.root, "logs")
        self.port, remote = harness.free_ports(2)
        self.norvane.import_reg(harness.base_reg(self.logs, remote) +
                                SERVICE.format(port=self.port))
        self.norvane.install_and_start()
        self.norvane.wait_for_port(self.port)

    def typist(self):
        typist = Typist(self.port)
        self.addCleanup(typist.close)
        self.assertEqual(typist.until(b"Norvane>"), GREETING)
        return typist

    def log(self):
        return harness.read_log(os.path.join(self.logs, "Telnet.log"))

    def test_command_line_options_and_relay(self):
        t = self.typist()
        # Option sequences split across packets: answered once each is whole; a
        # subnegotiation is skipped to its IAC SE, and IAC IAC inside it does not end it.
        t.send(bytes([IAC]), bytes([DO]), bytes([24]), bytes([IAC, DONT]), bytes([3]))
        self.assertEqual(t.until(bytes([IAC, WILL, 3])), bytes([IAC, WONT, 24, IAC, WILL, 3]))
        t.send(bytes([IAC, SB, 24]), bytes([0, IAC, IAC]), b"vt", bytes([IAC]), bytes([SE]))
        # A port out of range; a port nobody listens on (the prompt comes back after either).
        t.type(b"127.0.0.1:99999\r\n")
        self.assertEqual(t.until(b"Norvane>"), b"127.0.0.1:99999\r\nBad port\r\nNorvane>")
        closed = harness.free_port()
        t.type(b"127.0.0.1:%d\r\n" % closed)
        self.assertEqual(t.until(b"Norvane>"), b"127.0.0.1:%d\r\nConnecting to host 127.0.0.1..."
                         b"Connection refused by Remote Host\r\nNorvane>" % closed)
        # BS and DEL edit the line; CR NUL ends it; the bytes behind it go to the host.
        t.type(b"127.0.0.1xy\b\x7f %d\r\x00" % self.echo.port)
        t.send(b"typed ahead")
        self.assertEqual(t.until(b"Connected\r\n"),
                         b"127.0.0.1xy\b \b\b \b %d\r\nConnecting to host 127.0.0.1...Connected\r\n"
                         % self.echo.port)
        self.assertEqual(t.until(b"typed ahead"), b"typed ahead")
        # Relay: unchanged but for NUL, which reaches a host on a port other than 23 as LF.
        t.send(b"a\x00b" + bytes([IAC, DO, 1]))
        self.assertEqual(t.until(bytes([IAC, DO, 1])), b"a\nb" + bytes([IAC, DO, 1]))
        t.send(b"bye")
        self.assertEqual(t.until(), b"byeConnection terminated by remote host\r\n")
        self.assertEqual(self.echo.received, [b"typed aheada\nb\xff\xfd\x01bye"])
        harness.wait_until(lambda: "Telnet: 127.0.0.1:%d" % self.echo.port in self.log())

        # QUIT (any case) ends the session with 0 once it was reported.
        t = self.typist()
        t.type(b"Quit\r\n")
        self.assertEqual(t.until(), b"Quit\r\n")
        harness.wait_until(lambda: "Telnet: Quit" in self.log() and
                           self.log().count("exit code 0") == 2)

    def test_replay_to_a_telnet_server_and_echo_off(self):
        try:
            server = Recorder("127.0.0.23", 23, echo=False)
        except OSError:
            self.skipTest("cannot listen on 127.0.0.23:23")
        self.addCleanup(server.close)
        t = self.typist()
        # DONT ECHO: the echo flag goes off, so nothing is echoed, prompted or answered.
        t.send(bytes([IAC, DONT, 3, IAC, DO, 24, IAC, WILL, 31, IAC, DONT, 1]))
        t.type(b"127.0.0.23\r\n")
        self.assertEqual(t.until(b"Connected\r\n"),
                         bytes([IAC, WILL, 3, IAC, WONT, 24]) +
                         b"Connecting to host 127.0.0.23...Connected\r\n")
        t.send(b"x\x00bye")
        harness.wait_until(lambda: server.received and b"bye" in server.received[0])
        # The recorded negotiation first, DONT SUPPRESS-GO-AHEAD as DO; NUL stays on port 23.
        self.assertEqual(server.received[0], bytes([IAC, DO, 3, IAC, DO, 24, IAC, WILL, 31,
                                                    IAC, DONT, 1]) + b"x\x00bye")

    @harness.unittest.skipUnless(shutil.which("telnet") and shutil.which("tmux"),
                                 "telnet or tmux is not installed")
    def test_debian_telnet_under_tmux(self):
        tmux = ["tmux", "-L", "norvane-%d" % self.port]
        self.addCleanup(subprocess.run, tmux + ["kill-server"], capture_output=True)
        subprocess.run(tmux + ["new-session", "-d", "-x", "120", "-y", "30",
                               "telnet 127.0.0.1 %d" % self.port], check=True)

        def screen():
            return subprocess.run(tmux + ["capture-pane", "-p"], capture_output=True,
                                  text=True).stdout

        def keys(*args):
            subprocess.run(tmux + ["send-keys"] + list(args), check=True)

        harness.wait_until(lambda: "Norvane>" in screen(), message=screen)
        keys("-l", "127.0.0.1 x")
        keys("BSpace")
        keys("-l", str(self.echo.port))
        keys("Enter")
        harness.wait_until(lambda: "Norvane>127.0.0.1 %d" % self.echo.port in screen() and
                           "Connecting to host 127.0.0.1...Connected" in screen(),
                           message=screen)
        keys("-l", "hello")
        harness.wait_until(lambda: self.echo.received and self.echo.received[0].endswith(b"hello"),
                           message=lambda: "%r\n%s" % (self.echo.received, screen()))
        harness.wait_until(lambda: "Connected" in screen() and
                           screen().split("Connected", 1)[1].count("hello") == 1, message=screen)


if __name__ == "__main__":
    harness.main()
