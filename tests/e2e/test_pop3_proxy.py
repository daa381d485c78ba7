"""The POP3 proxy in the real NorvaneEngine, with Python's poplib and fetchmail as mail clients
and a small POP3 server of the test's own behind it."""

import os
import poplib
import shutil
import socket
import subprocess

import harness


def service(name, port, extra=""):
    """A POP3 proxy service on 127.0.0.1:port with every service-log event."""
    return ("[%s\\Services\\%s]\n"
            '"ServiceType"="CPOP3Service"\n"Name"="%s"\n"PortNumber"=dword:%08x\n'
            '"SpecifiedInterfaceAddress"=dword:00000001\n"InterfaceAddress"="127.0.0.1"\n'
            '"LogOptions"=dword:000003ff\n%s\n' % (harness.CONFIG_ROOT, name, name, port, extra))


MESSAGES = [b"From: a@example.net\r\nSubject: one\r\n\r\nfirst body\r\n",
            b"From: b@example.net\r\nSubject: two\r\n\r\n.dotted line\r\nsecond body\r\n"]


class MailServer:
    """A POP3 server with one mailbox of MESSAGES that records the commands of each connection
    (a list per connection) and greets with `greeting`."""

    def __init__(self, greeting=b"+OK test server ready"):
        self.greeting = greeting
        self.sessions = []
        self.server = harness.ConnectionServer(self._session)
        self.port = self.server.port
        self.close = self.server.close

    def _session(self, conn):
        commands = []
        self.sessions.append(commands)
        with conn.makefile("rb") as lines:
            conn.sendall(self.greeting + b"\r\n")
            for raw in lines:
                line = raw.rstrip(b"\r\n").decode("latin-1")
                commands.append(line)
                word, _, arg = line.partition(" ")
                word = word.upper()
                if word == "STAT":
                    answer = b"+OK %d %d" % (len(MESSAGES), sum(map(len, MESSAGES)))
                elif word == "LIST" and arg:
                    answer = b"+OK %s %d" % (arg.encode(), len(MESSAGES[int(arg) - 1]))
                elif word == "RETR":
                    body = MESSAGES[int(arg) - 1].replace(b"\r\n.", b"\r\n..")
                    answer = b"+OK\r\n" + body + b"."
                elif word in ("USER", "PASS", "NOOP", "DELE", "QUIT"):
                    answer = b"+OK"
                else:
                    answer = b"-ERR unknown"
                conn.sendall(answer + b"\r\n")
                if word == "QUIT":
                    return


class POP3ProxyTest(harness.EngineTestCase):
    def setUp(self):
        super().setUp()
        self.server = MailServer()
        self.addCleanup(self.server.close)
        self.norvane = self.new_norvane()
        self.logs = os.path.join(self.norvane.root, "logs")
        self.mail, self.forward, self.upstream, remote = harness.free_ports(4)
        server = self.server.port
        self.norvane.import_reg(
            harness.base_reg(self.logs, remote) +
            service("Mail", self.mail) +
            service("Forward", self.forward, '"NonProxyRequestAction"=dword:00000001\n'
                    '"NonProxyRequestHost"="127.0.0.1"\n"NonProxyRequestPort"=dword:%08x\n' % server) +
            service("Upstream", self.upstream, '"ConnectMethod"=dword:00000001\n'
                    '"ProxyServer"="127.0.0.1"\n"ProxyPort"=dword:%08x\n' % server))
        self.norvane.install_and_start()
        for port in (self.mail, self.forward, self.upstream):
            self.norvane.wait_for_port(port)

    def client(self, port=None):
        client = poplib.POP3("127.0.0.1", port or self.mail, timeout=harness.WAIT_TIMEOUT)
        self.addCleanup(client.close)
        return client

    def wait_for_log(self, text, name="Mail"):
        harness.wait_for_log(os.path.join(self.logs, name + ".log"), text)

    def assertRefused(self, call, answer):
        with self.assertRaises(poplib.error_proto) as caught:
            call()
        self.assertEqual(caught.exception.args[0], answer)

    def test_log_on_forms_and_answers_before_the_log_on(self):
        server = "127.0.0.1:%d" % self.server.port
        pop = self.client()
        self.assertEqual(pop.getwelcome(), b"+OK Norvane Engine POP3 Gateway ready")
        # Answered by the proxy, which goes on waiting for the log-on.
        self.assertRefused(lambda: pop._shortcmd("CAPA"), b"-ERR not supported")
        self.assertRefused(pop.noop, b"-ERR send USER mailbox#host first")
        self.assertRefused(lambda: pop.user("a#127.0.0.1:99999"), b"-ERR bad port")
        # The last delimiter splits; the server gets the mailbox and never greets the client.
        pop.user("a#b#" + server)
        pop.pass_("pw")
        self.assertEqual(pop.stat(), (2, sum(map(len, MESSAGES))))
        self.assertEqual(b"\r\n".join(pop.retr(2)[1]) + b"\r\n", MESSAGES[1])
        pop.quit()
        self.assertEqual(self.server.sessions[0], ["USER a#b", "PASS pw", "STAT", "RETR 2", "QUIT"])
        # Its end line: the code says which side closed first after QUIT, either may.
        harness.wait_for_session_end(os.path.join(self.logs, "Mail.log"), "POP3: a#b at %s" % server)

        # Without the delimiter (here '#'): refused and logged.
        pop = self.client()
        self.assertRefused(lambda: pop.user("alice%" + server), b"-ERR bad username")
        self.assertEqual(pop.file.readline(), b"")
        self.wait_for_log("Non proxy request rejected - client sent USER alice%" + server)
        # QUIT before the log-on.
        pop = self.client()
        self.assertEqual(pop.quit(), b"+OK")
        # Through the forwarding service a log-on without a server goes to its host as it is.
        pop = self.client(self.forward)
        pop.user("bob")
        pop.quit()
        # Through an upstream POP3 proxy the log-on names the server with '#', or is piped.
        for logon in ("carol#mail.example:1110", "carol#mail.example", "dave"):
            pop = self.client(self.upstream)
            pop.user(logon)
            pop.quit()
        harness.wait_until(lambda: len(self.server.sessions) == 5)
        self.assertEqual([s[0] for s in self.server.sessions[1:]],
                         ["USER bob", "USER carol#mail.example:1110",
                          "USER carol#mail.example", "USER dave"])
        self.wait_for_log("POP3: user dave piped through proxy", "Upstream")

    def test_pipelined_client_and_a_server_that_refuses(self):
        # What the client sends behind its log-on reaches the server after the proxy's USER.
        with socket.create_connection(("127.0.0.1", self.mail), timeout=harness.WAIT_TIMEOUT) as s, \
                s.makefile("rb") as answers:
            answers.readline()
            s.sendall(b"USER p#127.0.0.1:%d\r\nPASS pw\r\nQUIT\r\n" % self.server.port)
            self.assertEqual(answers.read(), b"+OK\r\n+OK\r\n+OK\r\n")
        self.assertEqual(self.server.sessions[0], ["USER p", "PASS pw", "QUIT"])
        # A first line other than +OK goes to the client, and no USER goes to the server.
        busy = MailServer(b"-ERR busy")
        self.addCleanup(busy.close)
        pop = self.client()
        self.assertRefused(lambda: pop.user("x#127.0.0.1:%d" % busy.port), b"-ERR busy")
        self.assertEqual(pop.noop(), b"+OK")
        self.assertEqual(busy.sessions[0], ["NOOP"])
        # A server that cannot be reached: the client is told why.
        pop = self.client()
        with self.assertRaises(poplib.error_proto) as caught:
            pop.user("x#127.0.0.1:%d" % harness.free_port())
        self.assertTrue(caught.exception.args[0].startswith(b"-ERR "), caught.exception.args)

    @harness.unittest.skipUnless(shutil.which("fetchmail"), "fetchmail is not installed")
    def test_fetchmail(self):
        home = os.path.join(self.norvane.root, "fetchmail")
        os.makedirs(home)
        out = os.path.join(home, "delivered")
        rc = os.path.join(home, "fetchmailrc")
        with open(rc, "w") as f:
            f.write('poll 127.0.0.1 proto pop3 port %d user "fm#127.0.0.1:%d" password "pw" '
                    'sslproto "" mda "cat >> %s" fetchall keep\n' % (self.mail, self.server.port, out))
        os.chmod(rc, 0o600)
        env = dict(os.environ, HOME=home, FETCHMAILHOME=home)
        # Its own lock file: as root, fetchmail's default one is shared by every run on the host.
        done = subprocess.run(["fetchmail", "-f", rc, "--pidfile", os.path.join(home, "pid"),
                               "--nosyslog", "-v"], env=env,
                              capture_output=True, text=True, timeout=harness.scaled(60))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        with open(out, "rb") as f:
            delivered = f.read().replace(b"\r\n", b"\n")
        for message in MESSAGES:
            self.assertIn(message.split(b"\r\n\r\n")[1].replace(b"\r\n", b"\n"), delivered)
        self.assertEqual(self.server.sessions[0][0], "USER fm")


if __name__ == "__main__":
    harness.main()
