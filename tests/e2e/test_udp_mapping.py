"""UDP mapping in the real NorvaneEngine: datagrams of Python clients relayed to a socat echo
server chosen by the service's mapping table, sessions per client port, refusals and the idle
time-out, as the service log records them."""

import os
import socket
import subprocess

import harness

ROOT = harness.CONFIG_ROOT

REG = "[" + ROOT + r'''\Services\UDPMap]
"ServiceType"="CUDPMappingService"
"Name"="UDPMap"
"Description"="UDP mapping"
"PortNumber"=dword:{port:08x}
"SpecifiedInterfaceAddress"=dword:00000001
"InterfaceAddress"="127.0.0.1"
"LogOptions"=dword:000003ff
"TimeOutSessions"=dword:00000001
"SessionTimeout"=dword:{idle:08x}

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


def client(address):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((address, 0))
    return s


def ask(s, port, data, timeout=harness.WAIT_TIMEOUT):
    """Sends `data` to the service; the answer, or None when none came within `timeout` s."""
    s.sendto(data, ("127.0.0.1", port))
    s.settimeout(timeout)
    try:
        return s.recv(65536)
    except socket.timeout:
        return None


class UDPMapping(harness.EngineTestCase):
    def test_clients_are_relayed_refused_and_timed_out(self):
        n = self.new_norvane()
        logs = os.path.join(n.root, "logs")
        os.makedirs(logs)
        port, remote, echo = harness.free_ports(3)
        target = subprocess.Popen(["socat", "-T", "30", "UDP4-RECVFROM:%d,bind=127.0.0.1,fork" % echo, "PIPE"])
        self.addCleanup(target.kill)
        # Idle sessions end after 4 s (longer on a slow build): no pause between two of the
        # scenario's datagrams may be that long, even on a busy machine.
        idle = int(harness.scaled(4))
        n.import_reg(harness.base_reg(logs, remote) + REG.format(port=port, echo=echo, idle=idle))
        n.install_and_start()
        n.wait_for_port(remote)
        n.wait_for_port(port, udp=True)
        n.wait_for_port(echo, udp=True)
        # Each mapped client holds a socket: the engine may open as many as its hard limit allows.
        pids = n.engine_pids()
        self.assertTrue(pids)
        for pid in pids:
            with open("/proc/%d/limits" % pid) as f:
                files = [line.split()[3:5] for line in f if line.startswith("Max open files")]
            self.assertEqual(files[0][0], files[0][1], files)

        # The table sends 127.0.0.2 (Mapping1) to the echo server, each client port through a
        # session of its own; no mapping accepts 127.0.0.3 and there is no default.
        first, second, unmapped = client("127.0.0.2"), client("127.0.0.2"), client("127.0.0.3")
        for s in (first, second, unmapped):
            self.addCleanup(s.close)
        self.assertEqual(ask(first, port, b"ready"), b"ready")
        self.assertEqual(ask(second, port, b"two"), b"two")
        self.assertEqual(ask(first, port, b"x" * 8192), b"x" * 8192)
        self.assertIsNone(ask(unmapped, port, b"lost", timeout=0.5))
        self.assertIsNone(ask(unmapped, port, b"lost", timeout=0.5))

        # The engine's timer ends both sessions after their time without traffic; the client's
        # next datagram starts a new one.
        log = os.path.join(logs, "UDPMap.log")
        harness.wait_for_log(log, "\tTerminated exit code 2", count=2)
        self.assertEqual(ask(first, port, b"again"), b"again")
        n.stop()
        n.wait_for_engine_end()

        text = harness.wait_for_log(log, "\tTraffic\t 8197\t8197\t8197\t8197\t")
        description = "\tRequested:\tUDPMapping: 127.0.0.2 -> 127.0.0.1:%d" % echo
        self.assertEqual(text.count(description), 3, text)
        self.assertEqual(text.count("\tFailed authorisation:\t"
                                    "No mapping or default not allowed - terminating"), 2, text)


if __name__ == "__main__":
    harness.main()
