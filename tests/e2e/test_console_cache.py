"""The cache sheet against a live NorvaneEngine (consoledriver.py): additions turned off and
applied keep curl's fetches through the web proxy out of the cache; on again, one fetch leaves
a content file equal to the body; a purge filter "Hit count" "less than" 1000, applied, then
Purge Now removes it."""

import os

import consoledriver
import harness
import rcp
import webpeers
from test_web_proxy import Origin


class ConsoleCache(harness.EngineTestCase):
    def test_the_sheet_rules_the_engines_cache(self):
        try:
            harness._program(os.path.join("tests", "console", "wardenhall_scenario"))
        except harness.HarnessError:
            self.skipTest("the console is not built (NORVANE_GUI=OFF)")
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
            ('[%s\\Services\\Web]\n"ServiceType"="CWWWService"\n"Name"="Web"\n"PortNumber"=dword:%08x\n'
             '"LogOptions"=dword:000003ff\n\n[%s\\Cache]\n"CacheDirectory"="%s"\n') % (rcp.ROOT, web, rcp.ROOT, cache))
        norvane.install_and_start()
        norvane.wait_for_port(web)

        def fetch():  # a fetch, until its session has ended
            ends = harness.read_log(os.path.join(logs, "Web.log")).count("Terminated")
            got = webpeers.curl(norvane, "-x", "http://127.0.0.1:%d" % web, origin.url("/page.bin"))
            self.assertEqual(got.stdout, body)
            harness.wait_until(lambda: harness.read_log(os.path.join(logs, "Web.log")).count("Terminated") > ends)

        def contents():
            return [n for n in os.listdir(cache) if n.endswith(".nvc")]

        alice = consoledriver.Console(norvane, "127.0.0.1", port, "alice", display=True)
        self.addCleanup(alice.process.kill)
        for command in ("logon wonder", "wait title Urvo Wardenhall - Online to 127.0.0.1",
                        "wait view cfg 130 -", "open-cache", "sheet-check 1215 0", "sheet-shot cache-general",
                        "sheet-click 3", "wait view cache 131 -"):
            alice.do(command)
        fetch()
        fetch()
        self.assertEqual(contents(), [])

        for command in ("sheet-check 1215 1", "sheet-click 3", "wait view cache 131 -"):
            alice.do(command)
        fetch()
        with open(os.path.join(cache, contents()[0]), "rb") as f:
            self.assertEqual(f.read(), body)

        for command in ("sheet-page 2", "sheet-click 1237", "sheet-criterion Hit count|less than|1000",
                        "sheet-shot cache-purge", "sheet-click 3", "wait view cache 131 -", "sheet-click 1120"):
            alice.do(command)
        harness.wait_until(lambda: contents() == [], message=lambda: "kept: %s" % contents())
        alice.do("sheet-ok")
        self.assertEqual(alice.quit(), 0)


if __name__ == "__main__":
    harness.main()
