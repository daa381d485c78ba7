"""The console against a live engine. The built Wardenhall runs under a virtual X server
(xvfb-run) with the engine's address, and xwininfo lists its off-line main window and the
On-line Options dialog that opens by itself; the console scenario program then saves the same
windows as PNG files. Later console scenarios follow this pattern: the engine from the harness,
a scenario program linking the console library, offscreen or under xvfb-run."""

import os
import shutil
import struct

import harness

ROOT = r"HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2"
REG = "[" + ROOT + r'''\Services\Remote Control Service]
"ServiceType"="CRemoteControlService"
"Name"="Remote Control Service"
"Description"="Remote Control Service"
"PortNumber"=dword:{remote:08x}
'''

# Under the X server: Wardenhall until its two windows are listed (at most $5 seconds), the
# window tree, then the scenario program.
SCRIPT = r'''
"$1" --server 127.0.0.1 --port "$2" &
console=$!
end=$(($(date +%s) + $5))
while [ "$(date +%s)" -lt "$end" ]; do
    tree=$(xwininfo -root -tree 2>/dev/null)
    case $tree in *'"On-line Options"'*'"Urvo Wardenhall - Off-line"'*|*'"Urvo Wardenhall - Off-line"'*'"On-line Options"'*) break ;; esac
    sleep 0.1
done
printf '%s\n' "$tree"
kill $console
wait $console
"$3" --out "$4" --server 127.0.0.1 --port "$2"
'''


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    if header[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError("%s is not a PNG file" % path)
    return struct.unpack(">II", header[16:24])


class Console(harness.EngineTestCase):
    def setUp(self):
        try:
            self.console = harness._program(os.path.join("console", "Wardenhall"))
            self.scenario = harness._program(os.path.join("tests", "console", "wardenhall_scenario"))
        except harness.HarnessError:
            self.skipTest("the console is not built (NORVANE_GUI=OFF)")
        if not shutil.which("xvfb-run") or not shutil.which("xwininfo"):
            self.skipTest("xvfb-run or xwininfo missing")

    def test_console_starts_offline_with_its_options_dialog(self):
        norvane = self.new_norvane()
        remote = harness.free_port()
        norvane.import_reg(REG.format(remote=remote))
        norvane.install_and_start()
        norvane.wait_for_port(remote)
        shots = os.path.join(norvane.root, "shots")
        os.makedirs(shots)
        # In a sanitizer build: on a real display the desktop's own libraries (xkbcommon,
        # D-Bus) are loaded, whose strndup over a counted name is no overflow and whose
        # allocations for the process's life are no leak of ours; the offscreen suites check
        # the console's own code for leaks.
        norvane.env["ASAN_OPTIONS"] = norvane.env.get("ASAN_OPTIONS", "") + ":strict_string_checks=0:detect_leaks=0"

        done = norvane.run(["xvfb-run", "-a", "-s", "-screen 0 1024x768x24", "/bin/sh", "-c", SCRIPT, "sh",
                            self.console, str(remote), self.scenario, shots, str(int(harness.WAIT_TIMEOUT))],
                           timeout=harness.COMMAND_TIMEOUT + 2 * harness.WAIT_TIMEOUT)
        diagnostics = "stdout:\n%s\nstderr:\n%s" % (done.stdout, done.stderr)
        self.assertIn('"Urvo Wardenhall - Off-line"', done.stdout, diagnostics)
        self.assertIn('"On-line Options"', done.stdout, diagnostics)
        self.assertEqual(done.returncode, 0, diagnostics)

        # 600 x 440 of the first layout, wider for the console's font, and on the 1024 x 768
        # screen as tall as three quarters of it.
        width, height = png_size(os.path.join(shots, "main-offline.png"))
        self.assertTrue(600 < width < 1024 and height >= 768 * 3 // 4, (width, height))
        width, height = png_size(os.path.join(shots, "online-options.png"))
        self.assertTrue(200 <= width <= 600 and 100 <= height <= 400, (width, height))
        for name in ("about.png", "change-password.png", "location.png", "message-received.png", "alert.png", "tab-sheet.png"):
            self.assertGreater(os.path.getsize(os.path.join(shots, name)), 500, name)

        # The console only looked at the engine: it still runs, and holds its lock alone.
        self.assertTrue(norvane.engine_pids())
        self.assertTrue(norvane.lock_held())


if __name__ == "__main__":
    harness.main()
