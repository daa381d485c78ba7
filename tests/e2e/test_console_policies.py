"""The Default Policy dialog against a live NorvaneEngine: the console scenario program
(consoledriver.py) opens "System Rights" from the configuration tree, removes every recipient of
"Users can shutdown Norvane" and answers Yes to the question; the engine takes the rights
(request 42), so the console's Shutdown is then refused and the engine keeps running."""

import consoledriver
import harness
import rcp


class ConsolePolicies(consoledriver.ConsoleTestCase):
    def test_a_shutdown_right_left_without_recipients_refuses_the_consoles_shutdown(self):
        norvane, port, alice = self.administered_engine()
        shown = alice.do("empty-right Users can shutdown Norvane")
        self.assertIn("box Users can shutdown Norvane|There are no recipients for this right\\nAll access "
                      "to this right will be denied.\\n\\nDo you wish to continue?", shown)

        alice.do("shutdown")
        alice.do("wait alert Norvane Authentication|Access denied.\\n")
        alice.do("shot-alert shutdown-denied")
        alice.do("dismiss")
        self.assertTrue(norvane.engine_pids())
        again = rcp.Client.connect(port, b"alice", b"wonder")
        self.assertEqual(again.logon().op, rcp.LOGGED_ON)
        again.close()
        self.assertEqual(alice.quit(), 0)


if __name__ == "__main__":
    harness.main()
