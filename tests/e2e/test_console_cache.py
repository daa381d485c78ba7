"""The cache sheet against a live NorvaneEngine, driven through the console scenario program
(consoledriver.py): with additions turned off and applied, curl's fetches through the web proxy
leave no content file; turned on again, one fetch leaves a content file equal to the body; a
purge filter "Hit count" "less than" 1000, applied, then Purge Now removes it."""

import os
import subprocess

import consoledriver
import harness
import rcp
from test_web_proxy import Origin

ONLINE = "title Urvo Wardenhall - Online to 127.0.0.1"


class ConsoleCache(harness.EngineTestCase):
    def setUp(self):
        try:
            harness._program(os.path.join("tests", "console", "wardenhall_scenario"))
        except harness.HarnessError:
            self.skipTest("the console is not built (NORVANE_GUI=OFF)")

    def test_additions_and_purge_set_in_the_sheet_rule_the_engines_cache(self):
        norvane = self.new_norvane()
        port, web = harness.free_port(), harness.free_port()
        logs, cache, docs = (os.path.join(norvane.root, name) for name in ("logs", "cache", "docs"))
        os.makedirs(docs)
        body = os.urandom(3000)
        with open(os.path.join(docs, "page.bin"), "wb") as f:
            f.write(body)
        origin = Origin(docs)
        self.addCleanup(origin.close)
        norvane.import_reg(
            rcp.service_reg(port, logs) + rcp.user_reg("alice", b"wonder", administrator=True) +
            ('[%s\\Services\\Web]\n"ServiceType"="CWWWService"\n"Name"="Web"\n"Description"="Web"\n'
             '"PortNumber"=dword:%08x\n"LogOptions"=dword:000003ff\n\n[%s\\Cache]\n"CacheDirectory"="%s"\n"CacheOptions"=dword:00000003\n')
            % (rcp.ROOT, web, rcp.ROOT, cache))
        norvane.install_and_start()
        norvane.wait_for_port(web)

        def fetch():
            ends = harness.read_log(os.path.join(logs, "Web.log")).count("Terminated")
            got = subprocess.run(["curl", "-sS", "--max-time", "30", "-x", "http://127.0.0.1:%d" % web,
                                 origin.url("/page.bin")], capture_output=True, timeout=40)
            self.assertEqual(got.stdout, body)
            harness.wait_until(lambda: harness.read_log(os.path.join(logs, "Web.log")).count("Terminated") > ends)

        def contents():
            return [n for n in os.listdir(cache) if n.endswith(".nvc")]

        alice = consoledriver.Console(norvane, "127.0.0.1", port, "alice", display=True)
        self.addCleanup(alice.process.kill)
        alice.do("logon wonder")
        alice.do("wait " + ONLINE)
        alice.do("wait view cfg 130 -")
        alice.do("open-cache")
        alice.do("sheet-check 1215 0")
        alice.do("sheet-shot cache-general")
        alice.do("sheet-click 3")
        alice.do("wait view cache 131 -")
        fetch()
        fetch()
        self.assertEqual(contents(), [])

        alice.do("sheet-check 1215 1")
        alice.do("sheet-click 3")
        alice.do("wait view cache 131 -")
        fetch()
        [name] = contents()
        with open(os.path.join(cache, name), "rb") as f:
            self.assertEqual(f.read(), body)

        alice.do("sheet-page 2")
        alice.do("sheet-click 1237")
        alice.do("sheet-criterion Hit count|less than|1000")
        alice.do("sheet-shot cache-purge")
        alice.do("sheet-click 3")
        alice.do("wait view cache 131 -")
        alice.do("sheet-click 1120")
        harness.wait_until(lambda: contents() == [], message=lambda: "kept: %s\n%s" % (contents(), "\n".join(alice.log)))
        alice.do("sheet-ok")
        self.assertEqual(alice.quit(), 0)


if __name__ == "__main__":
    harness.main()
