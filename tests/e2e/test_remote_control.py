"""The remote-control service of the real NorvaneEngine with an independent client (rcp.py):
the link handshake against the user database, the log-on and its refusal, the password that
must change, the framing's limits and failures, and notifications to registered consoles."""

import os
import socket
import struct
import time

import harness
import linkclient
import rcp

# The service's access right admits the group "Administrators" only.
REG = r'''
[{root}\Services\Remote Control Service\AccessRights]
"IncludeDefaultRights"=dword:00000000

[{root}\Services\Remote Control Service\AccessRights\Recipient0]
"UserName"="Administrators"
"SpecifyUser"=dword:00000001

'''.format(root=rcp.ROOT) + (
    rcp.user_reg("alice", b"wonder", administrator=True, audited=True) +
    rcp.user_reg("dave", b"d4ve", administrator=True) +
    rcp.user_reg("mallory", b"m4llory") +
    rcp.user_reg("bob", b"old", must_change=True, administrator=True) +
    rcp.user_reg("carol", b"c4rol", must_change=True, cannot_change=True, administrator=True))

INTERNAL_ERROR = rcp.Message(rcp.INTERNAL_ERROR, b"Internal server error")


class RemoteControl(harness.EngineTestCase):
    def setUp(self):
        self.norvane = self.new_norvane()
        self.port = harness.free_port()
        self.logs = os.path.join(self.norvane.root, "logs")
        self.norvane.import_reg(rcp.service_reg(self.port, self.logs) + REG)
        self.norvane.install_and_start()
        self.norvane.wait_for_port(self.port)

    def connect(self, user, password, first=rcp.LOGGED_ON):
        client = rcp.Client.connect(self.port, user, password)
        self.addCleanup(client.close)
        self.assertEqual(client.logon().op, first)
        return client

    def wait_for_line(self, name, text, count=1):
        return harness.wait_for_log(os.path.join(self.logs, name + ".log"), text, count=count)

    def test_handshake_log_on_and_its_refusal(self):
        # Refusals with their status, and broken answers closed without one.
        for user, password, link_type, options, code in [
                (b"", b"", 2, {}, 106), (b"zed", b"x", 2, {}, 107),
                (b"alice", b"wrong", 2, {}, 108), (b"alice", b"wonder", 1, {}, 109),
                (b"alice", b"wonder", 2, {"version": b"\x02\x03"}, None),
                (b"alice", b"wonder", 2, {"command": 3}, None)]:
            try:
                linkclient.connect("127.0.0.1", self.port, link_type, user, password,
                                   **options).close()
                self.fail("%r not refused" % user)
            except linkclient.Refused as refusal:
                self.assertEqual(refusal.code, code, user)
            except (linkclient.LinkError, ConnectionError):
                self.assertIsNone(code, options)
        self.wait_for_line("Remote Control Service",
                           "InitInstance() User alice failed password - terminating")

        # A client that answers no challenge is dropped after the handshake's 5 s.
        with socket.create_connection(("127.0.0.1", self.port), timeout=harness.WAIT_TIMEOUT) as silent:
            started = time.monotonic()
            self.assertEqual(linkclient.read_frame(silent)[:4], b"\x01\x03\x00\x01")
            self.assertEqual(silent.recv(1), b"")
            self.assertGreater(time.monotonic() - started, 4.5)

        # Granted: the log-on's 5 comes first, whatever the console sent meanwhile.
        alice = rcp.Client.connect(self.port, b"alice", b"wonder")
        self.addCleanup(alice.close)
        alice.send_message(rcp.REGISTER)
        self.assertEqual(alice.logon(), rcp.Message(rcp.LOGGED_ON))
        self.assertEqual(alice.statuses(), ([rcp.ACCEPTED, rcp.COMPLETED], []))
        self.wait_for_line("alice", "\tLogged in\r\n")

        # Refused by the service's right: the alert reaches the console, then the connection
        # ends, also when the console sent a request that was never read.
        mallory = rcp.Client.connect(self.port, b"mallory", b"m4llory")
        self.addCleanup(mallory.close)
        mallory.send_message(rcp.REGISTER)
        self.assertEqual(mallory.next_message(), rcp.Message(
            rcp.ALERT, b"Access Denied", b"You are not allowed to log in"))
        self.assertTrue(mallory.at_end())
        # The registered console saw mallory's machine change and session start and end.
        own, changed, started, ended = alice.notices(4)
        self.assertEqual((own.op, changed.op, started.op, ended.op),
                         (rcp.SESSION_STATUS, rcp.MACHINE_CHANGED, rcp.SESSION_STARTED,
                          rcp.SESSION_ENDED))
        self.assertEqual(changed.args, (b"127.0.0.1", b"mallory", b"2"))
        self.assertEqual(started.args[2], b"Norvane Remote Control Login")
        self.assertEqual(ended.args[1], started.args[1])
        self.wait_for_line("Remote Control Service", "\tmallory\t%010d\tFailed authorisation:\t"
                           "User mallory cannot log in - Access denied\r\n" % int(started.args[1]))

    def test_a_password_that_must_change(self):
        alice = self.connect(b"alice", b"wonder")
        self.assertEqual(alice.request(rcp.REGISTER), ([1, 3], []))

        # Nothing but the change is served, and only for bob's own account and password.
        bob = self.connect(b"bob", b"old", first=rcp.MUST_CHANGE_PASSWORD)
        for request in [(rcp.REGISTER,), (90,), (rcp.CHANGE_PASSWORD, b"bob", b"wrong", b"x"),
                        (rcp.CHANGE_PASSWORD, b"alice", b"wonder", b"x")]:
            self.assertEqual(bob.request(*request), ([rcp.DENIED], []), request)
        self.assertEqual(bob.request(rcp.CHANGE_PASSWORD, b"bob", b"old", b"n\x00w"), ([1, 3], []))
        self.assertEqual(bob.next_message(), rcp.Message(rcp.LOGGED_ON))
        self.assertEqual(bob.request(rcp.REGISTER), ([1, 3], []))
        # The new password is the one that counts, and the one kept (scrambled) in the store.
        self.assertEqual(rcp.connect_refused(self.port, b"bob", b"old"), 108)
        self.connect(b"bob", b"n\x00w")
        stored = self.norvane.nvreg("export", rcp.ROOT + r"\UserDatabase\bob", check=True).stdout
        self.assertIn('"Password"=' + rcp.hex_string(rcp.scrambled(b"n\x00w")), stored)

        # A user who may not change the password is told so, and stays where it was.
        carol = self.connect(b"carol", b"c4rol", first=rcp.MUST_CHANGE_PASSWORD)
        self.assertEqual(carol.request(rcp.CHANGE_PASSWORD, b"carol", b"c4rol", b"x"), ([1, 3], []))
        self.assertEqual(carol.next_message(), rcp.Message(
            rcp.ALERT, b"Password change denied",
            b"You do not have permission to\nchange your password"))
        self.assertEqual(carol.request(rcp.REGISTER), ([rcp.DENIED], []))

        # The registered console heard of these log-ons, and of none of their answers.
        heard = []
        while not {b"bob", b"carol"} <= {m.args[1] for m in heard if m.op == rcp.MACHINE_CHANGED}:
            heard.append(alice.next_message())
        heard += alice.pending()
        self.assertFalse({rcp.LOGGED_ON, rcp.MUST_CHANGE_PASSWORD, rcp.ALERT} &
                         {m.op for m in heard}, heard)

    def test_frames_at_and_beyond_their_limits(self):
        alice = self.connect(b"alice", b"wonder")
        # An image of exactly 16384 bytes is read (and the unknown request refused).
        big = rcp.Message(999, b"a" * (16384 - 7)).image()
        self.assertEqual(len(big), 16384)
        alice.send_frame(big)
        self.assertEqual(alice.statuses(), ([rcp.DENIED], []))
        # A whole frame with a malformed or empty image answers 4, and the session goes on.
        for image in (b"\x50\x00\xff\x10\x00ab", b""):
            alice.send_frame(image)
            self.assertEqual(alice.next_message(), INTERNAL_ERROR)
        self.assertEqual(alice.request(rcp.REGISTER), ([1, 3], []))

        # A frame over the limit, or cut short, answers 4 and ends the connection: nothing after
        # it can be read as frames.
        for data in (struct.pack("<I", 16385) + b"x" * 16385, struct.pack("<I", 100) + b"y" * 50):
            client = self.connect(b"alice", b"wonder")
            client.send_raw(data)
            client.sock.shutdown(socket.SHUT_WR)
            self.assertEqual(client.next_message(), INTERNAL_ERROR)
            self.assertTrue(client.at_end())
        log = self.wait_for_line("Remote Control Service", "\tError:\tConnection out of step "
                                 "after a failed transfer - terminating\r\n", count=2)
        self.assertEqual(log.count("\tError:\tInternal server error - ignoring\r\n"), 4, log)
        self.assertEqual(alice.request(rcp.REGISTER)[0], [1, 3])

    def test_notifications_to_registered_consoles(self):
        alice = self.connect(b"alice", b"wonder")
        dave = self.connect(b"dave", b"d4ve")
        self.assertEqual(alice.request(rcp.REGISTER), ([1, 3], []))
        self.assertEqual(dave.request(83), ([1, 3], []))
        # A registered console hears of every request made afterwards (75), its own included.
        self.assertEqual([m.args[2] for m in alice.notices(2)],
                         [b"Norvane Login: Register for everything",
                          b"Norvane Login: Register for activity updates"])
        self.assertEqual([m.args[2] for m in dave.notices(1)],
                         [b"Norvane Login: Register for activity updates"])

        # While alice's request is on its way (its session has read the start and waits for
        # the rest), a third console logs on: its notices, which dave gets at once, wait for
        # alice until the request is answered.
        request = rcp.Message(81).image()
        alice.send_raw(struct.pack("<I", len(request)) + request[:1])
        harness.wait_until(lambda: harness.unread_bytes(alice.sock) == 0,
                           message="the engine did not read the start of the request")
        third = self.connect(b"alice", b"wonder")
        early = dave.notices(2)
        alice.send_raw(request[1:])
        self.assertEqual(alice.statuses(), ([1, 3], []))
        for changed, started, status in (alice.notices(3), early + dave.notices(1)):
            self.assertEqual((changed.op, changed.args),
                             (rcp.MACHINE_CHANGED, (b"127.0.0.1", b"alice", b"2")))
            self.assertEqual(started.op, rcp.SESSION_STARTED)
            self.assertEqual(status.args[2], b"Norvane Login: Register for alerts")

        # The third console leaves: the machine goes back to "assumed", its session ends.
        third.close()
        for console in (alice, dave):
            changed, ended = console.notices(2)
            self.assertEqual((changed.op, changed.args),
                             (rcp.MACHINE_CHANGED, (b"127.0.0.1", b"alice", b"1")))
            self.assertEqual((ended.op, ended.args[1]), (rcp.SESSION_ENDED, started.args[1]))


if __name__ == "__main__":
    harness.main()
