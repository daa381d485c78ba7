"""The SOCKS service of the real NorvaneEngine: byte-level SOCKS 4 and SOCKS 5 clients written
from the protocols, curl's --socks4, --socks5 and --socks5-hostname, BIND with a Python peer,
a UDP association, and the hand-over of plain HTTP requests to a web session."""

import http.server
import os
import socket
import struct
import subprocess
import threading

import harness
import webpeers
from linkclient import recv_exact

ROOT = webpeers.ROOT

# Two SOCKS services: "SOCKS" without authentication, whose rights refuse one port (a request
# variable known before the access check), and "SOCKS Auth" on 127.0.0.1 only, with RFC 1929
# and reverse lookups, whose hand-over names a web service that does not exist. Users alice (enabled) and bob
# (disabled) have the password "pa:ss".
REG = "[" + ROOT + r'''\Settings]
"LogFileDirectory"="{logs}"

[''' + ROOT + r'''\Services\SOCKS]
"ServiceType"="CSOCKSService"
"Name"="SOCKS"
"PortNumber"=dword:{port:08x}
"LogOptions"=dword:000003ff

[''' + ROOT + r'''\Services\SOCKS\AccessRights]
"IncludeDefaultRights"=dword:00000000

[''' + ROOT + r'''\Services\SOCKS\AccessRights\Recipient0]
"UserName"="Everyone"
"SpecifyRequest"=dword:00000001

[''' + ROOT + r'''\Services\SOCKS\AccessRights\Recipient0\RequestFilter\Filter0\Criterion0]
"Type"="CRequestCriterion"
"DataIndex"=dword:00000003
"Not"=dword:00000001
"DataType"=dword:00000001
"dwData"=dword:{refused:08x}

[''' + ROOT + r'''\Services\SOCKS Auth]
"ServiceType"="CSOCKSService"
"Name"="SOCKS Auth"
"PortNumber"=dword:{auth_port:08x}
"SpecifiedInterfaceAddress"=dword:00000001
"InterfaceAddress"="127.0.0.1"
"LogOptions"=dword:000003ff
"UseRFC1929"=dword:00000001
"DoReverseLookups"=dword:00000001
"UseSpecifiedPolicy"=dword:00000001
"HTTPPolicy"="No such service"

[''' + ROOT + r'''\UserDatabase\alice]
"Type"="User"
"Name"="alice"
"Password"=hex(1):{password}

[''' + ROOT + r'''\UserDatabase\bob]
"Type"="User"
"Name"="bob"
"Password"=hex(1):{password}
"AccountEnabled"=dword:00000000

[''' + ROOT + r'''\Cache]
"CacheDirectory"="{cache}"
"CacheOptions"=dword:00000003
'''

PASSWORD = b"pa:ss"
ZEROS = b"\0" * 6
LOOPBACK = socket.inet_aton("127.0.0.1")


def recv_all(s):
    data = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            return data
        data += chunk


def socks4(port, command, target_port, host, user_id=b"", tail=b""):
    """Connects and sends one SOCKS 4 request (and `tail` in the same piece)."""
    s = socket.create_connection(("127.0.0.1", port), timeout=harness.WAIT_TIMEOUT)
    s.sendall(struct.pack(">BBH", 4, command, target_port) + socket.inet_aton(host) + user_id +
              b"\0" + tail)
    return s


def socks5(port, methods=b"\0"):
    """Connects and sends a SOCKS 5 greeting; returns the socket and the method reply."""
    s = socket.create_connection(("127.0.0.1", port), timeout=harness.WAIT_TIMEOUT)
    s.sendall(bytes([5, len(methods)]) + methods)
    return s, recv_exact(s, 2)


def socks5_request(s, command, host, port):
    """Sends a SOCKS 5 request (a dotted address as type 1, anything else as a name)."""
    try:
        target = b"\x01" + socket.inet_aton(host)
    except OSError:
        target = b"\x03" + bytes([len(host)]) + host.encode()
    s.sendall(bytes([5, command, 0]) + target + struct.pack(">H", port))


def reverse_name(address):
    try:
        return socket.gethostbyaddr(address)[0]
    except OSError:
        return address


def web_origin(test, folder, hosts=("127.0.0.1",), port=0):
    """http.server serving `folder` on `port` of the first of `hosts` where it can listen;
    returns (host, port, the request lines it answered). Skips when it can listen nowhere."""
    requests = []

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=folder, **kwargs)

        def log_request(self, code="-", size="-"):
            requests.append(self.requestline)

        def log_message(self, *args):
            pass

    for host in hosts:
        try:
            server = http.server.ThreadingHTTPServer((host, port), Handler)
        except OSError:
            continue
        threading.Thread(target=server.serve_forever, daemon=True).start()
        test.addCleanup(server.server_close)
        test.addCleanup(server.shutdown)
        return host, server.server_address[1], requests
    test.skipTest("no address of %s has port %d free" % (hosts, port))


def udp_echo(test):
    """A datagram socket that sends every datagram back to its sender; returns its port."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    test.addCleanup(sock.close)

    def run():
        try:
            while True:
                data, sender = sock.recvfrom(65536)
                sock.sendto(data, sender)
        except OSError:
            return
    threading.Thread(target=run, daemon=True).start()
    return sock.getsockname()[1]


class Socks(harness.EngineTestCase):
    def setUp(self):
        super().setUp()
        self.norvane = self.new_norvane()
        self.logs = os.path.join(self.norvane.root, "logs")
        self.docs = os.path.join(self.norvane.root, "docs")
        os.makedirs(self.docs)
        self.port, self.auth_port, self.refused = harness.free_ports(3)
        scrambled = ",".join("%02x" % (b ^ (2 * i + 2)) for i, b in enumerate(PASSWORD))
        self.norvane.import_reg(REG.format(
            logs=self.logs, port=self.port, auth_port=self.auth_port, refused=self.refused,
            password=scrambled, cache=os.path.join(self.norvane.root, "cache")))
        self.norvane.install_and_start()
        self.norvane.wait_for_port(self.port)
        self.norvane.wait_for_port(self.auth_port)

    def wait_for_log(self, text, service="SOCKS"):
        harness.wait_for_log(os.path.join(self.logs, service + ".log"), text)

    def curl(self, *args):
        return subprocess.run(["curl", "-sS", "--max-time", "%d" % harness.WAIT_TIMEOUT] + list(args),
                              capture_output=True, timeout=harness.WAIT_TIMEOUT + 30)

    def test_socks4_connect_refusals_and_the_user_id(self):
        echo = webpeers.EchoServer(self)
        # Granted: 0x00 90 and six zeros; the bytes after the user id's NUL came in the same
        # piece and are relayed, and a client that ends its sending side still gets the rest.
        with socks4(self.port, 1, echo.port, "127.0.0.1", b"someone", b"early") as s:
            self.assertEqual(recv_exact(s, 8), b"\x00\x5a" + ZEROS)
            s.sendall(b" and late")
            s.shutdown(socket.SHUT_WR)
            self.assertEqual(recv_all(s), b"early and late")
        self.wait_for_log("Requested:\tSOCKS4 Connect 127.0.0.1:%d" % echo.port)

        # Refused by the rights (the port), a 4A name (address 0.0.0.x, not resolved), the
        # engine's own port (the target guard) and a user id with no NUL in 255 bytes: 0x00 91
        # and six zeros, then the end.
        for port, host, user_id, tail in ((self.refused, "127.0.0.1", b"u", b""),
                                          (echo.port, "0.0.0.1", b"u", b"localhost\0"),
                                          (self.port, "127.0.0.1", b"u", b""),
                                          (echo.port, "127.0.0.1", b"x" * 300, b"")):
            with socks4(self.port, 1, port, host, user_id, tail) as s:
                self.assertEqual(recv_all(s), b"\x00\x5b" + ZEROS, (port, host))

        # No user id within 300 ms: closed without a reply, with the session's line. A version
        # that is neither 4 nor 5 is closed without a byte.
        for first in (struct.pack(">BBH", 4, 1, echo.port) + LOOPBACK, b"\x07",
                      b"GET / HTTP/1.0\r\n\r\n"):
            with socket.create_connection(("127.0.0.1", self.port), timeout=harness.WAIT_TIMEOUT) as s:
                s.sendall(first)
                self.assertEqual(recv_all(s), b"")
        self.wait_for_log("Error:\tSOCKS4 Session did not send password - terminating")

        _, origin, _ = web_origin(self, self.docs)
        with open(os.path.join(self.docs, "four.txt"), "wb") as f:
            f.write(b"through socks 4")
        done = self.curl("--socks4", "127.0.0.1:%d" % self.port,
                         "http://127.0.0.1:%d/four.txt" % origin)
        self.assertEqual((done.returncode, done.stdout), (0, b"through socks 4"), done.stderr)

    def test_socks5_methods_rfc1929_replies_and_curl(self):
        echo = webpeers.EchoServer(self)
        # Without authentication: the CONNECT reply names the outbound connection's local end.
        s, reply = socks5(self.port, b"\x00\x02")
        with s:
            self.assertEqual(reply, b"\x05\x00")
            socks5_request(s, 1, "127.0.0.1", echo.port)
            head = recv_exact(s, 10)
            self.assertEqual(head[:8], b"\x05\x00\x00\x01" + LOOPBACK)
            self.assertNotEqual(head[8:], b"\0\0")
            s.sendall(b"ping")
            self.assertEqual(recv_exact(s, 4), b"ping")
        # Without RFC 1929 only "no authentication" is acceptable: a client that does not
        # offer it is told that none is (0x05 0xFF), and the proxy closes. With RFC 1929 the
        # choice is a password when offered, else none, as before.
        for port, offered, chosen in ((self.port, b"\x02", 0xFF), (self.port, b"", 0xFF),
                                      (self.port, b"\x01\x80\x02", 0xFF),
                                      (self.auth_port, b"", 0), (self.auth_port, b"\x01\x03", 0)):
            s, reply = socks5(port, offered)
            with s:
                self.assertEqual(reply, bytes([5, chosen]), (port, offered))
                if chosen == 0xFF:
                    self.assertEqual(recv_all(s), b"")
        self.wait_for_log("Error:\tCould not negotiate SOCKS5 access - terminating")
        # An IPv6 address: 0x05 0x08; an unknown command: 0x05 0x07; a refused port: 0x05 0x02.
        for request, code in ((b"\x05\x01\x00\x04" + b"\0" * 18, 8),
                              (b"\x05\x09\x00\x01" + LOOPBACK + b"\x00\x50", 7),
                              (b"\x05\x01\x00\x01" + LOOPBACK + struct.pack(">H", self.refused), 2)):
            s, _ = socks5(self.port)
            with s:
                s.sendall(request)
                self.assertEqual(recv_all(s), bytes([5, code, 0, 1]) + ZEROS)
        self.wait_for_log("Error:\tUnsupported or invalid address type (4) in SOCKS5 request")

        # RFC 1929: a client that offers only "no authentication" goes on without it; then the
        # right password, a wrong one, a disabled account and an unknown user.
        s, reply = socks5(self.auth_port, b"\x00")
        with s:
            self.assertEqual(reply, b"\x05\x00")
            socks5_request(s, 1, "localhost", echo.port)
            self.assertEqual(recv_exact(s, 4), b"\x05\x00\x00\x01")
        for user, password, status in ((b"alice", PASSWORD, 0), (b"alice", b"pa:sS", 2),
                                       (b"bob", PASSWORD, 2), (b"nobody", b"", 2)):
            s, reply = socks5(self.auth_port, b"\x00\x02")
            with s:
                self.assertEqual(reply, b"\x05\x02")
                s.sendall(bytes([1, len(user)]) + user + bytes([len(password)]) + password)
                self.assertEqual(recv_exact(s, 2), bytes([1, status]), user)
                if status:
                    self.assertEqual(recv_all(s), b"\x05\x02\x00\x01" + ZEROS)
                    continue
                socks5_request(s, 1, "127.0.0.1", echo.port)
                self.assertEqual(recv_exact(s, 10)[:4], b"\x05\x00\x00\x01")
                s.sendall(b"authorised")
                self.assertEqual(recv_exact(s, 10), b"authorised")
        self.wait_for_log("Error:\tCould not negotiate SOCKS5 access - terminating", "SOCKS Auth")
        # Reverse lookups name an address's host in the descriptions.
        name = reverse_name("127.0.0.1")
        self.wait_for_log("Requested:\tSOCKS5 Connect %s:%d" % (name, echo.port), "SOCKS Auth")

        # curl as it is: by address, by name (the proxy resolves it), with a user name and
        # password, and with a disabled account's.
        _, origin, _ = web_origin(self, self.docs)
        body = os.urandom(200000)
        with open(os.path.join(self.docs, "blob.bin"), "wb") as f:
            f.write(body)
        url, by_name = ("http://%s:%d/blob.bin" % (host, origin) for host in ("127.0.0.1", "localhost"))
        for args, ok in ((["--socks5", "127.0.0.1:%d" % self.port, url], True),
                         (["--socks5-hostname", "127.0.0.1:%d" % self.port, by_name], True),
                         (["--socks5", "127.0.0.1:%d" % self.auth_port, "-U", "alice:pa:ss", url], True),
                         (["--socks5", "127.0.0.1:%d" % self.auth_port, "-U", "bob:pa:ss", url], False)):
            done = self.curl(*args)
            self.assertEqual((done.returncode == 0, done.stdout == body), (ok, ok), (args, done.stderr))
        self.wait_for_log("Requested:\tSOCKS5 Connect localhost:%d" % origin)

    def test_bind_and_udp_associate(self):
        # SOCKS 5 BIND: the first reply names the listener, the second the connecting host.
        s, _ = socks5(self.port)
        with s:
            socks5_request(s, 2, "127.0.0.1", 0)
            first = recv_exact(s, 10)
            self.assertEqual(first[:8], b"\x05\x00\x00\x01" + LOOPBACK)
            with socket.create_connection(("127.0.0.1", struct.unpack(">H", first[8:])[0]),
                                          timeout=harness.WAIT_TIMEOUT) as peer:
                self.assertEqual(recv_exact(s, 10), b"\x05\x00\x00\x01" + LOOPBACK +
                                 struct.pack(">H", peer.getsockname()[1]))
                s.sendall(b"to the peer")
                self.assertEqual(recv_exact(peer, 11), b"to the peer")
                peer.sendall(b"to the client")
                self.assertEqual(recv_exact(s, 13), b"to the client")
            self.assertEqual(recv_all(s), b"")
        self.wait_for_log("SOCKS5 Bind 127.0.0.1:0 - connected")

        # SOCKS 4 BIND: a connection from another host than the expected one ends it.
        with socks4(self.port, 2, 0, "127.0.0.1", b"u") as s, socket.socket() as stranger:
            first = recv_exact(s, 8)
            self.assertEqual(first[:2] + first[4:], b"\x00\x5a" + LOOPBACK)
            stranger.bind(("127.0.0.2", 0))
            stranger.settimeout(harness.WAIT_TIMEOUT)
            stranger.connect(("127.0.0.1", struct.unpack(">H", first[2:4])[0]))
            self.assertEqual(recv_all(s), b"")
        self.wait_for_log("SOCKS Bind connection from 127.0.0.2 instead of 127.0.0.1")

        # A client that goes while its BIND waits ends the session at once, though a byte it
        # sent is still unread, and the listener goes with it. A service with an interface
        # address listens there only: its BIND listener too.
        for port in (self.port, self.auth_port):
            s, _ = socks5(port)
            with s:
                socks5_request(s, 2, "127.0.0.3", 0)
                s.sendall(b"X")
                first = recv_exact(s, 10)
                self.assertEqual(first[:8], b"\x05\x00\x00\x01" + LOOPBACK)
                listener = struct.unpack(">H", first[8:])[0]
                if port == self.auth_port:
                    self.assertRaises(ConnectionRefusedError, socket.create_connection,
                                      ("127.0.0.2", listener), 20)
            service, name = "SOCKS", "127.0.0.3"
            if port == self.auth_port:  # a service with reverse lookups
                service, name = "SOCKS Auth", reverse_name("127.0.0.3")
            harness.wait_for_session_end(os.path.join(self.logs, service + ".log"),
                                         "SOCKS5 Bind %s:0" % name)
            self.assertRaises(ConnectionRefusedError, socket.create_connection,
                              ("127.0.0.1", listener), 20)

        # UDP ASSOCIATE: one round trip by address and one by name; a datagram cut short is
        # dropped and the association goes on; it ends with its connection.
        echo_port = udp_echo(self)
        s, _ = socks5(self.port)
        with s, socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as udp:
            udp.bind(("127.0.0.1", 0))
            udp.settimeout(harness.WAIT_TIMEOUT)
            socks5_request(s, 3, "0.0.0.0", 0)
            reply = recv_exact(s, 10)
            self.assertEqual(reply[:8], b"\x05\x00\x00\x01" + LOOPBACK)
            relay = ("127.0.0.1", struct.unpack(">H", reply[8:])[0])
            head = b"\0\0\0\x01" + LOOPBACK + struct.pack(">H", echo_port)
            udp.sendto(b"\0\0\0\x03", relay)
            udp.sendto(head + b"by address", relay)
            self.assertEqual(udp.recvfrom(4096), (head + b"by address", relay))
            udp.sendto(b"\0\0\0\x03\x09localhost" + struct.pack(">H", echo_port) + b"by name", relay)
            self.assertEqual(udp.recvfrom(4096)[0], head + b"by name")
            s.sendall(b"ignored")
            s.shutdown(socket.SHUT_WR)
            self.assertEqual(recv_all(s), b"")
            harness.wait_until(lambda: not harness.udp_bound(relay[1]), message="the relay stays open")
            udp.sendto(head + b"too late", relay)
            udp.settimeout(1)
            self.assertRaises(socket.timeout, udp.recvfrom, 4096)
        self.wait_for_log("Requested:\tSOCKS5 UDP Associate 0.0.0.0:0")

    def test_plain_http_is_handed_to_a_web_session(self):
        # The origin listens on 8080 (a hand-over port) of a loopback address but 127.0.0.1.
        host, _, requests = web_origin(self, self.docs, ["127.0.0.%d" % i for i in range(2, 40)], 8080)
        with open(os.path.join(self.docs, "page.txt"), "wb") as f:
            f.write(b"handed over")

        def get(port, host_header, target=b"GET /page.txt"):
            s, _ = socks5(port)
            with s:
                socks5_request(s, 1, host, 8080)
                recv_exact(s, 10)
                s.sendall(b"%s HTTP/1.0\r\nHost: %s\r\n\r\n" % (target, host_header))
                return recv_all(s)

        # A lower-case get qualifies too (and the origin refuses that method).
        self.assertIn(b"Proxy-Connection: close", get(self.port, b"x", b"get /page.txt"))
        self.wait_for_log("Requested:\tget http://%s:8080/page.txt" % host)
        # The web session keeps the answer in the cache: the second comes from there.
        answers = [get(self.port, b"%s:8080" % host.encode()) for _ in range(2)]
        self.assertIn(b"Proxy-Connection: close", answers[0])
        self.assertIn(b"Server: Norvane Engine", answers[1])
        for answer in answers:
            self.assertTrue(answer.endswith(b"\r\n\r\nhanded over"), answer[-100:])
        self.wait_for_log("Sent Cached Resource %s:8080/page.txt" % host)
        # A Host header that names another host: served, but never from nor into the cache.
        for _ in range(2):
            self.assertTrue(get(self.port, b"elsewhere.example").endswith(b"handed over"))
        self.assertEqual(len([r for r in requests if r.startswith("GET /")]), 3, requests)
        # The policy service of "SOCKS Auth" does not exist: the session ends.
        self.assertEqual(get(self.auth_port, host.encode()), b"")
        self.wait_for_log("Error:\tCould not lookup specified WWW Server for HTTP Handover",
                          "SOCKS Auth")

        # A request in proxy form is meant for a web proxy behind the target, and another port
        # than 80 and 8080 is never handed over: the bytes go through as they are.
        url = b"http://%s:8080/page.txt" % host.encode()
        self.assertNotIn(b"Proxy-Connection", get(self.port, b"x", b"GET " + url))
        self.assertEqual(requests[-1], "GET %s HTTP/1.0" % url.decode())
        echo = webpeers.EchoServer(self)
        s, _ = socks5(self.port)
        with s:
            socks5_request(s, 1, "127.0.0.1", echo.port)
            recv_exact(s, 10)
            s.sendall(b"GET /page.txt HTTP/1.0\r\n\r\n")
            s.shutdown(socket.SHUT_WR)
            self.assertEqual(recv_all(s), b"GET /page.txt HTTP/1.0\r\n\r\n")


if __name__ == "__main__":
    harness.main()
