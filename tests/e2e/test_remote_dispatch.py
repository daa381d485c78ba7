"""Every console request of the real NorvaneEngine through the independent client (rcp.py): who
may make each, round trips of every part of the configuration with their echoes to two
consoles, services started and stopped, a dialer profile dialled and reset, curl's sessions
watched and ended, messages, the cache managed, and the configuration saved and reloaded
before the engine is shut down."""

import os
import socket
import struct
import subprocess
import threading

import cacheindex
import harness
import rcp

ROOT, RCS = rcp.ROOT, b"Remote Control Service"
BASE = (rcp.user_reg("alice", b"wonder", administrator=True) +
        rcp.user_reg("dave", b"d4ve", administrator=True) +
        '[%s\\Cache]\n"CacheDirectory"="%%s"\n\n[%s\\Cache\\PurgeFilter\\Filter0]\n"Name"="all"\n\n'
        % (ROOT, ROOT))

# Guest's answer, then an administrator's: "+" [1, 3], "-" [2], "." not asked (a payload
# travels: the scenarios below make those requests).
MATRIX = ("10 -- 11 -- 12 ++ 13 ++ 20 -+ 21 -. 22 -. 23 -+ 24 -. 25 -. 26 -+ 27 -. 30 -+ 31 -. "
          "32 -. 33 -+ 40 -+ 41 -. 42 -. 50 -+ 51 -. 52 -. 53 -+ 54 -. 55 -+ 56 -+ 60 -+ 61 -. "
          "62 -. 63 -+ 70 -+ 71 -- 72 -- 73 -+ 74 -- 75 -- 76 -+ 80 -+ 81 -+ 82 -+ 83 -+ 84 -+ "
          "90 ++ 91 ++ 100 ++ 101 ++ 102 ++ 103 ++ 104 ++ 110 ++ 111 ++ 130 -+ 131 -. 132 -+ "
          "133 -+ 134 -+ 140 -. 0 -- 999 --").split()
NAMED = [((23, b"Administrator"), "--"), ((23, b"Guest"), "--"), ((23, b"administrator"), "-+"),
         ((26, b"Administrators"), "--"), ((26, b"Users"), "--"), ((33, RCS), "--"),
         ((34, b"none"), "--"), ((35, b"none", b"1"), "--"), ((35, RCS, b"1"), "-+"),
         ((120, b"Guest", b"", b""), "+-"), ((120, b"alice", b"wonder", b"wonder"), "-+")]


def web_reg(name, port):
    return ('[%s\\Services\\%s]\n"ServiceType"="CWWWService"\n"Name"="%s"\n'
            '"PortNumber"=dword:%08x\n\n' % (ROOT, name, name, port))


def location(text, internal, user):
    return b"".join(map(rcp.archive_string, (internal, text, user)))


LINE = b"Norvane Simulated Line"
DIALER_REG = r'''[{root}\Dialer]
"LogOptions"=dword:00000003

[{root}\Dialer\LocalSites]
"intranet"=dword:00000000

[{root}\Dialer\Profiles\Home]
"Name"="Home"
"AutoConnect"=dword:00000000
"ProfileName"="Norvane Simulated Line"
"Username"="bob"
"Password"={password}

[{root}\Dialer\Profiles\Home\AccessRights]
"Description"="Users can use this dialer account"
"IncludeDefaultRights"=dword:00000000

'''.format(root=ROOT, password=rcp.hex_string(rcp.scrambled(b"\x02pw")))


def profile(name, status, auto_connect=0, user=b"bob", password=b"\x02pw", retries=3):
    """A dialer profile's archive form, its access right without recipients."""
    s = rcp.archive_string
    return (s(name) + s(b"") + struct.pack("<3I", auto_connect, 1, 180) + s(LINE) + s(user) +
            s(rcp.scrambled(password)) + s(b"") + struct.pack("<I", retries) + s(status) +
            struct.pack("<I", 0) + s(b"Users can use this dialer account") +
            struct.pack("<IH", 0, 0))


def dialer(profiles, phonebook, sites, words=(1, 3, 2)):
    """The dialer's archive form: `profiles` by name, the two lists, LoggingEnabled, LogOptions
    and TimerInterval."""
    strings = lambda items: struct.pack("<H", len(items)) + b"".join(map(rcp.archive_string, items))
    return (struct.pack("<I", len(profiles)) +
            b"".join(rcp.archive_string(name) + image for name, image in profiles) +
            strings(phonebook) + strings(sites) + struct.pack("<3I", *words))


def serve_slowly(listener):
    """Answers each request with its head and the start of a body, then nothing more."""
    held = []
    while True:
        try:
            conn = listener.accept()[0]
        except OSError:
            return
        conn.recv(65536)
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1000000\r\n\r\n" + b"x" * 999)
        held.append(conn)


class RemoteDispatch(harness.EngineTestCase):
    def start(self, reg=""):
        self.norvane = self.new_norvane()
        self.port = harness.free_port()
        self.cache = os.path.join(self.norvane.root, "cache")
        logs = os.path.join(self.norvane.root, "logs")
        self.norvane.import_reg(rcp.service_reg(self.port, logs) + BASE % self.cache + reg)
        self.norvane.install_and_start()
        self.norvane.wait_for_port(self.port)

    def console(self, user=b"alice", password=b"wonder", source=None, register=True):
        client = rcp.Client.connect(self.port, user, password, source=source)
        self.addCleanup(client.close)
        self.assertEqual(client.logon().op, rcp.LOGGED_ON)
        if register:
            self.ok(client, 80)
        return client

    def ok(self, client, op, *args, send=(), expect=(1, 3), receive=0):
        statuses, images, _ = client.transact(op, args, send=send, receive=receive)
        self.assertEqual(statuses, list(expect), (op, args))
        return images

    def test_permission_matrix(self):
        self.start()
        # Guest first: an administrator's log-on from the same host then makes the machine
        # hers, and Guest's console keeps Guest's rights.
        guest, alice = self.console(b"Guest", b"", register=False), self.console(register=False)
        rows = [((int(code),), who) for code, who in zip(MATRIX[::2], MATRIX[1::2])] + NAMED
        for request, answers in rows:
            for client, answer in zip((guest, alice), answers):
                if answer != ".":
                    receive = {40: 11, 60: 1, 130: 1}.get(request[0], 0) if answer == "+" else 0
                    self.ok(client, *request, expect=(1, 3) if answer == "+" else (2,),
                            receive=receive)

    def test_configuration_round_trips_and_echoes(self):
        self.start()
        alice, dave = self.console(), self.console(b"dave", b"d4ve")
        self.ok(alice, 20)
        entries = {m.args[0]: m.objects[0] for m in alice.collect({22, 25}, 6)}
        erin = rcp.set_fields(entries[b"alice"], rcp.USER, {0: b"erin"})
        staff = rcp.set_fields(entries[b"Users"], "s", {0: b"Staff"})
        ten, lan = location(b"10.*", b"010???", b"dave"), location(b"192.*", b"192???", b"Guest")
        # Each change reaches both consoles with the record that the engine now holds.
        for op, args, record in ((22, (b"erin",), erin), (25, (b"Staff",), staff),
                                 (27, (b"Staff",), staff), (52, (b"10.*",), ten),
                                 (52, (b"192.*",), lan),
                                 (54, (b"10.*", b"10.*"), location(b"10.*", b"010???", b"alice"))):
            self.ok(alice, op, *args, send=[record])
            for console in (alice, dave):
                self.assertEqual(console.wait_for(op, *args).objects, [record])
        for op, name in ((26, b"Staff"), (55, b"192.*"), (53, b"10.*")):
            self.ok(alice, op, name)
            dave.wait_for(op, name)
        # Refused with nothing changed and the stream in step: a record naming another user, a
        # user in a group's name, a group in a user's; a modify for nobody is read and dropped.
        for op, name, record in ((22, b"frank", erin),
                                 (22, b"Users", rcp.set_fields(erin, rcp.USER, {0: b"Users"})),
                                 (25, b"dave", rcp.set_fields(staff, "s", {0: b"dave"}))):
            self.ok(alice, op, name, send=[record], expect=(1, 4))
        self.ok(alice, 24, b"nobody", send=[rcp.set_fields(erin, rcp.USER, {0: b"nobody"})])
        # Disabled after log-on: refused. Deleting a group of her name leaves her; deleting
        # her ends her machine's sessions.
        erin_console = self.console(b"erin", b"wonder", source="127.0.0.4", register=False)
        self.ok(alice, 24, b"erin", send=[rcp.set_fields(erin, rcp.USER, {30: 0})])
        self.ok(erin_console, 90, expect=(2,))
        self.ok(alice, 26, b"erin")
        self.ok(alice, 23, b"erin")
        self.assertEqual(dave.wait_for(23).args[0], b"erin")
        self.assertTrue(erin_console.at_end())

        # Whole uploads: the database (refused without a built-in entry), the eleven rights
        # (one cut short fails them all; kind 5 given kind 0's recipients lets Guest watch
        # activity), the locations (listed back in their order).
        keys = [k for k in entries if k != b"Guest"] + [b"gina"]
        entries[b"gina"] = rcp.set_fields(erin, rcp.USER, {0: b"gina"})
        database = lambda keys: rcp.tagged([(b"CGroup" if k in (b"Administrators", b"Users") else
                                             b"CUser", entries[k]) for k in keys], keys)
        self.ok(alice, 21, send=[database(keys)], expect=(1, 4))
        self.ok(alice, 21, send=[database(keys + [b"Guest"])])
        self.console(b"gina", b"wonder", register=False)
        rights = self.ok(alice, 40, receive=11)
        self.ok(alice, 41, send=rights[:10] + [rights[10][:-1]], expect=(1, 4))
        self.assertEqual(self.ok(alice, 40, receive=11), rights)
        self.ok(alice, 42, send=rights[:5] + [rights[0]] + rights[6:])
        self.assertEqual(dave.wait_for(42).objects[5], b"\x05\0\0\0" + rights[0][4:])
        self.ok(self.console(b"Guest", b"", register=False), 70)
        self.ok(alice, 51, send=[rcp.tagged([(b"CLocation", lan), (b"CLocation", ten)])])
        self.ok(alice, 50)
        self.assertEqual([m.objects[0] for m in alice.collect({52}, 2)], [lan, ten])

    def test_services_and_the_configuration_kept(self):
        web_port, added, moved, fresh = harness.free_ports(4)
        self.start(web_reg("Web", web_port) + web_reg("Legacy", 1).replace("CWWWService", "CNone"))
        alice, dave = self.console(), self.console(b"dave", b"d4ve")
        self.ok(alice, 30)
        listed = {m.args[0]: m.objects[0] for m in alice.collect({32}, 2)}
        web_class, web = rcp.untag(listed[b"Web"])
        service = lambda name, port, restart=0: rcp.set_fields(
            web, rcp.SERVICE, {0: name, 2: port, 14: restart})

        # Added, it listens; stopped and started, its port closes and opens; modified with a
        # restart, it moves. Both consoles hear of each change and the state after it.
        self.ok(alice, 32, b"Web2", send=[rcp.tagged([(web_class, service(b"Web2", added))])[2:]])
        self.norvane.wait_for_port(added)
        dave.wait_for(32, b"Web2")
        for state in (b"0", b"1"):
            self.ok(alice, 35, b"Web2", state)
            dave.wait_for(35, b"Web2", state)
            harness.wait_until(lambda: harness.port_accepts(added) == (state == b"1"),
                               message="port %d not %s" % (added, "open" if state == b"1" else "closed"))
        self.ok(alice, 34, b"Web2", send=[service(b"Web2", moved, restart=1)])
        dave.wait_for(34, b"Web2")
        self.norvane.wait_for_port(moved)
        harness.wait_until(lambda: not harness.port_accepts(added), message="the old port stays open")
        # Refused: a record naming another service, one in the console service's name.
        self.ok(alice, 34, b"Web2", send=[service(b"Other", added)], expect=(1, 4))
        self.ok(alice, 32, RCS, send=[rcp.tagged([(web_class, service(RCS, added))])[2:]],
                expect=(1, 4))
        # A new list: the old services stop, the listed ones start, consoles still log on.
        rcs_class, rcs = rcp.untag(listed[RCS])
        self.ok(alice, 31, send=[rcp.tagged([(web_class, service(b"Web3", added)),
                                             (rcs_class, rcs)], [b"Web3", RCS])])
        self.norvane.wait_for_port(added)
        harness.wait_until(lambda: not (harness.port_accepts(moved) or harness.port_accepts(web_port)),
                           message="an old service still listens")
        self.console(register=False)

        # Saved: the key of a service the engine no longer holds goes, one of a kind it does
        # not know stays. Reloaded: a service added to the store starts.
        self.ok(alice, 12)
        stored = self.norvane.nvreg("export", ROOT + r"\Services", check=True).stdout
        self.assertEqual([k in stored for k in (r"\Web3]", r"\Legacy]", r"\Web]")],
                         [True, True, False])
        self.norvane.import_reg(web_reg("Fresh", fresh))
        self.ok(alice, 13)
        self.norvane.wait_for_port(fresh)
        # Shut down: the status comes first, then the connection and the engine end.
        closer = self.console(register=False)
        self.ok(closer, 140)
        self.assertTrue(closer.at_end())
        self.norvane.wait_for_engine_end()

    def test_dialer_settings_dial_and_hang_up(self):
        self.start(DIALER_REG)
        alice, dave = self.console(), self.console(b"dave", b"d4ve")
        # Sent as the store holds it, with the status the first idle check gave.
        home = dialer([(b"Home", profile(b"Home", b"Off-Line"))], [LINE], [b"intranet"])
        harness.wait_until(lambda: self.ok(alice, 60, receive=1) == [home], interval=0.5,
                           message="the dialer was not sent as stored")

        # Refused whole: a profile whose name cannot be a key, a site with a control character.
        away = profile(b"Away", b"Off-Line", auto_connect=1, user=b"carol", password=b"", retries=1)
        for bad in (dialer([(b"a/b", profile(b"a/b", b""))], [], []),
                    dialer([], [], [b"lan\n"]), dialer([], [], [])[:-1]):
            self.ok(alice, 62, send=[bad], expect=(1, 4))
        # Modified: a profile added, one kept with new settings, the lists and words replaced;
        # both consoles get the dialer as it now stands.
        changed = dialer([(b"Away", away), (b"Home", profile(b"Home", b"Off-Line", retries=5))],
                         [LINE], [b"intranet", b"lan"], (1, 3, 4))
        self.ok(alice, 62, send=[changed])
        for console in (alice, dave):
            self.assertEqual(console.wait_for(62).objects, [changed])
        self.ok(alice, 12)
        stored = self.norvane.nvreg("export", ROOT + r"\Dialer", check=True).stdout
        for text in (r"\Profiles\Away]", '"Username"="carol"', '"Retries"=dword:00000005',
                     '"lan"=dword:00000000', '"TimerInterval"=dword:00000004'):
            self.assertIn(text, stored)

        # Dialled and reset on the consoles' request; every console sees each status.
        def statuses(console, last):
            texts = []
            while not texts or texts[-1] != last:
                texts.append(console.wait_for(63, b"Home").args[2])
            return texts
        self.ok(alice, 63, b"Home", b"1")
        self.assertEqual(statuses(dave, b"On line to " + LINE), [
            b"Dialling " + LINE, b"Opening Port", b"Port Opened",
            b"Connecting to Norvane Simulated Modem", b"Connected", b"All devices connected",
            b"Verifying username and password", b"Registering your computer on the network",
            b"Calculating Link Speed", b"On line to " + LINE])
        for args in ((b"Nobody", b"1"), (b"Home", b"one")):
            self.ok(alice, 63, *args)
        self.ok(alice, 63, b"Home", b"0")
        self.assertEqual(statuses(dave, b"Disconnected from " + LINE),
                         [b"Disconnecting from " + LINE, b"Disconnected from " + LINE])
        # An upload that names no profile removes them all; TimerInterval 0 stops the idle
        # checks and nothing else.
        self.ok(alice, 61, send=[dialer([], [], [], (1, 3, 0))])
        self.assertEqual(self.ok(alice, 60, receive=1), [dialer([], [LINE], [], (1, 3, 0))])

    def test_activity_messages_and_cache(self):
        proxy, origin = harness.free_ports(2)
        self.start(web_reg("Web", proxy))
        site = os.path.join(self.norvane.root, "site")
        os.makedirs(site)
        for name in "abc":
            with open(os.path.join(site, name), "w") as f:
                f.write(name * 5000)
        self.norvane.spawn(["/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1",
                            str(origin)], cwd=site, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        self.norvane.wait_for_port(origin)
        slow = socket.create_server(("127.0.0.1", 0))
        self.addCleanup(slow.close)
        threading.Thread(target=serve_slowly, args=(slow,), daemon=True).start()
        alice, dave = self.console(), self.console(b"dave", b"d4ve", source="127.0.0.3")
        curl = lambda name, port=origin: subprocess.Popen(
            ["curl", "-sS", "--max-time", "%d" % (2 * harness.WAIT_TIMEOUT), "--interface", "127.0.0.2", "-x",
             "127.0.0.1:%d" % proxy, "-o", "/dev/null", "-w",
             "%{size_header} %{size_download} %{size_request}",
             "http://127.0.0.1:%d/%s" % (port, name)], stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)

        # A session seen from start to end, its counters what curl got and sent.
        header, body, request = map(int, curl("a").communicate()[0].split())
        alice.wait_for(71, b"127.0.0.2")
        session = alice.wait_for(74, b"127.0.0.2").args[1]
        counters = alice.wait_for(76, b"127.0.0.2", session).args[2].split()
        self.assertEqual(counters[:2], [b"%d" % (header + body), b"%d" % request])
        # Listed, then ended from the console: the session, then its whole machine.
        for op, gone in ((76, 76), (73, 73)):
            transfer = curl("", slow.getsockname()[1])
            session = alice.wait_for(75, b"127.0.0.2").args[1]
            self.ok(alice, 70)
            alice.wait_for(74, b"127.0.0.2", session)
            self.ok(alice, op, b"127.0.0.2", session)
            transfer.communicate(timeout=harness.WAIT_TIMEOUT)
            self.assertNotEqual(transfer.returncode, 0)
            alice.wait_for(gone, b"127.0.0.2")
        # Messages go to the consoles of the address named.
        self.ok(alice, 91, b"127.0.0.3", b"hello")
        self.assertEqual(dave.wait_for(91).args, (b"127.0.0.1", b"alice", b"hello"))
        self.ok(alice, 100, b"127.0.0.3")
        self.assertEqual(dave.wait_for(101).args, (b"127.0.0.1", b"alice", b""))

        # The cache: removed by URL, an entry loses its file; a rebuild drops the entry whose
        # file went; the purge (its filter holds for all) empties it; storing turned off by
        # the settings sent back (both consoles hear of them) keeps nothing.
        for name in "bc":
            curl(name).communicate()
        index = os.path.join(self.cache, "cache.idx")

        def stored():  # a, b, c: a store is booked after the client has its answer
            try:
                records = {r.url[-1:]: r for r in cacheindex.read(index)}
            except (OSError, cacheindex.DamagedIndex):
                return None  # not made yet, or being rewritten
            return set(records) == {b"a", b"b", b"c"} and records
        records = harness.wait_until(stored)
        files = {k: os.path.join(self.cache, r.file_name.decode() + ".nvc")
                 for k, r in records.items()}
        self.ok(alice, 133, b"HTTP://127.0.0.1:%d/a" % origin)
        os.remove(files[b"b"])
        # After a rebuild and after a purge, both consoles are sent the new totals (bytes
        # cached, hits times size).
        for op, gone, left in ((134, b"a", [records[b"c"]]), (132, b"c", [])):
            self.ok(alice, op)
            self.assertEqual((os.path.exists(files[gone]), cacheindex.read(index)), (False, left))
            for console in (alice, dave):
                image = console.wait_for(131).objects[0]
                totals = struct.unpack_from("<dd", image, rcp.read_string(image, 0)[1] + 7 * 4)
                self.assertEqual(totals, (float(sum(r.size for r in left)), 0.0), op)
        off = rcp.set_fields(self.ok(alice, 130, receive=1)[0], rcp.CACHE, {1: 0})
        self.ok(alice, 131, send=[off])
        prefix = off[:len(self.cache) + 5]  # the folder and CacheOptions
        for console in (alice, dave):
            self.assertEqual(console.wait_for(131).objects[0][:len(prefix)], prefix)
        curl("c").communicate()
        self.ok(alice, 134)
        self.assertEqual(cacheindex.read(index), [])


if __name__ == "__main__":
    harness.main()
