"""Peers for the end-to-end runs of the web proxy's tunnels and ftp:// requests: an engine with
one web proxy service, a TLS origin (openssl s_server), an echo server, pyftpdlib, and a fake
FTP server whose answers a test scripts. Run with /usr/bin/python3."""

import os
import socket
import subprocess
import sys
import threading
import time

import harness

ROOT = r"HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2"

WEB_REG = "[" + ROOT + r'''\Settings]
"LogFileDirectory"="{logs}"

[''' + ROOT + r'''\Services\WWW Proxy server]
"ServiceType"="CWWWService"
"Name"="WWW Proxy server"
"Description"="WWW Proxy server"
"PortNumber"=dword:{port:08x}
'''

# The service's access right lets through only requests whose method is GET: a CONNECT passes
# the check at the session's start (no request yet) and is refused once it is parsed.
GET_ONLY_REG = "[" + ROOT + r'''\Services\WWW Proxy server\AccessRights]
"RightType"=dword:00000000
"Description"="GET only"
"IncludeDefaultRights"=dword:00000000

[''' + ROOT + r'''\Services\WWW Proxy server\AccessRights\Recipient0]
"UserName"="Everyone"
"Description"="Restricted by request"
"SpecifyRequest"=dword:00000001

[''' + ROOT + r'''\Services\WWW Proxy server\AccessRights\Recipient0\RequestFilter]
"Name"=""

[''' + ROOT + r'''\Services\WWW Proxy server\AccessRights\Recipient0\RequestFilter\Filter0]
"Name"="get"

[''' + ROOT + r'''\Services\WWW Proxy server\AccessRights\Recipient0\RequestFilter\Filter0\Criterion0]
"Type"="CRequestCriterion"
"Comparison"=dword:00000000
"DataIndex"=dword:0000000d
"DataType"=dword:00000002
"strData"="GET"
'''


def start_web_proxy(test, extra_reg="", upstream=None):
    """A started engine with one web proxy service; returns (norvane, proxy port). With
    `upstream` (ConnectMethod, port), the service goes out through another proxy on this host."""
    norvane = test.new_norvane()
    port = harness.free_port()
    reg = WEB_REG.format(logs=os.path.join(norvane.root, "logs"), port=port)
    if upstream:
        reg += '"ConnectMethod"=dword:%08x\n"ProxyServer"="127.0.0.1"\n"ProxyPort"=dword:%08x\n' % upstream
    norvane.import_reg(reg + "\n" + extra_reg)
    norvane.install_and_start()
    norvane.wait_for_port(port)
    return norvane, port


def curl(norvane, *args):
    """curl through nothing by itself (the caller passes -x); returns the CompletedProcess with
    bytes output."""
    return subprocess.run(["curl", "-sS", "--max-time", "%d" % harness.WAIT_TIMEOUT] + list(args),
                          env=norvane.env, capture_output=True, timeout=harness.WAIT_TIMEOUT + 30)


def exchange(port, data, until=None, timeout=harness.WAIT_TIMEOUT):
    """Sends `data` to 127.0.0.1:port in one piece and returns what comes back until the
    connection closes (or, with `until`, until what came holds it)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        received = b""
        while until is None or until not in received:
            chunk = s.recv(65536)
            if not chunk:
                break
            received += chunk
        return received


# --- origins -----------------------------------------------------------------------------------

def start_tls_origin(norvane, folder):
    """openssl s_server serving the files of `folder` over TLS on a loopback port, with a fresh
    self-signed certificate; returns the port."""
    key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "1", "-subj", "/CN=localhost"], check=True, capture_output=True)
    port = harness.free_port()
    norvane.spawn(["openssl", "s_server", "-quiet", "-WWW", "-accept", str(port), "-cert", cert,
                   "-key", key], cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                  stderr=subprocess.DEVNULL)
    norvane.wait_for_port(port)
    return port


class LoopbackServer(threading.Thread):
    """Hands every connection to a loopback port to serve(conn) until its test ends."""

    def __init__(self, test):
        super().__init__(daemon=True)
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        test.addCleanup(self.listener.close)
        self.start()

    def run(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            self.serve(conn)


class EchoServer(LoopbackServer):
    """Echoes every connection's bytes back until it closes."""

    def serve(self, conn):
        threading.Thread(target=self.echo, args=(conn,), daemon=True).start()

    @staticmethod
    def echo(conn):
        with conn:
            while True:
                data = conn.recv(65536)
                if not data:
                    return
                conn.sendall(data)


class VersionOrigin(LoopbackServer):
    """An HTTP origin whose answer to a GET of a path is a page "version N" (N counting that
    path's requests from 1), with Last-Modified and the headers `headers[path]` adds."""

    def __init__(self, test, headers):
        self.headers = headers
        self.hits = {}
        super().__init__(test)

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def serve(self, conn):
        with conn, conn.makefile("rb") as reader:
            path = reader.readline().split(b" ")[1].decode()
            while reader.readline() not in (b"\r\n", b"\n", b""):
                pass
            self.hits[path] = self.hits.get(path, 0) + 1
            body = b"version %d" % self.hits[path]
            head = ["HTTP/1.0 200 OK", "Content-Type: text/html", "Content-Length: %d" % len(body),
                    "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT"] + self.headers.get(path, [])
            conn.sendall("\r\n".join(head).encode() + b"\r\n\r\n" + body)


PYFTPD = r'''
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
port, root, anonymous = int(sys.argv[1]), sys.argv[2], sys.argv[3] == "1"
authorizer = DummyAuthorizer()
authorizer.add_user("alice", "s e;cret", root, perm="elradfmw")
if anonymous:
    authorizer.add_anonymous(root, perm="elrw")
FTPHandler.authorizer = authorizer
FTPHandler.banner = "Welcome <b>to</b> the test server"
server = FTPServer(("127.0.0.1", port), FTPHandler)
server.serve_forever()
'''


def start_pyftpdlib(norvane, root, anonymous=True):
    """pyftpdlib serving `root` on a loopback port (anonymous may read and write; user "alice"
    with the password "s e;cret"); returns the port."""
    port = harness.free_port()
    norvane.spawn([sys.executable, "-c", PYFTPD, str(port), root, "1" if anonymous else "0"],
                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    norvane.wait_for_port(port)
    return port


class FakeFTP(threading.Thread):
    """An FTP server that answers each command with what `script` maps it to (a command's first
    word, upper case, to bytes or to a function of the command's line giving bytes); "220" is
    sent on connect (a list of pieces is sent a piece at a time, 0.3 s apart). The passive port
    is self.data_port; what the data connection should carry is self.listing, sent and closed
    as soon as the engine connects. Commands received are in self.commands."""

    def __init__(self, test, script, listing=b"", greeting=b"220 fake\r\n"):
        super().__init__(daemon=True)
        self.script = script
        self.listing = listing
        self.greeting = greeting
        self.commands = []
        self.data_accepted = threading.Event()
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.data_listener = socket.create_server(("127.0.0.1", 0))
        self.data_port = self.data_listener.getsockname()[1]
        test.addCleanup(self.close)
        threading.Thread(target=self.serve_data, daemon=True).start()
        self.start()

    def close(self):
        self.listener.close()
        self.data_listener.close()

    def pasv(self, address="127,0,0,1", port=None):
        port = self.data_port if port is None else port
        return ("227 Entering Passive Mode (%s,%d,%d)\r\n" % (address, port // 256, port % 256)).encode()

    def serve_data(self):
        try:
            conn, _ = self.data_listener.accept()
        except OSError:
            return
        self.data_accepted.set()
        with conn:
            conn.sendall(self.listing)

    def run(self):
        try:
            conn, _ = self.listener.accept()
        except OSError:
            return
        with conn:
            pieces = self.greeting if isinstance(self.greeting, list) else [self.greeting]
            for i, piece in enumerate(pieces):
                if i:
                    time.sleep(0.3)
                conn.sendall(piece)
            reader = conn.makefile("rb")
            for line in reader:
                line = line.rstrip(b"\r\n")
                self.commands.append(line)
                answer = self.script.get(line.split(b" ")[0].upper(), b"502 not here\r\n")
                if callable(answer):
                    answer = answer(line)
                if answer:
                    conn.sendall(answer)
                if line.upper() == b"QUIT":
                    time.sleep(0.2)
                    return
