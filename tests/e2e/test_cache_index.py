"""The web cache's index in the real NorvaneEngine: read at start-up (the later record of a key
wins and the earlier one's content file goes, names that are not the cache's own and a
damaged tail are dropped), rewritten whole, and written again at shut-down; read back with
the decoder in cacheindex.py. And the engine killed (SIGKILL) while web clients store into
its cache: every record survives, no file is left that no record names, and the cache and the
logs are the engine's user's alone."""

import os
import shutil
import signal
import stat
import tempfile
import threading

import cacheindex
import harness
import webpeers
from test_web_proxy import Origin

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


CACHE_REG = r'''[{root}\Cache]
"CacheDirectory"="{cache}"
'''


class CacheSurvivesKills(harness.EngineTestCase):
    def test_kill_9_under_a_storing_load_loses_no_record_and_leaves_no_stray_file(self):
        place = tempfile.mkdtemp(prefix="norvane-e2e-cache-")
        self.addCleanup(shutil.rmtree, place, True)
        cache, docs = os.path.join(place, "cache"), os.path.join(place, "docs")
        os.makedirs(docs)
        for i in range(40):
            with open(os.path.join(docs, str(i)), "wb") as f:
                f.write(os.urandom(1024 + 1200 * i))
        origin = Origin(docs)
        self.addCleanup(origin.close)
        n, port = webpeers.start_web_proxy(self, CACHE_REG.format(root=ROOT, cache=cache))
        index = os.path.join(cache, "cache.idx")

        def load(stop, number):
            # The origin's paths in turn, every third fetch a reload that replaces a copy.
            while not stop.is_set():
                number += 7
                request = "GET %s HTTP/1.0\r\n%s\r\n" % (
                    origin.url("/%d" % (number % 40)),
                    "Pragma: no-cache\r\n" if number % 3 == 0 else "")
                try:
                    webpeers.exchange(port, request.encode(), timeout=30)
                except OSError:
                    pass  # the engine is being killed

        for cycle in range(3):
            stop = threading.Event()
            clients = [threading.Thread(target=load, args=(stop, i)) for i in range(6)]
            for client in clients:
                client.start()
            stored = len(cacheindex.read(index, torn_tail=True))
            harness.wait_until(lambda: len(cacheindex.read(index, torn_tail=True)) >= stored + 20)
            for pid in n.engine_pids():
                os.kill(pid, signal.SIGKILL)
            n.wait_for_engine_end()
            stop.set()
            for client in clients:
                client.join()

            # The engine finds again the last record of every key whose content is there, read
            # up to a torn record; nothing else stays in the folder.
            last = {r.url: r for r in cacheindex.read(index, torn_tail=True)}
            expected = {key: r for key, r in last.items() if os.path.isfile(
                os.path.join(cache, r.file_name.decode() + ".nvc"))}
            killed = os.stat(index).st_ino
            n.start(wait=False)
            n.wait_for_event("The service has been started.", count=cycle + 2)
            harness.wait_until(lambda: os.stat(index).st_ino != killed,
                               message=lambda: "index not rewritten\n" + n.diagnostics())
            self.assertEqual({r.url: r for r in cacheindex.read(index)}, expected)
            files = ["cache.idx"] + [r.file_name.decode() + ".nvc" for r in expected.values()]
            self.assertEqual(sorted(os.listdir(cache)), sorted(files))
            for key, record in expected.items():
                with open(os.path.join(cache, record.file_name.decode() + ".nvc"), "rb") as f:
                    data = f.read()
                with open(os.path.join(docs, key.decode().rpartition("/")[2]), "rb") as f:
                    self.assertEqual((len(data), data), (record.size, f.read()), key)
            n.wait_for_port(port)
        for folder in (cache, os.path.join(n.root, "logs")):
            self.assertEqual(stat.S_IMODE(os.stat(folder).st_mode), 0o700, folder)
            modes = {stat.S_IMODE(os.stat(os.path.join(folder, f)).st_mode)
                     for f in os.listdir(folder)}
            self.assertEqual(modes, {0o600}, folder)


if __name__ == "__main__":
    harness.main()
