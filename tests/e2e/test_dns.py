"""The DNS service in the real NorvaneEngine: dig at its default settings, without EDNS and with
a cookie, and hand-made datagrams that a parser must survive."""

import os
import socket
import struct
import subprocess

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


class DNSService(harness.EngineTestCase):
    def setUp(self):
        super().setUp()
        self.norvane = self.new_norvane()
        self.logs = os.path.join(self.norvane.root, "logs")
        os.makedirs(self.logs)
        self.port, remote = harness.free_ports(2)
        self.norvane.import_reg(harness.base_reg(self.logs, remote) + REG.format(port=self.port))
        self.norvane.install_and_start()
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


if __name__ == "__main__":
    harness.main()
