"""The DNS service in the real NorvaneEngine: dig at its default settings, without EDNS and with
a cookie, and hand-made datagrams that a parser must survive; and a flood of queries for names
that the name server never answers."""

import os
import random
import re
import select
import shutil
import socket
import struct
import subprocess
import threading
import time

import harness

REG = "[" + harness.CONFIG_ROOT + r'''\Services\DNS]
"ServiceType"="CDNSService"
"Name"="DNS"
"Description"="DNS"
"PortNumber"=dword:{port:08x}
"SpecifiedInterfaceAddress"=dword:00000001
"InterfaceAddress"="127.0.0.1"
"LogOptions"=dword:000003ff
"AllowAutodial"=dword:00000000
'''

MISSING = "no-such-host.invalid"


def hosts_name():
    """A name of /etc/hosts with an IPv4 address: (name, address)."""
    with open("/etc/hosts") as f:
        for line in f:
            fields = line.split("#")[0].split()
            if len(fields) >= 2 and fields[0].count(".") == 3:
                return fields[1], fields[0]
    return "localhost", "127.0.0.1"


def query(qname, qtype=1, ident=0x4242, flags=0x0100):
    """A query in wire form."""
    body = b"".join(bytes([len(label)]) + label.encode() for label in qname.split(".")) + b"\0"
    return struct.pack("!HHHHHH", ident, flags, 1, 0, 0, 0) + body + struct.pack("!HH", qtype, 1)


def install_dns_engine(test):
    """An engine installation of `test` with the DNS service on a free port and its logs in a
    folder of its own, installed and not started: (installation, log folder, DNS port, remote
    control port)."""
    norvane = test.new_norvane()
    logs = os.path.join(norvane.root, "logs")
    os.makedirs(logs)
    port, remote = harness.free_ports(2)
    norvane.import_reg(harness.base_reg(logs, remote) + REG.format(port=port))
    norvane.install()
    return norvane, logs, port, remote


class DNSService(harness.EngineTestCase):
    def setUp(self):
        super().setUp()
        self.norvane, self.logs, self.port, remote = install_dns_engine(self)
        self.norvane.start()
        self.norvane.wait_for_port(remote)
        harness.wait_until(lambda: "status: NOERROR" in self.dig("localhost", "+tries=1", "+time=1"),
                           message="the DNS service never answered")

    def dig(self, *args):
        # dig's own limit is per try (three by default): the answer may wait for a lookup.
        wait = int(harness.WAIT_TIMEOUT)
        done = subprocess.run(["dig", "@127.0.0.1", "-p", str(self.port), "+time=%d" % wait] + list(args),
                              capture_output=True, text=True, timeout=3 * wait + 10)
        return done.stdout

    def exchange(self, datagram, timeout=harness.WAIT_TIMEOUT):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.settimeout(timeout)
            s.sendto(datagram, ("127.0.0.1", self.port))
            try:
                return s.recv(4096)
            except socket.timeout:
                return None

    def test_dig_and_hostile_datagrams(self):
        name, address = hosts_name()
        # Default dig (EDNS with a cookie option), without EDNS, and with an explicit cookie:
        # each parses the answer, which has the official name, TTL 0 and the first address.
        for options in ([], ["+noedns"], ["+cookie"]):
            out = self.dig(name, *options)
            self.assertIn("status: NOERROR", out, options)
            self.assertIn("flags: qr aa rd ra; QUERY: 1, ANSWER: 1, AUTHORITY: 0, ADDITIONAL: 0",
                          out, options)
            self.assertRegex(out, r"\n%s\.\s+0\s+IN\s+A\s+%s\n" % (name.replace(".", r"\."),
                                                                   address.replace(".", r"\.")))
            self.assertNotIn("WARNING", out)

        # A missing name is a name error when this host's resolver says so, else a failure.
        try:
            socket.getaddrinfo(MISSING, None, socket.AF_INET)
            expected = None
        except socket.gaierror as e:
            expected = "NXDOMAIN" if e.errno in (socket.EAI_NONAME, getattr(socket, "EAI_NODATA", -5)) \
                else "SERVFAIL"
        if expected:
            self.assertIn("status: %s" % expected, self.dig(MISSING, "+cookie"))
        # Only A is answered: AAAA is a format error; so is MX, which is logged.
        self.assertIn("status: FORMERR", self.dig("AAAA", name, "+noedns"))
        self.assertIn("status: FORMERR", self.dig("MX", name, "+noedns"))
        # A dotted number is refused as a name error without a lookup.
        self.assertIn("status: NXDOMAIN", self.dig("10.0.0.1"))

        # Malformed datagrams: each gets a format error of the header alone.
        header_only = [
            ("pointer loop", struct.pack("!HHHHHH", 7, 0x0100, 1, 0, 0, 0) + b"\x01x\xc0\x0c\0\x01\0\x01"),
            ("forward pointer", struct.pack("!HHHHHH", 7, 0x0100, 1, 0, 0, 0) + b"\xc0\x0e\x01a\0\0\x01\0\x01"),
            ("truncated question", query("example.com")[:-3]),
        ]
        for what, datagram in header_only:
            reply = self.exchange(datagram)
            self.assertIsNotNone(reply, what)
            self.assertEqual(len(reply), 12, what)
            self.assertEqual(reply[2:4], b"\x85\x81", what)
            self.assertEqual(reply[4:12], bytes(8), what)
        # Names are logged with their control characters escaped: no forged log line.
        reply = self.exchange(query("x\r\nforged", qtype=15))
        self.assertEqual(reply[3] & 0x0F, 1)
        # A response, and datagrams shorter than a header, are dropped: the first reply on
        # the socket is the one to the query sent after them.
        dropped = [query(name, flags=0x8100), b"\0", query(name)[:11]]
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.settimeout(harness.WAIT_TIMEOUT)
            for datagram in dropped + [query(name, ident=9)]:
                s.sendto(datagram, ("127.0.0.1", self.port))
            self.assertEqual(s.recv(4096)[:4], b"\x00\x09\x85\x80")

        log = harness.wait_for_log(os.path.join(self.logs, "DNS.log"),
                                   "\tRequested:\tDNS: Address lookup for %s\r\n" % name,
                                   "\tError:\tReceived unsupported DNS Query - TYPE_MX for %s\r\n" % name,
                                   "TYPE_MX for x\\x0D\\x0Aforged\r\n")
        self.assertNotIn("Address lookup for 10.0.0.1", log)
        self.assertEqual(self.norvane.stop().returncode, 0)


def rcode(reply):
    return reply[3] & 0x0F


def ask(port, qname, source, limit, resend=0.2):
    """Asks for `qname` from `source` as a client's resolver does, sending the query again every
    `resend` seconds: (reply, seconds until it came), or (None, None) after `limit` seconds."""
    ident = random.randint(0, 0xFFFF)
    datagram = query(qname, ident=ident)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((source, 0))
        began = time.monotonic()
        while time.monotonic() - began < limit:
            s.sendto(datagram, ("127.0.0.1", port))
            s.settimeout(resend)
            try:
                while True:
                    reply = s.recv(4096)
                    if reply[:2] == struct.pack("!H", ident):
                        return reply, time.monotonic() - began
            except socket.timeout:
                pass
    return None, None


def engine_threads(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"^Threads:\s+(\d+)", f.read(), re.M).group(1))


class DNSFlood(harness.EngineTestCase):
    """The engine runs in a mount namespace of its own whose /etc/resolv.conf names a name
    server that takes every query and answers none (a socket nobody reads), so every lookup of
    a name that is not in /etc/hosts is held up on the network. Needs root (CI runs as root)."""

    DEADLINE = 5       # the resolver's deadline, seconds
    CLIENT_THREADS = 8  # one client's share of the lookup threads

    def setUp(self):
        super().setUp()
        if os.geteuid() != 0 or not shutil.which("unshare"):
            self.skipTest("a private /etc/resolv.conf needs root and unshare")
        probe = subprocess.run(["unshare", "-m", "true"], capture_output=True, text=True)
        if probe.returncode != 0:
            self.skipTest("unshare -m is refused here: " + probe.stderr.strip())
        self.silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(self.silent.close)
        for _ in range(100):
            address = "127.%d.%d.%d" % (random.randint(1, 254), random.randint(0, 255),
                                        random.randint(1, 254))
            try:
                self.silent.bind((address, 53))
                break
            except OSError:
                continue
        else:
            self.skipTest("no loopback address has port 53 free")

        self.norvane, self.logs, self.port, remote = install_dns_engine(self)
        resolv = os.path.join(self.norvane.root, "resolv.conf")
        with open(resolv, "w") as f:
            f.write("nameserver %s\n" % address)
        self.norvane.run(["unshare", "-m", "sh", "-c",
                          'mount --bind "$0" /etc/resolv.conf && exec "$1" -start',
                          resolv, harness.engine_program()], check=True)
        self.norvane.wait_for_event("The service has been started.")
        self.norvane.wait_for_port(remote)
        self.pid = self.norvane.engine_pids()[0]
        self.log = os.path.join(self.logs, "DNS.log")

    def test_flood_of_held_up_names_takes_one_share_and_ends_at_the_deadline(self):
        name, _ = hosts_name()
        within = harness.scaled(1)
        reply, _ = ask(self.port, name, "127.0.0.1", harness.WAIT_TIMEOUT)
        self.assertEqual(rcode(reply), 0)
        threads_before = engine_threads(self.pid)

        # A held-up name fails as a failed lookup does, at the deadline and not before.
        reply, seconds = ask(self.port, "held-up.example.net", "127.0.0.1", harness.WAIT_TIMEOUT,
                             resend=harness.WAIT_TIMEOUT)
        self.assertEqual(rcode(reply), 2)
        self.assertGreaterEqual(seconds, self.DEADLINE - 0.5)
        text = harness.wait_for_session_end(self.log, "Address lookup for held-up.example.net")
        session = re.search(r"\t(\d+)\tRequested:\tDNS: Address lookup for held-up", text).group(1)
        self.assertIn("\t%s\tTerminated exit code 0\r\n" % session, text)
        self.assertRegex(text, r"\t%s\tTraffic\t \d+\t\d+\t0\t0\t\d+s\r\n" % session)

        # 127.0.0.2 floods with random names for a few seconds; meanwhile the name of /etc/hosts
        # is answered within a second, to another client and to the flooding one.
        flood = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(flood.close)
        flood.bind(("127.0.0.2", 0))
        flood.setblocking(False)
        replies = {}
        names = []
        stop = threading.Event()

        def drain():
            try:
                while True:
                    reply = flood.recv(4096)
                    replies[rcode(reply)] = replies.get(rcode(reply), 0) + 1
            except BlockingIOError:
                pass

        def send():
            began = time.monotonic()
            while not stop.is_set():
                while len(names) < (time.monotonic() - began) * 20000:
                    names.append("f%08x.example.net" % random.getrandbits(32))
                    try:
                        flood.sendto(query(names[-1], ident=len(names) & 0xFFFF), ("127.0.0.1", self.port))
                    except BlockingIOError:
                        break
                select.select([flood], [], [], 0.005)  # replies, or the next queries' turn
                drain()

        def probe(when):
            for source in ("127.0.0.3", "127.0.0.2"):
                reply, _ = ask(self.port, name, source, within)
                self.assertIsNotNone(reply, "no answer for %s to %s %s" % (name, source, when))
                self.assertEqual(rcode(reply), 0)
            self.assertLessEqual(engine_threads(self.pid), threads_before + self.CLIENT_THREADS + 1)

        sender = threading.Thread(target=send)
        sender.start()
        try:
            harness.wait_until(lambda: replies.get(2, 0) >= 100,
                               message="the flooding client's share never filled")
            probe("while the flood fills its share")
            harness.wait_for_session_end(self.log, "Address lookup for " + names[0])
            probe("while the flood's lookups time out")
        finally:
            stop.set()
            sender.join()
        probe("right after the flood, its lookups still holding their threads")

        # Every flood query answered was a server failure: refused at once beyond the client's
        # share, or timed out; within the deadline every session has ended.
        def all_ended():
            drain()
            text = harness.read_log(self.log)
            return text.count("\tRequested:\t") == text.count("\tTerminated exit code 0\r\n")
        harness.wait_until(all_ended, timeout=self.DEADLINE + harness.WAIT_TIMEOUT,
                           message=lambda: "sessions still waiting after the flood")
        self.assertEqual(list(replies), [2])
        self.assertGreater(replies[2], 1000)
        self.assertEqual(self.norvane.stop().returncode, 0)


if __name__ == "__main__":
    harness.main()
