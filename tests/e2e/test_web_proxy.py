"""The web proxy in the real NorvaneEngine, with real clients (curl, wget) and real origins
(python3 -m http.server, and small socket servers where an origin must misbehave)."""

import email.utils
import hashlib
import os
import shutil
import socket
import subprocess
import threading
import time

import harness
import webpeers

ROOT = r"HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2"

REG = "[" + ROOT + r'''\Settings]
"LogFileDirectory"="{logs}"

[''' + ROOT + r'''\Services\Web]
"ServiceType"="CWWWService"
"Name"="Web"
"Description"="Web"
"PortNumber"=dword:{port:08x}
"SpecifiedInterfaceAddress"=dword:00000001
"InterfaceAddress"="127.0.0.1"
"LogOptions"=dword:{log_options:08x}
"NonProxyRequestAction"=dword:{action:08x}
"NonProxyRequestHost"="127.0.0.1"
"NonProxyRequestPort"=dword:{forward_port:08x}
"RedirectURL"="http://example.invalid/moved"
"ServerRoot"="{server_root}"

[''' + ROOT + r'''\Cache]
"CacheDirectory"="{cache}"
"CacheOptions"=dword:00000003
"DaysBeforeCheckVolatile"=dword:{days:08x}
"DaysBeforeCheckNonVolatile"=dword:{days:08x}
'''

# The account unknown hosts' sessions run under, with every audit event on.
AUDITED_GUEST = "[" + ROOT + r'''\Settings]
"AuditDirectory"="{logs}"

[''' + ROOT + r'''\UserDatabase\Guest]
"Type"="User"
"Name"="Guest"
"AuditUser"=dword:00000001
"AuditOptions"=dword:000003ff
'''

# Every service-log event, debug lines included.
ALL_LOG_OPTIONS = 0x3FF
CLIENT_TIMEOUT = int(harness.scaled(30))


def reg_path(path):
    return path.replace("\\", "\\\\")


class Origin:
    """python3 -m http.server on a loopback port, serving `folder`; its access log (stderr)
    is kept in a file."""

    def __init__(self, folder):
        self.folder = folder
        self.port = harness.free_port()
        self.log_path = os.path.join(folder, "..", "origin-%d.log" % self.port)
        self._log = open(self.log_path, "wb")
        self.process = subprocess.Popen(
            ["/usr/bin/python3", "-m", "http.server", "--bind", "127.0.0.1", str(self.port)],
            cwd=folder, stdout=self._log, stderr=subprocess.STDOUT)
        harness.wait_until(lambda: harness.port_accepts(self.port),
                           message="the origin did not listen")

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def requests(self):
        with open(self.log_path, encoding="latin-1") as f:
            return [line for line in f if '"' in line]

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self._log.close()


class ScriptedOrigin:
    """A one-shot origin: accepts connections and answers each with `answer(request)` (bytes,
    or a function of the socket). The request head (and any body) it read is recorded."""

    def __init__(self, answer, read_body=0):
        self.answer = answer
        self.read_body = read_body
        self.requests = []
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            with conn:
                conn.settimeout(harness.WAIT_TIMEOUT)
                data = b""
                try:
                    while b"\r\n\r\n" not in data:
                        chunk = conn.recv(65536)
                        if not chunk:
                            break
                        data += chunk
                    while len(data) - data.find(b"\r\n\r\n") - 4 < self.read_body:
                        chunk = conn.recv(65536)
                        if not chunk:
                            break
                        data += chunk
                    self.requests.append(data)
                    if callable(self.answer):
                        self.answer(conn)
                    else:
                        conn.sendall(self.answer)
                except OSError:
                    pass

    def url(self, path="/"):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def close(self):
        self.listener.close()


class WebProxyTest(harness.EngineTestCase):
    action = 0
    extra_reg = ""
    # Days before a cached copy is checked with its server again (0: at every request).
    cache_days = 2

    def setUp(self):
        super().setUp()
        self.norvane = self.new_norvane()
        self.docs = os.path.join(self.norvane.root, "docs")
        self.server_root = os.path.join(self.norvane.root, "serverroot")
        self.logs = os.path.join(self.norvane.root, "logs")
        self.cache = os.path.join(self.norvane.root, "cache")
        for folder in (self.docs, self.server_root, self.logs):
            os.makedirs(folder)
        self.origin = Origin(self.docs)
        self.addCleanup(self.origin.close)
        self.port = harness.free_port()
        self.start_engine(self.action)

    def start_engine(self, action):
        self.norvane.import_reg(REG.format(
            logs=reg_path(self.logs), port=self.port, log_options=ALL_LOG_OPTIONS,
            action=action, forward_port=self.origin.port,
            server_root=reg_path(self.server_root), cache=reg_path(self.cache),
            days=self.cache_days) + "\n" +
            self.extra_reg.format(logs=reg_path(self.logs)))
        self.norvane.install_and_start()
        self.norvane.wait_for_port(self.port)

    @property
    def proxy(self):
        return "http://127.0.0.1:%d" % self.port

    def write_doc(self, name, data):
        path = os.path.join(self.docs, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def curl(self, *args, check=True):
        result = subprocess.run(["curl", "-sS", "--max-time", str(CLIENT_TIMEOUT)] + list(args),
                                capture_output=True, timeout=CLIENT_TIMEOUT + 10)
        if check and result.returncode != 0:
            self.fail("curl %s failed (%d): %s" % (args, result.returncode, result.stderr))
        return result

    def raw(self, request, timeout=harness.WAIT_TIMEOUT):
        """Sends `request` to the proxy and returns everything it answers until it closes."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as s:
            s.sendall(request)
            data = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    return data
                data += chunk

    def remove_cached_files(self):
        for name in os.listdir(self.cache):
            if name.endswith(".nvc"):
                os.remove(os.path.join(self.cache, name))

    def wait_for_end(self, url, name="Web", count=1):
        """The log `name` once `count` sessions that asked for `url` have ended (CR LF kept)."""
        return harness.wait_for_session_end(os.path.join(self.logs, name + ".log"), "GET " + url,
                                            count)


class ProxyRequests(WebProxyTest):
    def test_curl_and_wget_fetch_byte_identical_pages(self):
        data = os.urandom(70000) + b"\r\n\r\nHTTP/1.0 200 OK\r\n"
        self.write_doc("page.bin", data)
        got = self.curl("-x", self.proxy, self.origin.url("/page.bin")).stdout
        self.assertEqual(hashlib.sha256(got).hexdigest(), hashlib.sha256(data).hexdigest())

        target = os.path.join(self.norvane.root, "wget.bin")
        env = dict(os.environ, http_proxy=self.proxy)
        subprocess.run(["wget", "-q", "-t", "1", "-T", str(CLIENT_TIMEOUT), "-O", target,
                        self.origin.url("/page.bin")], env=env, check=True,
                       timeout=CLIENT_TIMEOUT + 10)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), data)

    def test_two_urls_on_one_curl_complete_without_waiting(self):
        self.write_doc("a.txt", b"first\n")
        self.write_doc("b.txt", b"second\n")
        started = time.monotonic()
        got = self.curl("-x", self.proxy, self.origin.url("/a.txt"), self.origin.url("/b.txt"))
        self.assertEqual(got.stdout, b"first\nsecond\n")
        # Both answers say the connection closes, so curl never waits for an idle time-out.
        self.assertLess(time.monotonic() - started, harness.scaled(10))

    def test_post_body_reaches_the_origin_and_the_answer_comes_back(self):
        body = b"x=" + b"7" * 100000
        origin = ScriptedOrigin(
            b"HTTP/1.1 201 Created\r\nContent-Length: 4\r\nConnection: keep-alive\r\n\r\ndone",
            read_body=len(body))
        self.addCleanup(origin.close)
        got = subprocess.run(
            ["curl", "-sS", "-i", "--max-time", str(CLIENT_TIMEOUT), "-x", self.proxy,
             "--data-binary", "@-", origin.url("/form")],
            input=body, capture_output=True, timeout=CLIENT_TIMEOUT + 10)
        self.assertEqual(got.returncode, 0, got.stderr)
        self.assertTrue(got.stdout.startswith(b"HTTP/1.1 201 Created\r\n"), got.stdout[:200])
        self.assertIn(b"\r\nConnection: close\r\n", got.stdout)
        self.assertIn(b"\r\nProxy-Connection: close\r\n", got.stdout)
        self.assertNotIn(b"keep-alive", got.stdout)
        self.assertTrue(got.stdout.endswith(b"\r\n\r\ndone"))
        request = origin.requests[0]
        head, _, sent_body = request.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"POST /form HTTP/1.1\r\n"), head)
        self.assertIn(b"\r\nHost: 127.0.0.1:%d" % origin.port, head)
        self.assertIn(b"\r\nConnection: close", head)
        self.assertNotIn(b"Proxy-Connection", head)
        self.assertEqual(sent_body, body)

    def test_a_large_file_relays_intact(self):
        path = os.path.join(self.docs, "big.bin")
        digest = hashlib.sha256()
        block = os.urandom(1 << 20)
        with open(path, "wb") as f:
            for i in range(100):
                chunk = block[i:] + block[:i]
                digest.update(chunk)
                f.write(chunk)
        url = self.origin.url("/big.bin")
        fetch = "curl -sS --max-time %d -x %s %s | sha256sum" % (
            harness.scaled(120), self.proxy, url)
        result = subprocess.run(fetch, shell=True, capture_output=True, timeout=harness.scaled(150))
        self.assertEqual(result.stdout.split()[0].decode(), digest.hexdigest())
        # The body, far longer than what one move holds, went into the cache as it passed:
        # the copy served next is the same.
        self.wait_for_end(url)
        result = subprocess.run(fetch, shell=True, capture_output=True, timeout=harness.scaled(150))
        self.assertEqual(result.stdout.split()[0].decode(), digest.hexdigest())
        self.assertEqual(len([r for r in self.origin.requests() if "GET /big.bin" in r]), 1)

    def test_heads_over_the_cap_are_refused(self):
        # A request head beyond 64 KiB: the malformed-request page.
        big = b"GET " + self.origin.url("/").encode() + b" HTTP/1.0\r\nX-Fill: " + b"a" * 70000
        answer = self.raw(big + b"\r\n\r\n")
        self.assertIn(b"<H1>Browser Error</H1>", answer)
        self.assertEqual(self.origin.requests(), [])

        # A response head beyond 64 KiB: the socket-error page, nothing of the head relayed.
        origin = ScriptedOrigin(b"HTTP/1.0 200 OK\r\nX-Fill: " + b"b" * 70000 + b"\r\n\r\nbody")
        self.addCleanup(origin.close)
        answer = self.raw(b"GET " + origin.url("/").encode() + b" HTTP/1.0\r\n\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.0 502 Bad Gateway\r\nPragma: no-cache\r\n\r\n"),
                        answer[:100])
        self.assertIn(b"<H1>Socket Error</H1>", answer)
        self.assertNotIn(b"bbbb", answer)

    def test_an_origin_that_closes_mid_body(self):
        origin = ScriptedOrigin(b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + b"z" * 300)
        self.addCleanup(origin.close)
        got = self.curl("-x", self.proxy, origin.url("/cut"), check=False)
        # The client gets the bytes that came and sees the body end short; no error page is
        # appended to it.
        self.assertEqual(got.returncode, 18, got.stderr)
        self.assertEqual(got.stdout, b"z" * 300)

        # A server that closes before its head is complete: its bytes are relayed as they are.
        origin2 = ScriptedOrigin(b"HTTP/1.0 200 OK\r\nX-Partial: yes")
        self.addCleanup(origin2.close)
        answer = self.raw(b"GET " + origin2.url("/").encode() + b" HTTP/1.0\r\n\r\n")
        self.assertEqual(answer, b"HTTP/1.0 200 OK\r\nX-Partial: yes")

    def test_answers_say_what_happened_to_clients_of_every_shape(self):
        body = os.urandom(300000)
        origin = ScriptedOrigin(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
        self.addCleanup(origin.close)
        # A client that half-closes after its request still gets the whole answer.
        with socket.create_connection(("127.0.0.1", self.port), timeout=harness.WAIT_TIMEOUT) as s:
            s.sendall(b"GET " + origin.url("/half").encode() + b" HTTP/1.0\r\n\r\n")
            s.shutdown(socket.SHUT_WR)
            got = b""
            while chunk := s.recv(65536):
                got += chunk
        self.assertTrue(got.endswith(b"\r\n\r\n" + body), got[:200])

        # An interim "100 Continue" is passed on, and is not the start of the answer: a server
        # that then closes still gets the client a page saying so.
        interim = ScriptedOrigin(b"HTTP/1.1 100 Continue\r\n\r\n")
        self.addCleanup(interim.close)
        answer = self.raw(b"POST " + interim.url("/up").encode() + b" HTTP/1.1\r\n"
                          b"Content-Length: 2\r\nExpect: 100-continue\r\n\r\nab")
        self.assertTrue(answer.startswith(b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 502 Bad Gateway\r\n"),
                        answer[:120])

        # Requests that a server could split differently than the proxy are refused as malformed,
        # under "400 Bad Request"; a server that cannot be reached is a "502 Bad Gateway".
        for head in (b"X\x1bY: 1\r\n", b"A: 1\rB: 2\r\n", b"A: x\x00y\r\n"):
            answer = self.raw(b"GET " + origin.url("/").encode() + b" HTTP/1.0\r\n" + head + b"\r\n")
            self.assertTrue(answer.startswith(b"HTTP/1.0 400 Bad Request\r\n"), answer[:80])
        got = self.curl("-f", "-x", self.proxy, "http://127.0.0.1:%d/" % harness.free_port(),
                        check=False)
        self.assertEqual(got.returncode, 22, got.stderr)
        self.assertIn(b"502", got.stderr)
        self.assertEqual(len(origin.requests), 1)

class AuditedRequests(WebProxyTest):
    extra_reg = AUDITED_GUEST

    def test_service_log_and_audit_lines_of_a_request(self):
        self.write_doc("logged.txt", b"hello\n")
        url = self.origin.url("/logged.txt")
        self.curl("-x", self.proxy, url + "?q=1")
        log = self.wait_for_end(url + "?q=1")
        self.assertIn("\tGuest\t", log)
        self.assertIn("Requested:\tGET %s?q=1\r\n" % url, log)
        self.assertIn("Debug:\tWWW Session sending server request in thread", log)
        self.assertIn("Terminated exit code 0\r\n", log)
        audit = self.wait_for_end(url + "?q=1", "Guest")
        self.assertIn("Requested\tGET %s?q=1\r\n" % url, audit)
        self.assertIn("Terminated exit code 0", audit)


class Cache(WebProxyTest):
    def test_a_second_fetch_comes_from_the_cache(self):
        data = os.urandom(5000)
        self.write_doc("cached.bin", data)
        url = self.origin.url("/cached.bin")
        self.assertEqual(self.curl("-x", self.proxy, url).stdout, data)
        # The copy is mapped after its index record and content file are written, before the
        # session's end line: only that line says the next request can find it.
        self.wait_for_end(url)
        got = self.curl("-i", "-x", self.proxy, url).stdout
        head, _, body = got.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.0 200 Document Follows\r\n"), head)
        self.assertIn(b"\r\nContent-Length: 5000", head)
        self.assertIn(b"\r\nServer: Norvane Engine", head)
        self.assertEqual(body, data)
        self.assertEqual(len([r for r in self.origin.requests() if "GET /cached.bin" in r]), 1)

        # A request with a query, or with "Pragma: no-cache", goes to the server.
        self.curl("-x", self.proxy, url, "-H", "Pragma: no-cache")
        self.assertEqual(len([r for r in self.origin.requests() if "GET /cached.bin" in r]), 2)

        # A fresh copy whose file vanished is fetched again (once the last answer's copy, if
        # any, is stored).
        self.wait_for_end(url, count=3)
        self.remove_cached_files()
        self.assertEqual(self.curl("-x", self.proxy, url).stdout, data)
        self.assertEqual(len([r for r in self.origin.requests() if "GET /cached.bin" in r]), 3)

    def test_copies_live_as_clients_and_origins_say(self):
        now = int(time.time())
        date = lambda t: email.utils.formatdate(t, usegmt=True)
        # A path, the headers its origin adds, those the client sends on its second request,
        # and the versions its three requests get (the origin counts its answers). A client's
        # no-cache, or an origin's lifetime shorter than the two days of a page, gets the
        # origin's answer; the one a client asked for replaces the copy.
        cases = [("/plain", [], [], [1, 1, 1]),
                 ("/pragma", [], ["Pragma: no-cache"], [1, 2, 2]),
                 ("/no-cache", [], ["Cache-Control: no-cache"], [1, 2, 2]),
                 ("/max-age-0", [], ["Cache-Control: max-age=0"], [1, 2, 2]),
                 ("/stale", ["Cache-Control: max-age=0"], [], [1, 2, 3]),
                 ("/revalidate", ["Cache-Control: max-age=0, must-revalidate"], [], [1, 2, 3]),
                 ("/minute", ["Cache-Control: max-age=60"], [], [1, 2, 3]),
                 ("/expires", ["Date: " + date(now), "Expires: " + date(now + 60)], [], [1, 2, 3]),
                 ("/two-days", ["Cache-Control: max-age=%d" % (2 * 86400)], [], [1, 1, 1])]
        origin = webpeers.VersionOrigin(self, {path: headers for path, headers, _, _ in cases})
        for path, _, asked, versions in cases:
            url, got = origin.url(path), []
            for i in range(3):
                headers = sum((["-H", h] for h in asked), []) if i == 1 else []
                got.append(self.curl("-x", self.proxy, url, *headers).stdout)
                self.wait_for_end(url, count=i + 1)
            self.assertEqual(got, [b"version %d" % v for v in versions], path)

    def test_private_and_cut_answers_are_never_kept(self):
        private = ScriptedOrigin(b"HTTP/1.0 200 OK\r\nCache-Control: private\r\n"
                                 b"Content-Length: 3\r\n\r\nabc")
        self.addCleanup(private.close)
        cut = ScriptedOrigin(b"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc")
        self.addCleanup(cut.close)
        for origin in (private, cut, private, cut):
            self.curl("-x", self.proxy, origin.url("/p"), check=False)
        self.assertEqual(len(private.requests), 2)
        self.assertEqual(len(cut.requests), 2)
        # A discarded download's file goes once the client has its answer.
        harness.wait_until(lambda: not [n for n in os.listdir(self.cache) if n.endswith(".nvc")],
                           message=lambda: "kept: %s" % os.listdir(self.cache))


class CacheRevalidation(WebProxyTest):
    cache_days = 0

    def test_a_stale_copy_is_revalidated_and_served_after_304(self):
        data = b"<p>stale but good</p>" * 100
        self.write_doc("page.html", data)
        url = self.origin.url("/page.html")
        self.assertEqual(self.curl("-x", self.proxy, url).stdout, data)
        self.wait_for_end(url)
        got = self.curl("-i", "-x", self.proxy, url).stdout
        self.assertTrue(got.startswith(b"HTTP/1.0 200 Document Follows\r\n"), got[:200])
        self.assertTrue(got.endswith(data))
        requests = [r for r in self.origin.requests() if "GET /page.html" in r]
        self.assertEqual(len(requests), 2)
        self.assertIn('" 304 ', requests[1])

        # A client with its own If-Modified-Since no older than the copy gets a 304 from
        # the server passed on; a client that sent none never gets one.
        later = "Sun, 06 Nov 2094 08:49:37 GMT"
        got = self.curl("-i", "-x", self.proxy, url, "-H", "If-Modified-Since: " + later).stdout
        self.assertTrue(got.startswith(b"HTTP/1.0 304 "), got[:200])

        # The copy's file vanished: the server's 304 to the cache's own date cannot be used,
        # and the request goes out again as the client sent it, without that date.
        self.remove_cached_files()
        got = self.curl("-i", "-x", self.proxy, url).stdout
        self.assertTrue(got.startswith(b"HTTP/1.0 200 OK\r\n"), got[:200])
        self.assertTrue(got.endswith(data))
        statuses = [r.split('" ')[1][:3] for r in self.origin.requests() if "GET /page.html" in r]
        self.assertEqual(statuses[-2:], ["304", "200"])


class NonProxyRefused(WebProxyTest):
    action = 0

    def test_relative_request_is_malformed_and_internal_host_serves_files(self):
        answer = self.raw(b"GET /index.html HTTP/1.0\r\n\r\n")
        self.assertIn(b"<TITLE>Browser Error</TITLE>", answer)

        resources = os.path.join(harness.BINARY_DIR, "engine", "Resources")
        with open(os.path.join(resources, "Default.gif"), "rb") as f:
            icon = f.read()
        got = self.curl("-i", "-x", self.proxy, "http://norvane-internal/Resources/Default.gif")
        head, _, body = got.stdout.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.0 200 Document Follows\r\n"), head)
        self.assertIn(b"Content-Type: image/gif", head)
        self.assertEqual(body, icon)

        answer = self.raw(b"GET http://norvane-internal/Resources/../Resources/Default.gif "
                          b"HTTP/1.0\r\n\r\n")
        self.assertIn(b"<H1>Access Denied</H1><P><P>File not found or access denied", answer)


class NonProxyForwarded(WebProxyTest):
    action = 1

    def test_relative_request_goes_to_the_configured_host(self):
        self.write_doc("fwd.txt", b"forwarded\n")
        got = self.curl(self.proxy + "/fwd.txt")
        self.assertEqual(got.stdout, b"forwarded\n")


class NonProxyRedirected(WebProxyTest):
    action = 2

    def test_relative_request_is_redirected(self):
        answer = self.raw(b"GET /x HTTP/1.0\r\n\r\n")
        self.assertEqual(answer, b"HTTP/1.0 302 Found\r\nLocation: http://example.invalid/moved\r\n\r\n")


class NonProxyServerRoot(WebProxyTest):
    action = 3

    def test_files_under_the_server_root_only(self):
        with open(os.path.join(self.server_root, "page.html"), "wb") as f:
            f.write(b"<p>root</p>")
        with open(os.path.join(self.norvane.root, "secret.txt"), "wb") as f:
            f.write(b"secret")
        got = self.curl("-i", self.proxy + "/page.html")
        self.assertIn(b"Content-Type: text/html", got.stdout)
        self.assertTrue(got.stdout.endswith(b"\r\n\r\n<p>root</p>"))
        answer = self.raw(b"GET /../secret.txt HTTP/1.0\r\n\r\n")
        self.assertIn(b"<H1>Access Denied</H1>", answer)
        self.assertNotIn(b"secret", answer)
        answer = self.raw(b"GET /missing.txt HTTP/1.0\r\n\r\n")
        self.assertIn(b"File not found or access denied", answer)


if __name__ == "__main__":
    harness.main()
