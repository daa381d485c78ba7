"""The console session: the console scenario program (consoledriver.py) logs on to a real
NorvaneEngine on a virtual X display and walks log-on failures, the start-up lists, a refused
request, a change saved, messages from another console (rcp.py), the must-change flow and the
engine's shut-down; then to a scripted engine (the server half of linkclient.py) that sends
what a real engine would not: messages inside requests, modifies for unknown services, status 4
after status 1, malformed counters, and removals of objects whose notices are still held."""

import os
import socket
import struct
import threading

import consoledriver
import harness
import linkclient
import rcp

OFFLINE = "title Urvo Wardenhall - Off-line"
MUST_CHANGE = ("alert Norvane Authentication|You must change your password.\\nUntil then you have "
               "no rights on this system")
USERS = (rcp.user_reg("alice", b"wonder", administrator=True) +
         rcp.user_reg("dave", b"d4ve", administrator=True) + rcp.user_reg("bob", b"b0b") +
         rcp.user_reg("carol", b"c4rol", must_change=True))


def user_image(name):
    """A CUser record: name, description, real name, password, the five counters, the seven
    amounts (status, high, low), enabled, cannot change, must change, audit, audit options."""
    return (b"".join(map(rcp.archive_string, (name, b"", b"", b""))) +
            struct.pack("<5I", 0, 0, 0, 0, 0) + struct.pack("<21I", *[0] * 21) +
            struct.pack("<5I", 1, 0, 0, 0, 0))


class ConsoleSession(harness.EngineTestCase):
    def setUp(self):
        consoledriver.require_console(self)

    def console(self, norvane, port, user, display=False, server="127.0.0.1"):
        console = consoledriver.Console(norvane, server, port, user, display=display)
        self.addCleanup(console.process.kill)
        return console

    def logs_on(self, port, user, password):
        try:
            client = rcp.Client.connect(port, user, password)
        except linkclient.Refused:
            return False
        with client.sock:
            return client.logon().op == rcp.LOGGED_ON

    def test_against_a_live_engine(self):
        norvane = self.new_norvane()
        port = harness.free_port()
        norvane.import_reg(rcp.service_reg(port, os.path.join(norvane.root, "logs")) + USERS)
        norvane.install_and_start()
        norvane.wait_for_port(port)

        # A user without list rights sees empty branches and no alert.
        bob = self.console(norvane, port, "bob")
        bob.do("logon b0b")
        bob.do("wait " + consoledriver.ONLINE)
        bob.do("request 23 Guest")  # after the lists, and refused aloud
        bob.do("wait alert Norvane Authentication|Access denied.\\n")
        self.assertEqual(bob.report("counts"), "counts users=0 groups=0 services=0 locations=0 machines=0")
        self.assertEqual(len(bob.seen("alert ")), 1)
        self.assertEqual(bob.quit(), 0)

        # The must-change flow: the prompt, Change Password, then the lists.
        carol = self.console(norvane, port, "carol")
        carol.do("logon c4rol")
        carol.do("wait " + MUST_CHANGE)
        carol.do("change-password c4rol n3w")
        harness.wait_until(lambda: self.logs_on(port, b"carol", b"n3w"), message="new password")
        self.assertEqual(carol.quit(), 0)

        alice = self.console(norvane, port, "alice", display=True)
        # A wrong password: its own text, off-line, no session left.
        alice.do("logon wrong")
        alice.do("wait alert Problem connecting to server|There was a problem connecting to the "
                 "server.\\nBad password - recheck your password\\n(note - passwords are case sensitive)")
        alice.do("shot-alert bad-password")
        alice.do("dismiss")
        alice.do("wait-ended")
        self.assertEqual(alice.seen("title ")[-1], OFFLINE)

        # Log-on: the lists in order, the copy filled.
        alice.do("logon wonder")
        alice.do("wait " + consoledriver.ONLINE)
        alice.do("wait view cfg 130 -")
        branches = [line for line in alice.log if line.startswith("view cfg") and line.endswith(" -")]
        self.assertEqual(branches[-6:], ["view cfg %d -" % op for op in (20, 50, 30, 40, 60, 130)])
        self.assertIn("view cfg 22 item 0 alice", alice.log)
        # The services come as notices, which may trail the lists' answers.
        alice.do("seen view cfg 32 item 3 Remote Control Service")
        alice.do("wait view act 71 item 6 127.0.0.1")
        self.assertEqual(alice.report("counts"), "counts users=6 groups=2 services=1 locations=0 machines=1")
        self.assertEqual(alice.report("flags"), "flags online=1 changed=0 logon=1")

        # A refused change says so; the session goes on.
        alice.do("request 23 Administrator")
        alice.do("wait alert Norvane Authentication|Access denied.\\n")
        alice.do("shot-alert access-denied")
        alice.do("dismiss")

        # A change, echoed, marks the configuration changed until it is saved.
        alice.do("add-group Ops")
        alice.do("wait view cfg 25 item 1 Ops")
        self.assertEqual(alice.report("flags"), "flags online=1 changed=1 logon=1")
        alice.do("save")
        alice.do("request 50")
        alice.do("wait view cfg 50 -")
        self.assertEqual(alice.report("flags"), "flags online=1 changed=0 logon=1")

        # Another console asks this one for a new password (ignored after 5), then writes.
        dave = rcp.Client.connect(port, b"dave", b"d4ve")
        self.assertEqual(dave.logon().op, rcp.LOGGED_ON)
        self.assertEqual(dave.request(100, b"127.0.0.1")[0], [1, 3])
        self.assertEqual(dave.request(91, b"127.0.0.1", b"Lunch is ready")[0], [1, 3])
        alice.do("wait message Message from dave on 127.0.0.1|127.0.0.1")
        self.assertNotIn(MUST_CHANGE, alice.log)
        dave.close()
        alice.do("shot online")

        # Off-line and on-line again: the views are emptied, then filled anew.
        alice.do("offline")
        alice.do("wait view cfg 4 -")
        alice.do("wait " + OFFLINE)
        alice.do("wait-ended")
        self.assertEqual(alice.report("counts"), "counts users=0 groups=0 services=0 locations=0 machines=0")
        alice.do("online")
        alice.do("wait view cfg 130 -")
        self.assertEqual(alice.log.count("view cfg 25 item 1 Ops"), 2)  # the echo, then the list

        # Shut-down: the engine ends, and the console hears of it.
        alice.do("shutdown")
        alice.do("wait alert Urvo Wardenhall|Session Terminated by remote server")
        norvane.wait_for_engine_end()
        alice.do("shot-alert terminated")
        alice.do("dismiss")
        alice.do("wait " + OFFLINE)
        alice.do("wait-ended")
        self.assertEqual(alice.quit(), 0)

    def test_trees_terminate_and_a_new_location_on_a_live_engine(self):
        """The activity view shows a slow curl fetch under the console's own machine; Terminate
        ends it; a new location enters the tree only with the engine's echo."""
        norvane = self.new_norvane()
        port, web = harness.free_port(), harness.free_port()
        logs = os.path.join(norvane.root, "logs")
        norvane.import_reg(
            rcp.service_reg(port, logs) + rcp.user_reg("Administrator", b"adm1n", administrator=True) +
            ('[%s\\Services\\Web]\n"ServiceType"="CWWWService"\n"Name"="Web"\n"Description"="Web"\n'
             '"PortNumber"=dword:%08x\n\n') % (rcp.ROOT, web))
        norvane.install_and_start()
        norvane.wait_for_port(port)
        norvane.wait_for_port(web)

        url, curl = consoledriver.slow_download(self, web)

        console = self.console(norvane, port, "Administrator", display=True)
        console.do("logon adm1n")
        console.do("wait " + consoledriver.ONLINE)
        console.do("wait view cfg 130 -")
        console.do("wait view act 74 item 7 GET " + url)
        trees = console.do("tree act") + console.do("tree cfg")
        self.assertIn("tree act 127.0.0.1/Administrator (Authenticated)", trees)
        self.assertIn("tree act 127.0.0.1/GET " + url, trees)
        roots = [line[len("tree cfg "):] for line in trees
                 if line.startswith("tree cfg ") and "/" not in line and not line.endswith(" end")]
        self.assertEqual(roots, ["Users", "Groups", "Locations", "Services", "Policies", "Dialing", "Caching"])
        self.assertIn("tree cfg Services/Web", trees)
        self.assertIn("tree cfg Policies/System Rights", trees)
        console.do("shot trees")

        # Terminate on curl's session: curl's fetch ends, and so does the item.
        console.do("terminate GET " + url)
        console.do("wait view act 76 CSession GET " + url)
        self.assertIsNotNone(curl.wait(timeout=harness.WAIT_TIMEOUT))
        self.assertNotIn("tree act 127.0.0.1/GET " + url, console.do("tree act"))

        # A new location: not in the tree when the dialog closes, only after the echo.
        self.assertIn("shown 192.168.001.* 0", console.do("new-location 192.168.001.* Guest"))
        console.do("wait view cfg 52 item 2 192.168.001.*")
        self.assertIn("tree cfg Locations/192.168.001.*", console.do("tree cfg"))
        console.do("shot new-location")
        self.assertEqual(console.quit(), 0)

    def test_against_a_scripted_engine(self):
        norvane = self.new_norvane()
        # Not this host's own address: the console looks for a local engine only there.
        listener = socket.create_server(("127.0.0.2", 0))
        self.addCleanup(listener.close)
        failures = []
        threading.Thread(target=self.scripted_engine, args=(listener, failures), daemon=True).start()

        console = self.console(norvane, listener.getsockname()[1], "alice", server="127.0.0.2")
        console.do("logon wonder")
        # A machine added between request 20 and its status is applied first.
        console.do("wait view cfg 20 -")
        self.assertLess(console.log.index("view act 71 item 6 10.0.0.9"), console.log.index("view cfg 20 -"))
        # Status 4 after status 1: the alert, and no branch built.
        console.do("wait alert Server Error|There was an internal error in Norvane.\\nYou should check "
                   "your system settings")
        # A modify for a service the console lacks leaves the stream in step.
        console.do("wait view cfg 30 -")
        console.do("wait view act 73 CMachine 10.0.0.9")
        self.assertEqual(console.report("user alice"),
                         "user alice sent=10 received=20 remote-sent=30 remote-received=40 time=5")
        # A modify for an object the copy lacks is never sent (the engine would wait for it).
        console.do("request 34 Ghost")
        console.do("request 90")
        console.do("wait view cfg 23 CUser alice")
        console.do("wait view act 71 item 6 10.0.0.10")
        # Every object a notice brought is still whole after its removal.
        self.assertIn("touched %d" % len(console.seen("view ")), console.do("touch"))
        self.assertEqual(console.report("counts"), "counts users=0 groups=0 services=0 locations=0 machines=1")
        self.assertNotIn("view cfg 50 -", console.log)
        self.assertEqual([line for line in console.log if line.startswith("alert ")],
                         ["alert Server Error|There was an internal error in Norvane.\\nYou should "
                          "check your system settings"])
        self.assertEqual(console.quit(), 0)
        self.assertEqual(failures, [])

    def scripted_engine(self, listener, failures):
        """Answers the console's requests as the script below says, and records what went
        wrong."""
        try:
            conn = listener.accept()[0]
            self.addCleanup(conn.close)
            channel, _ = linkclient.server_handshake(conn, 2, {b"alice": b"wonder"})
            channel.sock.settimeout(harness.WAIT_TIMEOUT)

            def send(op, *args, objects=()):
                channel.send_message(rcp.Message(op, *args).image())
                for image in objects:
                    channel.send_message(image)

            def expect(op):
                message = rcp.Message.parse(channel.recv_message())
                if message.op != op:
                    raise AssertionError("request %d where %d was due" % (message.op, op))

            send(5)
            expect(20)
            send(22, b"alice", objects=[user_image(b"alice")])
            send(71, b"10.0.0.9", b"alice", b"2")
            send(1)
            send(3)
            expect(50)
            send(1)
            send(4, b"Internal server error")
            expect(30)
            send(34, b"Ghost", objects=[b"\x05Ghost" + b"\x00" * 40])
            send(1)
            send(3)
            for op in (40, 60, 130):
                expect(op)
                send(2)
            expect(70)
            send(1)
            send(3)
            send(71, b"10.0.0.9", b"alice", b"2")
            expect(80)
            send(1)
            send(3)
            # Sessions that end with no, malformed and good counters; a machine removed.
            for session, counters in ((b"7", b""), (b"8", b"1 2 x 4"), (b"9", b"10 20 30 40"),
                                      (b"10", b"1 2 3"), (b"11", b"5 5 5 5 5")):
                send(74, b"10.0.0.9", session, b"Web Proxy: http://example.com/")
                send(76, b"10.0.0.9", session, counters)
            send(76, b"10.0.0.9", b"x", b"1 1 1 1")
            send(74, b"10.0.0.9", b"12", b"POP3 Proxy")
            send(73, b"10.0.0.9", b"5")
            send(73, b"10.0.0.9", b"99")
            # The user goes while notices about it are held; a new machine comes.
            channel.sock.settimeout(harness.scaled(60))
            expect(90)
            send(1)
            send(3)
            send(23, b"alice")
            send(71, b"10.0.0.10", b"bob", b"seven")
            channel.sock.recv(1)  # until the console goes
        except Exception as e:
            failures.append(repr(e))


if __name__ == "__main__":
    harness.main()
