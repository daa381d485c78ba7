"""Drives the console scenario program (tests/console/ConsoleScenario.cpp) in its command mode:
one command a line on its standard input, answered "ok <command>" or "FAILED <command>: ...",
with what the console shows (notices to the views, alerts, messages, titles) printed between.

    console = Console(norvane, "127.0.0.1", port, "alice")
    console.do("logon wonder")
    console.do("wait title Urvo Wardenhall - Online to 127.0.0.1")
    console.seen("view cfg 20 -")

The program runs offscreen, or with display=True on a virtual X server (xvfb-run); its pictures
go to NORVANE_SHOTS_DIR when that is set (to keep them), else into the installation's folder."""

import os
import queue
import shutil
import socket
import subprocess
import threading

import harness
import rcp

# An answer's limit: above the program's own for one command (its wait for what the command
# names, then the command's own wait), both scaled alike through NORVANE_TIME_SCALE.
TIMEOUT = harness.scaled(60)
ONLINE = "title Urvo Wardenhall - Online to 127.0.0.1"
# What the program prints besides the answers to commands.
REPORTS = ("view ", "alert ", "message ", "box ", "title ", "counts ", "user ", "flags ",
           "touched ", "ended ", "saved ", "sheet ", "tree ", "shown ", "missing ", "unmasked ", "cut ", "picture ",
           "composing ")


def require_console(test):
    """Skips `test` when the console is not built (NORVANE_GUI=OFF)."""
    try:
        harness._program(os.path.join("tests", "console", "wardenhall_scenario"))
    except harness.HarnessError:
        test.skipTest("the console is not built (NORVANE_GUI=OFF)")


class Console:
    """`display`: False offscreen, True on a virtual X server of its own, "inherit" on the X
    display this process was given (DISPLAY); `shots` the folder for pictures."""

    def __init__(self, norvane, server, port, user, display=False, shots=None, screen="1024x768x24"):
        self.shots = shots or os.environ.get("NORVANE_SHOTS_DIR") or os.path.join(norvane.root, "shots")
        os.makedirs(self.shots, exist_ok=True)
        program = harness._program(os.path.join("tests", "console", "wardenhall_scenario"))
        argv = [program, "--out", self.shots, "--commands", "--server", server, "--port", str(port),
                "--user", user]
        env = dict(norvane.env, QT_QPA_PLATFORM="offscreen")
        if display == "inherit" or (display and shutil.which("xvfb-run")):
            if display != "inherit":
                argv = ["xvfb-run", "-a", "-s", "-screen 0 " + screen] + argv
            # A real display loads the desktop's libraries, whose allocations for the process's
            # life are no leak of ours (the offscreen runs check the console's own code).
            env = dict(env, QT_QPA_PLATFORM="xcb",
                       ASAN_OPTIONS=norvane.env.get("ASAN_OPTIONS", "") +
                       ":strict_string_checks=0:detect_leaks=0")
            if display == "inherit":
                env["DISPLAY"] = os.environ["DISPLAY"]
                env["XAUTHORITY"] = os.environ.get("XAUTHORITY", "")
        self.process = subprocess.Popen(
            argv, env=env,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
            errors="replace")
        norvane._started.append(self.process)
        self.lines = queue.Queue()
        self.log = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def do(self, command, timeout=TIMEOUT):
        """Runs one command; returns the reports printed while it ran."""
        start = len(self.log)
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        while True:
            try:
                line = self.lines.get(timeout=timeout)
            except queue.Empty:
                raise AssertionError("no answer to %r\n%s" % (command, "\n".join(self.log)))
            if line is None:
                raise AssertionError("the console ended during %r\n%s" % (command, "\n".join(self.log)))
            if line.startswith(REPORTS):
                self.log.append(line)
            elif line == "ok " + command:
                return self.log[start:]
            elif line.startswith("FAILED " + command):
                raise AssertionError("%s\n%s" % (line, "\n".join(self.log)))

    def seen(self, prefix):
        """The reports so far that begin with `prefix`."""
        return [line for line in self.log if line.startswith(prefix)]

    def report(self, command):
        """The one report that `command` prints about itself (counts, user, flags, ...)."""
        word = command.split()[0]
        return [line for line in self.do(command) if line.startswith(word + " ")][-1]

    def quit(self):
        self.do("quit")
        self.process.stdin.close()
        code = self.process.wait(timeout=TIMEOUT)
        self.process.stdout.close()
        return code


def slow_download(test, web_port):
    """A rate-limited curl fetch through the web proxy on `web_port` from an origin that trickles
    a long body, so the session stays open while the engine waits on the origin (never blocked
    on a full client socket). Returns (url, curl process) once the request reached the origin;
    `test` ends both at its clean-up."""
    origin = socket.create_server(("127.0.0.1", 0))
    test.addCleanup(origin.close)
    asked, stop = threading.Event(), threading.Event()
    test.addCleanup(stop.set)

    def trickle():
        conn = origin.accept()[0]
        with conn:
            conn.recv(65536)
            asked.set()
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
                         b"Content-Length: 10000000\r\n\r\n")
            try:
                while not stop.wait(0.2):
                    conn.sendall(b"x" * 512)
            except OSError:
                pass
    threading.Thread(target=trickle, daemon=True).start()
    url = "http://127.0.0.1:%d/big.bin" % origin.getsockname()[1]
    curl = subprocess.Popen(["curl", "-sS", "--max-time", "300", "--limit-rate", "4k", "-x",
                             "http://127.0.0.1:%d" % web_port, url, "-o", os.devnull],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    test.addCleanup(curl.wait)
    test.addCleanup(curl.kill)
    if not asked.wait(harness.WAIT_TIMEOUT):
        raise AssertionError("curl's request did not reach the origin")
    return url, curl
class ConsoleTestCase(harness.EngineTestCase):
    """An engine test that drives the console scenario program; skipped when the console is not
    built (NORVANE_GUI=OFF)."""

    def setUp(self):
        require_console(self)

    def administered_engine(self):
        """A started engine with a remote-control service (logs in its "logs" folder) and user
        "alice" (password "wonder") in Administrators, and a console on a virtual display that
        is on-line to it as alice with every list received. Returns (norvane, port, console)."""
        norvane = self.new_norvane()
        port = harness.free_port()
        logs = os.path.join(norvane.root, "logs")
        norvane.import_reg(rcp.service_reg(port, logs) + rcp.user_reg("alice", b"wonder", administrator=True))
        norvane.install_and_start()
        norvane.wait_for_port(port)
        console = Console(norvane, "127.0.0.1", port, "alice", display=True)
        self.addCleanup(console.process.kill)
        console.do("logon wonder")
        console.do("wait " + ONLINE)
        console.do("wait view cfg 130 -")
        return norvane, port, console
