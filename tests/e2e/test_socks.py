"""The SOCKS service of the real NorvaneEngine: byte-level SOCKS 4 and SOCKS 5 clients written
from the protocols, curl's --socks4, --socks5 and --socks5-hostname, BIND with a Python peer,
a UDP association, and the hand-over of plain HTTP requests to a web session."""

import http.server
import os
import socket
import struct
import subprocess
import threading
import time

import harness
import webpeers
from linkclient import recv_exact
from test_web_proxy import Origin

ROOT = webpeers.ROOT

# Two SOCKS services: "SOCKS" without authentication, whose rights refuse one port (a request
# variable that is known before the access check), and "SOCKS Auth" with RFC 1929 and reverse
# lookups, whose rights take SOCKS 5 only (the version variable) and whose hand-over names a
# web service that does not exist. Users:
# alice (enabled) and bob (disabled), both with the password "pa:ss".
REG = "[" + ROOT + r'''\Settings]
"LogFileDirectory"="{logs}"

[''' + ROOT + r'''\Services\SOCKS]
"ServiceType"="CSOCKSService"
"Name"="SOCKS"
"PortNumber"=dword:{port:08x}
"SpecifiedInterfaceAddress"=dword:00000001
"InterfaceAddress"="127.0.0.1"
"LogOptions"=dword:000003ff
"CacheReferredHTTPRequests"=dword:00000001

[''' + ROOT + r'''\Services\SOCKS\AccessRights]
"RightType"=dword:00000000
"Description"="all but one port"
"IncludeDefaultRights"=dword:00000000

[''' + ROOT + r'''\Services\SOCKS\AccessRights\Recipient0]
"UserName"="Everyone"
"SpecifyRequest"=dword:00000001

[''' + ROOT + r'''\Services\SOCKS\AccessRights\Recipient0\RequestFilter]
"Name"=""

[''' + ROOT + r'''\Services\SOCKS\AccessRights\Recipient0\RequestFilter\Filter0]
"Name"="not the refused port"

[''' + ROOT + r'''\Services\SOCKS\AccessRights\Recipient0\RequestFilter\Filter0\Criterion0]
"Type"="CRequestCriterion"
"Comparison"=dword:00000000
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
"UseRFC1929"=dword:00000001
"DoReverseLookups"=dword:00000001
"UseSpecifiedPolicy"=dword:00000001
"HTTPPolicy"="No such service"

[''' + ROOT + r'''\Services\SOCKS Auth\AccessRights]
"RightType"=dword:00000000
"Description"="SOCKS 5 only"
"IncludeDefaultRights"=dword:00000000

[''' + ROOT + r'''\Services\SOCKS Auth\AccessRights\Recipient0]
"UserName"="Everyone"
"SpecifyRequest"=dword:00000001

[''' + ROOT + r'''\Services\SOCKS Auth\AccessRights\Recipient0\RequestFilter]
"Name"=""

[''' + ROOT + r'''\Services\SOCKS Auth\AccessRights\Recipient0\RequestFilter\Filter0]
"Name"="version 5"

[''' + ROOT + r'''\Services\SOCKS Auth\AccessRights\Recipient0\RequestFilter\Filter0\Criterion0]
"Type"="CRequestCriterion"
"Comparison"=dword:00000000
"DataIndex"=dword:00000016
"DataType"=dword:00000001
"dwData"=dword:00000005

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


def scrambled(password):
    """The stored form of a password: byte i XOR (2i + 2)."""
    return ",".join("%02x" % (b ^ ((2 * i + 2) & 0xFF)) for i, b in enumerate(password))


def address(host):
    return socket.inet_aton(host)


def recv_all(s):
    data = b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            return data
        data += chunk


def socks4(port, command, target_port, host, user_id=b"", tail=b""):
    """Connects and sends one SOCKS 4 request (and `tail` in the same piece)."""
    s = socket.create_connection(("127.0.0.1", port), timeout=20)
    s.sendall(struct.pack(">BBH", 4, command, target_port) + address(host) + user_id + b"\0" + tail)
    return s


def socks5(port, methods=b"\0"):
    """Connects and sends a SOCKS 5 greeting; returns the socket and the method reply."""
    s = socket.create_connection(("127.0.0.1", port), timeout=20)
    s.sendall(bytes([5, len(methods)]) + methods)
    return s, recv_exact(s, 2)


def socks5_request(s, command, host, port):
    """Sends a SOCKS 5 request (a dotted address as type 1, anything else as a name)."""
    try:
        target = b"\x01" + address(host)
    except OSError:
        target = b"\x03" + bytes([len(host)]) + host.encode()
    s.sendall(bytes([5, command, 0]) + target + struct.pack(">H", port))


def user_password(s, user, password):
    s.sendall(bytes([1, len(user)]) + user + bytes([len(password)]) + password)


class UdpEcho(threading.Thread):
    """Sends every datagram back to where it came from."""

    def __init__(self, test):
        super().__init__(daemon=True)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]
        test.addCleanup(self.sock.close)
        self.start()

    def run(self):
        while True:
            try:
                data, sender = self.sock.recvfrom(65536)
                self.sock.sendto(data, sender)
            except OSError:
                return


def web_origin_on_8080(test, folder):
    """http.server on port 8080, a hand-over port, of a loopback address other than 127.0.0.1,
    serving `folder`; returns (host, the request lines it answered). Skips when every tried
    address has 8080 taken."""
    requests = []

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=folder, **kwargs)

        def log_request(self, code="-", size="-"):
            requests.append(self.requestline)

    for last in range(2, 40):
        host = "127.0.0.%d" % last
        try:
            server = http.server.ThreadingHTTPServer((host, 8080), Handler)
        except OSError:
            continue
        threading.Thread(target=server.serve_forever, daemon=True).start()
        test.addCleanup(server.server_close)
        test.addCleanup(server.shutdown)
        return host, requests
    test.skipTest("port 8080 is taken on every loopback address tried")


class Socks(harness.EngineTestCase):
    def setUp(self):
        super().setUp()
        self.norvane = self.new_norvane()
        self.logs = os.path.join(self.norvane.root, "logs")
        self.cache = os.path.join(self.norvane.root, "cache")
        self.docs = os.path.join(self.norvane.root, "docs")
        os.makedirs(self.docs)
        self.port, self.auth_port, self.refused = harness.free_ports(3)
        self.norvane.import_reg(REG.format(
            logs=self.logs.replace("\\", "\\\\"), port=self.port, auth_port=self.auth_port,
            refused=self.refused, password=scrambled(PASSWORD),
            cache=self.cache.replace("\\", "\\\\")))
        self.norvane.install_and_start()
        self.norvane.wait_for_port(self.port)
        self.norvane.wait_for_port(self.auth_port)

    def log(self, service="SOCKS"):
        try:
            with open(os.path.join(self.logs, service + ".log"), encoding="latin-1") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def wait_for_log(self, text, service="SOCKS"):
        harness.wait_until(lambda: text in self.log(service),
                           message=lambda: "%r not in the log:\n%s" % (text, self.log(service)))

    def curl(self, *args):
        return subprocess.run(["curl", "-sS", "--max-time", "20"] + list(args),
                              capture_output=True, timeout=40)

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

        # Refused by the rights (the port), a 4A name (address 0.0.0.x, not resolved) and the
        # engine's own port (the target guard): 0x00 91 and six zeros, then the end.
        for port, host, tail in ((self.refused, "127.0.0.1", b""),
                                 (echo.port, "0.0.0.1", b"localhost\0"),
                                 (self.port, "127.0.0.1", b"")):
            with socks4(self.port, 1, port, host, b"u", tail) as s:
                self.assertEqual(recv_all(s), b"\x00\x5b" + ZEROS, (port, host))

        # No user id within 300 ms: closed without a reply, with the session's line.
        with socket.create_connection(("127.0.0.1", self.port), timeout=20) as s:
            s.sendall(struct.pack(">BBH", 4, 1, echo.port) + address("127.0.0.1"))
            self.assertEqual(recv_all(s), b"")
        self.wait_for_log("Error:\tSOCKS4 Session did not send password - terminating")
        # A user id without its NUL after 255 bytes is refused; a version that is neither 4
        # nor 5 is closed without a byte.
        with socks4(self.port, 1, echo.port, "127.0.0.1", b"x" * 300) as s:
            self.assertEqual(recv_all(s), b"\x00\x5b" + ZEROS)
        for first in (b"\x07", b"GET / HTTP/1.0\r\n\r\n"):
            with socket.create_connection(("127.0.0.1", self.port), timeout=20) as s:
                s.sendall(first)
                self.assertEqual(recv_all(s), b"")

        # curl as it is.
        origin = Origin(self.docs)
        self.addCleanup(origin.close)
        with open(os.path.join(self.docs, "four.txt"), "wb") as f:
            f.write(b"through socks 4")
        done = self.curl("--socks4", "127.0.0.1:%d" % self.port, origin.url("/four.txt"))
        self.assertEqual((done.returncode, done.stdout), (0, b"through socks 4"), done.stderr)

    def test_socks5_methods_rfc1929_replies_and_curl(self):
        echo = webpeers.EchoServer(self)
        # Without authentication: the CONNECT reply names the outbound connection's local end.
        s, reply = socks5(self.port, b"\x00\x02")
        with s:
            self.assertEqual(reply, b"\x05\x00")
            socks5_request(s, 1, "127.0.0.1", echo.port)
            head = recv_exact(s, 10)
            self.assertEqual(head[:8], b"\x05\x00\x00\x01" + address("127.0.0.1"))
            self.assertNotEqual(head[8:], b"\0\0")
            s.sendall(b"ping")
            self.assertEqual(recv_exact(s, 4), b"ping")
        # An IPv6 address type: 0x05 0x08; an unknown command: 0x05 0x07; a refused port:
        # 0x05 0x02; each then closes.
        for request, code in ((b"\x05\x01\x00\x04" + b"\0" * 18, 8),
                              (b"\x05\x09\x00\x01\x7f\x00\x00\x01\x00\x50", 7),
                              (b"\x05\x01\x00\x01\x7f\x00\x00\x01" + struct.pack(">H", self.refused), 2)):
            s, _ = socks5(self.port)
            with s:
                s.sendall(request)
                self.assertEqual(recv_all(s), bytes([5, code, 0, 1]) + ZEROS)
        self.wait_for_log("Error:\tUnsupported or invalid address type (4) in SOCKS5 request")

        # RFC 1929: a client that offers only "no authentication" goes on without it.
        s, reply = socks5(self.auth_port, b"\x00")
        with s:
            self.assertEqual(reply, b"\x05\x00")
            socks5_request(s, 1, "localhost", echo.port)
            self.assertEqual(recv_exact(s, 4), b"\x05\x00\x00\x01")
        # The right password; a wrong one; a disabled account; an unknown user.
        for user, password, status in ((b"alice", PASSWORD, 0), (b"alice", b"pa:sS", 2),
                                       (b"bob", PASSWORD, 2), (b"nobody", b"", 2)):
            s, reply = socks5(self.auth_port, b"\x00\x02")
            with s:
                self.assertEqual(reply, b"\x05\x02")
                user_password(s, user, password)
                self.assertEqual(recv_exact(s, 2), bytes([1, status]), user)
                if status:
                    self.assertEqual(recv_all(s), b"\x05\x02\x00\x01" + ZEROS)
                    continue
                socks5_request(s, 1, "127.0.0.1", echo.port)
                self.assertEqual(recv_exact(s, 10)[:4], b"\x05\x00\x00\x01")
                s.sendall(b"authorised")
                self.assertEqual(recv_exact(s, 10), b"authorised")
        self.wait_for_log("Error:\tCould not negotiate SOCKS5 access - terminating", "SOCKS Auth")
        # Its descriptions name an address's host (as this host's resolver names it).
        name = socket.gethostbyaddr("127.0.0.1")[0]
        self.wait_for_log("Requested:\tSOCKS5 Connect %s:%d" % (name, echo.port), "SOCKS Auth")

        # The rights of "SOCKS Auth" take SOCKS 5 only.
        with socks4(self.auth_port, 1, echo.port, "127.0.0.1") as s:
            self.assertEqual(recv_all(s), b"\x00\x5b" + ZEROS)

        # curl as it is, against a loopback origin: by address, by name (the proxy resolves
        # it), and with a user name and password.
        origin = Origin(self.docs)
        self.addCleanup(origin.close)
        body = os.urandom(200000)
        with open(os.path.join(self.docs, "blob.bin"), "wb") as f:
            f.write(body)
        for args in (["--socks5", "127.0.0.1:%d" % self.port, origin.url("/blob.bin")],
                     ["--socks5-hostname", "127.0.0.1:%d" % self.port,
                      "http://localhost:%d/blob.bin" % origin.port],
                     ["--socks5", "127.0.0.1:%d" % self.auth_port, "--proxy-user", "alice:pa:ss",
                      origin.url("/blob.bin")]):
            done = self.curl(*args)
            self.assertEqual(done.returncode, 0, (args, done.stderr))
            self.assertEqual(done.stdout, body, args)
        self.wait_for_log("Requested:\tSOCKS5 Connect localhost:%d" % origin.port)
        done = self.curl("--socks5", "127.0.0.1:%d" % self.auth_port, "--proxy-user", "bob:pa:ss",
                         origin.url("/blob.bin"))
        self.assertNotEqual(done.returncode, 0)

    def test_bind_and_udp_associate(self):
        # SOCKS 5 BIND: the first reply names the listener, the second the connecting host.
        s, _ = socks5(self.port)
        with s:
            socks5_request(s, 2, "127.0.0.1", 0)
            first = recv_exact(s, 10)
            self.assertEqual(first[:8], b"\x05\x00\x00\x01" + address("127.0.0.1"))
            (listener,) = struct.unpack(">H", first[8:])
            with socket.create_connection(("127.0.0.1", listener), timeout=20) as peer:
                second = recv_exact(s, 10)
                self.assertEqual(second, b"\x05\x00\x00\x01" + address("127.0.0.1") +
                                 struct.pack(">H", peer.getsockname()[1]))
                s.sendall(b"to the peer")
                self.assertEqual(recv_exact(peer, 11), b"to the peer")
                peer.sendall(b"to the client")
                self.assertEqual(recv_exact(s, 13), b"to the client")
            self.assertEqual(recv_all(s), b"")
        self.wait_for_log("SOCKS5 Bind 127.0.0.1:0 - connected")

        # SOCKS 4 BIND: a connection from another host than the expected one ends it.
        with socks4(self.port, 2, 0, "127.0.0.1", b"u") as s:
            first = recv_exact(s, 8)
            self.assertEqual(first[:2] + first[4:], b"\x00\x5a" + address("127.0.0.1"))
            (listener,) = struct.unpack(">H", first[2:4])
            with socket.socket() as stranger:
                stranger.bind(("127.0.0.2", 0))
                stranger.settimeout(20)
                stranger.connect(("127.0.0.1", listener))
                self.assertEqual(recv_all(s), b"")
        self.wait_for_log("SOCKS Bind connection from 127.0.0.2 instead of 127.0.0.1")

        # UDP ASSOCIATE: one round trip by address and one by name; a malformed datagram is
        # dropped and the association goes on; it ends with its connection.
        echo = UdpEcho(self)
        s, _ = socks5(self.port)
        with s, socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as udp:
            udp.bind(("127.0.0.1", 0))
            udp.settimeout(10)
            socks5_request(s, 3, "0.0.0.0", 0)
            reply = recv_exact(s, 10)
            self.assertEqual(reply[:8], b"\x05\x00\x00\x01" + address("127.0.0.1"))
            relay = ("127.0.0.1", struct.unpack(">H", reply[8:])[0])
            answer_head = b"\0\0\0\x01" + address("127.0.0.1") + struct.pack(">H", echo.port)
            udp.sendto(b"\0\0\0\x03", relay)  # cut short: dropped
            udp.sendto(answer_head + b"by address", relay)
            self.assertEqual(udp.recvfrom(4096), (answer_head + b"by address", relay))
            udp.sendto(b"\0\0\0\x03\x09localhost" + struct.pack(">H", echo.port) + b"by name", relay)
            self.assertEqual(udp.recvfrom(4096)[0], answer_head + b"by name")
            s.sendall(b"ignored")
            s.shutdown(socket.SHUT_WR)
            self.assertEqual(recv_all(s), b"")
            time.sleep(0.3)
            udp.sendto(answer_head + b"too late", relay)
            udp.settimeout(1)
            self.assertRaises(socket.timeout, udp.recvfrom, 4096)
        self.wait_for_log("Requested:\tSOCKS5 UDP Associate 0.0.0.0:0")

    def test_plain_http_is_handed_to_a_web_session(self):
        host, requests = web_origin_on_8080(self, self.docs)

        def origin_requests():
            return [line for line in requests if line.startswith("GET /")]
        with open(os.path.join(self.docs, "page.txt"), "wb") as f:
            f.write(b"handed over")

        def get(port, host_header, method=b"GET"):
            s, _ = socks5(port)
            with s:
                socks5_request(s, 1, host, 8080)
                recv_exact(s, 10)
                s.sendall(b"%s /page.txt HTTP/1.0\r\nHost: %s\r\n\r\n" % (method, host_header))
                return recv_all(s)

        # A lower-case get qualifies too (and the origin refuses that method).
        answer = get(self.port, b"x", b"get")
        self.assertIn(b"Proxy-Connection: close", answer)
        self.wait_for_log("Requested:\tget http://%s:8080/page.txt" % host)
        # The web session keeps the answer in the cache, so the second request is answered
        # from there and does not reach the origin.
        answer = get(self.port, b"%s:8080" % host.encode())
        self.assertIn(b"Proxy-Connection: close", answer)
        self.assertTrue(answer.endswith(b"\r\n\r\nhanded over"), answer[-100:])
        answer = get(self.port, b"%s:8080" % host.encode())
        self.assertIn(b"Server: Norvane Engine", answer)
        self.assertTrue(answer.endswith(b"\r\n\r\nhanded over"), answer[-100:])
        self.wait_for_log("Sent Cached Resource %s:8080/page.txt" % host)
        self.assertEqual(len(origin_requests()), 1, origin_requests())
        # A Host header that names another host: served, but never from nor into the cache.
        for _ in range(2):
            answer = get(self.port, b"elsewhere.example")
            self.assertTrue(answer.endswith(b"handed over"), answer[-100:])
        self.assertEqual(len(origin_requests()), 3, origin_requests())
        # The policy service of "SOCKS Auth" does not exist: the session ends.
        self.assertEqual(get(self.auth_port, host.encode()), b"")
        self.wait_for_log("Error:\tCould not lookup specified WWW Server for HTTP Handover",
                          "SOCKS Auth")

        # Another port is never handed over: the bytes go through as they are.
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
