"""Password guessing against the real NorvaneEngine's link handshake, with the independent
client (linkclient.py, rcp.py): one address's wrong log-ons on the remote-control service and
on a TCP mapping's enciphered link are answered ever more slowly, with the codes they always
had; the event log says so once per burst; the right password works at once from another
address, and from the guessing address only after its delay."""

import os
import time

import harness
import linkclient
import rcp

WARNING = ("Repeated failed log-ons from 127.0.0.1 (account alice): further log-ons from this "
           "address are slowed down.")
ENDED = "Failed log-ons from 127.0.0.1 have ended after "

# A mapping whose incoming connections open with the handshake against the user database.
MAPPING = r'''
[{root}\Services\Link]
"ServiceType"="CTCPMappingService"
"Name"="Link"
"PortNumber"=dword:{port:08x}
"EncryptConnectionsIn"=dword:00000001

[{root}\Services\Link\Mappings]
"AllowDefault"=dword:00000001
"Host"="127.0.0.1"
"Port"=dword:{target:08x}
'''


class LogOnThrottle(harness.EngineTestCase):
    def test_guessing_is_slowed_per_address_and_reported_once_per_burst(self):
        norvane = self.new_norvane()
        remote, mapping, target = harness.free_ports(3)
        norvane.import_reg(rcp.service_reg(remote, os.path.join(norvane.root, "logs")) +
                           rcp.user_reg("alice", b"wonder", administrator=True) +
                           MAPPING.format(root=rcp.ROOT, port=mapping, target=target))
        norvane.install_and_start()
        norvane.wait_for_port(remote)
        norvane.wait_for_port(mapping)
        doors = [(remote, 2), (mapping, 1)]

        def log_on(door, password, source="127.0.0.1"):
            """The handshake's status: 4 when it let the client in."""
            try:
                linkclient.connect("127.0.0.1", door[0], door[1], b"alice", password,
                                   source=source).close()
                return 4
            except linkclient.Refused as refusal:
                return refusal.code

        # Guesses through both doors count together and are refused as ever, but only three
        # come at once: then turns 1, 2 and 4 s apart, and a guess sent before its turn is held
        # 3 s and refused unchecked. Without the throttle these took a few milliseconds.
        started = time.monotonic()
        for n in range(8):
            self.assertEqual(log_on(doors[n % 2], b"guess%d" % n), 108)
        self.assertGreaterEqual(time.monotonic() - started, 9.9)
        norvane.wait_for_event(WARNING)

        # Another address is not slowed down.
        for door in doors:
            self.assertEqual(log_on(door, b"wonder", source="127.0.0.2"), 4)
        console = rcp.Client.connect(remote, b"alice", b"wonder", source="127.0.0.2")
        self.addCleanup(console.close)
        self.assertEqual(console.logon().op, rcp.LOGGED_ON)

        # The guessing address gets in with the right password once its turn has come (15 s
        # after the first guess); before, it is refused like a guess.
        codes = []
        harness.wait_until(lambda: codes.append(log_on(doors[0], b"wonder")) or codes[-1] == 4,
                           timeout=harness.scaled(60))
        self.assertLessEqual(set(codes[:-1]), {108})
        self.assertGreaterEqual(time.monotonic() - started, 15)

        # The success ended the burst: one line for its start, one for its end.
        harness.wait_until(lambda: any(t.startswith(ENDED) for t in norvane.event_texts()))
        texts = norvane.event_texts()
        self.assertEqual(texts.count(WARNING), 1)
        self.assertEqual(len([t for t in texts if t.startswith(ENDED)]), 1, texts)


if __name__ == "__main__":
    harness.main()
