"""UDP mapping in the real NorvaneEngine: datagrams of Python clients relayed to a socat echo
server chosen by the service's mapping table, sessions per client port, refusals, oversized
datagrams and the idle time-out, as the service log records them."""

import os
import socket
import subprocess
import time

import harness

ROOT = r"HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2"

REG = "[" + ROOT + r'''\Settings]
"LogFileDirectory"="{logs}"

[''' + ROOT + r'''\Services\Remote Control Service]
"ServiceType"="CRemoteControlService"
"Name"="Remote Control Service"
"Description"="Remote Control Service"
"PortNumber"=dword:{remote:08x}

[''' + ROOT + r'''\Services\UDPMap]
"ServiceType"="CUDPMappingService"
"Name"="UDPMap"
"Description"="UDP mapping"
"PortNumber"=dword:{port:08x}
"SpecifiedInterfaceAddress"=dword:00000001
"InterfaceAddress"="127.0.0.1"
"LogOptions"=dword:000003ff
"TimeOutSessions"=dword:00000001
"SessionTimeout"=dword:00000002

[''' + ROOT + r'''\Services\UDPMap\Mappings]
"AllowDefault"=dword:00000000
"Host"="127.0.0.1"
"Port"=dword:{echo:08x}

[''' + ROOT + r'''\Services\UDPMap\Mappings\Mapping0]
"SpecifyUser"=dword:00000001
"UserName"="Nobody"
"Host"="127.0.0.1"
"Port"=dword:{echo:08x}

[''' + ROOT + r'''\Services\UDPMap\Mappings\Mapping1]
"SpecifyLocation"=dword:00000001
"Host"="127.0.0.1"
"Port"=dword:{echo:08x}

[''' + ROOT + r'''\Services\UDPMap\Mappings\Mapping1\IncludedLocations]
"127.0.0.2"=dword:00000000
'''


def reg_path(path):
    return path.replace("\\", "\\\\")


class Client:
    """A datagram socket on a loopback address."""

    def __init__(self, address, port):
        self.port = port
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind((address, 0))

    def ask(self, data, timeout=5):
        """Sends `data`; the answer, or None when none came within `timeout` seconds."""
        self.socket.sendto(data, ("127.0.0.1", self.port))
        return self.receive(timeout)

    def receive(self, timeout):
        self.socket.settimeout(timeout)
        try:
            return self.socket.recv(65536)
        except socket.timeout:
            return None

    def close(self):
        self.socket.close()


class UDPMapping(harness.EngineTestCase):
    def test_clients_are_relayed_refused_bounded_and_timed_out(self):
        n = self.new_norvane()
        logs = os.path.join(n.root, "logs")
        os.makedirs(logs)
        port, remote, echo = harness.free_ports(3)
        target = subprocess.Popen(["socat", "-T", "30", "UDP4-RECVFROM:%d,bind=127.0.0.1,fork" % echo, "PIPE"])
        self.addCleanup(target.kill)
        n.import_reg(REG.format(logs=reg_path(logs), port=port, remote=remote, echo=echo))
        n.install_and_start()
        n.wait_for_port(remote)

        # Each mapped client holds a socket: the engine may open as many as its hard limit allows.
        pids = n.engine_pids()
        self.assertTrue(pids)
        for pid in pids:
            with open("/proc/%d/limits" % pid) as f:
                files = [line.split()[3:5] for line in f if line.startswith("Max open files")]
            self.assertEqual(files[0][0], files[0][1], files)

        first = Client("127.0.0.2", port)
        self.addCleanup(first.close)
        harness.wait_until(lambda: first.ask(b"ready", timeout=0.5) == b"ready",
                           message="the mapping did not answer")
        second = Client("127.0.0.2", port)
        unmapped = Client("127.0.0.3", port)
        for c in (second, unmapped):
            self.addCleanup(c.close)

        # Each client pair has its own session; the table sends 127.0.0.2 to the echo server.
        self.assertEqual(first.ask(b"one"), b"one")
        self.assertEqual(second.ask(b"two"), b"two")
        self.assertEqual(first.ask(b"x" * 8192), b"x" * 8192)
        # A datagram longer than the service's buffer is dropped; the next one goes through.
        self.assertIsNone(first.ask(b"y" * 9000, timeout=0.5))
        self.assertEqual(first.ask(b"after"), b"after")
        # No mapping accepts 127.0.0.3 and the table allows no default: each datagram is lost.
        self.assertIsNone(unmapped.ask(b"lost", timeout=0.5))
        self.assertIsNone(unmapped.ask(b"lost", timeout=0.5))

        log = os.path.join(logs, "UDPMap.log")
        description = "UDPMapping: 127.0.0.2 -> 127.0.0.1:%d" % echo
        # The engine's timer ends both sessions after their 2 s without traffic.
        harness.wait_until(lambda: self.count(log, "\tTerminated exit code 2") == 2, timeout=15,
                           message=lambda: self.read(log))
        # The client's next datagram starts a new session.
        self.assertEqual(first.ask(b"again"), b"again")
        n.stop()
        n.wait_for_engine_end()

        text = self.read(log)
        self.assertEqual(self.count(log, "\tRequested:\t" + description), 3, text)
        self.assertEqual(self.count(log, "\tFailed authorisation:\t"
                                         "No mapping or default not allowed - terminating"), 2, text)
        self.assertEqual(self.count(log, "\tError:\tDatagram from a client longer than 8192 bytes - dropped"),
                         1, text)
        self.assertEqual(self.count(log, "\tTerminated exit code 1"), 2, text)
        # The first client's first session: "ready", "one", 8192 bytes and "after" both ways.
        self.assertIn("\tTraffic\t 8205\t8205\t8205\t8205\t", text)

    @staticmethod
    def read(path):
        try:
            with open(path, encoding="latin-1", newline="") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def count(self, path, text):
        return self.read(path).count(text)


if __name__ == "__main__":
    harness.main()
