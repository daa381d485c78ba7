"""The user property sheet against a live NorvaneEngine: the console scenario program
(consoledriver.py) makes user "bob" through the sheet with "Session creation" audited; bob then
logs on with the password set there (rcp.py), his audit file gets its "Created" line, and the
figures of his open sheet move when his session ends."""

import os

import consoledriver
import harness
import rcp


class ConsoleUsers(consoledriver.ConsoleTestCase):
    def test_a_user_made_in_the_sheet_logs_on_and_his_figures_move(self):
        norvane, port, alice = self.administered_engine()
        alice.do("new-user bob s3cret")
        alice.do("wait view cfg 22 item 0 bob")

        bob = rcp.Client.connect(port, b"bob", b"s3cret")
        self.assertEqual(bob.logon().op, rcp.LOGGED_ON)
        alice.do("open-user bob")
        before = alice.report("sheet")
        bob.close()
        harness.wait_until(lambda: alice.report("sheet") != before, message=lambda: "\n".join(alice.log))
        audit = os.path.join(norvane.root, "logs", "bob.log")
        harness.wait_for_log(audit, "\tCreated\t")

        alice.do("shot-groups")
        alice.do("close-sheet")
        self.assertEqual(alice.quit(), 0)


if __name__ == "__main__":
    harness.main()
