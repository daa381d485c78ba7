"""The screenshot gallery of the console: an engine whose configuration fills every page (one
service of each of the eleven kinds, users and groups, two locations, rights whose recipients
are limited by location, time and request filter, a dialer profile on the simulated line, cache
and purge filters, a TCP and a UDP mapping service with mappings), a rate-limited curl download
through the web proxy so the activity tree has a session, and the console scenario program
walking the manifest (tests/console/gallery.tsv), one PNG per window and page, with an
index.html that lists them.

    xvfb-run -a -s "-screen 0 1280x1024x24" /usr/bin/python3 tests/e2e/gallery.py build/gallery

(`make gallery` runs exactly that.) Without DISPLAY the console gets a virtual X server of its
own. The exit code is 0 when every window of the manifest was captured.
"""

import html
from datetime import date
import os
import struct
import sys
import unittest

import consoledriver
import harness
import rcp

ROOT = rcp.ROOT
MANIFEST = os.path.join(harness.SOURCE_DIR, "tests", "console", "gallery.tsv")
CONTROLS = os.path.join(harness.SOURCE_DIR, "tests", "console", "controls.tsv")
SCREEN = "1280x1024x24"
ADMIN, ADMIN_PASSWORD = "alice", "wonder"
# Passwords that no window may show in clear text.
SECRETS = (ADMIN_PASSWORD, "b0bsecret", "c4rolpw", "d1alup")

# The eleven kinds, by the name the gallery gives each service.
SERVICES = [("Web Proxy", "CWWWService"), ("FTP Gateway", "CFTPService"), ("SOCKS", "CSOCKSService"),
            ("POP3 Proxy", "CPOP3Service"), ("Telnet Proxy", "CTelnetService"),
            ("RealAudio Proxy", "CRealAudioService"), ("VDOLive Proxy", "CVDOLiveService"),
            ("TCP Mapping", "CTCPMappingService"), ("UDP Mapping", "CUDPMappingService"),
            ("DNS", "CDNSService")]


def key(path, **values):
    """One registry key of `.reg` text: integers are DWORDs, bytes binary, str strings (a
    string already in its "hex(1):" form as it stands)."""
    lines = ["[%s\\%s]" % (ROOT, path)]
    for name, value in values.items():
        if isinstance(value, bool) or isinstance(value, int):
            lines.append('"%s"=dword:%08x' % (name, int(value)))
        elif isinstance(value, bytes):
            lines.append('"%s"=hex:%s' % (name, ",".join("%02x" % b for b in value)))
        elif value.startswith("hex(1):"):
            lines.append('"%s"=%s' % (name, value))
        else:
            lines.append('"%s"="%s"' % (name, value.replace("\\", "\\\\")))
    return "\n".join(lines) + "\n\n"


def internal_filter(pattern):
    """A location's stored match form: three characters a part, "*" as "???"."""
    return "".join("???" if part == "*" else part.rjust(3, "0") for part in pattern.split("."))


def request_filter(path, name, criteria):
    """A request filter collection of one filter under `path`; criteria as (type, data index,
    comparison, value, not)."""
    text = key(path + r"\Filter0", Name=name, Description="")
    for n, (kind, index, comparison, value, negated) in enumerate(criteria):
        typed = dict(DataType=2, strData=value) if isinstance(value, str) else dict(DataType=1, dwData=value)
        text += key(path + r"\Filter0\Criterion%d" % n, Type=kind, Name="", Description="", Comparison=comparison,
                    DataIndex=index, VariableName="", Not=negated, **typed)
    return text


def limited_right(path, description):
    """A right with three recipients: the group "Staff" from the office network, in office hours
    but not on the holiday, and not for games (every page of the recipient sheet filled); everyone
    from this host (by location); and everyone asking for anything but games (by request)."""
    hours = struct.pack("<d", 0.375), struct.pack("<d", 0.75)
    holiday = [struct.pack("<d", float((date(2026, 12, 24) - date(1899, 12, 30)).days) + day) for day in (0, 1)]
    staff = path + r"\Recipient0"
    return (key(path, RightType=0, Description=description, IncludeDefaultRights=0) +
            key(staff, UserName="Staff", Description="Restricted by location, time, request", SpecifyUser=1,
                SpecifyLocation=1, SpecifyTime=1, SpecifyRequest=1) +
            key(staff + r"\IncludedLocations", **{"192.168.1.*": 0, "127.0.0.1": 0}) +
            key(staff + r"\ExcludedLocations", **{"192.168.1.99": 0}) +
            key(staff + r"\TimeFilter", Name="", Description="") +
            key(staff + r"\TimeFilter\Inclusion0", Name="Office hours", Description="", Every=1, CheckTime=1,
                EveryWhat=62, StartTime=hours[0], EndTime=hours[1]) +
            key(staff + r"\TimeFilter\Exclusion0", Name="Holiday", Description="", Every=0, CheckTime=1,
                EveryWhat=127, StartTime=holiday[0], EndTime=holiday[1]) +
            request_filter(staff + r"\RequestFilter", "No games", [("CRequestCriterion", 15, 3, "games", 1)]) +
            key(path + r"\Recipient1", UserName="Everyone", Description="Restricted by location", SpecifyLocation=1) +
            key(path + r"\Recipient1\IncludedLocations", **{"127.0.0.1": 0}) +
            key(path + r"\Recipient1\ExcludedLocations", **{"127.0.0.2": 0}) +
            key(path + r"\Recipient2", UserName="Everyone", Description="Restricted by request", SpecifyRequest=1) +
            request_filter(path + r"\Recipient2\RequestFilter", "No games",
                           [("CRequestCriterion", 15, 3, "games", 1)]))


def mappings(path, port):
    """A default target and two mappings: one for a location, one for a user."""
    return (key(path, AllowDefault=1, Host="127.0.0.1", Port=port) +
            key(path + r"\Mapping0", SpecifyLocation=1, Host="10.0.0.5", Port=port) +
            key(path + r"\Mapping0\IncludedLocations", **{"192.168.1.*": 0}) +
            key(path + r"\Mapping1", SpecifyUser=1, UserName="bob", Host="10.0.0.6", Port=port))


def user(name, password, real_name, **flags):
    return key(r"UserDatabase\%s" % name, Type="User", Name=name, Description="", RealName=real_name,
               Password=rcp.hex_string(rcp.scrambled(password.encode())), **flags)


def configuration(root, remote, ports):
    """The whole configuration as `.reg` text: the remote-control service on `remote`, the
    other services on `ports` (in SERVICES order)."""
    logs = os.path.join(root, "logs")
    text = rcp.service_reg(remote, logs)
    for (name, kind), port in zip(SERVICES, ports):
        service = r"Services\%s" % name
        text += key(service, ServiceType=kind, Name=name, Description="The gallery's " + name, PortNumber=port,
                    SpecifiedInterfaceAddress=1, InterfaceAddress="127.0.0.1", LogOptions=0x3FF)
        if kind.endswith("MappingService"):
            text += mappings(service + r"\Mappings", 7)
    text += limited_right(r"Services\Web Proxy\AccessRights", "Users can use the web proxy")
    text += limited_right(r"DefaultRights\Access", "Users can access services")
    text += rcp.user_reg(ADMIN, ADMIN_PASSWORD.encode(), administrator=True)
    text += (user("bob", "b0bsecret", "Bob Builder", AuditUser=1, AuditOptions=0x0F) +
             user("carol", "c4rolpw", "Carol Singer", UserMustChangePassword=1) +
             key(r"UserDatabase\Staff", Type="Group", Name="Staff", Description="Everyone on the floor") +
             key(r"UserDatabase\Staff\Members", bob=0, carol=0))
    for n, (pattern, who) in enumerate((("192.168.1.*", "bob"), ("10.0.*", "carol"))):
        text += key(r"Locations\Location%d" % n, Filter=pattern, InternalFilter=internal_filter(pattern),
                    Username=who)
    text += (key("Dialer", LoggingEnabled=1, LogOptions=3, TimerInterval=1) +
             key(r"Dialer\LocalSites", intranet=0) +
             key(r"Dialer\Profiles\Office", Name="Office", Description="The office line", AutoConnect=0,
                 AutoDisconnect=1, DisconnectAfter=5, ProfileName="Norvane Simulated Line", Username="office",
                 Password=rcp.hex_string(rcp.scrambled(b"d1alup")), Retries=3) +
             key(r"Dialer\Profiles\Office\AccessRights", RightType=0,
                 Description="Users can use this dialer account", IncludeDefaultRights=0) +
             key(r"Dialer\Profiles\Office\AccessRights\Recipient0", UserName="Staff",
                 Description="Restricted by location", SpecifyUser=1, SpecifyLocation=1) +
             key(r"Dialer\Profiles\Office\AccessRights\Recipient0\IncludedLocations", **{"192.168.1.*": 0}))
    text += (key("Cache", CacheDirectory=os.path.join(root, "cache"), CacheOptions=1, SpecifyWhatToCache=1,
                 LimitCacheSize=1, MaxSize=50, AutoPurge=1) +
             request_filter(r"Cache\CacheFilter", "No queries", [("CRequestCriterion", 17, 6, "", 1)]) +
             request_filter(r"Cache\PurgeFilter", "Stale entries", [("CCachePurgeCriterion", 7, 1, 720, 0)]))
    return text


def read_manifest(path=MANIFEST):
    """[(window, [dialog numbers])] in order."""
    entries = []
    with open(path) as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                fields = line.rstrip("\n").split("\t")
                entries.append((fields[0], [int(d) for d in fields[1].split(",") if d.strip() not in ("", "-")]))
    return entries


def inventory_dialogs(path=CONTROLS):
    """The dialog numbers of the control inventory."""
    with open(path) as f:
        rows = [line.split("\t") for line in f if line.strip() and not line.startswith("#")]
    return {int(row[0]) for row in rows[1:]}


def write_index(folder, shots):
    """index.html: every picture with its window's title, in order."""
    rows = "".join('<figure><figcaption>%s &mdash; %s</figcaption><img src="%s" alt="%s"></figure>\n' % (
        html.escape(name), html.escape(title), html.escape(name), html.escape(title)) for name, title in shots)
    with open(os.path.join(folder, "index.html"), "w") as f:
        f.write("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Wardenhall gallery</title>\n"
                "<style>body{font-family:sans-serif;background:#eee}figure{margin:1em 0}"
                "figcaption{font-weight:bold;margin:.3em 0}img{border:1px solid #999}</style></head>\n"
                "<body><h1>Wardenhall gallery</h1>\n" + rows + "</body></html>\n")


class Run:
    """An engine configured for the gallery with curl's download running through it, and the
    console logged on with its lists and the download in the activity tree."""

    def __init__(self, test, norvane, display=True, shots=None):
        self.norvane = norvane
        root = norvane.root
        os.makedirs(os.path.join(root, "logs"), exist_ok=True)
        os.makedirs(os.path.join(root, "cache"), exist_ok=True)
        self.remote = harness.free_port()
        self.ports = dict(zip((name for name, _ in SERVICES), harness.free_ports(len(SERVICES))))
        norvane.import_reg(configuration(root, self.remote, [self.ports[name] for name, _ in SERVICES]))
        norvane.install_and_start()
        norvane.wait_for_port(self.remote)
        norvane.wait_for_port(self.ports["Web Proxy"])
        self.url, self.curl = consoledriver.slow_download(test, self.ports["Web Proxy"])
        self.console = consoledriver.Console(norvane, "127.0.0.1", self.remote, ADMIN, display=display,
                                             shots=shots, screen=SCREEN)
        test.addCleanup(self.console.process.kill)
        self.console.do("logon " + ADMIN_PASSWORD)
        self.console.do("wait " + consoledriver.ONLINE)
        self.console.do("wait view cfg 130 -")
        self.console.do("wait view act 74 item 7 GET " + self.url)
        # The services come as notices, which may trail the lists.
        for name, _ in SERVICES:
            self.console.do("seen view cfg 32 item 3 " + name)

    def gallery(self, manifest=MANIFEST):
        """Walks the manifest; returns ([(file name, title)], [missing lines], [unmasked lines],
        [cut lines]) and writes index.html."""
        reports = self.console.do("gallery %s %s" % (manifest, " ".join(SECRETS)), timeout=harness.scaled(300))
        shots = [line[len("saved "):].split("|", 1) for line in reports if line.startswith("saved ")]
        shots = [(os.path.basename(path), title) for path, title in shots]
        write_index(self.console.shots, shots)
        return tuple([shots] + [[line for line in reports if line.startswith(kind)]
                                for kind in ("missing ", "unmasked ", "cut ")])


class _Standalone(unittest.TestCase):
    """The run of `make gallery`, as a test case so the harness cleans up after it."""
    folder = None

    def runTest(self):
        norvane = harness.Norvane("gallery")
        self.addCleanup(norvane.close)
        display = "inherit" if os.environ.get("DISPLAY") else True
        run = Run(self, norvane, display=display, shots=self.folder)
        shots, missing, unmasked, cut = run.gallery()
        self.assertEqual(run.console.quit(), 0)
        norvane.close()
        norvane.remove()
        print("\n%d pictures in %s (index.html)" % (len(shots), os.path.abspath(self.folder)))
        for line in missing + unmasked + cut:
            print(line)
        self.assertEqual(missing + unmasked + cut, [])


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: gallery.py FOLDER\n")
        return 2
    _Standalone.folder = os.path.abspath(argv[1])
    os.makedirs(_Standalone.folder, exist_ok=True)
    for old in os.listdir(_Standalone.folder):
        if old.endswith(".png") or old == "index.html":
            os.remove(os.path.join(_Standalone.folder, old))
    result = unittest.TextTestRunner(verbosity=1).run(_Standalone())
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
