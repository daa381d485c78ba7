"""Services in the real NorvaneEngine: loaded from the store by class name, started at start-up,
stopped at shut-down, and the remote-control service kept on this host while the
Administrator's password is empty. `make run`'s script with the starter configuration: every
service of it answers its client, everything the engine writes lands in ./var, and the state
outlives a stop."""

import fcntl
import os
import re
import shutil
import socket
import struct
import subprocess

import cacheindex
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


# --- `make run` -------------------------------------------------------------------------------

STARTER = os.path.join(harness.SOURCE_DIR, "engine", "starter.reg")
REMOTE = "[" + ROOT + r'''\Services\Remote Control Service]
"ServiceType"="CRemoteControlService"
"Name"="Remote Control Service"
"PortNumber"=dword:{remote:08x}
'''
SERVICE_KEY = re.compile(r"^\[.*\\Services\\([^\\\]]+)(\\Mappings)?\]$")


def keys(text):
    """(service name or None, whether it is that service's Mappings key, the key's text) of every
    key of a configuration's text."""
    for key in re.split(r"\n(?=\[)", text):
        match = SERVICE_KEY.match(key.split("\n", 1)[0])
        yield (match.group(1) if match else None), bool(match and match.group(2)), key


def starter_services(text):
    """{service name: (class, port)} of a starter configuration's text."""
    return {name: (re.search(r'"ServiceType"="(\w+)"', key).group(1),
                   int(re.search(r'"PortNumber"=dword:(\w+)', key).group(1), 16))
            for name, mappings, key in keys(text) if name and not mappings}


def relocated(text, ports, targets, remote):
    """The starter configuration with each service on ports[name], each mapping's default target
    at 127.0.0.1:targets[name], and the remote-control service on `remote`."""
    out = []
    for name, mappings, key in keys(text):
        if name and mappings:
            key = re.sub(r'"Port"=dword:\w+', '"Port"=dword:%08x' % targets[name],
                         re.sub(r'"Host"=".*"', '"Host"="127.0.0.1"', key))
        elif name:
            key = re.sub(r'"PortNumber"=dword:\w+', '"PortNumber"=dword:%08x' % ports[name], key)
        out.append(key)
    return "\n".join(out) + "\n\n" + REMOTE.format(remote=remote)


def exchange(port, send=b"", until=b"", kind=socket.SOCK_STREAM):
    """Sends `send` to 127.0.0.1:`port` and reads until `until` is in the answer (a datagram
    socket: one datagram); the answer."""
    with socket.socket(socket.AF_INET, kind) as s:
        s.settimeout(harness.WAIT_TIMEOUT)
        s.connect(("127.0.0.1", port))
        s.sendall(send)
        answer = s.recv(4096)
        while kind == socket.SOCK_STREAM and until not in answer:
            more = s.recv(4096)
            if not more:
                break
            answer += more
        return answer


def curl(*args):
    return subprocess.run(["curl", "-sS", "--max-time", str(harness.WAIT_TIMEOUT)] + list(args),
                          capture_output=True, timeout=harness.COMMAND_TIMEOUT).stdout


class MakeRun(harness.EngineTestCase):
    """.ci/run-engine.sh in a checkout of its own (its build/ the one under test), with the
    starter configuration's services moved to free ports and its mappings led to local peers."""

    def setUp(self):
        self.norvane = n = self.new_norvane()
        self.checkout = os.path.join(n.root, "checkout")
        for folder in (".ci", "engine"):
            os.makedirs(os.path.join(self.checkout, folder))
        shutil.copy(os.path.join(harness.SOURCE_DIR, ".ci", "run-engine.sh"), os.path.join(self.checkout, ".ci"))
        os.symlink(harness.BINARY_DIR, os.path.join(self.checkout, "build"))
        self.var = os.path.join(self.checkout, "var")
        n.state_dir, n.event_file, n.trace_file = (self.var, os.path.join(self.var, "events.log"),
                                                   os.path.join(self.var, "trace.log"))
        n.env["NORVANE_STATE_DIR"] = self.var

        with open(STARTER) as f:
            text = f.read()
        self.services = starter_services(text)
        self.ports = dict(zip(self.services, harness.free_ports(len(self.services))))
        # The peers: a web server, a UDP echo, and a listener that notes who connects.
        www = os.path.join(n.root, "www")
        os.makedirs(www)
        with open(os.path.join(www, "index.html"), "w") as f:
            f.write("the origin's page\n")
        self.web = harness.free_port()
        n.spawn(["/usr/bin/python3", "-m", "http.server", str(self.web), "--bind", "127.0.0.1"], cwd=www,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        echo = harness.free_port()
        n.spawn(["socat", "-T", "30", "UDP4-RECVFROM:%d,bind=127.0.0.1,fork" % echo, "PIPE"])
        self.connected = []
        self.listener = harness.ConnectionServer(lambda conn: self.connected.append(True))
        self.addCleanup(self.listener.close)
        targets = {name: self.web if kind == "CTCPMappingService" else echo for name, (kind, _) in self.services.items()}
        self.remote = harness.free_port()
        with open(os.path.join(self.checkout, "engine", "starter.reg"), "w") as f:
            f.write(relocated(text, self.ports, targets, self.remote))
        n.wait_for_port(self.web)
        harness.wait_until(lambda: not harness._udp_free("127.0.0.1", echo))

    def run_engine(self, command):
        done = self.norvane.run([os.path.join(self.checkout, ".ci", "run-engine.sh"), command], check=True)
        return done.stdout

    def named(self, kind):
        return next(name for name, (each, _) in self.services.items() if each == kind)

    def answers(self, name):
        """Whether the starter's service `name` answers its client."""
        kind, port = self.services[name][0], self.ports[name]
        page = "http://127.0.0.1:%d/index.html" % self.web
        vdo = struct.pack(">III", 32, self.listener.port, 9) + b"127.0.0.1\0\0\0" + struct.pack(">I", 1) + b"c"
        probes = {
            "CWWWService": lambda: b"origin" in curl("-x", "http://127.0.0.1:%d" % port, page),
            "CSOCKSService": lambda: b"origin" in curl("--socks5", "127.0.0.1:%d" % port, page),
            "CTCPMappingService": lambda: b"origin" in curl("http://127.0.0.1:%d/index.html" % port),
            "CFTPService": lambda: exchange(port).startswith(b"220 "),
            "CPOP3Service": lambda: exchange(port).startswith(b"+OK "),
            "CTelnetService": lambda: b"Norvane>" in exchange(port, until=b"Norvane>"),
            "CRealAudioService": lambda: exchange(port, b"\0\2\1\1") == b"\2\0\1\1",
            "CVDOLiveService": lambda: (exchange(port, struct.pack(">I", len(vdo)) + vdo) == b"" and
                                        harness.wait_until(lambda: self.connected)),
            "CDNSService": lambda: subprocess.run(
                ["dig", "@127.0.0.1", "-p", str(port), "localhost", "+short", "+time=5", "+tries=1"],
                capture_output=True, text=True, timeout=harness.COMMAND_TIMEOUT).stdout.split() == ["127.0.0.1"],
            "CUDPMappingService": lambda: exchange(port, b"ping", kind=socket.SOCK_DGRAM) == b"ping",
        }
        self.assertIn(kind, probes, "no client tries the starter's %s" % kind)
        return probes[kind]()

    def test_every_starter_service_answers_and_every_file_lands_in_var(self):
        n = self.norvane
        said = self.run_engine("start")
        self.assertIn("Imported engine/starter.reg into ./var", said)
        for folder in ("var/logs", "var/audit", "var/cache", "nvreg"):
            self.assertIn(folder, said)
        for name, port in self.ports.items():
            self.assertIn("127.0.0.1:%d" % port, said)
            harness.wait_for_log(os.path.join(self.var, "logs", name + ".log"), "\tService started\r\n")
        n.wait_for_port(self.remote)
        for name in self.services:
            self.assertTrue(self.answers(name), name)
        # The web proxy's page again, from its cache.
        self.assertTrue(self.answers(self.named("CWWWService")))

        # Every file the engine holds open lies in ./var, and nothing is left to a placeholder.
        pid, = n.engine_pids()
        for fd in os.listdir("/proc/%d/fd" % pid):
            target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
            if target.startswith("/") and not target.startswith("/dev/"):
                self.assertTrue(target.startswith(self.var + "/"), target)
        self.assertNotIn("@", n.nvreg("export", ROOT, check=True).stdout)

        # Guest audited from the next start: the state outlives the stop, the cache included.
        n.nvreg("set", ROOT + r"\UserDatabase\Guest", "AuditUser", "dword", "1", check=True)
        n.nvreg("set", ROOT + r"\UserDatabase\Guest", "AuditOptions", "dword", "0x20", check=True)
        self.run_engine("stop")
        self.assertFalse(n.engine_pids())
        said = self.run_engine("start")
        self.assertNotIn("Imported", said)
        n.wait_for_port(self.remote)
        self.assertTrue(self.answers(self.named("CSOCKSService")))
        harness.wait_for_log(os.path.join(self.var, "audit", "Guest.log"), "\tRequested\t")
        url = ("127.0.0.1:%d/index.html" % self.web).encode()
        hits = [r.hits for r in cacheindex.read(os.path.join(self.var, "cache", "cache.idx")) if r.url == url]
        self.assertEqual(len(hits), 1, hits)
        self.assertGreaterEqual(hits[0], 1)
        self.run_engine("stop")

    def test_the_readme_lists_the_starter_services_ports(self):
        with open(os.path.join(harness.SOURCE_DIR, "README.md")) as f:
            readme = f.read()
        table = readme[readme.index("## Trying it out"):readme.index("## What it does not do")]
        listed = {int(port) for port in re.findall(r"^\| [^|]+ \| 127\.0\.0\.1:(\d+)", table, re.M)}
        with open(STARTER) as f:
            ports = {port for _, port in starter_services(f.read()).values()}
        self.assertEqual(listed, ports | {808})


if __name__ == "__main__":
    harness.main()
