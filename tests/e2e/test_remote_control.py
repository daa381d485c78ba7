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
ADMINISTRATORS_ONLY = r'''
[{root}\Services\Remote Control Service\AccessRights]
"RightType"=dword:00000000
"Description"="Administrators only"
"IncludeDefaultRights"=dword:00000000

[{root}\Services\Remote Control Service\AccessRights\Recipient0]
"UserName"="Administrators"
"Description"="Administrators"
"SpecifyUser"=dword:00000001
'''.format(root=rcp.ROOT)

USERS = (rcp.user_reg("alice", b"wonder", administrator=True, audited=True) +
         rcp.user_reg("dave", b"d4ve", administrator=True) +
         rcp.user_reg("mallory", b"m4llory") +
         rcp.user_reg("bob", b"old", must_change=True, administrator=True) +
         rcp.user_reg("carol", b"c4rol", must_change=True, cannot_change=True,
                      administrator=True))


def read_log(path):
    try:
        with open(path, encoding="latin-1", newline="") as f:
            return f.read()
    except FileNotFoundError:
        return ""


class RemoteControl(harness.EngineTestCase):
    def start_engine(self):
        n = self.new_norvane()
        self.port = harness.free_port()
        self.logs = os.path.join(n.root, "logs")
        n.import_reg(rcp.service_reg(self.port, self.logs) + ADMINISTRATORS_ONLY + USERS)
        n.install_and_start()
        n.wait_for_port(self.port)
        return n

    def log_on(self, user, password):
        client = rcp.Client.connect(self.port, user, password)
        self.addCleanup(client.close)
        self.assertEqual(client.logon(), rcp.Message(rcp.LOGGED_ON))
        return client

    def service_log_path(self):
        return os.path.join(self.logs, "Remote Control Service.log")

    def service_log(self):
        return read_log(self.service_log_path())

    def wait_for_line(self, path, text):
        harness.wait_until(lambda: text in read_log(path),
                           message=lambda: "%r not in %s:\n%s" % (text, path, read_log(path)))

    def test_handshake_log_on_and_its_refusal(self):
        self.start_engine()
        # The handshake's refusals, each with its status (or none for a broken answer).
        cases = [
            ("no user name", b"", b"", {}, 106),
            ("unknown user", b"zed", b"x", {}, 107),
            ("wrong password", b"alice", b"wrong", {}, 108),
            ("engine link type", b"alice", b"wonder", {"link_type": 1}, 109),
            ("wrong version", b"alice", b"wonder", {"version": b"\x02\x03"}, None),
            ("wrong command", b"alice", b"wonder", {"command": 3}, None),
        ]
        for what, user, password, options, code in cases:
            link_type = options.pop("link_type", 2)
            try:
                channel = linkclient.connect("127.0.0.1", self.port, link_type, user, password,
                                             **options)
                channel.close()
                self.fail("%s: not refused" % what)
            except linkclient.Refused as refusal:
                self.assertEqual(refusal.code, code, what)
            except (linkclient.LinkError, ConnectionError, socket.timeout):
                self.assertIsNone(code, what)
        self.wait_for_line(self.service_log_path(),
                           "InitInstance() User alice failed password - terminating")

        # A client that says nothing after connecting is dropped after the handshake's 5 s.
        with socket.create_connection(("127.0.0.1", self.port), timeout=15) as silent:
            started = time.monotonic()
            challenge = linkclient.read_frame(silent)
            self.assertEqual(challenge[:4], b"\x01\x03\x00\x01")
            self.assertEqual(silent.recv(1), b"")
            self.assertGreater(time.monotonic() - started, 4.5)

        # Granted: 5 first, whatever the console sent meanwhile; "Logged in" audited.
        alice = rcp.Client.connect(self.port, b"alice", b"wonder")
        self.addCleanup(alice.close)
        alice.send_message(rcp.REGISTER)
        self.assertEqual(alice.logon(), rcp.Message(rcp.LOGGED_ON))
        self.assertEqual(alice.statuses(), ([rcp.ACCEPTED, rcp.COMPLETED], []))
        self.wait_for_line(os.path.join(self.logs, "alice.log"), "\tLogged in\r\n")

        # Refused by the service's right: the alert reaches the console, then the connection
        # ends, also when the console has sent a request the engine never read.
        mallory = rcp.Client.connect(self.port, b"mallory", b"m4llory")
        self.addCleanup(mallory.close)
        mallory.send_message(rcp.REGISTER)
        alert = mallory.next_message()
        self.assertEqual(alert, rcp.Message(rcp.ALERT, b"Access Denied",
                                            b"You are not allowed to log in"))
        self.assertTrue(mallory.at_end())
        # The registered console saw mallory's machine change and session start and end.
        own, changed, started, ended = alice.notices(4)
        self.assertEqual(own.op, rcp.SESSION_STATUS)
        self.assertEqual((changed.op, changed.args), (rcp.MACHINE_CHANGED,
                                                      (b"127.0.0.1", b"mallory", b"2")))
        self.assertEqual((started.op, started.args[2]),
                         (rcp.SESSION_STARTED, b"Norvane Remote Control Login"))
        self.assertEqual((ended.op, ended.args[1]), (rcp.SESSION_ENDED, started.args[1]))
        self.wait_for_line(self.service_log_path(),
                           "\tmallory\t%010d\tFailed authorisation:\tUser mallory cannot log in"
                           " - Access denied\r\n" % int(started.args[1]))

    def test_a_password_that_must_change(self):
        n = self.start_engine()
        alice = self.log_on(b"alice", b"wonder")
        self.assertEqual(alice.request(rcp.REGISTER), ([1, 3], []))

        bob = rcp.Client.connect(self.port, b"bob", b"old")
        self.addCleanup(bob.close)
        self.assertEqual(bob.logon(), rcp.Message(rcp.MUST_CHANGE_PASSWORD))
        # Nothing but the change is served, and only for bob's own account and password.
        for request in [(rcp.REGISTER,), (90,),
                        (rcp.CHANGE_PASSWORD, b"bob", b"wrong", b"new"),
                        (rcp.CHANGE_PASSWORD, b"alice", b"wonder", b"new")]:
            self.assertEqual(bob.request(*request), ([rcp.DENIED], []), request)
        self.assertEqual(bob.request(rcp.CHANGE_PASSWORD, b"bob", b"old", b"n\x00w"),
                         ([rcp.ACCEPTED, rcp.COMPLETED], []))
        self.assertEqual(bob.next_message(), rcp.Message(rcp.LOGGED_ON))
        self.assertEqual(bob.request(rcp.REGISTER), ([1, 3], []))

        # The new password is the one kept, scrambled, in the store.
        self.assertEqual(rcp.connect_refused(self.port, b"bob", b"old"), 108)
        self.log_on(b"bob", b"n\x00w")
        stored = n.nvreg("export", rcp.ROOT + r"\UserDatabase\bob", check=True).stdout
        self.assertIn('"Password"=' + rcp.hex_string(rcp.scrambled(b"n\x00w")), stored)

        # A user who may not change the password is told so, and stays where it was.
        carol = rcp.Client.connect(self.port, b"carol", b"c4rol")
        self.addCleanup(carol.close)
        self.assertEqual(carol.logon(), rcp.Message(rcp.MUST_CHANGE_PASSWORD))
        self.assertEqual(carol.request(rcp.CHANGE_PASSWORD, b"carol", b"c4rol", b"x"),
                         ([1, 3], []))
        self.assertEqual(carol.next_message(), rcp.Message(
            rcp.ALERT, b"Password change denied",
            b"You do not have permission to\nchange your password"))
        self.assertEqual(carol.request(rcp.REGISTER), ([rcp.DENIED], []))

        # The registered console heard of these log-ons, never a log-on answer of theirs.
        heard = alice.pending()
        self.assertIn((rcp.MACHINE_CHANGED, b"bob"), [(m.op, m.args[1]) for m in heard])
        self.assertIn((rcp.MACHINE_CHANGED, b"carol"), [(m.op, m.args[1]) for m in heard])
        self.assertFalse({rcp.LOGGED_ON, rcp.MUST_CHANGE_PASSWORD, rcp.ALERT} &
                         {m.op for m in heard}, heard)

    def test_frames_at_and_beyond_their_limits(self):
        self.start_engine()
        alice = self.log_on(b"alice", b"wonder")
        # An image of exactly 16384 bytes is read (and the unknown request refused).
        big = rcp.Message(999, b"a" * (16384 - 7))
        self.assertEqual(len(big.image()), 16384)
        alice.send_frame(big.image())
        self.assertEqual(alice.statuses(), ([rcp.DENIED], []))
        # A whole frame with a malformed image, or an empty one, answers 4; the session goes on.
        for image in (b"\x50\x00\xff\x10\x00ab", b""):
            alice.send_frame(image)
            self.assertEqual(alice.next_message(),
                             rcp.Message(rcp.INTERNAL_ERROR, b"Internal server error"))
        self.assertEqual(alice.request(rcp.REGISTER), ([1, 3], []))

        # A frame over the limit, or cut short, answers 4 and ends the connection: what follows
        # cannot be read as frames.
        for what, data in (("16385 bytes", struct.pack("<I", 16385) + b"x" * 16385),
                           ("short image", struct.pack("<I", 100) + b"y" * 50)):
            client = self.log_on(b"alice", b"wonder")
            client.send_raw(data)
            client.channel.sock.shutdown(socket.SHUT_WR)
            self.assertEqual(client.next_message(),
                             rcp.Message(rcp.INTERNAL_ERROR, b"Internal server error"), what)
            self.assertTrue(client.at_end(), what)
        log = self.service_log()
        self.assertEqual(log.count("Error:\tInternal server error - ignoring\r\n"), 4, log)
        self.assertEqual(log.count("Error:\tConnection out of step after a failed transfer"
                                   " - terminating\r\n"), 2, log)
        # The first connection was never disturbed.
        self.assertEqual(alice.request(rcp.REGISTER)[0], [1, 3])

    def test_notifications_to_registered_consoles(self):
        self.start_engine()
        alice = self.log_on(b"alice", b"wonder")
        dave = self.log_on(b"dave", b"d4ve")
        self.assertEqual(alice.request(rcp.REGISTER), ([1, 3], []))
        self.assertEqual(dave.request(83), ([1, 3], []))
        # Each registered console hears of every request made afterwards (75).
        self.assertEqual([(m.op, m.args[2]) for m in alice.notices(2)],
                         [(rcp.SESSION_STATUS, b"Norvane Login: Register for everything"),
                          (rcp.SESSION_STATUS, b"Norvane Login: Register for activity updates")])
        self.assertEqual([(m.op, m.args[2]) for m in dave.notices(1)],
                         [(rcp.SESSION_STATUS, b"Norvane Login: Register for activity updates")])

        # While alice's request is on the way, a third console logs on: its notices wait until
        # the request is answered.
        request = rcp.Message(81).image()
        alice.send_raw(struct.pack("<I", len(request)) + request[:1])
        time.sleep(0.2)
        third = self.log_on(b"alice", b"wonder")
        time.sleep(0.3)
        alice.send_raw(request[1:])
        self.assertEqual(alice.statuses(), ([1, 3], []))
        for console in (alice, dave):
            changed, started, status = console.notices(3)
            self.assertEqual((changed.op, changed.args), (rcp.MACHINE_CHANGED,
                                                          (b"127.0.0.1", b"alice", b"2")))
            self.assertEqual(started.op, rcp.SESSION_STARTED)
            self.assertEqual((status.op, status.args[2]),
                             (rcp.SESSION_STATUS, b"Norvane Login: Register for alerts"))

        # The third console leaves: the machine goes back to "assumed", its session ends.
        third.close()
        for console in (alice, dave):
            changed, ended = console.notices(2)
            self.assertEqual((changed.op, changed.args), (rcp.MACHINE_CHANGED,
                                                          (b"127.0.0.1", b"alice", b"1")))
            self.assertEqual((ended.op, ended.args[1]), (rcp.SESSION_ENDED, started.args[1]))


if __name__ == "__main__":
    harness.main()
