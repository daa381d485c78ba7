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
REG = "[" + ROOT + r'''\Settings]
"LogFileDirectory"="{logs}"
[''' + ROOT + r'''\Services\Remote Control Service]
"ServiceType"="CRemoteControlService"
"Name"="Remote Control Service"
"PortNumber"=dword:{remote:08x}
[''' + ROOT + r'''\Services\FTP Proxy server]
"ServiceType"="CFTPService"
"Name"="FTP Proxy server"
"PortNumber"=dword:{port:08x}
"LogOptions"=dword:000000ff
'''
LOGIN_FIRST = "530 Please login with USER user@host[:port]"


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


class Control:
    """A raw control connection of a scripted client, closed when its test ends."""

    def __init__(self, test, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=harness.WAIT_TIMEOUT)
        self.reader = self.sock.makefile("rb")
        test.addCleanup(self.sock.close)
        test.addCleanup(self.reader.close)
        self.greeting = self.line()

    def line(self):
        return self.reader.readline().decode("latin-1").rstrip("\r\n")

    def lines(self, count):
        return [self.line() for _ in range(count)]


class Gateway(harness.EngineTestCase):
    def start(self, upstream=None):
        """A started engine with one FTP gateway; returns (norvane, its port). With `upstream`
        (a gateway's port) it goes out through that gateway (ConnectMethod 1)."""
        norvane = self.new_norvane()
        port, remote = harness.free_ports(2)
        reg = REG.format(logs=os.path.join(norvane.root, "logs"), remote=remote, port=port)
        if upstream:
            reg += '"ConnectMethod"=dword:1\n"ProxyServer"="127.0.0.1"\n"ProxyPort"=dword:%x\n' % upstream
        norvane.import_reg(reg)
        norvane.install_and_start()
        norvane.wait_for_port(port)
        return norvane, port

    def pyftpd(self, norvane):
        """pyftpdlib on a folder holding blob.bin and sub/; returns (folder, blob, port)."""
        root = os.path.join(norvane.root, "ftp")
        os.makedirs(os.path.join(root, "sub"))
        blob = os.urandom(300000)
        with open(os.path.join(root, "blob.bin"), "wb") as f:
            f.write(blob)
        return root, blob, webpeers.start_pyftpdlib(norvane, root)

    def log_path(self, norvane):
        return os.path.join(norvane.root, "logs", "FTP Proxy server.log")

    def wait_for_log(self, norvane, text):
        """The service log (CR LF kept) once it holds `text`."""
        return harness.wait_for_log(self.log_path(norvane), text)


class RealClients(Gateway):
    def test_ftplib_passive_and_active(self):
        norvane, gateway = self.start()
        root, blob, server = self.pyftpd(norvane)
        ftp = ftplib.FTP()
        self.assertEqual(ftp.connect("127.0.0.1", gateway, timeout=harness.scaled(60)),
                         "220 Norvane Engine FTP Gateway ready")
        with self.assertRaisesRegex(ftplib.error_perm, "^" + re.escape(LOGIN_FIRST)):
            ftp.sendcmd("SYST")
        ftp.login("anonymous@127.0.0.1:%d" % server, "guest@")
        for passive in (True, False):
            ftp.set_pasv(passive)
            self.assertEqual(sorted(ftp.nlst()), ["blob.bin", "sub"])
            got = io.BytesIO()
            ftp.retrbinary("RETR blob.bin", got.write)
            self.assertEqual(got.getvalue(), blob)
            ftp.storbinary("STOR sub/up%d.bin" % passive, io.BytesIO(blob[:123456]))
            self.assertEqual(read_file(os.path.join(root, "sub/up%d.bin" % passive)), blob[:123456])
        # What the gateway does not carry it answers itself, and the server's FEAT reply
        # does not name it; the rest of that reply reaches the client.
        features = ftp.sendcmd("FEAT").split("\n")
        self.assertEqual((features[0], features[-1]), ("211-Features supported:", "211 End FEAT."))
        self.assertIn(" MDTM", features)
        for command in ("EPSV", "EPRT |1|127.0.0.1|1025|", "AUTH TLS", "PBSZ 0"):
            with self.assertRaisesRegex(ftplib.error_perm, "^502 Command not implemented$"):
                ftp.sendcmd(command)
            self.assertFalse([f for f in features if f.startswith(" " + command[:4])], features)
        # A PORT may name only the client's own address.
        with self.assertRaisesRegex(ftplib.error_perm, "^500 Bad Port command$"):
            ftp.sendcmd("PORT 10,0,0,5,4,1")
        ftp.quit()
        log = harness.wait_for_session_end(self.log_path(norvane),
                                           "FTP: anonymous at 127.0.0.1:%d" % server)
        self.assertIn("Bad Port command - user sent PORT 10,0,0,5,4,1", log)
        # The transfers are the session's traffic, on both sides (the first session is the
        # harness's probe of the port).
        counters = re.findall(r"Traffic\t (\d+)\t(\d+)\t(\d+)\t(\d+)\t", log)[-1]
        for counter, least in zip(map(int, counters), (600000, 246912, 246912, 600000)):
            self.assertGreater(counter, least, counters)

    def test_lftp_and_debian_ftp_at_their_defaults(self):
        norvane, gateway = self.start()
        root, blob, server = self.pyftpd(norvane)
        # lftp sends FEAT and AUTH TLS before logging on and lists with MLSD, all passive;
        # tnftp tries EPSV, falls back to PASV, and goes active after "passive off".
        runs = [(["lftp", "-c", "open -u anonymous@127.0.0.1:%d,guest@ -p %d 127.0.0.1; cls -1; "
                  "get blob.bin -o got.bin; put up.bin -o sub/lftp.bin; cls -1 sub" % (server, gateway)],
                 None, "lftp.bin", b"blob.bin\nsub/\nsub/lftp.bin\n"),
                (["ftp", "-n", "127.0.0.1", str(gateway)],
                 b"user anonymous@127.0.0.1:%d guest@\nbinary\nget blob.bin got.bin\npassive off\n"
                 b"put up.bin sub/ftp.bin\nls sub\nbye\n" % server, "ftp.bin", b" ftp.bin")]
        for argv, commands, stored, shown in runs:
            work = os.path.join(norvane.root, "client-" + argv[0])
            os.makedirs(work)
            with open(os.path.join(work, "up.bin"), "wb") as f:
                f.write(blob[:200000])
            done = subprocess.run(argv, input=commands, cwd=work, capture_output=True, timeout=harness.scaled(90),
                                  env=dict(norvane.env, HOME=work))
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn(shown, done.stdout)
            self.assertEqual(read_file(os.path.join(work, "got.bin")), blob)
            self.assertEqual(read_file(os.path.join(root, "sub", stored)), blob[:200000])
        # Told to prefer EPSV and to trust FEAT (by default it takes MLST for a sign of EPSV),
        # lftp never hears of EPSV and goes passive with PASV at once.
        done = subprocess.run(["lftp", "-c", "debug 9; set ftp:trust-feat yes; set ftp:prefer-epsv yes; "
                               "open -u anonymous@127.0.0.1:%d,guest@ -p %d 127.0.0.1; cls -1" % (server, gateway)],
                              capture_output=True, timeout=90, env=dict(norvane.env, HOME=work))
        self.assertEqual((done.returncode, done.stdout), (0, b"blob.bin\nsub/\n"), done.stderr)
        self.assertIn(b"---> PASV", done.stderr)
        self.assertNotIn(b"EPSV", done.stderr)

    def test_two_gateways_in_a_row(self):
        # The outer one tells the inner one the server in its USER line; the passive data
        # connection goes straight to the inner one's data port.
        inner_engine, inner = self.start()
        root, blob, server = self.pyftpd(inner_engine)
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", self.start(upstream=inner)[1], timeout=harness.scaled(60))
        ftp.login("anonymous@127.0.0.1:%d" % server, "guest@")
        got = io.BytesIO()
        ftp.retrbinary("RETR blob.bin", got.write)
        self.assertEqual(got.getvalue(), blob)
        ftp.set_pasv(False)
        self.assertEqual(sorted(ftp.nlst()), ["blob.bin", "sub"])
        ftp.quit()
        self.wait_for_log(inner_engine, "Requested:\tFTP: anonymous at 127.0.0.1:%d" % server)


class ScriptedPeers(Gateway):
    def test_pipelined_commands_and_a_greeting_in_pieces(self):
        norvane, gateway = self.start()
        fake = webpeers.FakeFTP(self, {b"USER": b"331 pw\r\n", b"PASS": b"230 in\r\n",
                                       b"SYST": b"215 UNIX\r\n", b"PWD": b'257 "/"\r\n'},
                                greeting=[b"220-Welcome\r\n220-", b"more\r\n", b"220 ready\r\n"])
        c = Control(self, gateway)
        # Before a server is named: lftp's first commands, a USER without a server, a line
        # over the cap, a line with a command behind a CR.
        c.sock.sendall(b"FEAT\r\nAUTH TLS\r\nUSER nobody\r\nNOOP " + b"x" * 5000 +
                       b"\r\nNOOP\rEPRT |1|10.0.0.5|1025|\r\n")
        self.assertEqual(c.lines(5), [LOGIN_FIRST, LOGIN_FIRST,
                                      "500 Bad username format - format is user@host:port",
                                      "500 Command line too long", "500 Command line not understood"])
        # All at once, before the greeting is complete: the server gets USER once, after its
        # last greeting line, then the rest in order.
        c.sock.sendall(b"user anonymous@127.0.0.1:%d\r\nPASS x\r\nSYST\r\nPW" % fake.port)
        time.sleep(0.2)
        c.sock.sendall(b"D\r\n")
        self.assertEqual(c.lines(4), ["331 pw", "230 in", "215 UNIX", '257 "/"'])
        self.assertEqual(fake.commands, [b"USER anonymous", b"PASS x", b"SYST", b"PWD"])
        # A second USER leaves the first server for the one it names.
        other = webpeers.FakeFTP(self, {b"USER": b"230 in\r\n", b"QUIT": b"221 bye\r\n"})
        c.sock.sendall(b"USER ftp@127.0.0.1:%d\r\nQUIT\r\n" % other.port)
        self.assertEqual(c.lines(2), ["230 in", "221 bye"])
        harness.wait_until(lambda: not fake.is_alive(), message="first server still connected")
        self.assertEqual((len(fake.commands), other.commands), (4, [b"USER ftp", b"QUIT"]))
        self.wait_for_log(norvane, "Bad Username format - user sent USER nobody")
        # A server that cannot be reached: the client is told why, then the session ends.
        c = Control(self, gateway)
        c.sock.sendall(b"USER ftp@127.0.0.1:%d\r\nPASS x\r\n" % harness.free_port())
        self.assertRegex(c.line(), r"^421 \S")
        self.assertEqual(c.line(), "")

    def test_hostile_server(self):
        norvane, gateway = self.start()
        seen = {}

        def port(line):
            # At the gateway's listener a connection from another address is refused; the
            # server's own is joined to the client's data port.
            numbers = [int(n) for n in line.split(b" ")[1].split(b",")]
            target = ("%d.%d.%d.%d" % tuple(numbers[:4]), numbers[4] * 256 + numbers[5])
            with socket.create_connection(target, timeout=harness.WAIT_TIMEOUT, source_address=("127.0.0.2", 0)) as s:
                seen["intruder"] = s.recv(1)
            seen["data"] = socket.create_connection(target, timeout=harness.WAIT_TIMEOUT)
            self.addCleanup(seen["data"].close)
            return b"200 ok\r\n"

        listing = b"-rw-r--r-- 1 u g 5 Jan 01 00:00 file.txt\r\n"
        fake = webpeers.FakeFTP(self, {b"USER": b"230-" + b"L" * 10000 + b"\r\n230 in\r\n",
                                       b"LIST": b"150 here\r\n226 done\r\n", b"PORT": port,
                                       b"NOOP": b"200 " + b"N" * 10000 + b"\r\n", b"RETR": b"150 go\r\n"},
                                listing=listing, greeting=b"220-" + b"G" * 100000 + b"\r\n220 hi\r\n")
        # Passive replies that name another host, that come without parentheses, that cannot
        # be read.
        replies = [fake.pasv("10,9,8,7"),
                   b"227 Entering Passive Mode 127,0,0,1,%d,%d\r\n" % divmod(fake.data_port, 256),
                   b"227 Entering Passive Mode (127,0,0,1,1)\r\n"]
        fake.script[b"PASV"] = lambda line: replies.pop(0)
        c = Control(self, gateway)
        c.sock.sendall(b"USER anonymous@127.0.0.1:%d\r\nPASV\r\nLIST\r\n" % fake.port)
        # Over-long lines are cut to the cap.
        self.assertEqual(c.lines(2), ["230-" + "L" * 4092, "230 in"])
        port = re.fullmatch(r"227 Entering passive mode \(127,0,0,1,(\d+),(\d+)\)", c.line())
        with socket.create_connection(("127.0.0.1", int(port[1]) * 256 + int(port[2])), 20) as data:
            with data.makefile("rb") as reader:
                self.assertEqual(reader.read(), listing)
        self.assertEqual(c.lines(2), ["150 here", "226 done"])
        c.sock.sendall(b"PASV\r\nPASV\r\nNOOP\r\n")
        self.assertRegex(c.line(), r"^227 Entering passive mode \(127,0,0,1,\d+,\d+\)$")
        self.assertEqual(c.lines(2), ["425 Cannot parse passive reply", "200 " + "N" * 4092])

        # Active: a PORT to another host is refused; the server's data connection comes in.
        client_data = socket.create_server(("127.0.0.1", 0))
        self.addCleanup(client_data.close)
        p = divmod(client_data.getsockname()[1], 256)
        c.sock.sendall(b"PORT 127,0,0,2,%d,%d\r\nPORT 127,0,0,1,%d,%d\r\nRETR f\r\n" % (p + p))
        self.assertEqual(c.lines(3), ["500 Bad Port command", "200 ok", "150 go"])
        self.assertEqual(seen["intruder"], b"")
        conn, _ = client_data.accept()
        seen["data"].sendall(b"payload")
        seen["data"].close()
        with conn, conn.makefile("rb") as data:
            self.assertEqual(data.read(), b"payload")
        self.assertEqual(fake.commands.count(b"USER anonymous"), 1)
        self.wait_for_log(norvane, "Data connection from 127.0.0.2 refused - expected 127.0.0.1")
        self.wait_for_log(norvane, "Bad passive reply - server sent 227 Entering Passive Mode (127,0,0,1,1)")


if __name__ == "__main__":
    harness.main()
