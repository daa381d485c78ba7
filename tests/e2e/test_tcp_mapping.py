"""TCP mapping in the real NorvaneEngine: curl and socat relayed to loopback origins chosen by
the service's mapping table; then two engines, each with its own state folder, where engine A
(the branch office) maps a port over an enciphered link, through an upstream CONNECT proxy that
records the wire, to engine B (the head office), which maps it on to the origin: nc -N's
half-closed request gets its whole answer, the wire carries no plain text, and a wrong link
password is refused."""

import hashlib
import os
import shutil
import socket
import subprocess
import tempfile
import threading

import harness
import linkclient

ROOT = harness.CONFIG_ROOT
CLIENT_TIMEOUT = 30


def scrambled(password):
    """The stored form of a password, as REGEDIT4 binary string data (it may hold NUL bytes)."""
    data = bytes(b ^ ((2 * i + 2) & 0xFF) for i, b in enumerate(password.encode())) + b"\0"
    return "hex(1):" + ",".join("%02x" % b for b in data)


def mapping_service(name, port, default=None, mappings=(), **values):
    """A CTCPMappingService key: `default` is (host, port) or None (AllowDefault 0);
    `mappings` are (client address, target port) pairs; `values` are further values (ints as
    DWORDs, texts quoted as they are, already formatted values passed through)."""
    key = ROOT + r"\Services" + "\\" + name
    lines = ["", "[" + key + "]", '"ServiceType"="CTCPMappingService"', '"Name"="%s"' % name,
             '"PortNumber"=dword:%08x' % port, '"SpecifiedInterfaceAddress"=dword:00000001',
             '"InterfaceAddress"="127.0.0.1"', '"LogOptions"=dword:000003ff']
    for value, data in values.items():
        if isinstance(data, int):
            data = "dword:%08x" % data
        elif not data.startswith("hex("):
            data = '"%s"' % data
        lines.append('"%s"=%s' % (value, data))
    lines += ["", "[" + key + r"\Mappings]", '"AllowDefault"=dword:%08x' % (default is not None)]
    if default:
        lines += ['"Host"="%s"' % default[0], '"Port"=dword:%08x' % default[1]]
    for n, (client, target) in enumerate(mappings):
        lines += ["", "[%s\\Mappings\\Mapping%d]" % (key, n), '"SpecifyLocation"=dword:00000001',
                  '"Host"="127.0.0.1"', '"Port"=dword:%08x' % target,
                  "", "[%s\\Mappings\\Mapping%d\\IncludedLocations]" % (key, n),
                  '"%s"=dword:00000000' % client]
    return "\n".join(lines) + "\n"


def read(path):
    try:
        with open(path, encoding="latin-1", newline="") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def start_engine(test, label, reg, ports):
    n = test.new_norvane(label)
    logs = os.path.join(n.root, "logs")
    os.makedirs(logs)
    remote = harness.free_port()
    n.import_reg(harness.base_reg(logs, remote) + reg)
    n.install_and_start()
    for port in ports:
        n.wait_for_port(port)
    return n, logs


def background(test, argv, **kwargs):
    """Starts a peer program that ends with the test."""
    process = subprocess.Popen(argv, **kwargs)

    def end():
        process.kill()
        process.wait()
    test.addCleanup(end)


def serve(listener, handle):
    """Accepts connections on `listener` until it is closed, each handled on its own thread."""
    def loop():
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            threading.Thread(target=handle, args=(conn,), daemon=True).start()
    threading.Thread(target=loop, daemon=True).start()


def listener():
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", harness.free_port()))
    s.listen(8)
    return s


def receive_all(conn):
    data = b""
    while True:
        piece = conn.recv(65536)
        if not piece:
            return data
        data += piece


def answer_for(request):
    """What the origin answers once the request has ended: its length and digest, then the
    request in upper case, so every byte of it shows in the answer."""
    return b"%d %s\n" % (len(request), hashlib.sha256(request).hexdigest().encode()) + request.upper()


def origin(conn):
    """Reads until the client's end of stream (a half-close), then answers and closes."""
    with conn:
        conn.sendall(answer_for(receive_all(conn)))


class RecordingTunnel:
    """An upstream proxy that grants "CONNECT host:port" and relays the tunnel, half-closes
    included, keeping every byte it passes on in each direction."""

    def __init__(self):
        self.socket = listener()
        self.port = self.socket.getsockname()[1]
        self.requests = []
        self.upstream = bytearray()    # engine A -> engine B
        self.downstream = bytearray()  # engine B -> engine A
        serve(self.socket, self._tunnel)

    def close(self):
        self.socket.close()

    def _tunnel(self, conn):
        head = b""
        while b"\r\n\r\n" not in head:
            piece = conn.recv(1)
            if not piece:
                conn.close()
                return
            head += piece
        self.requests.append(head)
        host, _, port = head.split(b" ")[1].decode().rpartition(":")
        far = socket.create_connection((host, int(port)))
        conn.sendall(b"HTTP/1.0 200 Connection established\r\n\r\n")
        pumps = [threading.Thread(target=self._pump, args=(conn, far, self.upstream)),
                 threading.Thread(target=self._pump, args=(far, conn, self.downstream))]
        for pump in pumps:
            pump.start()
        for pump in pumps:
            pump.join()
        conn.close()
        far.close()

    @staticmethod
    def _pump(source, sink, record):
        while True:
            try:
                piece = source.recv(65536)
            except OSError:
                piece = b""
            if not piece:
                try:
                    sink.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
                return
            record += piece
            sink.sendall(piece)


class TCPMapping(harness.EngineTestCase):
    def test_plain_mapping_relays_curl_and_socat_by_client_address(self):
        www = tempfile.mkdtemp(prefix="norvane-e2e-origin-")
        self.addCleanup(shutil.rmtree, www, True)
        blob = os.urandom(300000)
        with open(os.path.join(www, "blob"), "wb") as f:
            f.write(blob)
        web, echo, port = harness.free_ports(3)
        background(self, ["/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1", str(web)],
                   cwd=www, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        background(self, ["socat", "TCP4-LISTEN:%d,bind=127.0.0.1,reuseaddr,fork" % echo, "PIPE"])
        # ConnectMethod 1 cannot carry a raw stream: the service loads and connects directly.
        reg = mapping_service("TCPMap", port, mappings=[("127.0.0.2", echo), ("127.0.0.3", web)],
                              ConnectMethod=1, ProxyServer="127.0.0.1", ProxyPort=web)
        n, logs = start_engine(self, "plain", reg, [port])
        harness.wait_until(lambda: harness.port_accepts(web) and harness.port_accepts(echo))

        fetched = subprocess.run(["curl", "-sS", "--fail", "--max-time", str(CLIENT_TIMEOUT),
                                  "--interface", "127.0.0.3", "http://127.0.0.1:%d/blob" % port],
                                 capture_output=True, timeout=CLIENT_TIMEOUT + 5)
        self.assertEqual(fetched.returncode, 0, fetched.stderr)
        self.assertEqual(fetched.stdout, blob)

        # socat half-closes after its input; the echo's whole answer still comes back.
        data = os.urandom(500000)
        echoed = subprocess.run(["socat", "-t", str(CLIENT_TIMEOUT), "-",
                                 "TCP4:127.0.0.1:%d,bind=127.0.0.2" % port],
                                input=data, capture_output=True, timeout=CLIENT_TIMEOUT + 5)
        self.assertEqual(echoed.returncode, 0, echoed.stderr)
        self.assertEqual(echoed.stdout, data)

        # No mapping takes 127.0.0.1 and there is no default: closed at once.
        with socket.create_connection(("127.0.0.1", port), timeout=CLIENT_TIMEOUT) as s:
            self.assertEqual(s.recv(16), b"")

        log = os.path.join(logs, "TCPMap.log")
        # Four sessions: the harness's probe of the port and the three clients above.
        harness.wait_until(lambda: read(log).count("\tTerminated exit code") == 4, timeout=CLIENT_TIMEOUT,
                           message=lambda: read(log))
        text = read(log)
        self.assertIn("\tError:\tConnectMethod 1 (upstream web proxy) cannot carry a TCP mapping"
                      " - connecting directly", text)
        for client, target in (("127.0.0.3", web), ("127.0.0.2", echo)):
            self.assertIn("%s\tGuest\t" % client, text)
            self.assertIn("\tRequested:\tTCPMapping: Connected to 127.0.0.1:%d" % target, text)
        self.assertIn("\tCreated:\tTCPMapping:\r\n", text)
        self.assertIn("\tFailed authorisation:\tNo mapping or default not allowed - terminating", text)
        self.assertEqual(text.count("\tTerminated exit code 0"), 2, text)
        self.assertIn("\tTraffic\t %d\t%d\t%d\t%d\t" % (len(data), len(data), len(data), len(data)), text)

    def test_two_engines_carry_a_service_over_an_enciphered_link(self):
        ends = listener()
        self.addCleanup(ends.close)
        serve(ends, origin)
        target = ends.getsockname()[1]
        tunnel = RecordingTunnel()
        self.addCleanup(tunnel.close)

        # Head office: "Head" admits the enabled users of its database, "HeadFixed" one fixed
        # account.
        head, fixed = harness.free_ports(2)
        head_reg = ("[" + ROOT + r'''\UserDatabase\branch]
"Type"="User"
"Name"="branch"
"Password"=''' + scrambled("tunnel-pw") + "\n\n[" + ROOT + r'''\UserDatabase\retired]
"Type"="User"
"Name"="retired"
"AccountEnabled"=dword:00000000
"Password"=''' + scrambled("old-pw") + "\n" +
                    mapping_service("Head", head, default=("127.0.0.1", target),
                                    EncryptConnectionsIn=1) +
                    mapping_service("HeadFixed", fixed, default=("127.0.0.1", target),
                                    EncryptConnectionsIn=1, SpecifyUserForIncomingConnection=1,
                                    UsernameIn="branch", PasswordIn=scrambled("fixed-pw")))
        b, b_logs = start_engine(self, "head", head_reg, [head, fixed])

        # Branch office: "Link" reaches Head through the recording CONNECT proxy; "BadLink"
        # offers HeadFixed the database password.
        link, bad = harness.free_ports(2)
        branch_reg = (mapping_service("Link", link, default=("127.0.0.1", head),
                                      EncryptConnectionsOut=1, UsernameOut="branch",
                                      PasswordOut=scrambled("tunnel-pw"), ConnectMethod=4,
                                      ProxyServer="127.0.0.1", ProxyPort=tunnel.port) +
                      mapping_service("BadLink", bad, default=("127.0.0.1", fixed),
                                      EncryptConnectionsOut=1, UsernameOut="branch",
                                      PasswordOut=scrambled("tunnel-pw")))
        a, a_logs = start_engine(self, "branch", branch_reg, [link, bad])

        request = b"".join(b"line %06d of the branch office's request\n" % i for i in range(4000))
        sent = subprocess.run(["nc", "-N", "-w", str(CLIENT_TIMEOUT), "127.0.0.1", str(link)],
                              input=request, capture_output=True, timeout=CLIENT_TIMEOUT + 5)
        self.assertEqual(sent.returncode, 0, sent.stderr)
        self.assertEqual(sent.stdout, answer_for(request))

        # The handshake ran through the tunnel, never with the proxy (also for the harness's
        # probe of the port); the wire is enciphered both ways after the frames.
        self.assertEqual(set(tunnel.requests), {b"CONNECT 127.0.0.1:%d HTTP/1.0\r\n\r\n" % head})
        self.assertEqual(tunnel.downstream[1:5], b"\x01\x03\x00\x01")
        self.assertIn(b"branch\0", bytes(tunnel.upstream[:64]))
        self.assertGreater(len(tunnel.upstream), len(request))
        for wire in (bytes(tunnel.upstream), bytes(tunnel.downstream)):
            self.assertNotIn(b"branch office", wire)
            self.assertNotIn(b"BRANCH OFFICE", wire)

        # A wrong password: the head office refuses, the client's connection just closes.
        with socket.create_connection(("127.0.0.1", bad), timeout=CLIENT_TIMEOUT) as s:
            self.assertEqual(s.recv(16), b"")

        # A client that does not speak the handshake: its "answer" ends short.
        with socket.create_connection(("127.0.0.1", head), timeout=CLIENT_TIMEOUT) as s:
            self.assertEqual(s.recv(1024)[1:5], b"\x01\x03\x00\x01")
            s.sendall(b"hello\n")
            s.shutdown(socket.SHUT_WR)
            self.assertEqual(s.recv(16), b"")

        # A disabled account opens no link, whatever its password.
        with self.assertRaises(linkclient.Refused) as refusal:
            linkclient.connect("127.0.0.1", head, 1, b"retired", b"old-pw")
        self.assertEqual(refusal.exception.code, 107)

        refused = "\tError:\tCaught socket exception in CTCPMappingSession::Initialize() %s - terminating"
        for log, text in ((os.path.join(b_logs, "HeadFixed.log"), "User branch failed password"),
                          (os.path.join(a_logs, "BadLink.log"), "Socket Error 108"),
                          (os.path.join(b_logs, "Head.log"), "Bad Protocol"),
                          (os.path.join(b_logs, "Head.log"), "No such user")):
            harness.wait_until(lambda: refused % text in read(log), message=lambda: read(log))
        self.assertIn("\tRequested:\tTCPMapping: Connected to 127.0.0.1:%d" % target,
                      read(os.path.join(b_logs, "Head.log")))


if __name__ == "__main__":
    harness.main()
