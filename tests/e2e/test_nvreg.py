"""nvreg end to end: the real program over a store in a temporary state folder."""

import os
import shutil
import subprocess
import tempfile
import unittest

NVREG = os.path.join(os.environ.get("NORVANE_BINARY_DIR", "build"), "tools", "nvreg", "nvreg")

PRODUCT = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Urvo Software\\Norvane 2"

# Every value kind, names that need escapes, strings that quotes cannot carry, a default
# value, an empty key; keys written with both root spellings.
IMPORT_TEXT = (
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Urvo Software\\Norvane 2]\r\n"
    "@=\"root default\"\r\n"
    "\"Version\"=dword:00000002\r\n"
    "\r\n"
    "[HKLM\\SOFTWARE\\Urvo Software\\Norvane 2\\Users\\Alice]\r\n"
    "\"Password\"=hex(1):70,00,61,ff,80,00\r\n"
    "\"Comment\"=\"She said \\\"hi\\\" at C:\\\\temp\"\r\n"
    "\"Empty\"=\"\"\r\n"
    "\"Raw\"=hex(1):61,62\r\n"
    "\"Home\"=hex(2):25,48,4f,4d,45,25,00\r\n"
    "\"Key\"=hex:de,ad,be,ef\r\n"
    "\"Nothing\"=hex:\r\n"
    "\"Port\"=dword:1f90\r\n"
    "\"Quo\\\"te\\\\d\"=\"x\"\r\n"
    "\r\n"
    "[HKLM\\SOFTWARE\\Urvo Software\\Norvane 2\\Users\\Empty]\r\n"
)

# What export must write for that store, byte for byte.
EXPORT_TEXT = (
    "REGEDIT4\n"
    "\n"
    "[HKEY_LOCAL_MACHINE]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Urvo Software]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Urvo Software\\Norvane 2]\n"
    "@=\"root default\"\n"
    "\"Version\"=dword:00000002\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Urvo Software\\Norvane 2\\Users]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Urvo Software\\Norvane 2\\Users\\Alice]\n"
    "\"Password\"=hex(1):70,00,61,ff,80,00\n"
    "\"Comment\"=\"She said \\\"hi\\\" at C:\\\\temp\"\n"
    "\"Empty\"=\"\"\n"
    "\"Raw\"=hex(1):61,62\n"
    "\"Home\"=hex(2):25,48,4f,4d,45,25,00\n"
    "\"Key\"=hex:de,ad,be,ef\n"
    "\"Nothing\"=hex:\n"
    "\"Port\"=dword:00001f90\n"
    "\"Quo\\\"te\\\\d\"=\"x\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Urvo Software\\Norvane 2\\Users\\Empty]\n"
)


class NvregTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="norvane-nvreg-")
        self.env = dict(os.environ)
        self.env["NORVANE_STATE_DIR"] = os.path.join(self.dir, "state")
        self.env["XDG_CONFIG_HOME"] = os.path.join(self.dir, "config")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_nvreg(self, *args, data=None, expect=0):
        result = subprocess.run([NVREG, *args], input=data, env=self.env, capture_output=True, timeout=60)
        self.assertEqual(result.returncode, expect, (args, result.stdout, result.stderr))
        if expect == 0:
            self.assertEqual(result.stderr, b"")
        return result

    def out(self, *args):
        return self.run_nvreg(*args).stdout

    def write_file(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(text if isinstance(text, bytes) else text.encode("latin-1"))
        return path

    def test_export_import_round_trip(self):
        self.run_nvreg("import", self.write_file("in.reg", IMPORT_TEXT))
        exported = self.out("export")
        self.assertEqual(exported, EXPORT_TEXT.encode("latin-1"))

        # Long binaries wrap and every byte value survives, in both hives.
        blob = bytes(range(256))
        self.run_nvreg("set", PRODUCT + "\\Blob", "All", "binary", blob.hex())
        whole = self.out("export", PRODUCT)
        self.run_nvreg("delete", PRODUCT)
        self.run_nvreg("list", PRODUCT, expect=1)
        self.run_nvreg("import", self.write_file("whole.reg", whole))
        self.assertEqual(self.out("export", PRODUCT), whole)
        self.assertEqual(self.out("get", PRODUCT + "\\blob", "all"), blob.hex().encode() + b"\n")

        user_text = whole.replace(b"[HKEY_LOCAL_MACHINE\\", b"[HKCU\\")
        self.run_nvreg("import", "-", data=user_text)
        self.assertEqual(self.out("--user", "export", "SOFTWARE"),
                         self.out("export", "HKLM\\SOFTWARE").replace(b"HKEY_LOCAL_MACHINE", b"HKEY_CURRENT_USER"))
        self.assertTrue(os.path.exists(os.path.join(self.dir, "config", "norvane", "user.db")))

    def test_get_prints_each_kind(self):
        self.run_nvreg("import", self.write_file("in.reg", IMPORT_TEXT))
        alice = PRODUCT + "\\Users\\Alice"
        self.assertEqual(self.out("get", alice, "Password"), b"p\x00a\xff\x80\n")
        self.assertEqual(self.out("get", alice, "PORT"), b"8080\n")
        self.assertEqual(self.out("get", alice, "Key"), b"deadbeef\n")
        self.assertEqual(self.out("get", alice, "Empty"), b"\n")
        self.assertEqual(self.out("get", alice, "Home"), b"%HOME%\n")
        self.assertEqual(self.out("get", PRODUCT, ""), b"root default\n")
        self.assertEqual(self.out("list", PRODUCT + "\\users"), b"Alice\\\nEmpty\\\n")
        self.assertEqual(self.out("list", PRODUCT),
                         b"Users\\\n@=\"root default\"\n\"Version\"=dword:00000002\n")

    def test_set_delete_and_their_faults(self):
        key = "SOFTWARE\\Urvo Software\\Norvane 2\\Services\\Web"
        self.run_nvreg("set", key, "Port", "dword", "0xFFFFFFFF")
        self.run_nvreg("set", "HKLM\\" + key, "Port", "dword", "4294967295")
        self.assertEqual(self.out("get", key, "Port"), b"4294967295\n")
        self.run_nvreg("set", key, "Name", "string", "Web Proxy")
        self.run_nvreg("set", key, "Blob", "binary", "")
        self.assertEqual(self.out("list", key), b"\"Port\"=dword:ffffffff\n\"Name\"=\"Web Proxy\"\n\"Blob\"=hex:\n")

        for number in ("4294967296", "-1", "0x", "12a", ""):
            result = self.run_nvreg("set", key, "Port", "dword", number, expect=1)
            self.assertIn(b"not a number", result.stderr)
        result = self.run_nvreg("set", key, "Blob", "binary", "abc", expect=1)
        self.assertIn(b"not pairs of hex digits", result.stderr)
        self.run_nvreg("set", key, "Port", "qword", "1", expect=2)
        result = self.run_nvreg("set", key + "\\\\bad", "v", "string", "x", expect=1)
        self.assertIn(b"The parameter is incorrect.", result.stderr)
        self.assertEqual(self.out("get", key, "Port"), b"4294967295\n")

        self.run_nvreg("delete", key, "port")
        result = self.run_nvreg("delete", key, "Port", expect=1)
        self.assertEqual(result.stderr, b'nvreg: HKEY_LOCAL_MACHINE\\' + key.encode() + b': no value named "Port"\n')
        result = self.run_nvreg("get", key, "Port", expect=1)
        self.assertIn(b"no value named", result.stderr)
        self.run_nvreg("delete", "HKLM\\SOFTWARE\\Urvo Software")
        result = self.run_nvreg("delete", "HKLM\\SOFTWARE\\Urvo Software", expect=1)
        self.assertEqual(result.stderr, b"nvreg: HKEY_LOCAL_MACHINE\\SOFTWARE\\Urvo Software: no such key\n")
        self.run_nvreg("delete", "HKLM", expect=1)
        self.run_nvreg("export", "HKLM\\SOFTWARE\\Urvo Software", expect=1)
        self.run_nvreg("frobnicate", expect=2)
        self.run_nvreg("--bogus", "list", "x", expect=2)
        self.run_nvreg("get", key, expect=2)

    def test_a_failing_import_changes_nothing(self):
        self.run_nvreg("import", self.write_file("in.reg", IMPORT_TEXT))
        before = self.out("export")
        broken = (
            "REGEDIT4\n\n"
            "[-HKLM\\SOFTWARE\\Urvo Software\\Norvane 2\\Users]\n"
            "[HKLM\\SOFTWARE\\New]\n"
            "\"a\"=\"1\"\n"
            "\"b\"=dword:123456789\n"
        )
        result = self.run_nvreg("import", self.write_file("broken.reg", broken), expect=1)
        self.assertTrue(result.stderr.endswith(b"broken.reg: line 6: a dword is 1 to 8 hex digits\n"), result.stderr)
        mixed = "REGEDIT4\n[-HKLM\\SOFTWARE]\n[HKCU\\X]\n"
        self.run_nvreg("import", self.write_file("mixed.reg", mixed), expect=1)
        self.run_nvreg("import", self.write_file("v5.reg", "Windows Registry Editor Version 5.00\n"), expect=1)
        self.run_nvreg("import", os.path.join(self.dir, "missing.reg"), expect=1)
        self.assertEqual(self.out("export"), before)

    def test_reading_creates_nothing(self):
        self.run_nvreg("list", "HKLM", expect=1)
        self.run_nvreg("--user", "export", expect=1)
        self.run_nvreg("get", "HKCU\\x", "y", expect=1)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "state")))
        self.assertFalse(os.path.exists(os.path.join(self.dir, "config")))

    def test_processes_write_at_once(self):
        procs = [subprocess.Popen([NVREG, "set", "HKLM\\Load\\P%d" % (i % 3), "V%d" % i, "dword", str(i)],
                                  env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                 for i in range(24)]
        for proc in procs:
            _, err = proc.communicate(timeout=60)
            self.assertEqual(proc.returncode, 0, err)
        for i in range(24):
            self.assertEqual(self.out("get", "HKLM\\Load\\P%d" % (i % 3), "V%d" % i), b"%d\n" % i)
        mode = os.stat(os.path.join(self.dir, "state", "machine.db")).st_mode & 0o777
        self.assertEqual(mode, 0o600)


if __name__ == "__main__":
    unittest.main()
