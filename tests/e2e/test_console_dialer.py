"""The dialer sheet against a live NorvaneEngine with the simulated dial-up library and one
phonebook entry: the console scenario program (consoledriver.py) adds a profile on that entry
and a local site through the sheet and applies them; a proxied request to the local site goes
out undialled; Dial brings the line up, the Status column following the engine's notices, and
"Dialer.log" records the dial; Reset brings it back down."""

import os
import subprocess

import consoledriver
import harness
import rcp
import webpeers

PHONEBOOK = """[Office Line]
device_type = modem
device_name = Sim Modem
ip_address = 127.0.0.1
delay = 20
outcomes = connect
"""
DIALER_REG = "[" + harness.CONFIG_ROOT + r'''\Dialer]
"LoggingEnabled"=dword:00000001
"LogOptions"=dword:00000003
"TimerInterval"=dword:00000001

'''


class ConsoleDialer(harness.EngineTestCase):
    def setUp(self):
        try:
            harness._program(os.path.join("tests", "console", "wardenhall_scenario"))
        except harness.HarnessError:
            self.skipTest("the console is not built (NORVANE_GUI=OFF)")

    def test_a_profile_made_in_the_sheet_dials_and_resets(self):
        norvane = self.new_norvane()
        logs = os.path.join(norvane.root, "logs")
        os.makedirs(logs)
        norvane.env["NORVANE_RASSIM_CONFIG"] = os.path.join(norvane.root, "phonebook.ini")
        with open(norvane.env["NORVANE_RASSIM_CONFIG"], "w") as f:
            f.write(PHONEBOOK)
        remote, web, origin = harness.free_ports(3)
        norvane.import_reg(rcp.service_reg(remote, logs) + webpeers.WEB_REG.format(logs=logs, port=web) + "\n" +
                           DIALER_REG + rcp.user_reg("alice", b"wonder", administrator=True))
        norvane.spawn(["/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1", str(origin)],
                      cwd=norvane.root, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        norvane.install_and_start()
        for port in (remote, web, origin):
            norvane.wait_for_port(port)
        log = os.path.join(logs, "Dialer.log")

        alice = consoledriver.Console(norvane, "127.0.0.1", remote, "alice", display=True)
        self.addCleanup(alice.process.kill)
        for command in ("logon wonder", "wait " + consoledriver.ONLINE, "wait view cfg 60 -", "open-dialer",
                        "dialer-add Office Office Line", "dialer-site localhost", "dialer-apply",
                        "wait view dialer 62 -"):
            alice.do(command)

        # The local site goes out undialled, though Office would grant the request.
        fetched = webpeers.curl(norvane, "-o", "/dev/null", "-w", "%{http_code}",
                                "-x", "http://127.0.0.1:%d" % web, "http://localhost:%d/" % origin)
        self.assertEqual(fetched.stdout, b"200")
        harness.wait_for_log(log, "Local site localhost not dialed")
        self.assertNotIn("Dialing profile", harness.read_log(log))

        alice.do("dialer-dial Office")
        alice.do("dialer-wait Office On line to Office Line")
        harness.wait_for_log(log, "\tDialling Office Line\r\n")
        alice.do("dialer-reset Office")
        # The timer's next check finds the line down and says so.
        alice.do("dialer-wait Office Disconnected from Office Line|Off-Line")
        harness.wait_for_log(log, "\tResetting Office Line\r\n")
        alice.do("dialer-ok")
        self.assertEqual(alice.quit(), 0)


if __name__ == "__main__":
    harness.main()
