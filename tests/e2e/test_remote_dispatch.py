"""Every console request of the real NorvaneEngine through the independent client (rcp.py): who
may make each, the round trips of every part of the configuration with their echoes to two
consoles, services started and stopped, activity watched and ended while curl uses the web
proxy, messages between consoles, the cache managed, and the configuration saved, reloaded
and the engine shut down."""

import os
import socket
import subprocess
import threading

import cacheindex
import harness
import rcp

ROOT = rcp.ROOT
RCS = b"Remote Control Service"
NOWHERE = b"10.255.255.1"
USERS = (rcp.user_reg("alice", b"wonder", administrator=True) +
         rcp.user_reg("dave", b"d4ve", administrator=True))
# Each engine's cache in its own folder, with a purge filter that holds for every entry.
CACHE_REG = ('[%s\\Cache]\n"CacheDirectory"="%%s"\n\n[%s\\Cache\\PurgeFilter\\Filter0]\n'
         '"Name"="everything"\n\n') % (ROOT, ROOT)

# Each request, then whether Guest and an administrator may make it: True [1, 3], False [2],
# None not asked here (a payload travels: the round trips below make those requests).
MATRIX = [
    ((10,), False, False), ((11,), False, False), ((12,), True, True), ((13,), True, True),
    ((20,), False, True), ((21,), False, None), ((22, b"x"), False, None),
    ((23, b"Administrator"), False, False), ((23, b"Guest"), False, False),
    ((23, b"administrator"), False, True), ((24, b"x"), False, None), ((25, b"x"), False, None),
    ((26, b"Administrators"), False, False), ((26, b"Users"), False, False),
    ((26, b"users"), False, True), ((27, b"x"), False, None),
    ((30,), False, True), ((31,), False, None), ((32, b"x"), False, None),
    ((33, RCS), False, False), ((33, b"none"), False, True), ((34, b"none"), False, False),
    ((34, RCS), False, None), ((35, b"none", b"1"), False, False), ((35, RCS, b"1"), False, True),
    ((40,), False, True), ((41,), False, None), ((42,), False, None),
    ((50,), False, True), ((51,), False, None), ((52, b"x"), False, None),
    ((53, b"x"), False, True), ((54, b"x"), False, None), ((55, b"x"), False, True),
    ((56, b"x"), False, True),
    # The dialer's requests wait for the dialer.
    ((60,), False, False), ((61,), False, False), ((62,), False, False),
    ((63, b"line", b"1"), False, False),
    ((70,), False, True), ((71,), False, False), ((72,), False, False),
    ((73, NOWHERE), False, True), ((74,), False, False), ((75,), False, False),
    ((76, NOWHERE, b"1"), False, True),
    ((80,), False, True), ((81,), False, True), ((82,), False, True), ((83,), False, True),
    ((84,), False, True), ((90,), True, True), ((91, NOWHERE, b"hi"), True, True),
    ((100, NOWHERE), True, True), ((101,), True, True), ((102,), True, True),
    ((103,), True, True), ((104,), True, True), ((110,), True, True), ((111,), True, True),
    ((120, b"Guest", b"", b""), True, False), ((120, b"alice", b"wonder", b"wonder"), False, True),
    ((130,), False, True), ((131,), False, None), ((132,), False, True),
    ((133, b"http://nowhere/"), False, True), ((134,), False, True), ((140,), False, None),
    ((0,), False, False), ((999,), False, False),
]
# Requests that send objects to the console after status 1.
RECEIVES = {40: 11, 130: 1}


def web_reg(name, port, extra=""):
    return ('[%s\\Services\\%s]\n"ServiceType"="CWWWService"\n"Name"="%s"\n"Description"="%s"\n'
            '"PortNumber"=dword:%08x\n%s\n') % (ROOT, name, name, name, port, extra)


def location(filter_text, internal, user):
    return b"".join(rcp.archive_string(text) for text in (internal, filter_text, user))


def tagged_one(class_name, record):
    return rcp.tagged([(class_name, record)])[2:]


class SlowOrigin(threading.Thread):
    """Answers every request with the head and the first bytes of a long body, then waits
    for the proxy to go."""

    def __init__(self, test):
        super().__init__(daemon=True)
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        test.addCleanup(self.listener.close)
        self.start()

    def run(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    @staticmethod
    def serve(conn):
        with conn:
            conn.recv(65536)
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1000000\r\n\r\n" + b"x" * 1000)
            conn.recv(1)


class RemoteDispatch(harness.EngineTestCase):
    def start(self, reg=""):
        self.norvane = self.new_norvane()
        self.port = harness.free_port()
        self.logs = os.path.join(self.norvane.root, "logs")
        self.cache = os.path.join(self.norvane.root, "cache")
        self.norvane.import_reg(rcp.service_reg(self.port, self.logs) + USERS + CACHE_REG % self.cache
                                + reg)
        self.norvane.install_and_start()
        self.norvane.wait_for_port(self.port)

    def console(self, user=b"alice", password=b"wonder", source=None, register=True):
        client = rcp.Client.connect(self.port, user, password, source=source)
        self.addCleanup(client.close)
        self.assertEqual(client.logon().op, rcp.LOGGED_ON)
        if register:
            self.assertEqual(client.transact(80)[0], [1, 3])
        return client

    def ok(self, client, op, *args, send=(), expect=(1, 3)):
        statuses, _, _ = client.transact(op, args, send=send)
        self.assertEqual(statuses, list(expect), (op, args))

    def test_permission_matrix(self):
        self.start()
        # Guest first: an administrator's log-on from the same host then makes the machine
        # hers, and Guest's console keeps Guest's rights.
        guest = self.console(b"Guest", b"", register=False)
        alice = self.console(register=False)
        for request, as_guest, as_alice in MATRIX:
            for client, granted, who in ((guest, as_guest, "Guest"), (alice, as_alice, "alice")):
                if granted is None:
                    continue
                receive = RECEIVES.get(request[0], 0) if granted else 0
                statuses, images, _ = client.transact(request[0], request[1:], receive=receive)
                self.assertEqual((statuses, len(images)), ([1, 3] if granted else [2], receive),
                                 (who, request))

    def test_users_groups_rights_and_locations(self):
        self.start()
        alice, dave = self.console(), self.console(b"dave", b"d4ve")
        self.ok(alice, 20)
        entries = {m.args[0]: m.objects[0] for m in alice.collect({22, 25}, 6)}
        names = [b"Administrator", b"Guest", b"alice", b"dave", b"Administrators", b"Users"]
        self.assertEqual(sorted(entries), sorted(names))

        # Added: both consoles hear of it with its record, and the user may log on.
        erin = rcp.set_fields(entries[b"alice"], rcp.USER, {0: b"erin"})
        self.ok(alice, 22, b"erin", send=[erin])
        for console in (alice, dave):
            self.assertEqual(console.wait_for(22, b"erin").objects, [erin])
        erin_console = self.console(b"erin", b"wonder", source="127.0.0.4", register=False)
        # Refused, nothing changed, the stream in step: a record that names another user, a
        # user under a group's name, a group under a user's.
        for op, name, record in ((22, b"frank", erin),
                                 (22, b"Users", rcp.set_fields(erin, rcp.USER, {0: b"Users"})),
                                 (25, b"dave", rcp.set_fields(entries[b"Users"], "s", {0: b"dave"}))):
            self.ok(alice, op, name, send=[record], expect=(1, 4))
        # A disabled account is refused its next request; a modify for nobody reads its record.
        self.ok(erin_console, 90)
        disabled = rcp.set_fields(erin, rcp.USER, {30: 0})
        self.ok(alice, 24, b"erin", send=[disabled])
        self.assertEqual(dave.wait_for(24, b"erin").objects, [disabled])
        self.ok(erin_console, 90, expect=(2,))
        self.ok(alice, 24, b"nobody", send=[rcp.set_fields(erin, rcp.USER, {0: b"nobody"})])
        # Deleting a group of a user's name leaves the user (its modify is still echoed).
        self.ok(alice, 26, b"erin")
        self.ok(alice, 24, b"erin", send=[erin])
        self.assertEqual(dave.wait_for(24, b"erin").objects, [erin])
        # Deleted: with the machine that was hers.
        self.ok(alice, 23, b"erin")
        dave.wait_for(23, b"erin")
        self.assertTrue(erin_console.at_end())
        self.assertEqual(rcp.connect_refused(self.port, b"erin", b"wonder"), 107)

        staff = rcp.set_fields(entries[b"Users"], "s", {0: b"Staff"})
        for op in (25, 27):
            self.ok(alice, op, b"Staff", send=[staff])
            self.assertEqual(dave.wait_for(op, b"Staff").objects, [staff])
        self.ok(alice, 26, b"Staff")
        dave.wait_for(26, b"Staff")

        # The whole database: refused without a built-in entry or cut short, else taken.
        def database(keys):
            return rcp.tagged([(b"CGroup" if k in (b"Administrators", b"Users") else b"CUser",
                                entries[k]) for k in keys], keys)
        entries[b"gina"] = rcp.set_fields(erin, rcp.USER, {0: b"gina"})
        for image in (database(names[1:] + [b"gina"]), database(names)[:-3]):
            self.ok(alice, 21, send=[image], expect=(1, 4))
        self.ok(alice, 21, send=[database(names + [b"gina"])])
        self.console(b"gina", b"wonder", register=False)

        # The eleven rights: one cut short fails them all; kind 5 (activity monitoring) given
        # the access right's recipients lets Guest list activity.
        _, rights, _ = alice.transact(40, receive=11)
        self.ok(alice, 41, send=rights[:10] + [rights[10][:-1]], expect=(1, 4))
        self.assertEqual(alice.transact(40, receive=11)[1], rights)
        guest = self.console(b"Guest", b"", register=False)
        self.ok(guest, 70, expect=(2,))
        everyone = rights[:5] + [rights[0]] + rights[6:]
        self.ok(alice, 42, send=everyone)
        self.assertEqual(dave.wait_for(42).objects[5], b"\x05\0\0\0" + rights[0][4:])
        self.ok(guest, 70)

        # Locations: added, promoted, listed in order, modified, deleted, uploaded whole.
        ten, lan = location(b"10.*", b"010???", b"dave"), location(b"192.168.*", b"192168???", b"Guest")
        for record, text in ((ten, b"10.*"), (lan, b"192.168.*")):
            self.ok(alice, 52, text, send=[record])
            self.assertEqual(dave.wait_for(52, text).objects, [record])
        self.ok(alice, 55, b"192.168.*")
        dave.wait_for(55, b"192.168.*")
        self.ok(alice, 50)
        self.assertEqual([m.args[0] for m in alice.collect({52}, 2)], [b"192.168.*", b"10.*"])
        changed = location(b"10.*", b"010???", b"alice")
        self.ok(alice, 54, b"10.*", b"10.*", send=[changed])
        self.assertEqual(dave.wait_for(54, b"10.*").objects, [changed])
        self.ok(alice, 53, b"10.*")
        dave.wait_for(53, b"10.*")
        self.ok(alice, 51, send=[rcp.tagged([(b"CLocation", ten), (b"CLocation", lan)])])
        self.ok(alice, 50)
        self.assertEqual([m.objects[0] for m in alice.collect({52}, 2)], [ten, lan])

    def test_services_added_started_stopped_and_replaced(self):
        web_port, added, moved, listed_port = harness.free_ports(4)
        self.start(web_reg("Web", web_port))
        alice, dave = self.console(), self.console(b"dave", b"d4ve")
        self.ok(alice, 30)
        listed = {m.args[0]: m.objects[0] for m in alice.collect({32}, 2)}
        web_class, web = rcp.untag(listed[b"Web"])

        def service(name, port, restart=0):
            return rcp.set_fields(web, rcp.SERVICE, {0: name, 2: port, 14: restart})

        # Added: it listens, and both consoles hear of it and its state.
        self.ok(alice, 32, b"Web2", send=[tagged_one(web_class, service(b"Web2", added))])
        self.norvane.wait_for_port(added)
        for console in (alice, dave):
            console.wait_for(32, b"Web2")
            console.wait_for(35, b"Web2", b"1")
        for state in (b"0", b"1"):
            self.ok(alice, 35, b"Web2", state)
            dave.wait_for(35, b"Web2", state)
            self.assertEqual(harness.port_accepts(added), state == b"1")
        # Modified with a restart: it moves to its new port.
        self.ok(alice, 34, b"Web2", send=[service(b"Web2", moved, restart=1)])
        dave.wait_for(34, b"Web2")
        self.norvane.wait_for_port(moved)
        self.assertFalse(harness.port_accepts(added))
        # Refused: a record naming another service, a service in the console's own place.
        self.ok(alice, 34, b"Web2", send=[service(b"Other", added)], expect=(1, 4))
        self.ok(alice, 32, RCS, send=[tagged_one(web_class, service(RCS, added))], expect=(1, 4))
        self.ok(alice, 33, b"Web2")
        dave.wait_for(33, b"Web2")
        harness.wait_until(lambda: not harness.port_accepts(moved))

        # A new list: the old services stop, the listed ones start, and the console's own
        # service is back on its port for the next console.
        rcs_class, rcs = rcp.untag(listed[RCS])
        new_list = rcp.tagged([(web_class, service(b"Web", listed_port)), (rcs_class, rcs)],
                              [b"Web", RCS])
        self.ok(alice, 31, send=[new_list])
        self.norvane.wait_for_port(listed_port)
        self.assertFalse(harness.port_accepts(web_port))
        self.console(register=False)
        self.ok(alice, 30)

    def test_activity_messages_and_cache(self):
        proxy, origin_port = harness.free_ports(2)
        self.start(web_reg("Web", proxy))
        site = os.path.join(self.norvane.root, "site")
        os.makedirs(site)
        for name in ("a", "b", "c"):
            with open(os.path.join(site, name), "wb") as f:
                f.write(name.encode() * 5000)
        self.norvane.spawn(["/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1",
                            str(origin_port)], cwd=site, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        self.norvane.wait_for_port(origin_port)
        alice, dave = self.console(), self.console(b"dave", b"d4ve", source="127.0.0.3")

        def curl(path, *more):
            return subprocess.run(["curl", "-sS", "--max-time", "20", "--interface", "127.0.0.2",
                                   "-x", "127.0.0.1:%d" % proxy, "-o", "/dev/null", "-w",
                                   "%{size_header} %{size_download} %{size_request}"] + list(more)
                                  + ["http://127.0.0.1:%d/%s" % (origin_port, path)],
                                  capture_output=True, timeout=60)

        # A proxy session seen from start to end; its counters are what curl sent and got.
        done = curl("a")
        header, body, request = map(int, done.stdout.split())
        alice.wait_for(71, b"127.0.0.2")
        session = alice.wait_for(74, b"127.0.0.2").args[1]
        ended = alice.wait_for(76, b"127.0.0.2", session)
        self.assertEqual(ended.args[2].split()[:2], [b"%d" % (header + body), b"%d" % request])

        # Ending a session or a whole machine from the console cuts a transfer off.
        slow = SlowOrigin(self)
        for op in (76, 73):
            transfer = subprocess.Popen(["curl", "-sS", "--max-time", "30", "--interface",
                                         "127.0.0.2", "-x", "127.0.0.1:%d" % proxy, "-o",
                                         "/dev/null", "http://127.0.0.1:%d/" % slow.port],
                                        stderr=subprocess.DEVNULL)
            self.addCleanup(transfer.kill)
            session = alice.wait_for(75, b"127.0.0.2").args[1]
            self.ok(alice, 70)
            alice.wait_for(74, b"127.0.0.2", session)
            self.ok(alice, op, b"127.0.0.2", session)
            self.assertNotEqual(transfer.wait(10), 0)
            alice.wait_for(76 if op == 76 else 73, b"127.0.0.2")

        # Messages reach the consoles of the address named, with the sender's address and user.
        self.ok(alice, 91, b"127.0.0.3", b"hello")
        self.assertEqual(dave.wait_for(91).args, (b"127.0.0.1", b"alice", b"hello"))
        self.ok(alice, 100, b"127.0.0.3")
        self.assertEqual(dave.wait_for(101).args, (b"127.0.0.1", b"alice", b""))

        # The cache: an entry removed by URL loses its file; a rebuild drops the entry whose
        # file went; a purge with a filter that holds for everything empties the cache.
        cache = self.cache
        index = os.path.join(cache, "cache.idx")
        for path in ("b", "c"):
            self.assertEqual(curl(path).returncode, 0)
        records = {r.url.rsplit(b"/", 1)[1]: r for r in cacheindex.read(index)}
        files = {k: os.path.join(cache, r.file_name.decode() + ".nvc") for k, r in records.items()}
        self.ok(alice, 133, b"HTTP://127.0.0.1:%d/a" % origin_port)
        self.assertFalse(os.path.exists(files[b"a"]))
        os.remove(files[b"b"])
        self.ok(alice, 134)
        self.assertEqual(cacheindex.read(index), [records[b"c"]])
        self.ok(alice, 132)
        self.assertEqual((cacheindex.read(index), os.path.exists(files[b"c"])), ([], False))
        # Settings fetched and sent back with storing off: both consoles hear, nothing is kept.
        _, (settings,), _ = alice.transact(130, receive=1)
        self.ok(alice, 131, send=[rcp.set_fields(settings, rcp.CACHE, {1: 0})])
        prefix = rcp.archive_string(cache.encode()) + b"\0\0\0\0"
        for console in (alice, dave):
            self.assertEqual(console.wait_for(131).objects[0][:len(prefix)], prefix)
        self.assertEqual(curl("c").returncode, 0)
        self.ok(alice, 134)
        self.assertEqual(cacheindex.read(index), [])

    def test_save_reload_and_shut_down(self):
        web_port, fresh_port, moved_port = harness.free_ports(3)
        self.start(web_reg("Web", web_port) + web_reg("Legacy", 1).replace("CWWWService", "CNoSuch"))
        alice = self.console(register=False)
        services = lambda: self.norvane.nvreg("export", ROOT + r"\Services", check=True).stdout

        # Saved: the deleted service's key goes, the one of a kind the engine does not know stays.
        self.ok(alice, 33, b"Web")
        self.ok(alice, 12)
        self.assertNotIn(r"\Services\Web]", services())
        self.assertIn(r"\Services\Legacy]", services())
        # Reloaded: a service added to the store starts, and one changed there moves.
        for port in (fresh_port, moved_port):
            self.norvane.import_reg(web_reg("Fresh", port))
            self.ok(alice, 13)
            self.norvane.wait_for_port(port)
        self.assertFalse(harness.port_accepts(fresh_port))

        # Shut down: the status comes first, then the connection and the engine end.
        self.ok(alice, 140)
        self.assertTrue(alice.at_end())
        self.norvane.wait_for_engine_end()
        self.assertFalse(harness.port_accepts(moved_port))


if __name__ == "__main__":
    harness.main()
