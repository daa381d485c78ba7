"""Two consoles on one engine: the console scenario program (consoledriver.py) as alice, and
rcp.py as dave from another address. Messages go both ways (a message composed in the activity
view, one received and answered with Reply), and each console's changes reach the other through
the engine's echoes: dave's new location, stopped service and deleted user show in alice's
trees, and alice's new location, group, user (made in the user sheet), started service and
deleted user reach dave."""

import os

import consoledriver
import harness
import rcp

DAVE = "127.0.0.2"


class ConsoleEchoes(harness.EngineTestCase):
    def setUp(self):
        consoledriver.require_console(self)
        norvane = self.new_norvane()
        port, web = harness.free_ports(2)
        norvane.import_reg(
            rcp.service_reg(port, os.path.join(norvane.root, "logs")) +
            rcp.user_reg("alice", b"wonder", administrator=True) + rcp.user_reg("dave", b"d4ve", administrator=True) +
            rcp.user_reg("bob", b"b0b") + rcp.user_reg("erin", b"3rin") +
            ('[%s\\Services\\Web]\n"ServiceType"="CWWWService"\n"Name"="Web"\n"PortNumber"=dword:%08x\n\n'
             % (rcp.ROOT, web)))
        norvane.install_and_start()
        norvane.wait_for_port(port)
        self.alice = consoledriver.Console(norvane, "127.0.0.1", port, "alice")
        self.addCleanup(self.alice.process.kill)
        self.alice.do("logon wonder")
        self.alice.do("wait " + consoledriver.ONLINE)
        # Registered for the engine's notices (the last request of the log-on).
        self.alice.do("wait view act 75 CSession Norvane Login: Register for everything")
        self.dave = rcp.Client.connect(port, b"dave", b"d4ve", source=DAVE)
        self.addCleanup(self.dave.close)
        self.assertEqual(self.dave.logon().op, rcp.LOGGED_ON)
        self.assertEqual(self.dave.request(80)[0], [1, 3])

    def tree(self, view):
        return self.alice.do("tree " + view)

    def test_messages_between_the_two_consoles(self):
        harness.wait_until(lambda: "tree act %s/dave (Authenticated)" % DAVE in self.tree("act"),
                           message=lambda: "\n".join(self.alice.log))
        self.alice.do("send-message %s Lunch at noon?" % DAVE)
        self.assertIn("composing Message to dave on %s|%s" % (DAVE, DAVE), self.alice.log)
        self.assertEqual(self.dave.wait_for(91).args, (b"127.0.0.1", b"alice", b"Lunch at noon?"))

        self.assertEqual(self.dave.request(91, b"127.0.0.1", b"Where?\r\nThe usual place?")[0], [1, 3])
        self.alice.do("wait message Message from dave on %s|%s" % (DAVE, DAVE))
        self.alice.do("reply Yes, the usual place.")
        self.assertIn("composing Reply to dave on %s|%s" % (DAVE, DAVE), self.alice.log)
        self.assertEqual(self.dave.wait_for(91).args, (b"127.0.0.1", b"alice", b"Yes, the usual place."))
        self.assertEqual(self.alice.quit(), 0)

    def test_each_consoles_changes_reach_the_other(self):
        alice, dave = self.alice, self.dave
        # Dave's changes: each shows in alice's trees only with its echo.
        location = b"".join(map(rcp.archive_string, (b"010???", b"10.*", b"bob")))
        self.assertEqual(dave.transact(52, (b"10.*",), send=[location])[0], [1, 3])
        alice.do("wait view cfg 52 item 2 10.*")
        self.assertEqual(alice.report("picture cfg Services/Web"), "picture 10")
        self.assertEqual(dave.request(35, b"Web", b"0")[0], [1, 3])
        alice.do("wait view cfg 35 CWWWService Web")
        self.assertEqual(dave.request(23, b"erin")[0], [1, 3])
        alice.do("wait view cfg 23 CUser erin")
        trees = self.tree("cfg")
        self.assertIn("tree cfg Locations/10.*", trees)
        self.assertNotIn("tree cfg Users/erin", trees)
        self.assertIn("tree cfg Users/bob", trees)
        self.assertEqual(alice.report("picture cfg Services/Web"), "picture 11")

        # Alice's changes, made in her windows, come back to dave as echoes.
        alice.do("new-location 172.16.* bob")
        self.assertEqual(dave.wait_for(52, b"172.16.*").objects,
                         [b"".join(map(rcp.archive_string, (b"172016???", b"172.16.*", b"bob")))])
        alice.do("add-group Ops")
        self.assertEqual(dave.wait_for(25, b"Ops").args[0], b"Ops")
        alice.do("new-user frank fr4nk")
        self.assertEqual(rcp.read_string(dave.wait_for(22, b"frank").objects[0], 0)[0], b"frank")
        alice.do("run cfg Services/Web 32839")
        self.assertEqual(dave.wait_for(35, b"Web").args[:2], (b"Web", b"1"))
        alice.do("run cfg Users/bob 32843")
        dave.wait_for(23, b"bob")
        alice.do("wait view cfg 23 CUser bob")
        self.assertNotIn("tree cfg Users/bob", self.tree("cfg"))
        self.assertEqual(alice.report("picture cfg Services/Web"), "picture 10")
        self.assertEqual(alice.quit(), 0)


if __name__ == "__main__":
    harness.main()
