"""The service property sheet against a live NorvaneEngine: the console scenario program
(consoledriver.py) moves a web proxy service to another port through its sheet, and curl goes
through the new port while the old one refuses; on the Policies page it then limits "Users can
access this service" to one recipient at 10.* without default rights, so curl gets the Access
Denied page, until 127.0.0.1 is added to that recipient's locations; last it makes a TCP mapping
service whose mapping to a loopback listener is added through the Mapping sheet, and nc's bytes
arrive there."""

import os
import socket
import subprocess
import threading

import consoledriver
import harness
import rcp
import test_remote_dispatch
import test_socks

TIMEOUT = int(harness.WAIT_TIMEOUT)


def curl(norvane, proxy, url):
    return subprocess.run(["curl", "-sS", "--max-time", str(TIMEOUT), "-x", "http://127.0.0.1:%d" % proxy, url],
                          env=norvane.env, capture_output=True, timeout=TIMEOUT + 10)


def refused(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT).close()
    except ConnectionRefusedError:
        return True
    return False


class ConsoleServices(harness.EngineTestCase):
    def setUp(self):
        try:
            harness._program(os.path.join("tests", "console", "wardenhall_scenario"))
        except harness.HarnessError:
            self.skipTest("the console is not built (NORVANE_GUI=OFF)")

    def test_a_moved_web_proxy_its_access_policy_and_a_new_mapping_made_in_the_sheets(self):
        norvane = self.new_norvane()
        port, web, moved, mapped = (harness.free_port() for _ in range(4))
        logs = os.path.join(norvane.root, "logs")
        norvane.import_reg(rcp.service_reg(port, logs) + rcp.user_reg("alice", b"wonder", administrator=True) +
                           test_remote_dispatch.web_reg("Web", web))
        norvane.install_and_start()
        norvane.wait_for_port(port)
        norvane.wait_for_port(web)
        folder = os.path.join(norvane.root, "site")
        os.makedirs(folder)
        with open(os.path.join(folder, "page.txt"), "w") as f:
            f.write("served through the proxy\n")
        _, origin, _ = test_socks.web_origin(self, folder)
        url = "http://127.0.0.1:%d/page.txt" % origin
        self.assertEqual(curl(norvane, web, url).stdout, b"served through the proxy\n")

        console = consoledriver.Console(norvane, "127.0.0.1", port, "alice", display=True)
        self.addCleanup(console.process.kill)
        console.do("logon wonder")
        console.do("wait " + consoledriver.ONLINE)
        console.do("wait view cfg 30 -")

        # The port moves: the engine restarts the service on the echo of request 34.
        console.do("service Web 147:1068=%d" % moved)
        console.do("wait view cfg 34 CWWWService Web")
        norvane.wait_for_port(moved)
        done = curl(norvane, moved, url)
        self.assertEqual(done.stdout, b"served through the proxy\n", done.stderr)
        harness.wait_until(lambda: refused(web), message="port %d still accepts" % web)

        # The access right for one recipient at 10.* only, without default rights: curl is refused
        # (the recipient sheet warns that localhost is left out), until the recipient also has
        # 127.0.0.1, added by double-clicking it on the page of the sheet opened again.
        policy = ("open-service Web", "sheet-page 148", "sheet-choose 1097 Users can access this service")
        for command in policy + ("sheet-check 1164 0",):
            console.do(command)
        shown = console.do("sheet-answer 1098 157:1110 157:1113=10.* 157:1114")
        self.assertIn("box Possible setting problem|Localhost (127.0.0.1) has not been included or has\\nbeen "
                      "excluded from this recipient.  This will ban this\\nrecipient from using Norvane services "
                      "that are bound\\nto the localhost address\\n\\nDo you wish to continue?", shown)
        console.do("sheet-ok")
        console.do("wait view cfg 34 CWWWService Web")
        self.assertIn(b"<H1>Access Denied</H1><P><P>You do not have sufficient rights for access to this resource",
                      curl(norvane, moved, url).stdout)
        for command in policy + ("sheet-answer 1043 157:1113=127.0.0.1 157:1114", "sheet-shot service-policies",
                                 "sheet-ok", "wait view cfg 34 CWWWService Web"):
            console.do(command)
        self.assertEqual(curl(norvane, moved, url).stdout, b"served through the proxy\n")

        # A new TCP mapping service whose mapping to a loopback listener is made in the Mapping sheet.
        listener = socket.create_server(("127.0.0.1", 0))
        self.addCleanup(listener.close)
        received = []  # what each connection brought, the harness's probe of the port included

        def accept():
            listener.settimeout(TIMEOUT)
            while True:
                try:
                    connection, _ = listener.accept()
                except OSError:
                    return  # closed at the end, or nothing more came
                with connection:
                    connection.settimeout(TIMEOUT)
                    received.append(b"".join(iter(lambda: connection.recv(65536), b"")))

        threading.Thread(target=accept, daemon=True).start()
        for command in ("open-service new:CTCPMappingService 147:1066=Forward 147:1068=%d" % mapped, "sheet-page 165",
                        "sheet-answer 1190 167:1201=127.0.0.1 167:1202=%d" % listener.getsockname()[1], "sheet-ok"):
            console.do(command)
        console.do("wait view cfg 32 item 3 Forward")
        norvane.wait_for_port(mapped)
        data = b"".join(b"line %05d through the mapping\n" % i for i in range(2000))
        subprocess.run(["nc", "-N", "-w", str(TIMEOUT), "127.0.0.1", str(mapped)], input=data,
                       capture_output=True, timeout=TIMEOUT + 10)
        harness.wait_until(lambda: data in received, message=lambda: "received %r" % [len(r) for r in received])
        self.assertEqual(console.quit(), 0)


if __name__ == "__main__":
    harness.main()
