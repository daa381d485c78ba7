"""The end-to-end harness itself: ports, waits, clean-up and kept folders."""

import contextlib
import io
import os
import socket
import subprocess
import sys
import tempfile
import threading
import unittest

import harness


class Ports(unittest.TestCase):
    def test_free_ports_are_distinct_and_bindable(self):
        ports = harness.free_ports(20)
        self.assertEqual(len(set(ports)), 20)
        for port in ports:
            with socket.socket() as s:
                s.bind(("127.0.0.1", port))
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
                s.bind(("127.0.0.1", port))

    def test_wait_for_port_sees_a_listener_and_explains_a_silent_port(self):
        norvane = harness.Norvane("ports")
        try:
            port = harness.free_port()
            server = socket.socket()
            server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            server.bind(("127.0.0.1", port))
            timer = threading.Timer(0.3, server.listen)
            timer.start()
            try:
                norvane.wait_for_port(port, timeout=10)
            finally:
                timer.join()
                server.close()
            silent = harness.free_port()
            with self.assertRaises(harness.HarnessError) as caught:
                norvane.wait_for_port(silent, timeout=0.5)
            message = str(caught.exception)
            self.assertIn("127.0.0.1:%d does not accept connections" % silent, message)
            self.assertIn("state folder: %s" % norvane.root, message)
            self.assertIn("last events", message)
        finally:
            norvane.close()
            norvane.remove()


class CleanUp(unittest.TestCase):
    def test_close_ends_every_process_of_the_state_folder(self):
        norvane = harness.Norvane("cleanup")
        try:
            helper = norvane.spawn(["sleep", "300"])
            # A process started behind the harness's back, but with the installation's folder.
            stray = subprocess.Popen(["sleep", "300"], env=norvane.env)
            self.assertIn(stray.pid, harness.processes_with_env("NORVANE_STATE_DIR",
                                                                norvane.state_dir))
            norvane.close()
            self.assertIsNotNone(helper.poll())
            self.assertIsNotNone(stray.wait(10))
            self.assertFalse(harness.process_alive(stray.pid))
            norvane.close()  # a second close is harmless
        finally:
            norvane.remove()

    def test_a_failed_test_keeps_its_folder_and_a_passed_one_removes_it(self):
        roots = {}

        class Inner(harness.EngineTestCase):
            def test_fails(self):
                roots["failed"] = self.new_norvane().root
                self.fail("on purpose")

            def test_passes(self):
                roots["passed"] = self.new_norvane().root

        suite = unittest.TestLoader().loadTestsFromTestCase(Inner)
        stderr = io.StringIO()
        with contextlib.redirect_stderr(stderr):
            result = unittest.TextTestRunner(stream=io.StringIO(), verbosity=0).run(suite)
        try:
            self.assertEqual(len(result.failures), 1)
            self.assertTrue(os.path.isdir(roots["failed"]))
            self.assertFalse(os.path.exists(roots["passed"]))
            self.assertIn("state folder kept for inspection: %s" % roots["failed"],
                          stderr.getvalue())
        finally:
            harness.shutil.rmtree(roots.get("failed", "/nonexistent"), ignore_errors=True)


class Observations(unittest.TestCase):
    def test_a_session_end_counts_only_for_the_session_that_made_the_request(self):
        folder = self.enterContext(tempfile.TemporaryDirectory())
        path = os.path.join(folder, "Web.log")
        line = "12/09/26 11:27:49\t127.0.0.1\tGuest\t%010d\t%s\r\n"
        with open(path, "w", newline="") as f:
            f.write(line % (1, "Terminated exit code 0") + line % (2, "Requested:\tGET /a"))
        # The probe's end (session 1) is no end of session 2; later lines are appended while
        # the helper waits.
        with self.assertRaises(harness.HarnessError):
            harness.wait_for_session_end(path, "GET /a", timeout=0.3)
        def end():
            with open(path, "a", newline="") as f:
                f.write(line % (2, "Terminated exit code 0"))
        timer = threading.Timer(0.2, end)
        timer.start()
        self.addCleanup(timer.join)
        self.assertTrue(harness.wait_for_session_end(path, "GET /a", timeout=10).endswith(
            line % (2, "Terminated exit code 0")))
        self.assertIn("Requested", harness.wait_for_log(path, "\tTerminated ", count=2))
        with self.assertRaises(harness.HarnessError):
            harness.wait_for_session_end(path, "GET /a", count=2, timeout=0.1)

    def test_event_lines_are_read_field_by_field(self):
        event = harness.Event("2024-01-02 03:04:05\tNorvaneEngine[42]\tWarning\t8\tStarted.\n")
        self.assertEqual((event.source, event.pid, event.type, event.id, event.text),
                         ("NorvaneEngine", 42, "Warning", 8, "Started."))
        with self.assertRaises(harness.HarnessError):
            harness.Event("only\ttwo")

    def test_lock_held_sees_a_lock_of_another_process(self):
        norvane = harness.Norvane("lock")
        try:
            self.assertFalse(norvane.lock_held())
            path = os.path.join(norvane.state_dir, "run", harness.INSTANCE_LOCK + ".lock")
            os.makedirs(os.path.dirname(path))
            holder = subprocess.Popen(
                [sys.executable, "-c",
                 "import fcntl, sys, time\n"
                 "f = open(sys.argv[1], 'w')\n"
                 "fcntl.lockf(f, fcntl.LOCK_EX)\n"
                 "print('held', flush=True)\n"
                 "time.sleep(300)\n", path],
                stdout=subprocess.PIPE, text=True)
            try:
                self.assertEqual(holder.stdout.readline().strip(), "held")
                self.assertTrue(norvane.lock_held())
            finally:
                holder.kill()
                holder.wait()
                holder.stdout.close()
            self.assertFalse(norvane.lock_held())
        finally:
            norvane.close()
            norvane.remove()


if __name__ == "__main__":
    harness.main()
