"""Dial on demand in the real NorvaneEngine with the simulated dial-up library: curl through the
web proxy to a local origin, from two client addresses of which only one may use the dialer
profile. One engine walks the whole life of a line: local sites are not dialled, a refused user,
a dial that hangs and one that fails (a request that gives up), retries that succeed, the line
shared while it is up, kept while a session uses it and hung up once idle, a dial error that
restarts the dialer thread (which keeps its profiles), and the hang-up at shut-down. The
dialer's log is compared line by line."""

import os
import re
import socket
import subprocess
import time

import harness

ROOT = harness.CONFIG_ROOT
ENTRY = "Office Line"

PHONEBOOK = """[Office Line]
device_type = modem
device_name = Sim Modem
ip_address = 127.0.0.1
delay = 20
linger = 200
outcomes = noanswer, fail 2 678, fail 3 676, connect, fail 2 614, connect
"""

REG = "[" + ROOT + r'''\Services\Web]
"ServiceType"="CWWWService"
"Name"="Web"
"Description"="Web"
"PortNumber"=dword:{port:08x}
"SpecifiedInterfaceAddress"=dword:00000001
"InterfaceAddress"="127.0.0.1"

[''' + ROOT + r'''\Cache]
"CacheDirectory"="{cache}"
"CacheOptions"=dword:00000000

[''' + ROOT + r'''\Dialer]
"LoggingEnabled"=dword:00000001
"LogOptions"=dword:00000003
"TimerInterval"=dword:00000001
"RasdialTimeout"=dword:000003e8

[''' + ROOT + r'''\Dialer\LocalSites]
"localhost"=dword:00000000

[''' + ROOT + r'''\Dialer\Profiles\Office]
"Name"="Office"
"AutoConnect"=dword:00000001
"AutoDisconnect"=dword:00000001
"DisconnectAfter"=dword:00000002
"ProfileName"="Office Line"
"Username"="alice"
"Retries"=dword:00000002

[''' + ROOT + r'''\Dialer\Profiles\Office\AccessRights]
"RightType"=dword:00000000
"Description"="Users can use this dialer account"
"IncludeDefaultRights"=dword:00000000

[''' + ROOT + r'''\Dialer\Profiles\Office\AccessRights\Recipient0]
"UserName"="Everyone"
"Description"="Unrestricted Rights"
"SpecifyLocation"=dword:00000001

[''' + ROOT + r'''\Dialer\Profiles\Office\AccessRights\Recipient0\IncludedLocations]
"127.0.0.2"=dword:00000000
'''

NO_ACCESS = "You do not have any access to any active dialers. Contact your system administrator"
FAILED = "Norvane Dialer failed connection"
STAMP = re.compile(r"^\d\d/\d\d/\d\d \d\d:\d\d:\d\d\t")


def debug(text):
    return "Debug:\t" + text


def status(text):
    return debug("Office: " + text)


def dial_events():
    """The status lines of a dial that passes every state."""
    return [status(s) for s in (
        "Opening Port", "Port Opened", "Connecting to Sim Modem", "Connected",
        "All devices connected", "Verifying username and password",
        "Registering your computer on the network", "Calculating Link Speed",
        "On line to Office Line")]


def ending(verb, gone_passes):
    """The lines of a hang-up ("hangup") or a reset ("reset") whose connection is gone for the
    passes listed."""
    lines = ["Disconnecting from Office Line" if verb == "hangup" else "Resetting Office Line",
             status("Disconnecting from Office Line")]
    lines += [debug("Could not find connection to %s (Office) try %d" % (verb, n)) for n in gone_passes]
    return lines + [status("Disconnected from Office Line")]


def failed_attempt(code):
    return [debug("RasDial (Office) call failed error %d" % code),
            debug("RasDial (Office) call failed but non-null handle - resetting"),
            debug("Dial (Office) failed (point 1) - waiting"),
            debug("Dial (Office) failed (point 2)- resetting")] + ending("reset", [1, 2, 3])


class Dialer(harness.EngineTestCase):
    def test_dial_on_demand_through_the_web_proxy(self):
        norvane = self.new_norvane()
        logs = os.path.join(norvane.root, "logs")
        site = os.path.join(norvane.root, "site")
        os.makedirs(logs)
        os.makedirs(site)
        with open(os.path.join(site, "a.txt"), "w") as f:
            f.write("dialled content\n")
        phonebook = os.path.join(norvane.root, "phonebook.ini")
        with open(phonebook, "w") as f:
            f.write(PHONEBOOK)
        norvane.env["NORVANE_RASSIM_CONFIG"] = phonebook
        self.port, remote = harness.free_ports(2)
        norvane.import_reg(harness.base_reg(logs, remote) + REG.format(
            port=self.port, cache=os.path.join(norvane.root, "cache")))
        self.origin = harness.free_port()
        norvane.spawn(["/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1",
                       str(self.origin)], cwd=site, stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL)
        norvane.wait_for_port(self.origin)
        norvane.install_and_start()
        norvane.wait_for_port(self.port)
        self.log = os.path.join(logs, "Dialer.log")
        harness.wait_until(lambda: debug("Dialer thread started") in self.lines(),
                           message="the dialer thread did not start")
        url = "http://127.0.0.1:%d/a.txt" % self.origin
        request = "GET " + url

        # A local site goes out undialled; a user the profile does not grant is refused.
        self.assertIn("dialled content", self.fetch("http://localhost:%d/a.txt" % self.origin))
        self.assertIn(NO_ACCESS, self.fetch(url))
        # The first dial never answers and is given up after RasdialTimeout, the retry fails.
        started = time.monotonic()
        self.assertIn(FAILED, self.fetch(url, "127.0.0.2"))
        self.assertGreater(time.monotonic() - started, 8)
        # Two attempts again: the first fails, the second brings the line up.
        self.assertIn("dialled content", self.fetch(url, "127.0.0.2"))
        # While the line is up it is shared without a dial, and an open connection to the
        # proxy keeps it up past DisconnectAfter; once that goes, the line is hung up.
        self.assertIn("dialled content", self.fetch(url, "127.0.0.2"))
        with socket.create_connection(("127.0.0.1", self.port)):
            time.sleep(4)
            self.assertNotIn(debug("Timing out profile Office"), self.lines())
        harness.wait_until(lambda: self.follows(debug("Timing out profile Office"),
                                                status("Disconnected from Office Line")),
                           message="the idle line was not hung up")
        # Error 614 restarts the dialer thread; the profile survives and dials again.
        self.assertIn(FAILED, self.fetch(url, "127.0.0.2"))
        harness.wait_until(lambda: self.lines().count(debug("Dialer thread started")) == 2,
                           message="the dialer thread was not restarted")
        # The shut-down hangs the line up (an open connection keeps the idle check off it).
        with socket.create_connection(("127.0.0.1", self.port)):
            self.assertIn("dialled content", self.fetch(url, "127.0.0.2"))
            norvane.stop()
            norvane.wait_for_engine_end()

        expected = [
            debug("Refreshing OS phonebook entries"), debug("Dialer thread started"),
            debug("Local site localhost not dialed - matched on localhost"),
            debug("No acceptable dialer profiles - request denied for " + request),
            # The hung dial, then the failing retry.
            "Dialing profile Office", debug("Dialing profile Office"),
            status("Dialling Office Line"), "Dialling Office Line",
            status("Opening Port"), status("Port Opened"), status("Connecting to Sim Modem"),
            debug("Dial (Office) failed (point 1) - waiting"),
            debug("Dial (Office) failed (point 2)- resetting")] + ending("reset", [2, 3]) + [
            status("Opening Port"), status("Port Opened"),
            status("The remote computer did not answer.")] + failed_attempt(678) + [
            debug("Profile Office failed connection"),
            # Failure, then success.
            "Dialing profile Office", debug("Dialing profile Office"),
            status("Dialling Office Line"), "Dialling Office Line",
            status("Opening Port"), status("Port Opened"), status("Connecting to Sim Modem"),
            status("The line is busy.")] + failed_attempt(676) + \
            dial_events() + [debug("Dial (Office) succeeded"),
            debug("Profile Office on line and grants access for " + request),
            debug("Timing out profile Office")] + ending("hangup", [2, 3]) + [
            # 614: the thread is restarted.
            "Dialing profile Office", debug("Dialing profile Office"),
            status("Dialling Office Line"), "Dialling Office Line",
            status("Opening Port"), status("Port Opened"),
            status("No more connections can be made."),
            debug("RasDial (Office) call failed error 614"),
            debug("RasDial (Office) call failed but non-null handle - resetting"),
            debug("RasDial (Office) failed ERROR_OUT_OF_BUFFERS - restarting dialer thread"),
            {debug("Profile Office failed connection"), debug("Dialer thread stopping")},
            debug("Refreshing OS phonebook entries"), debug("Dialer thread started"),
            "Dialing profile Office", debug("Dialing profile Office"),
            status("Dialling Office Line"), "Dialling Office Line"] + dial_events() + [
            debug("Dial (Office) succeeded"),
            debug("Hanging up profile Office")] + ending("hangup", [2, 3]) + [
            debug("Dialer thread stopping")]
        # "Off-Line" comes whenever a check finds the line down: its moments are the timer's.
        self.assertLines([line for line in self.lines() if line != status("Off-Line")], expected)

    def fetch(self, url, source="127.0.0.1"):
        done = subprocess.run(["curl", "-s", "--max-time", "60", "--interface", source,
                               "-x", "http://127.0.0.1:%d" % self.port, url],
                              capture_output=True, text=True, timeout=90, errors="replace")
        return done.stdout

    def lines(self):
        """The dialer log's lines without their time stamps."""
        try:
            with open(self.log, encoding="latin-1", newline="") as f:
                text = f.read()
        except FileNotFoundError:
            return []
        lines = text.split("\r\n")
        self.assertEqual(lines[-1], "", "the last line is not ended by CR LF")
        for line in lines[:-1]:
            self.assertRegex(line, STAMP)
        return [STAMP.sub("", line) for line in lines[:-1]]

    def follows(self, first, then):
        """Whether the log holds `then` after `first`."""
        lines = self.lines()
        return first in lines and then in lines[lines.index(first):]

    def assertLines(self, actual, expected):
        """`expected` holds lines, and sets of lines that may come in any order."""
        flat = []
        for item in expected:
            if isinstance(item, set):
                got = actual[len(flat):len(flat) + len(item)]
                flat += got if set(got) == item else sorted(item)
            else:
                flat.append(item)
        self.assertEqual(actual, flat)


if __name__ == "__main__":
    harness.main()
