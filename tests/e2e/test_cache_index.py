"""The web cache's index in the real NorvaneEngine: read at start-up (the later record of a key
wins and the earlier one's content file goes, names that are not the cache's own and a
damaged tail are dropped), rewritten whole, and written again at shut-down; read back with
the decoder in cacheindex.py."""

import os

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


if __name__ == "__main__":
    harness.main()
