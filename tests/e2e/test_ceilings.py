"""Ceilings that hold under abuse, in the real NorvaneEngine: the engine-wide ceiling on live
sessions that follows from its descriptor limit (the engine started with a small one), each
service's half of it and each client address's share of a service's and of the engine's; and
Terminate ending a session blocked in a send."""

import os
import re
import socket
import struct
import threading
import time

import harness
import rcp

ROOT = harness.CONFIG_ROOT
ADMIN = rcp.user_reg("alice", b"wonder", administrator=True)


def service(name, kind, port, extra=""):
    return ('\n[%s\\Services\\%s]\n"ServiceType"="%s"\n"Name"="%s"\n"PortNumber"=dword:%08x\n'
            '"SpecifiedInterfaceAddress"=dword:00000001\n"InterfaceAddress"="127.0.0.1"\n'
            '"LogOptions"=dword:000003ff\n%s') % (ROOT, name, kind, name, port, extra)


def mapping(name, kind, port, target):
    return service(name, kind, port) + (
        '\n[%s\\Services\\%s\\Mappings]\n"AllowDefault"=dword:00000001\n"Host"="127.0.0.1"\n'
        '"Port"=dword:%08x\n') % (ROOT, name, target)


def connect(port, source):
    s = socket.socket()
    s.settimeout(harness.WAIT_TIMEOUT)
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    return s


def udp_ask(port, source, data, timeout):
    """The answer to `data` sent from `source`, or None after `timeout` s."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as u:
        u.bind((source, 0))
        u.settimeout(timeout)
        u.sendto(data, ("127.0.0.1", port))
        try:
            return u.recv(4096)
        except socket.timeout:
            return None


def dns_query(name):
    return (struct.pack(">HHHHHH", 0x5353, 0x0100, 1, 0, 0, 0) +
            b"".join(bytes([len(p)]) + p for p in name.split(b".")) + b"\0" + struct.pack(">HH", 1, 1))


class Ceilings(harness.EngineTestCase):
    def start(self, reg, ports, nofile=None):
        self.norvane = self.new_norvane()
        self.logs = os.path.join(self.norvane.root, "logs")
        self.remote = harness.free_port()
        self.norvane.import_reg(rcp.service_reg(self.remote, self.logs) + ADMIN + reg)
        self.norvane.install()
        argv = [harness.engine_program(), "-start"]
        if nofile:
            argv = ["prlimit", "--nofile=%d:%d" % (nofile, nofile)] + argv
        self.norvane.run(argv, check=True)
        self.norvane.wait_for_event("The service has been started.")
        for port in ports + [self.remote]:
            self.norvane.wait_for_port(port)

    def log(self, name):
        return harness.read_log(os.path.join(self.logs, name + ".log"))

    def console(self, source):
        client = rcp.Client.connect(self.remote, b"alice", b"wonder", source=source)
        self.addCleanup(client.close)
        self.assertEqual(client.logon().op, rcp.LOGGED_ON)
        return client

    def settled(self, *names):
        """Waits until every session these services' logs show as created has ended (the
        port probes' too), so the live sessions are the test's own."""
        def done():
            return all(self.log(n).count("\tCreated:") == self.log(n).count("\tTerminated ")
                       for n in names)
        harness.wait_until(done)

    def test_the_descriptor_limit_bounds_live_sessions_and_each_address_gets_a_share(self):
        echo = socket.create_server(("127.0.0.1", 0))
        self.addCleanup(echo.close)
        udp_echo = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        udp_echo.bind(("127.0.0.1", 0))
        self.addCleanup(udp_echo.close)

        def serve():
            while True:
                conn, _ = echo.accept()
                conn.sendall(conn.recv(64))
                conn.close()

        def answer():
            while True:
                data, sender = udp_echo.recvfrom(4096)
                udp_echo.sendto(data, sender)
        for run in (serve, answer):
            threading.Thread(target=run, daemon=True).start()
        ports = dict(zip(("Telnet", "POP3", "TCPMap", "UDPMap", "DNS", "RealAudio"),
                         harness.free_ports(6)))
        self.start(service("Telnet", "CTelnetService", ports["Telnet"]) +
                   service("POP3", "CPOP3Service", ports["POP3"]) +
                   mapping("TCPMap", "CTCPMappingService", ports["TCPMap"], echo.getsockname()[1]) +
                   mapping("UDPMap", "CUDPMappingService", ports["UDPMap"],
                           udp_echo.getsockname()[1]) +
                   service("DNS", "CDNSService", ports["DNS"], '"AllowAutodial"=dword:00000000\n') +
                   service("RealAudio", "CRealAudioService", ports["RealAudio"]),
                   [ports[n] for n in ("Telnet", "POP3", "TCPMap", "RealAudio")], nofile=1024)
        # 1024 descriptors, less a reserve of 256, at six a session: 128 sessions, 32 for one
        # address; one service takes 64, 16 for one address.
        self.norvane.wait_for_event(
            "At most 128 live sessions at once, for a limit of 1024 open descriptors.")
        self.settled("Telnet", "POP3", "TCPMap", "RealAudio")
        held = []
        self.addCleanup(lambda: [s.close() for s in held])

        def flood(name, source, count):
            """Connections from `source` to a greeting service: how many were greeted (and
            are held); the others must be closed without a byte."""
            served = 0
            for _ in range(count):
                s = connect(ports[name], source)
                if s.recv(64):
                    served += 1
                    held.append(s)
                else:
                    s.close()
            return served

        def mapped(source):
            """Whether a TCP mapping connection from `source` is relayed (a refused one is
            closed at once, reset when the ping had come first)."""
            with connect(ports["TCPMap"], source) as s:
                try:
                    s.sendall(b"ping")
                    return s.recv(4) == b"ping"
                except ConnectionResetError:
                    return False

        def resolves(source):
            reply = udp_ask(ports["DNS"], source, dns_query(b"localhost"), harness.WAIT_TIMEOUT)
            return (reply[:2], reply[3] & 15, reply[7]) == (b"\x53\x53", 0, 1)

        # One address floods: it gets its share of a service, then of the engine; what comes
        # past a share is closed at once, a mapped client's datagram dropped.
        self.assertEqual(flood("Telnet", "127.0.0.1", 20), 16)
        self.assertEqual(flood("POP3", "127.0.0.1", 16), 16)
        self.assertFalse(mapped("127.0.0.1"))
        self.assertIsNone(udp_ask(ports["UDPMap"], "127.0.0.1", b"ping", 1.0))
        # Others are served meanwhile (a mapped connection, a mapped client, a player); DNS and
        # the consoles are outside the ceiling, so the flooding machine keeps them too.
        self.assertTrue(mapped("127.0.0.2"))
        self.settled("TCPMap")
        self.assertEqual(udp_ask(ports["UDPMap"], "127.0.0.2", b"ping", harness.WAIT_TIMEOUT), b"ping")
        held.append(connect(ports["RealAudio"], "127.0.0.2"))
        harness.wait_until(lambda: re.search(r"127\.0\.0\.2\tGuest\t\d+\tCreated:",
                                             self.log("RealAudio")))
        self.assertTrue(resolves("127.0.0.1"))
        self.console("127.0.0.1")

        # A flood of one service from many addresses fills that service only.
        for source in ("127.0.0.2", "127.0.0.3", "127.0.0.4"):
            self.assertEqual(flood("Telnet", source, 16), 16)
        self.assertEqual(flood("Telnet", "127.0.0.5", 2), 0)
        self.assertTrue(mapped("127.0.0.5"))
        self.settled("TCPMap")
        # A second service fills the engine (127.0.0.2 holds 18 sessions): then nothing more
        # is let in, but a console still gets in and DNS answers.
        self.assertEqual([flood("POP3", source, 16) for source in ("127.0.0.2", "127.0.0.3", "127.0.0.4")],
                         [14, 16, 16])
        self.assertEqual(flood("POP3", "127.0.0.5", 2), 0)
        self.assertFalse(mapped("127.0.0.5"))
        self.console("127.0.0.5")
        self.assertTrue(resolves("127.0.0.5"))

        # Each ceiling was logged once, in the log of the service that met it first, and
        # reported to the event log once (the UDP mapping client met a share reached already).
        lines = {"Telnet": ["Client 127.0.0.1 has 16 live sessions of this service: its new "
                            "sessions are refused until some end",
                            "Service has 64 live sessions: new sessions are refused until some end"],
                 "TCPMap": ["Client 127.0.0.1 has 32 live sessions in the engine: its new sessions "
                            "are refused until some end"],
                 "POP3": ["The engine has 128 live sessions, as many as its descriptors allow: new "
                          "sessions are refused until some end"]}
        events = self.norvane.event_texts()
        for name, texts in lines.items():
            for text in texts:
                self.assertEqual(self.log(name).count("\tError:\t" + text), 1, (name, text))
                self.assertEqual(events.count("%s: %s." % (name, text)), 1, (name, text, events))
        self.assertNotIn("Client 127.0.0.1", self.log("UDPMap"))

        # Once the flood has gone, every address is served again.
        for s in held:
            s.close()
        harness.wait_until(lambda: flood("Telnet", "127.0.0.5", 1) == 1)

    def test_terminate_ends_a_session_blocked_in_a_send_at_once(self):
        """A web session relaying to a client that stopped reading waits in a send; the
        console's Terminate, and the idle time-out, end it within moments: the origin's
        connection is gone (its sends fail)."""
        origin = socket.create_server(("127.0.0.1", 0))
        self.addCleanup(origin.close)
        written, failed = {}, {}  # by path: bytes sent, and when the connection failed

        def serve(conn):
            with conn:
                path = conn.recv(4096).split(b" ")[1].decode()
                written[path] = 0
                conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1073741824\r\n\r\n")
                block = b"x" * 65536
                try:
                    while True:
                        conn.sendall(block)
                        written[path] += len(block)
                except OSError:
                    failed[path] = time.monotonic()

        def accept():
            while True:
                conn, _ = origin.accept()
                threading.Thread(target=serve, args=(conn,), daemon=True).start()
        threading.Thread(target=accept, daemon=True).start()
        web, idle_web = harness.free_ports(2)
        self.start(service("Web", "CWWWService", web) +
                   service("Idle", "CWWWService", idle_web,
                           '"TimeOutSessions"=dword:00000001\n"SessionTimeout"=dword:00000002\n'),
                   [web, idle_web])
        console = self.console("127.0.0.2")

        def stalled_fetch(port, path):
            """A client that reads nothing once the request is out; returns once the relay
            has stalled (the origin can write no more)."""
            client = connect(port, "127.0.0.1")
            self.addCleanup(client.close)
            client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            client.sendall(b"GET http://127.0.0.1:%d%s HTTP/1.0\r\n\r\n" % (origin.getsockname()[1],
                                                                           path.encode()))
            samples = []

            def stalled():
                samples.append(written.get(path, 0))
                return len(samples) > 3 and samples[-1] == samples[-4] > 0
            harness.wait_until(stalled, interval=0.2)

        stalled_fetch(web, "/terminated")
        found = re.search(r"\t(\d+)\tRequested:\t[^\r]*/terminated", self.log("Web"))
        asked = time.monotonic()
        console.transact(76, (b"127.0.0.1", str(int(found.group(1))).encode()))
        harness.wait_until(lambda: "/terminated" in failed)
        self.assertLess(failed["/terminated"] - asked, harness.scaled(2))

        stalled_fetch(idle_web, "/idle")
        harness.wait_until(lambda: "\tTerminated exit code 2" in self.log("Idle"))
        ended = time.monotonic()
        harness.wait_until(lambda: "/idle" in failed)
        self.assertLess(failed["/idle"] - ended, harness.scaled(2))


if __name__ == "__main__":
    harness.main()
