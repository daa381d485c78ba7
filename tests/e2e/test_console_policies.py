"""The Default Policy dialog against a live NorvaneEngine: the console scenario program
(consoledriver.py) opens "System Rights" from the configuration tree, removes every recipient of
"Users can shutdown Norvane" and answers Yes to the question; the engine takes the rights
(request 42), so the console's Shutdown is then refused and the engine keeps running."""

import os

import consoledriver
import harness
import rcp

ONLINE = "title Urvo Wardenhall - Online to 127.0.0.1"


class ConsolePolicies(harness.EngineTestCase):
    def setUp(self):
        try:
            harness._program(os.path.join("tests", "console", "wardenhall_scenario"))
        except harness.HarnessError:
            self.skipTest("the console is not built (NORVANE_GUI=OFF)")

    def test_a_shutdown_right_left_without_recipients_refuses_the_consoles_shutdown(self):
        norvane = self.new_norvane()
        port = harness.free_port()
        norvane.import_reg(rcp.service_reg(port, os.path.join(norvane.root, "logs")) +
                           rcp.user_reg("alice", b"wonder", administrator=True))
        norvane.install_and_start()
        norvane.wait_for_port(port)

        alice = consoledriver.Console(norvane, "127.0.0.1", port, "alice", display=True)
        self.addCleanup(alice.process.kill)
        alice.do("logon wonder")
        alice.do("wait " + ONLINE)
        alice.do("wait view cfg 40 -")
        shown = alice.do("empty-right Users can shutdown Norvane")
        self.assertIn("box Users can shutdown Norvane|There are no recipients for this right\\nAll access "
                      "to this right will be denied.\\n\\nDo you wish to continue?", shown)

        alice.do("shutdown")
        alice.do("wait alert Norvane Authentication|Access denied.\\n")
        alice.do("shot-alert shutdown-denied")
        alice.do("dismiss")
        self.assertTrue(norvane.engine_pids())
        bob = rcp.Client.connect(port, b"alice", b"wonder")
        self.assertEqual(bob.logon().op, rcp.LOGGED_ON)
        bob.close()
        self.assertEqual(alice.quit(), 0)


if __name__ == "__main__":
    harness.main()
