"""The web cache's index in the real NorvaneEngine: read at start-up (the later record of a key
wins and the earlier one's content file goes, names that are not the cache's own and a
damaged tail are dropped), rewritten whole, and written again at shut-down; read back with
the decoder in cacheindex.py. And the engine killed (SIGKILL) while web clients store into
its cache: every record survives, no file is left that no record names, and what the engine
writes is its user's alone."""

import hashlib
import http.server
import os
import signal
import socket
import stat
import threading

import cacheindex
import harness

ROOT = r"HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2"

# The record of an entry for "h/a" in file "00000001", written out by hand.
RECORD_HA = bytes.fromhex(
    "03 682f61"                    # URL "h/a"
    " 08 3030303030303031"         # file name "00000001"
    " 00105e5f"                    # last checked 0x5F5E1000
    " 78563412"                    # last modified 0x12345678
    " 09 746578742f68746d6c"       # content type "text/html"
    " d2040000"                    # size 1234
    " 03000000")                   # hits 3

HA = cacheindex.Record(b"h/a", b"00000001", 0x5F5E1000, 0x12345678, b"text/html", 1234, 3)


class CacheIndex(harness.EngineTestCase):
    def test_decoder_reads_the_record_layout(self):
        self.assertEqual(cacheindex.decode(RECORD_HA), [HA])
        self.assertEqual(cacheindex.encode(HA), RECORD_HA)
        self.assertEqual(cacheindex.decode(b""), [])
        with self.assertRaises(cacheindex.DamagedIndex):
            cacheindex.decode(RECORD_HA[:-1])

    def test_engine_loads_rewrites_and_writes_its_index(self):
        n = self.new_norvane()
        folder = os.path.join(n.root, "web cache")
        os.makedirs(folder)
        later = HA._replace(file_name=b"0000000Z", hits=7)
        foreign = HA._replace(url=b"h/b", file_name=b"../../ab")
        index = (RECORD_HA + cacheindex.encode(foreign) + cacheindex.encode(later)
                 + b"\x03h/c\x08")  # a record cut short
        path = os.path.join(folder, "cache.idx")
        with open(path, "wb") as f:
            f.write(index)
        for name in ("00000001", "0000000Z"):
            with open(os.path.join(folder, name + ".nvc"), "wb") as f:
                f.write(b"body")
        n.import_reg("[%s\\Cache]\n\"CacheDirectory\"=\"%s\"\n" % (ROOT, folder))

        n.install_and_start()

        def rewritten():
            try:
                return cacheindex.read(path) == [later]
            except cacheindex.DamagedIndex:
                return False
        harness.wait_until(rewritten, message=lambda: "index not rewritten\n" + n.diagnostics())
        self.assertFalse(os.path.exists(os.path.join(folder, "00000001.nvc")))
        self.assertTrue(os.path.exists(os.path.join(folder, "0000000Z.nvc")))

        os.truncate(path, 0)  # the shut-down writes it whole again
        self.assertEqual(n.stop().returncode, 0)
        self.assertEqual(cacheindex.read(path), [later])


def body_of(path):
    """The origin's body for `path`: the same bytes every time, 1-48 KiB."""
    seed = hashlib.sha256(path.encode()).digest()
    return (seed * 1600)[:1024 + int.from_bytes(seed[:2], "little") % (47 * 1024)]


class Origin(http.server.BaseHTTPRequestHandler):
    served = 0
    lock = threading.Lock()

    def do_GET(self):
        body = body_of(self.path)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except OSError:
            return  # the engine was killed meanwhile
        with Origin.lock:
            Origin.served += 1

    def log_message(self, *args):
        pass


KILL_REG = "[" + ROOT + r'''\Settings]
"LogFileDirectory"="{logs}"
"AuditDirectory"="{audit}"

[''' + ROOT + r'''\UserDatabase\Guest]
"Type"="User"
"Name"="Guest"
"AuditUser"=dword:00000001
"AuditOptions"=dword:000003ff

[''' + ROOT + r'''\Services\Web]
"ServiceType"="CWWWService"
"Name"="Web"
"Description"="Web"
"PortNumber"=dword:{port:08x}

[''' + ROOT + r'''\Cache]
"CacheDirectory"="{cache}"
'''


class CacheSurvivesKills(harness.EngineTestCase):
    CYCLES = 3
    CLIENTS = 6
    PATHS = 40

    def setUp(self):
        super().setUp()
        self.origin = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Origin)
        threading.Thread(target=self.origin.serve_forever, daemon=True).start()
        self.addCleanup(self.origin.server_close)
        self.addCleanup(self.origin.shutdown)

    def fetch(self, port, path, reload):
        """One GET through the proxy: the body, or None when the engine was not there to
        answer whole. A whole answer with a wrong byte fails the test."""
        url = "http://127.0.0.1:%d%s" % (self.origin.server_address[1], path)
        request = "GET %s HTTP/1.0\r\n%s\r\n" % (url, "Pragma: no-cache\r\n" if reload else "")
        try:
            with socket.create_connection(("127.0.0.1", port), harness.WAIT_TIMEOUT) as s:
                s.sendall(request.encode())
                answer = b""
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    answer += chunk
        except OSError:
            return None
        head, _, body = answer.partition(b"\r\n\r\n")
        lines = head.split(b"\r\n")
        length = [line.split(b":", 1)[1].strip() for line in lines
                  if line.lower().startswith(b"content-length:")]
        if lines[0].split(b" ")[1:2] != [b"200"] or not length or int(length[0]) != len(body):
            return None
        if body != body_of(path):
            self.wrong.append(path)
        return body

    def client(self, port, number):
        i = number
        while not self.done.is_set():
            if self.paused.is_set():
                self.idle[number].set()
                self.done.wait(0.01)
                continue
            self.idle[number].clear()
            self.fetch(port, "/o/%d" % (i % self.PATHS), reload=i % 3 == 0)
            i += self.CLIENTS + 1

    def check_folder(self, cache, expected):
        """The index holds exactly `expected` (key -> record), whole; every content file is a
        record's, with its size and its origin's bytes; everything the engine made is private."""
        index = os.path.join(cache, "cache.idx")
        loaded = {r.url: r for r in cacheindex.read(index)}
        self.assertEqual(loaded, expected)
        files = sorted(f for f in os.listdir(cache) if f != "cache.idx")
        self.assertEqual(files, sorted(r.file_name.decode() + ".nvc" for r in loaded.values()))
        for key, record in loaded.items():
            with open(os.path.join(cache, record.file_name.decode() + ".nvc"), "rb") as f:
                data = f.read()
            self.assertEqual(len(data), record.size, key)
            self.assertEqual(data, body_of("/" + key.decode().split("/", 1)[1]), key)
        for folder in (cache, self.logs, self.audit):
            self.assertEqual(stat.S_IMODE(os.stat(folder).st_mode), 0o700, folder)
            for name in os.listdir(folder):
                mode = stat.S_IMODE(os.stat(os.path.join(folder, name)).st_mode)
                self.assertEqual(mode, 0o600, name)

    def test_kill_9_under_a_storing_load_loses_no_record_and_leaves_no_stray_file(self):
        n = self.new_norvane()
        cache = os.path.join(n.root, "web cache")
        self.logs, self.audit = os.path.join(n.root, "logs"), os.path.join(n.root, "audit")
        port = harness.free_port()
        n.import_reg(KILL_REG.format(logs=self.logs, audit=self.audit, cache=cache, port=port))
        n.install_and_start()
        n.wait_for_port(port)

        self.wrong = []
        self.done, self.paused = threading.Event(), threading.Event()
        self.idle = [threading.Event() for _ in range(self.CLIENTS)]
        clients = [threading.Thread(target=self.client, args=(port, i), daemon=True)
                   for i in range(self.CLIENTS)]
        for c in clients:
            c.start()
        self.addCleanup(lambda: (self.done.set(), [c.join() for c in clients]))
        index = os.path.join(cache, "cache.idx")
        for cycle in range(self.CYCLES):
            served = Origin.served
            harness.wait_until(lambda: Origin.served >= served + 30,
                               message=lambda: "no stores\n" + n.diagnostics())
            for pid in n.engine_pids():
                os.kill(pid, signal.SIGKILL)
            n.wait_for_engine_end()
            self.paused.set()
            harness.wait_until(lambda: all(e.is_set() for e in self.idle))

            # What the engine must find again: the index as the kill left it, read up to a
            # torn record, without the entries whose content file went.
            entries = cacheindex.load(cacheindex.read(index, torn_tail=True))
            expected = {key: record for key, record in entries.items() if os.path.isfile(
                os.path.join(cache, record.file_name.decode() + ".nvc"))}
            self.assertGreater(len(expected), 0)
            killed = os.stat(index).st_ino
            n.start(wait=False)
            n.wait_for_event("The service has been started.", count=cycle + 2)
            n.wait_for_port(port)
            harness.wait_until(lambda: os.stat(index).st_ino != killed,
                               message=lambda: "index not rewritten\n" + n.diagnostics())
            self.check_folder(cache, expected)
            self.paused.clear()
        self.assertEqual(self.wrong, [])


if __name__ == "__main__":
    harness.main()
