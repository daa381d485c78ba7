"""Services in the real NorvaneEngine: loaded from the store by class name, started at start-up,
stopped at shut-down, and the remote-control service kept on this host while the
Administrator's password is empty."""

import fcntl
import os
import socket
import struct

import harness

ROOT = r"HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2"

REG = ROOT + r'''\Settings]
"LogFileDirectory"="{logs}"

[''' + ROOT + r'''\Services\Remote Control Service]
"ServiceType"="CRemoteControlService"
"Name"="Remote Control Service"
"Description"="Remote Control Service"
"PortNumber"=dword:{remote:08x}

[''' + ROOT + r'''\Services\Relay]
"ServiceType"="CTCPService"
"Name"="Relay"
"PortNumber"=dword:{relay:08x}

[''' + ROOT + r'''\Services\NotAService]
"ServiceType"="CUser"
"Name"="NotAService"
"PortNumber"=dword:{other:08x}
'''


def local_addresses():
    """This host's IPv4 addresses other than the loopback network."""
    found = []
    probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        for _, name in socket.if_nameindex():
            try:
                packed = fcntl.ioctl(probe.fileno(), 0x8915,  # SIOCGIFADDR
                                     struct.pack("256s", name.encode()[:15]))
            except OSError:
                continue
            address = socket.inet_ntoa(packed[20:24])
            if not address.startswith("127."):
                found.append(address)
    finally:
        probe.close()
    return found


def closes_at_once(port):
    """Connects; True when the engine accepts and closes the connection (no session class)."""
    with socket.create_connection(("127.0.0.1", port), timeout=harness.WAIT_TIMEOUT) as s:
        return s.recv(16) == b""


class Services(harness.EngineTestCase):
    def test_services_start_with_the_engine_and_stop_with_it(self):
        n = self.new_norvane()
        remote, relay, other = harness.free_ports(3)
        logs = os.path.join(n.root, "logs")
        n.import_reg("[" + REG.format(logs=logs, remote=remote, relay=relay, other=other))
        n.install_and_start()
        n.wait_for_port(relay)
        n.wait_for_port(remote)

        # An accepted connection of a service without sessions is closed, not kept.
        self.assertTrue(closes_at_once(relay))
        # A stored class that is no service is never made.
        self.assertFalse(harness.port_accepts(other))
        # No Administrator password: the console port answers on this host only.
        for address in local_addresses():
            self.assertFalse(harness.port_accepts(remote, host=address),
                             "remote control reachable on %s" % address)

        relay_log = os.path.join(logs, "Relay.log")
        harness.wait_for_log(relay_log, "\tService started\r\n")
        self.assertEqual(n.stop().returncode, 0)
        self.assertFalse(harness.port_accepts(relay))
        self.assertFalse(harness.port_accepts(remote))
        lines = harness.wait_for_log(relay_log, "\tService stopped\r\n").split("\r\n")
        self.assertTrue(lines[0].endswith("\tService started"), lines)
        self.assertTrue(lines[1].endswith("\tService stopped"), lines)
        self.assertIn("\tService started\r\n",
                      harness.read_log(os.path.join(logs, "Remote Control Service.log")))


if __name__ == "__main__":
    harness.main()
