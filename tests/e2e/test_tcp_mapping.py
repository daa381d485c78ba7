"""TCP mapping in the real NorvaneEngine: two engines, each with its own state folder. Engine A
(the branch office) maps curl and socat to loopback origins by client address, and maps a port
over an enciphered link, through an upstream CONNECT proxy that records the wire, to engine B
(the head office), which maps it on to an origin that answers only after the request's end."""

import os
import shutil
import socket
import subprocess
import tempfile
import threading

import harness
import linkclient

ROOT = harness.CONFIG_ROOT
CLIENT_TIMEOUT = int(harness.WAIT_TIMEOUT)
# Its byte 32 ("B") scrambles to NUL: the stored password must be kept whole.
LINK_PASSWORD = "the-branch-office-link-password-B"


def scrambled(password):
    """The stored form of a password, as REGEDIT4 binary string data."""
    data = bytes(b ^ ((2 * i + 2) & 0xFF) for i, b in enumerate(password.encode())) + b"\0"
    return "hex(1):" + ",".join("%02x" % b for b in data)


def mapping_service(name, port, default=None, mappings=(), **values):
    """A CTCPMappingService key: `default` is (host, port) or None (AllowDefault 0),
    `mappings` (client address, target port) pairs, `values` DWORDs or texts."""
    key = ROOT + r"\Services" + "\\" + name
    lines = ["", "[" + key + "]", '"ServiceType"="CTCPMappingService"', '"Name"="%s"' % name,
             '"PortNumber"=dword:%08x' % port, '"SpecifiedInterfaceAddress"=dword:00000001',
             '"InterfaceAddress"="127.0.0.1"', '"LogOptions"=dword:000003ff']
    for value, data in values.items():
        data = "dword:%08x" % data if isinstance(data, int) else data if data.startswith("hex(") else '"%s"' % data
        lines.append('"%s"=%s' % (value, data))
    lines += ["", "[" + key + r"\Mappings]", '"AllowDefault"=dword:%08x' % (default is not None)]
    if default:
        lines += ['"Host"="%s"' % default[0], '"Port"=dword:%08x' % default[1]]
    for n, (client, target) in enumerate(mappings):
        lines += ["", "[%s\\Mappings\\Mapping%d]" % (key, n), '"SpecifyLocation"=dword:00000001',
                  '"Host"="127.0.0.1"', '"Port"=dword:%08x' % target,
                  "", "[%s\\Mappings\\Mapping%d\\IncludedLocations]" % (key, n), '"%s"=dword:00000000' % client]
    return "\n".join(lines) + "\n"


def start_engine(test, label, reg, ports):
    n = test.new_norvane(label)
    logs = os.path.join(n.root, "logs")
    os.makedirs(logs)
    n.import_reg(harness.base_reg(logs, harness.free_port()) + reg)
    n.install_and_start()
    for port in ports:
        n.wait_for_port(port)
    return logs


def background(test, argv, **kwargs):
    process = subprocess.Popen(argv, **kwargs)
    test.addCleanup(lambda: (process.kill(), process.wait()))


def run(argv, data=b""):
    done = subprocess.run(argv, input=data, capture_output=True, timeout=CLIENT_TIMEOUT + 5)
    assert done.returncode == 0, done.stderr
    return done.stdout


class RecordingTunnel:
    """An upstream proxy that grants "CONNECT host:port" and relays the tunnel, half-closes
    included, keeping the bytes it passes on each way."""

    def __init__(self, test):
        self.socket = socket.create_server(("127.0.0.1", 0))
        test.addCleanup(self.socket.close)
        self.port = self.socket.getsockname()[1]
        self.requests, self.upstream, self.downstream = [], bytearray(), bytearray()
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.socket.accept()
            except OSError:
                return
            threading.Thread(target=self._tunnel, args=(conn,), daemon=True).start()

    def _tunnel(self, conn):
        head = b""
        while not head.endswith(b"\r\n\r\n") and (piece := conn.recv(1)):
            head += piece
        self.requests.append(head)
        host, _, port = head.split(b" ")[1].decode().rpartition(":")
        with conn, socket.create_connection((host, int(port))) as far:
            conn.sendall(b"HTTP/1.0 200 Connection established\r\n\r\n")
            back = threading.Thread(target=self._pump, args=(far, conn, self.downstream))
            back.start()
            self._pump(conn, far, self.upstream)
            back.join()

    @staticmethod
    def _pump(source, sink, record):
        try:
            while piece := source.recv(65536):
                record += piece
                sink.sendall(piece)
            sink.shutdown(socket.SHUT_WR)
        except OSError:
            pass


class TCPMapping(harness.EngineTestCase):
    def test_mappings_plain_and_over_an_enciphered_link_between_two_engines(self):
        www = tempfile.mkdtemp(prefix="norvane-e2e-origin-")
        self.addCleanup(shutil.rmtree, www, True)
        blob = os.urandom(300000)
        with open(os.path.join(www, "blob"), "wb") as f:
            f.write(blob)
        web, echo, upper = harness.free_ports(3)
        background(self, ["/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1", str(web)],
                   cwd=www, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        background(self, ["socat", "TCP4-LISTEN:%d,bind=127.0.0.1,reuseaddr,fork" % echo, "PIPE"])
        # tr writes its last block only once the request has ended.
        background(self, ["socat", "-t", "5", "TCP4-LISTEN:%d,bind=127.0.0.1,reuseaddr,fork" % upper,
                          "SYSTEM:tr a-z A-Z"])
        tunnel = RecordingTunnel(self)

        # Head office: "Head" admits the enabled users of its database, "HeadFixed" one account.
        head, fixed = harness.free_ports(2)
        users = "".join('''
[{root}\\UserDatabase\\{name}]
"Type"="User"
"Name"="{name}"
"AccountEnabled"=dword:{enabled:08x}
"Password"={password}
'''.format(root=ROOT, name=name, enabled=enabled, password=scrambled(password))
            for name, enabled, password in (("branch", 1, LINK_PASSWORD), ("retired", 0, "old-pw")))
        b_logs = start_engine(self, "head", users + mapping_service(
            "Head", head, ("127.0.0.1", upper), EncryptConnectionsIn=1) + mapping_service(
            "HeadFixed", fixed, ("127.0.0.1", upper), EncryptConnectionsIn=1,
            SpecifyUserForIncomingConnection=1, UsernameIn="branch", PasswordIn=scrambled("fixed-pw")),
            [head, fixed])

        # Branch office: "TCPMap" by client address (its ConnectMethod 1 cannot carry a raw
        # stream: it connects directly); "Link" reaches Head through the recording proxy;
        # "BadLink" offers HeadFixed the database password.
        plain, link, bad = harness.free_ports(3)
        out = dict(EncryptConnectionsOut=1, UsernameOut="branch", PasswordOut=scrambled(LINK_PASSWORD))
        a_logs = start_engine(self, "branch", mapping_service(
            "TCPMap", plain, mappings=[("127.0.0.2", echo), ("127.0.0.3", web)], ConnectMethod=1,
            ProxyServer="127.0.0.1", ProxyPort=web) + mapping_service(
            "Link", link, ("127.0.0.1", head), ConnectMethod=4, ProxyServer="127.0.0.1",
            ProxyPort=tunnel.port, **out) + mapping_service("BadLink", bad, ("127.0.0.1", fixed), **out),
            [plain, link, bad])

        self.assertEqual(run(["curl", "-sS", "--fail", "--max-time", str(CLIENT_TIMEOUT), "--interface",
                              "127.0.0.3", "http://127.0.0.1:%d/blob" % plain]), blob)
        # socat half-closes after its input; the echo's whole answer still comes back.
        data = os.urandom(500000)
        self.assertEqual(run(["socat", "-t", str(CLIENT_TIMEOUT), "-", "TCP4:127.0.0.1:%d,bind=127.0.0.2" % plain],
                             data), data)
        # No mapping takes 127.0.0.1 and there is no default.
        with socket.create_connection(("127.0.0.1", plain), timeout=CLIENT_TIMEOUT) as s:
            self.assertEqual(s.recv(16), b"")

        request = b"".join(b"line %06d of the branch office's request\n" % i for i in range(4000))
        self.assertEqual(run(["nc", "-N", "-w", str(CLIENT_TIMEOUT), "127.0.0.1", str(link)], request),
                         request.upper())
        # The handshake ran on the tunnel (also for the harness's probe of the port), never with
        # the proxy; after its frames the wire is enciphered both ways.
        self.assertEqual(set(tunnel.requests), {b"CONNECT 127.0.0.1:%d HTTP/1.0\r\n\r\n" % head})
        self.assertEqual(tunnel.downstream[1:5], b"\x01\x03\x00\x01")
        self.assertIn(b"branch\0", bytes(tunnel.upstream[:64]))
        self.assertGreater(len(tunnel.upstream), len(request))
        for wire in (bytes(tunnel.upstream), bytes(tunnel.downstream)):
            self.assertNotIn(b"branch office", wire)
            self.assertNotIn(b"BRANCH OFFICE", wire)

        # Refused: a wrong password (the client's connection just closes), a client that does
        # not speak the handshake (its "answer" ends short) and a disabled account.
        with socket.create_connection(("127.0.0.1", bad), timeout=CLIENT_TIMEOUT) as s:
            self.assertEqual(s.recv(16), b"")
        with socket.create_connection(("127.0.0.1", head), timeout=CLIENT_TIMEOUT) as s:
            self.assertEqual(s.recv(1024)[1:5], b"\x01\x03\x00\x01")
            s.sendall(b"hello\n")
            s.shutdown(socket.SHUT_WR)
            self.assertEqual(s.recv(16), b"")
        with self.assertRaises(linkclient.Refused) as refusal:
            linkclient.connect("127.0.0.1", head, 1, b"retired", b"old-pw")
        self.assertEqual(refusal.exception.code, 107)

        refused = "\tError:\tCaught socket exception in CTCPMappingSession::Initialize() %s - terminating"
        logs = {os.path.join(b_logs, "HeadFixed.log"): [refused % "User branch failed password"],
                os.path.join(b_logs, "Head.log"): [refused % "Bad Protocol", refused % "No such user"],
                os.path.join(a_logs, "BadLink.log"): [refused % "Socket Error 108"],
                os.path.join(a_logs, "TCPMap.log"): [
                    "\tError:\tConnectMethod 1 (upstream web proxy) cannot carry a TCP mapping - connecting directly",
                    "\tCreated:\tTCPMapping:\r\n",
                    "\tRequested:\tTCPMapping: Connected to 127.0.0.1:%d" % web,
                    "\tRequested:\tTCPMapping: Connected to 127.0.0.1:%d" % echo,
                    "\tTraffic\t %d\t%d\t%d\t%d\t" % ((len(data),) * 4),
                    "\tFailed authorisation:\tNo mapping or default not allowed - terminating"]}
        for path, texts in logs.items():
            harness.wait_for_log(path, *texts)

if __name__ == "__main__":
    harness.main()
