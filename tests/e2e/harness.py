"""End-to-end test harness: the real NorvaneEngine in a temporary state folder.

Python standard library only; run with /usr/bin/python3. A test file looks like this:

    import harness

    class WebProxy(harness.EngineTestCase):
        def test_fetch(self):
            norvane = self.new_norvane()          # temporary state folder, nothing running
            port = harness.free_port()
            norvane.import_reg(REG_TEXT.format(port=port))
            norvane.install_and_start()           # -i and -start through the engine's switches
            norvane.wait_for_port(port)
            ...

    if __name__ == "__main__":
        harness.main()

Every installation made by new_norvane() is stopped when its test ends, and every process
that runs with its state folder is ended. The folder is removed when the test passed and kept,
with its path printed, when it failed (events.log and trace.log are in it).

The programs are found through NORVANE_BINARY_DIR (CTest sets it); without it, the build
folder of the checkout is used.
"""

import atexit
import ctypes
import os
import random
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import fcntl

SOURCE_DIR = os.environ.get("NORVANE_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
BINARY_DIR = os.environ.get("NORVANE_BINARY_DIR") or os.path.join(SOURCE_DIR, "build")

SERVICE_NAME = "NorvaneEngine"
DISPLAY_NAME = "Urvo Norvane Engine"
INSTANCE_LOCK = "NorvaneEngineApp"


def _sanitized_build():
    """True when the programs under test were built with sanitizers (NORVANE_SANITIZE)."""
    try:
        with open(os.path.join(BINARY_DIR, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("NORVANE_SANITIZE:"):
                    return bool(line.partition("=")[2].strip())
    except OSError:
        pass
    return False


# Sanitizer builds run several times slower than plain ones, and CI shares the machine with
# other builds: every time limit of a test that waits for something to happen is a multiple of
# this (NORVANE_TIME_SCALE overrides it). Limits on what must NOT happen stay as they are.
TIME_SCALE = float(os.environ.get("NORVANE_TIME_SCALE") or (3 if _sanitized_build() else 1))


def scaled(seconds):
    """`seconds` of a plain build, for the build under test."""
    return seconds * TIME_SCALE


# Time limits in seconds.
COMMAND_TIMEOUT = scaled(90)  # one run of a program's command line (a -stop waits for shut-down)
WAIT_TIMEOUT = scaled(30)     # default for the wait_for_* helpers and clients' reads
KILL_GRACE = 5                # between SIGTERM and SIGKILL at clean-up


class HarnessError(AssertionError):
    """A harness step failed; the message says what was expected and what was found."""


def engine_program():
    return _program(os.path.join("engine", "NorvaneEngine"))


def nvreg_program():
    return _program(os.path.join("tools", "nvreg", "nvreg"), os.path.join("tools", "nvreg"))


def _program(*candidates):
    for relative in candidates:
        path = os.path.join(BINARY_DIR, relative)
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return path
    raise HarnessError("program not built: none of %s under %s" % (", ".join(candidates), BINARY_DIR))


# --- ports ------------------------------------------------------------------------------------

_handed_ports = set()
# One lock file per port handed out, held (flock) while this process lives: test programs run
# side by side (ctest -j, other checkouts on the machine), and a port one of them has chosen but
# whose engine has not bound it yet must not be chosen by another. The kernel lets go of a
# lock when its holder ends, however it ends; the files themselves stay for the next run.
_PORT_LOCKS = os.path.join(tempfile.gettempdir(), "norvane-e2e-ports")
_port_locks = []


def _ephemeral_floor():
    """The lowest port the kernel hands out by itself (connections' local ports, bind to 0)."""
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 32768


def free_port(host="127.0.0.1", udp_too=True):
    """A port that is free now for TCP (and UDP, unless udp_too is false) on `host`, that this
    process has not handed out before and that no other test program running holds. It lies below the kernel's ephemeral range, so no
    outgoing connection of a busy machine takes it between this probe and the engine's bind."""
    top = max(_ephemeral_floor() - 1, 12000)
    for _ in range(500):
        port = random.randint(10000, top)
        if port in _handed_ports or not _reserve(port):
            continue
        _handed_ports.add(port)
        if not _tcp_free(host, port) or (udp_too and not _udp_free(host, port)):
            continue
        return port
    raise HarnessError("no free port found")


def _reserve(port):
    """True when this process now holds `port`'s lock, so no other test program hands it out."""
    os.makedirs(_PORT_LOCKS, exist_ok=True)
    fd = os.open(os.path.join(_PORT_LOCKS, str(port)), os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o600)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        os.close(fd)
        return False
    _port_locks.append(fd)
    return True


def free_ports(count, host="127.0.0.1", udp_too=True):
    return [free_port(host, udp_too) for _ in range(count)]


def _tcp_free(host, port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        try:
            probe.bind((host, port))
            return True
        except OSError:
            return False


def _udp_free(host, port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        try:
            probe.bind((host, port))
            return True
        except OSError:
            return False


def udp_bound(port, host="127.0.0.1"):
    """True while a UDP socket is bound to `host`:`port`."""
    return not _udp_free(host, port)


def port_accepts(port, host="127.0.0.1", timeout=1.0):
    try:
        with socket.create_connection((host, port), timeout=timeout):
            return True
    except OSError:
        return False


def unread_bytes(sock):
    """How many bytes sent on the TCP socket `sock` its peer on this host has not read yet (the
    peer's receive queue): 0 once a program that reads them has taken them."""
    def address(host_port):
        host, port = host_port[:2]
        return "%08X:%04X" % (struct.unpack("=I", socket.inet_aton(host))[0], port)
    mine, theirs = address(sock.getsockname()), address(sock.getpeername())
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            if fields[1] == theirs and fields[2] == mine:
                return int(fields[4].split(":")[1], 16)
    raise HarnessError("no connection from %s to %s on this host" % (theirs, mine))


def wait_until(condition, timeout=WAIT_TIMEOUT, interval=0.05, message=None):
    """Calls `condition` until it returns a true value, which is returned; raises HarnessError
    with `message` (a text, or a function giving one) after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            text = message() if callable(message) else message
            raise HarnessError(text or "condition not met within %.1f s" % timeout)
        time.sleep(interval)


# --- peers ------------------------------------------------------------------------------------

class ConnectionServer:
    """A TCP server on host:port (0: a free port, then in .port) that serves each connection
    with handle(conn) on a thread of its own and closes it afterwards."""

    def __init__(self, handle, host="127.0.0.1", port=0):
        self.handle = handle
        self.listener = socket.create_server((host, port))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        with conn:
            conn.settimeout(WAIT_TIMEOUT)
            try:
                self.handle(conn)
            except OSError:
                pass

    def close(self):
        self.listener.close()


# --- processes --------------------------------------------------------------------------------

def _become_subreaper():
    """Detached engines are re-parented to this process instead of init, so that they are
    reaped here and never linger as zombies (some containers' init reaps nothing)."""
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
    except (OSError, AttributeError):
        pass


def _process_table():
    """(pid, parent pid, state, command name) of every process."""
    table = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        name = stat[stat.find("(") + 1:stat.rfind(")")]
        fields = stat[stat.rfind(")") + 2:].split()
        table.append((int(entry), int(fields[1]), fields[0], name))
    return table


# Programs that detach themselves, and so are adopted by this process when they end.
_DETACHED_PROGRAMS = {"NorvaneEngine"}


def _reap_adopted():
    """Reaps ended detached programs adopted by this process. Children it started itself are
    left to whoever waits for them, so their exit statuses stay right."""
    me = os.getpid()
    for pid, ppid, state, name in _process_table():
        if ppid == me and state in ("Z", "X") and name in _DETACHED_PROGRAMS:
            try:
                os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                pass


def process_alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read()
    except OSError:
        return False
    return stat[stat.rfind(")") + 2] not in "ZX"


def processes_with_env(name, value):
    """Pids of the live processes whose environment holds name=value."""
    wanted = ("%s=%s" % (name, value)).encode()
    found = []
    for pid, _, state, _ in _process_table():
        if pid == os.getpid() or state in ("Z", "X"):
            continue
        try:
            with open("/proc/%d/environ" % pid, "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if wanted in env:
            found.append(pid)
    return found


def end_processes(pids, grace=KILL_GRACE):
    """SIGTERM, then SIGKILL after `grace` seconds for what is still alive."""
    pids = [p for p in pids if process_alive(p)]
    for pid in pids:
        _signal(pid, signal.SIGTERM)
    deadline = time.monotonic() + grace
    while time.monotonic() < deadline and any(process_alive(p) for p in pids):
        _reap_adopted()
        time.sleep(0.05)
    for pid in pids:
        if process_alive(pid):
            _signal(pid, signal.SIGKILL)
    _reap_adopted()


def _signal(pid, sig):
    try:
        os.kill(pid, sig)
    except ProcessLookupError:
        pass


# --- one engine installation ------------------------------------------------------------------

class Event:
    """One line of the event file."""

    def __init__(self, line):
        fields = line.rstrip("\n").split("\t")
        if len(fields) != 5:
            raise HarnessError("malformed event line: %r" % line)
        self.time, source, self.type, event_id, self.text = fields
        self.source, _, pid = source.partition("[")
        self.pid = int(pid.rstrip("]") or 0)
        self.id = int(event_id)

    def __repr__(self):
        return "Event(%s %d %s %r)" % (self.type, self.id, self.source, self.text)


class Norvane:
    """An engine installation in a temporary folder of its own:

        <root>/state       NORVANE_STATE_DIR (machine hive, run/ with locks and endpoints)
        <root>/config      XDG_CONFIG_HOME (user hive)
        <root>/events.log  NORVANE_EVENTLOG_FILE
        <root>/trace.log   NORVANE_TRACE_FILE

    Commands run with that environment. close() stops the engine and ends every process that
    runs with this state folder; remove() deletes the folder."""

    _live = []

    def __init__(self, label="norvane"):
        self.root = tempfile.mkdtemp(prefix="norvane-e2e-%s-" % label)
        self.state_dir = os.path.join(self.root, "state")
        self.config_dir = os.path.join(self.root, "config")
        self.event_file = os.path.join(self.root, "events.log")
        self.trace_file = os.path.join(self.root, "trace.log")
        self.env = dict(os.environ)
        self.env.update({
            "NORVANE_STATE_DIR": self.state_dir,
            "XDG_CONFIG_HOME": self.config_dir,
            "NORVANE_EVENTLOG_FILE": self.event_file,
            "NORVANE_TRACE_FILE": self.trace_file,
            # For the test programs with time limits of their own (the console scenario).
            "NORVANE_TIME_SCALE": str(TIME_SCALE),
        })
        self._imports = 0
        self._started = []   # Popen objects of helper processes started through spawn()
        self.closed = False
        Norvane._live.append(self)

    # --- commands ---

    def run(self, argv, timeout=COMMAND_TIMEOUT, input=None, check=False):
        """Runs a program with this installation's environment; returns the CompletedProcess
        (text output). With check, a non-zero exit raises HarnessError with the output."""
        try:
            done = subprocess.run(argv, env=self.env, input=input, capture_output=True,
                                  text=True, timeout=timeout, errors="replace")
        except subprocess.TimeoutExpired as e:
            raise HarnessError("%s did not end within %d s\n%s" % (" ".join(argv), timeout,
                                                                   self.diagnostics())) from e
        if check and done.returncode != 0:
            raise HarnessError("%s exited with %d\nstdout: %s\nstderr: %s" % (
                " ".join(argv), done.returncode, done.stdout, done.stderr))
        return done

    def engine(self, *args, **kwargs):
        """Runs NorvaneEngine with `args` (one switch, or none)."""
        return self.run([engine_program()] + list(args), **kwargs)

    def nvreg(self, *args, **kwargs):
        return self.run([nvreg_program()] + list(args), **kwargs)

    def import_reg(self, text):
        """Imports registry text (REGEDIT4 form) with nvreg; a leading "REGEDIT4" line is added
        when missing. The first import also gives the engine folders of its own for service
        logs, audit logs and the cache (see _own_folders); the text may name others."""
        if text.lstrip().startswith("REGEDIT4"):
            text = text.lstrip()[len("REGEDIT4"):]
        if self._imports == 0:
            text = self._own_folders() + text
        text = "REGEDIT4\n\n" + text
        self._imports += 1
        path = os.path.join(self.root, "import-%d.reg" % self._imports)
        with open(path, "w") as f:
            f.write(text)
        self.nvreg("import", path, check=True)

    def spawn(self, argv, **kwargs):
        """Starts a helper process (a client, a server) with this environment; it is ended at
        close()."""
        process = subprocess.Popen(argv, env=self.env, **kwargs)
        self._started.append(process)
        return process

    # --- the service ---

    def _own_folders(self):
        """Registry text that puts this engine's service logs, audit logs and cache in its own
        folder. Left to their defaults, they would lie beside the program, where every engine
        of the build tree would share them (and one cache index)."""
        def folder(name):
            return os.path.join(self.root, name).replace("\\", "\\\\")
        return ('[%s\\Settings]\n"LogFileDirectory"="%s"\n"AuditDirectory"="%s"\n\n'
                '[%s\\Cache]\n"CacheDirectory"="%s"\n\n') % (
                    CONFIG_ROOT, folder("Logs"), folder("Audit"), CONFIG_ROOT, folder("cache"))

    def install(self):
        if self._imports == 0:
            self.import_reg("")
        done = self.engine("-i")
        if done.returncode != 0:
            raise HarnessError("NorvaneEngine -i failed (%d): %s%s" % (
                done.returncode, done.stdout, done.stderr))
        return done

    def start(self, wait=True):
        """-start; with wait, returns once the service reports it has started."""
        done = self.engine("-start")
        if done.returncode != 0:
            raise HarnessError("NorvaneEngine -start failed (%d): %s%s\n%s" % (
                done.returncode, done.stdout, done.stderr, self.diagnostics()))
        if wait:
            self.wait_for_event("The service has been started.")
        return done

    def install_and_start(self):
        self.install()
        return self.start()

    def stop(self):
        return self.engine("-stop")

    def engine_pids(self):
        """Pids of the engine processes running with this state folder."""
        program = os.path.realpath(engine_program())
        pids = []
        for pid in processes_with_env("NORVANE_STATE_DIR", self.state_dir):
            try:
                if os.path.realpath("/proc/%d/exe" % pid) == program:
                    pids.append(pid)
            except OSError:
                pass
        return pids

    def lock_held(self, name=INSTANCE_LOCK):
        """True when someone holds the single-instance lock `name` of this state folder."""
        path = os.path.join(self.state_dir, "run", name + ".lock")
        try:
            fd = os.open(path, os.O_RDONLY)
        except FileNotFoundError:
            return False
        try:
            # struct flock: l_type, l_whence (shorts), l_start, l_len (off_t), l_pid (int)
            query = struct.pack("hhqqi4x", fcntl.F_RDLCK, 0, 0, 0, 0)
            answer = fcntl.fcntl(fd, fcntl.F_GETLK, query)
            return struct.unpack("hhqqi4x", answer)[0] != fcntl.F_UNLCK
        finally:
            os.close(fd)

    # --- what happened ---

    def events(self):
        try:
            with open(self.event_file, errors="replace") as f:
                return [Event(line) for line in f if line.strip()]
        except FileNotFoundError:
            return []

    def event_texts(self):
        return [e.text for e in self.events()]

    def wait_for_event(self, text, timeout=WAIT_TIMEOUT, count=1):
        """Waits until the event file holds `count` events with exactly `text`."""
        return wait_until(
            lambda: self.event_texts().count(text) >= count, timeout,
            message=lambda: "event %r (x%d) not seen within %d s\n%s" % (
                text, count, timeout, self.diagnostics()))

    def wait_for_port(self, port, host="127.0.0.1", timeout=WAIT_TIMEOUT, udp=False):
        """Waits until `host`:`port` accepts TCP connections (with udp: until a UDP socket is
        bound to it)."""
        ready = (lambda: udp_bound(port, host)) if udp else (lambda: port_accepts(port, host))
        return wait_until(
            ready, timeout,
            message=lambda: "%s:%d %s after %d s\n%s" % (
                host, port, "has no UDP socket" if udp else "does not accept connections", timeout,
                self.diagnostics()))

    def wait_for_engine_end(self, timeout=WAIT_TIMEOUT):
        return wait_until(
            lambda: (_reap_adopted(), not self.engine_pids())[1], timeout,
            message=lambda: "engine still running after %d s: %s\n%s" % (
                timeout, self.engine_pids(), self.diagnostics()))

    def diagnostics(self, lines=25):
        """The state of this installation, for failure messages."""
        out = ["state folder: %s" % self.root,
               "engine processes: %s" % (self.engine_pids() or "none"),
               "instance lock held: %s" % self.lock_held()]
        for label, path in (("events", self.event_file), ("trace", self.trace_file)):
            try:
                with open(path, errors="replace") as f:
                    tail = f.readlines()[-lines:]
            except FileNotFoundError:
                tail = ["(none)\n"]
            out.append("last %s:\n  %s" % (label, "  ".join(tail).rstrip()))
        return "\n".join(out)

    # --- the end ---

    def close(self):
        """Stops the engine and ends every process of this installation. Safe to repeat."""
        if self.closed:
            return
        self.closed = True
        if self.engine_pids():
            try:
                self.engine("-stop", timeout=60)
            except HarnessError:
                pass
        for process in self._started:
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(KILL_GRACE)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        end_processes(processes_with_env("NORVANE_STATE_DIR", self.state_dir))
        _reap_adopted()
        if self in Norvane._live:
            Norvane._live.remove(self)

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)


# --- configuration ----------------------------------------------------------------------------

CONFIG_ROOT = r"HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2"


def read_log(path):
    """A log file's text (Latin-1, CR LF kept); empty while the file does not exist."""
    try:
        with open(path, encoding="latin-1", newline="") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def wait_for_log(path, *texts, count=1, timeout=WAIT_TIMEOUT):
    """Waits until the log file `path` holds each of `texts` at least `count` times; returns its
    text. Lines reach log files through the engine's log thread a moment after what they
    record, so a test reads a log after an action through this (or wait_until over read_log)."""
    def missing(text):
        return [t for t in texts if text.count(t) < count]

    def holds():
        text = read_log(path)
        return None if missing(text) else text
    return wait_until(holds, timeout, message=lambda: "%r (x%d) not in %s within %d s:\n%s" % (
        missing(read_log(path)), count, path, timeout, read_log(path)[-4000:]))


def wait_for_session_end(path, request, count=1, timeout=WAIT_TIMEOUT):
    """Waits until the log `path` (a service log or an audit log) holds `count` sessions whose
    "Requested" line holds `request`, each with its end line; returns the log's text. Lines are
    matched by session number, so the end of another session (a port probe's) never counts."""
    requested = re.compile(r"\t(\d+)\tRequested:?\t[^\r\n]*" + re.escape(request))

    def ended():
        text = read_log(path)
        sessions = requested.findall(text)
        done = len(sessions) >= count and all("\t%s\tTerminated " % s in text for s in sessions)
        return text if done else None
    return wait_until(ended, timeout, message=lambda: "no end of %d session(s) requesting %r in "
                      "%s within %d s:\n%s" % (count, request, path, timeout, read_log(path)[-4000:]))


def base_reg(logs, remote):
    """The start of a test engine's configuration (REGEDIT4 text for import_reg): its service
    logs in the folder `logs`, and its remote-control service on port `remote`, so that no two
    engines race for port 808."""
    return _BASE_REG.format(root=CONFIG_ROOT, logs=logs.replace("\\", "\\\\"), remote=remote)


_BASE_REG = r'''[{root}\Settings]
"LogFileDirectory"="{logs}"

[{root}\Services\Remote Control Service]
"ServiceType"="CRemoteControlService"
"Name"="Remote Control Service"
"Description"="Remote Control Service"
"PortNumber"=dword:{remote:08x}

'''


@atexit.register
def _close_all():
    for norvane in list(Norvane._live):
        norvane.close()


# --- tests ------------------------------------------------------------------------------------

class EngineTestCase(unittest.TestCase):
    """Base of end-to-end tests: new_norvane() gives an installation that is closed when the
    test ends, and whose folder is removed if the test passed and kept if it failed."""

    def new_norvane(self, label=None):
        norvane = Norvane(label or self._testMethodName)
        self._norvanes.append(norvane)
        self.addCleanup(norvane.close)
        return norvane

    def run(self, result=None):
        self._norvanes = []
        if result is None:
            result = self.defaultTestResult()
        problems = len(result.failures) + len(result.errors)
        try:
            return super().run(result)
        finally:
            for norvane in self._norvanes:
                norvane.close()
            failed = len(result.failures) + len(result.errors) > problems
            for norvane in self._norvanes:
                if failed:
                    sys.stderr.write("\n%s: state folder kept for inspection: %s\n" % (
                        self.id(), norvane.root))
                else:
                    norvane.remove()

    def assertEvent(self, norvane, text):
        if text not in norvane.event_texts():
            self.fail("event %r not in the event file\n%s" % (text, norvane.diagnostics()))


def _interrupt(signum, frame):
    raise KeyboardInterrupt("signal %d" % signum)


def main():
    """Runs the test file's tests. SIGTERM (a CTest time-out) unwinds like Ctrl-C, so every
    installation is still closed."""
    _become_subreaper()
    signal.signal(signal.SIGTERM, _interrupt)
    unittest.main(verbosity=2)
