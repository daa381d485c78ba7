"""The FTP gateway of the real NorvaneEngine: Python's ftplib, lftp and Debian's ftp (tnftp) at
their default settings against pyftpdlib on loopback, two gateways in a row, and scripted
clients and servers that pipeline, greet in pieces and answer as no well-behaved server
would."""

import ftplib
import io
import os
import re
import socket
import subprocess
import time

import harness
import webpeers

ROOT = r"HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2"

GATEWAY_REG = "[" + ROOT + r'''\Settings]
"LogFileDirectory"="{logs}"

[''' + ROOT + r'''\Services\Remote Control Service]
"ServiceType"="CRemoteControlService"
"Name"="Remote Control Service"
"Description"="Remote Control Service"
"PortNumber"=dword:{remote:08x}

[''' + ROOT + r'''\Services\FTP Proxy server]
"ServiceType"="CFTPService"
"Name"="FTP Proxy server"
"Description"="FTP Proxy server"
"PortNumber"=dword:{port:08x}
"LogOptions"=dword:000000ff
'''

GREETING = "220 Norvane Engine FTP Gateway ready"
CLIENT_TIMEOUT = 60


def start_gateway(test, upstream=None):
    """A started engine with one FTP gateway; returns (norvane, gateway port). With `upstream`
    (a gateway port), it goes out through that gateway as its upstream FTP proxy."""
    norvane = test.new_norvane()
    port, remote = harness.free_ports(2)
    reg = GATEWAY_REG.format(logs=os.path.join(norvane.root, "logs"), remote=remote, port=port)
    if upstream:
        reg += '"ConnectMethod"=dword:1\n"ProxyServer"="127.0.0.1"\n"ProxyPort"=dword:%08x\n' % upstream
    norvane.import_reg(reg)
    norvane.install_and_start()
    norvane.wait_for_port(port)
    return norvane, port


def service_log(norvane):
    path = os.path.join(norvane.root, "logs", "FTP Proxy server.log")
    try:
        with open(path, encoding="latin-1") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def traffic(norvane):
    """The four counters of every Traffic line of the service log (the first session is the
    harness probing the port)."""
    return [tuple(map(int, m)) for m in
            re.findall(r"Traffic\t (\d+)\t(\d+)\t(\d+)\t(\d+)\t", service_log(norvane))]


def server_tree(norvane):
    root = os.path.join(norvane.root, "ftp")
    os.makedirs(os.path.join(root, "sub"))
    blob = os.urandom(300000)
    with open(os.path.join(root, "blob.bin"), "wb") as f:
        f.write(blob)
    return root, blob


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


class Control:
    """A raw control connection: send lines, read replies line by line."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=20)
        self.reader = self.sock.makefile("rb")

    def send(self, data):
        self.sock.sendall(data)

    def line(self):
        return self.reader.readline().decode("latin-1").rstrip("\r\n")

    def lines(self, count):
        return [self.line() for _ in range(count)]

    def close(self):
        self.reader.close()
        self.sock.close()


class RealClients(harness.EngineTestCase):
    def test_ftplib_passive_and_active(self):
        norvane, gateway = start_gateway(self)
        root, blob = server_tree(norvane)
        server = webpeers.start_pyftpdlib(norvane, root)
        ftp = ftplib.FTP()
        self.assertEqual(ftp.connect("127.0.0.1", gateway, timeout=CLIENT_TIMEOUT), GREETING)
        with self.assertRaisesRegex(ftplib.error_perm, r"^530 Please login with USER user@host\[:port\]$"):
            ftp.sendcmd("SYST")
        ftp.login("anonymous@127.0.0.1:%d" % server, "guest@")
        self.assertIn("UNIX", ftp.sendcmd("SYST"))
        for passive in (True, False):
            ftp.set_pasv(passive)
            self.assertEqual(sorted(ftp.nlst()), ["blob.bin", "sub"])
            got = io.BytesIO()
            ftp.retrbinary("RETR blob.bin", got.write)
            self.assertEqual(got.getvalue(), blob)
            name = "sub/up-%s.bin" % ("pasv" if passive else "port")
            ftp.storbinary("STOR " + name, io.BytesIO(blob[:123456]))
            self.assertEqual(read_file(os.path.join(root, name)), blob[:123456])
        # Extended data commands are not relayed (ftplib would use them for IPv6 only); a PORT
        # may name only the client's own address.
        with self.assertRaisesRegex(ftplib.error_perm, "^502 Command not implemented$"):
            ftp.sendcmd("EPSV")
        with self.assertRaisesRegex(ftplib.error_perm, "^500 Bad Port command$"):
            ftp.sendcmd("PORT 10,0,0,5,4,1")
        self.assertTrue(ftp.quit().startswith("221"))

        harness.wait_until(lambda: "Terminated exit code 0" in service_log(norvane),
                           message=lambda: service_log(norvane))
        log = service_log(norvane)
        self.assertIn("Requested:\tFTP: anonymous at 127.0.0.1:%d" % server, log)
        self.assertIn("Bad Port command - user sent PORT 10,0,0,5,4,1", log)
        # The transfers count as the session's traffic: two downloads sent to the client, two
        # uploads received from it, and both again on the server's side.
        sent, received, remote_sent, remote_received = traffic(norvane)[-1]
        self.assertGreater(sent, 2 * len(blob))
        self.assertGreater(received, 2 * 123456)
        self.assertGreater(remote_sent, 2 * 123456)
        self.assertGreater(remote_received, 2 * len(blob))

    def run_client(self, command, upload):
        """Runs a command-line client through a gateway to pyftpdlib, in a folder that holds
        up.bin (the first `upload` bytes of blob.bin); command(gateway, server) gives its argv
        and its input. The client must fetch blob.bin as got.bin and store up.bin as
        sub/up.bin, both whole. Returns its output."""
        norvane, gateway = start_gateway(self)
        root, blob = server_tree(norvane)
        server = webpeers.start_pyftpdlib(norvane, root)
        work = os.path.join(norvane.root, "client")
        os.makedirs(work)
        with open(os.path.join(work, "up.bin"), "wb") as f:
            f.write(blob[:upload])
        argv, commands = command(gateway, server)
        done = subprocess.run(argv, input=commands, cwd=work, capture_output=True,
                              timeout=CLIENT_TIMEOUT, env=dict(norvane.env, HOME=work))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(read_file(os.path.join(work, "got.bin")), blob)
        self.assertEqual(read_file(os.path.join(root, "sub", "up.bin")), blob[:upload])
        return done.stdout

    def test_lftp_at_its_defaults(self):
        # lftp asks FEAT and AUTH TLS before logging on, then lists with MLSD, all passive.
        out = self.run_client(lambda gateway, server: (["lftp", "-c", (
            "open -u anonymous@127.0.0.1:%d,guest@ -p %d 127.0.0.1; cls -1; get blob.bin -o "
            "got.bin; put up.bin -o sub/up.bin; cls -1 sub" % (server, gateway))], None), 200000)
        self.assertEqual(out.split(), [b"blob.bin", b"sub/", b"sub/up.bin"])

    def test_debian_ftp(self):
        # Passive first (EPSV, refused, then PASV), then active (PORT).
        out = self.run_client(lambda gateway, server: (["ftp", "-n", "127.0.0.1", str(gateway)], (
            "user anonymous@127.0.0.1:%d guest@\nbinary\nget blob.bin got.bin\npassive off\n"
            "put up.bin sub/up.bin\nls sub\nbye\n" % server).encode()), 50000)
        self.assertIn(b"up.bin", out)

    def test_two_gateways_in_a_row(self):
        # The first goes out through the second as its upstream FTP proxy (ConnectMethod 1):
        # the second is told the server in the USER line, and the passive data connection goes
        # straight to the second's data port.
        root_engine, inner = start_gateway(self)
        root, blob = server_tree(root_engine)
        server = webpeers.start_pyftpdlib(root_engine, root)
        norvane, outer = start_gateway(self, upstream=inner)
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", outer, timeout=CLIENT_TIMEOUT)
        ftp.login("anonymous@127.0.0.1:%d" % server, "guest@")
        got = io.BytesIO()
        ftp.retrbinary("RETR blob.bin", got.write)
        self.assertEqual(got.getvalue(), blob)
        ftp.set_pasv(False)
        self.assertEqual(sorted(ftp.nlst()), ["blob.bin", "sub"])
        ftp.quit()
        harness.wait_until(lambda: "Requested:\tFTP: anonymous at 127.0.0.1:%d" % server
                           in service_log(root_engine), message=lambda: service_log(root_engine))


class ScriptedPeers(harness.EngineTestCase):
    def test_pipelined_commands_and_a_greeting_in_pieces(self):
        norvane, gateway = start_gateway(self)
        fake = webpeers.FakeFTP(self, {b"USER": b"331 pw\r\n", b"PASS": b"230 in\r\n",
                                       b"SYST": b"215 UNIX\r\n", b"PWD": b'257 "/"\r\n',
                                       b"QUIT": b"221 bye\r\n"},
                                greeting=[b"220-Welcome\r\n220-", b"more\r\n", b"220 ready\r\n"])
        c = Control(gateway)
        self.assertEqual(c.line(), GREETING)
        # Before a server is named: lftp's first commands, a USER without a server, a line
        # over the cap.
        c.send(b"FEAT\r\nAUTH TLS\r\nUSER nobody\r\n" + b"NOOP " + b"x" * 5000 + b"\r\n")
        self.assertEqual(c.lines(4), [
            "530 Please login with USER user@host[:port]",
            "530 Please login with USER user@host[:port]",
            "500 Bad username format - format is user@host:port",
            "500 Command line too long"])
        # Everything in one write, before the server's greeting is complete; the server gets
        # USER once, after its last greeting line, and then the rest in order.
        c.send(b"user anonymous@127.0.0.1:%d\r\nPASS x\r\nSYST\r\nPW" % fake.port)
        time.sleep(0.2)
        c.send(b"D\r\nQUIT\r\n")
        self.assertEqual(c.lines(5), ["331 pw", "230 in", "215 UNIX", '257 "/"', "221 bye"])
        self.assertEqual(fake.commands, [b"USER anonymous", b"PASS x", b"SYST", b"PWD", b"QUIT"])
        c.close()
        log = service_log(norvane)
        self.assertIn("Bad Username format - user sent USER nobody", log)

    def test_hostile_server(self):
        norvane, gateway = start_gateway(self)
        listing = b"-rw-r--r-- 1 u g 5 Jan 01 00:00 file.txt\r\n"
        fake = webpeers.FakeFTP(self, {
            b"USER": b"230-" + b"L" * 10000 + b"\r\n230 in\r\n",
            b"LIST": b"150 here\r\n226 done\r\n",
            b"NOOP": b"200 " + b"N" * 10000 + b"\r\n",
            b"QUIT": b"221 bye\r\n",
        }, listing=listing, greeting=b"220-" + b"G" * 100000 + b"\r\n220 hi\r\n")
        # The passive replies name another host, then come without parentheses, then cannot be
        # read at all.
        replies = [fake.pasv("10,9,8,7"),
                   b"227 Entering Passive Mode 127,0,0,1,%d,%d\r\n" % divmod(fake.data_port, 256),
                   b"227 Entering Passive Mode (127,0,0,1,1)\r\n"]
        fake.script[b"PASV"] = lambda line: replies.pop(0)
        c = Control(gateway)
        c.line()
        c.send(b"USER anonymous@127.0.0.1:%d\r\n" % fake.port)
        # Over-long lines are cut to the cap and still end their line.
        first = c.line()
        self.assertEqual(len(first), 4096)
        self.assertTrue(first.startswith("230-LLL"))
        self.assertEqual(c.line(), "230 in")

        c.send(b"PASV\r\n")
        reply = c.line()
        match = re.fullmatch(r"227 Entering passive mode \(127,0,0,1,(\d+),(\d+)\)", reply)
        self.assertTrue(match, reply)
        c.send(b"LIST\r\n")
        with socket.create_connection(("127.0.0.1", int(match[1]) * 256 + int(match[2])),
                                      timeout=20) as data:
            received = b""
            while chunk := data.recv(65536):
                received += chunk
        self.assertEqual(received, listing)
        self.assertEqual(c.lines(2), ["150 here", "226 done"])
        c.send(b"PASV\r\n")
        self.assertRegex(c.line(), r"^227 Entering passive mode \(127,0,0,1,\d+,\d+\)$")
        c.send(b"PASV\r\nNOOP\r\n")
        self.assertEqual(c.line(), "425 Cannot parse passive reply")
        self.assertEqual(c.line(), "200 " + "N" * 4092)
        c.send(b"QUIT\r\n")
        self.assertEqual(c.line(), "221 bye")
        c.close()
        self.assertNotIn(b"USER anonymous", fake.commands[1:])
        harness.wait_until(lambda: "Terminated exit code 0" in service_log(norvane),
                           message=lambda: service_log(norvane))
        self.assertIn("Bad passive reply - server sent 227 Entering Passive Mode (127,0,0,1,1)",
                      service_log(norvane))

    def test_active_data_only_from_the_server(self):
        norvane, gateway = start_gateway(self)
        seen = {}

        def port(line):
            # The gateway's listener: a connection from another address is refused, the
            # server's own is joined to the client's data port.
            numbers = [int(n) for n in line.split(b" ")[1].split(b",")]
            target = ("%d.%d.%d.%d" % tuple(numbers[:4]), numbers[4] * 256 + numbers[5])
            intruder = socket.create_connection(target, timeout=5, source_address=("127.0.0.2", 0))
            intruder.settimeout(5)
            seen["intruder"] = intruder.recv(1)
            intruder.close()
            seen["data"] = socket.create_connection(target, timeout=5)
            return b"200 ok\r\n"

        fake = webpeers.FakeFTP(self, {b"USER": b"230 in\r\n", b"PORT": port,
                                       b"RETR": b"150 go\r\n", b"QUIT": b"221 bye\r\n"})
        client_data = socket.create_server(("127.0.0.1", 0))
        c = Control(gateway)
        c.line()
        c.send(b"USER anonymous@127.0.0.1:%d\r\n" % fake.port)
        self.assertEqual(c.line(), "230 in")
        p = client_data.getsockname()[1]
        c.send(b"PORT 127,0,0,2,%d,%d\r\n" % divmod(p, 256))
        self.assertEqual(c.line(), "500 Bad Port command")
        c.send(b"PORT 127,0,0,1,%d,%d\r\nRETR f\r\n" % divmod(p, 256))
        self.assertEqual(c.lines(2), ["200 ok", "150 go"])
        self.assertEqual(seen["intruder"], b"")
        conn, _ = client_data.accept()
        seen["data"].sendall(b"payload")
        seen["data"].close()
        conn.settimeout(20)
        self.assertEqual(conn.recv(100), b"payload")
        self.assertEqual(conn.recv(100), b"")
        conn.close()
        client_data.close()
        c.close()
        harness.wait_until(lambda: "Terminated exit code 1" in service_log(norvane),
                           message=lambda: service_log(norvane))
        self.assertIn("Data connection from 127.0.0.2 refused - expected 127.0.0.1",
                      service_log(norvane))


if __name__ == "__main__":
    harness.main()
