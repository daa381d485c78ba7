"""CONNECT tunnels through the web proxy of the real NorvaneEngine: HTTPS with curl against an
openssl s_server on loopback, refused and failed tunnels, and the bytes a client sends right
after its CONNECT head."""

import os
import socket

import harness
import webpeers


class Tunnel(harness.EngineTestCase):
    def test_https_through_the_tunnel(self):
        norvane, proxy = webpeers.start_web_proxy(self)
        site = os.path.join(norvane.root, "site")
        os.mkdir(site)
        body = os.urandom(300000)
        with open(os.path.join(site, "blob.bin"), "wb") as f:
            f.write(body)
        origin = webpeers.start_tls_origin(norvane, site)
        proxy_url = "http://127.0.0.1:%d" % proxy

        # An https:// URL always goes through CONNECT; -p makes curl tunnel explicitly.
        for extra in ([], ["-p"]):
            done = webpeers.curl(norvane, "-k", "-x", proxy_url, *extra,
                                 "https://localhost:%d/blob.bin" % origin)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stdout, body)

        # The tunnel's answer as a client sees it on the wire.
        answer = webpeers.exchange(
            proxy, b"CONNECT localhost:%d HTTP/1.1\r\nHost: localhost\r\n\r\n" % origin,
            until=b"\r\n\r\n")
        self.assertEqual(answer, b"HTTP/1.0 200 Connected OK\r\n\r\n")

    def test_bytes_after_the_head_and_binary_data_pass_unchanged(self):
        norvane, proxy = webpeers.start_web_proxy(self)
        echo = webpeers.EchoServer(self)
        payload = bytes(range(256)) * 2000
        with socket.create_connection(("127.0.0.1", proxy), timeout=harness.WAIT_TIMEOUT) as s:
            # The first bytes of the tunnelled protocol come in the same packet as the head.
            s.sendall(b"CONNECT 127.0.0.1:%d HTTP/1.0\r\n\r\nhello\x00\xff" % echo.port)
            expected = b"HTTP/1.0 200 Connected OK\r\n\r\nhello\x00\xff"
            received = b""
            while len(received) < len(expected):
                chunk = s.recv(65536)
                self.assertTrue(chunk, "tunnel closed early: %r" % received)
                received += chunk
            self.assertEqual(received, expected)
            s.sendall(payload)
            received = b""
            while len(received) < len(payload):
                chunk = s.recv(65536)
                self.assertTrue(chunk, "tunnel closed after %d bytes" % len(received))
                received += chunk
            self.assertEqual(received, payload)

    def test_refused_and_failed_tunnels_are_not_taken_as_up(self):
        norvane, proxy = webpeers.start_web_proxy(self, webpeers.GET_ONLY_REG)
        echo = webpeers.EchoServer(self)

        # The rights refuse CONNECT: 403 with the access-denied page, and curl says so.
        answer = webpeers.exchange(proxy, b"CONNECT 127.0.0.1:%d HTTP/1.0\r\n\r\n" % echo.port)
        head, _, page = answer.partition(b"\r\n\r\n")
        self.assertEqual(head, b"HTTP/1.0 403 Forbidden\r\nPragma: no-cache")
        self.assertIn(b"<H1>Access Denied</H1>", page)
        done = webpeers.curl(norvane, "-k", "-x", "http://127.0.0.1:%d" % proxy,
                             "https://127.0.0.1:%d/" % echo.port)
        self.assertEqual(done.returncode, 56, done.stderr)
        self.assertIn(b"403", done.stderr)

        # Other refused requests say so the same way.
        answer = webpeers.exchange(proxy, b"POST http://127.0.0.1:%d/ HTTP/1.0\r\n\r\n" % echo.port)
        self.assertTrue(answer.startswith(b"HTTP/1.0 403 Forbidden\r\n"), answer[:80])

    def test_tunnel_to_a_closed_port_is_a_bad_gateway(self):
        norvane, proxy = webpeers.start_web_proxy(self)
        closed = harness.free_port()
        answer = webpeers.exchange(proxy, b"CONNECT 127.0.0.1:%d HTTP/1.0\r\n\r\n" % closed)
        head, _, page = answer.partition(b"\r\n\r\n")
        self.assertEqual(head, b"HTTP/1.0 502 Bad Gateway\r\nPragma: no-cache")
        self.assertIn(b"<H1>Socket Error</H1>", page)
        # Nor may a tunnel reach the engine's own listeners.
        answer = webpeers.exchange(proxy, b"CONNECT 127.0.0.1:%d HTTP/1.0\r\n\r\n" % proxy)
        self.assertTrue(answer.startswith(b"HTTP/1.0 502 Bad Gateway\r\n"), answer[:80])

    def test_through_an_upstream_proxy(self):
        # The second engine is the upstream: the first sends it "CONNECT host:port"
        # (ConnectMethod 1), or opens its connections through it with CONNECT (method 4),
        # the FTP data connection included.
        _, upstream = webpeers.start_web_proxy(self)
        norvane, proxy = webpeers.start_web_proxy(self, upstream=(1, upstream))
        _, tunnelled = webpeers.start_web_proxy(self, upstream=(4, upstream))
        site = os.path.join(norvane.root, "site")
        os.mkdir(site)
        with open(os.path.join(site, "page.txt"), "wb") as f:
            f.write(b"through two proxies")
        origin = webpeers.start_tls_origin(norvane, site)
        done = webpeers.curl(norvane, "-k", "-x", "http://127.0.0.1:%d" % proxy,
                             "https://localhost:%d/page.txt" % origin)
        self.assertEqual((done.returncode, done.stdout), (0, b"through two proxies"), done.stderr)

        ftp = webpeers.start_pyftpdlib(norvane, site)
        for port in (proxy, tunnelled):
            done = webpeers.curl(norvane, "-x", "http://127.0.0.1:%d" % port,
                                 "ftp://127.0.0.1:%d/" % ftp)
            self.assertIn(b'<A HREF="/page.txt">', done.stdout, (port, done.stderr))
            done = webpeers.curl(norvane, "-x", "http://127.0.0.1:%d" % port,
                                 "ftp://127.0.0.1:%d/page.txt" % ftp)
            self.assertEqual(done.stdout, b"through two proxies")


if __name__ == "__main__":
    harness.main()
