"""The engine object inside the real NorvaneEngine: -start runs it, -stop runs its shut-down."""

import harness


def trace_lines(norvane):
    try:
        with open(norvane.trace_file, encoding="latin-1") as f:
            return f.read().splitlines()
    except FileNotFoundError:
        return []


def position(lines, text):
    for i, line in enumerate(lines):
        if line.endswith(text):
            return i
    return -1


class EngineObject(harness.EngineTestCase):
    def test_start_runs_the_engine_thread_and_stop_its_shutdown(self):
        n = self.new_norvane()
        n.install_and_start()
        harness.wait_until(lambda: position(trace_lines(n), "CreateThread succeeded") >= 0,
                           message=lambda: "engine thread not started\n" + n.diagnostics())
        self.assertEqual(n.stop().returncode, 0)
        lines = trace_lines(n)
        initialize = position(lines, "CNorvaneEngine::Initialize()")
        created = position(lines, "CreateThread succeeded")
        shut_down = position(lines, "CNorvaneEngine::ShutDown()")
        self.assertTrue(0 <= initialize < created < shut_down, "\n".join(lines))
        # One shut-down, and the process has ended by the time -stop returned.
        self.assertEqual(sum(line.endswith("CNorvaneEngine::ShutDown()") for line in lines), 1)
        self.assertEqual(n.engine_pids(), [])
        self.assertNotIn("still running after the shut-down wait", "\n".join(lines))


if __name__ == "__main__":
    harness.main()
