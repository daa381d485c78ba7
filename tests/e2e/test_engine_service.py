"""The engine's command line and its life as a service, through the real NorvaneEngine."""

import os
import signal

import harness

DISPLAY = harness.DISPLAY_NAME
USAGE = ("Invalid parameter - valid parameters are (case sensitive)\n"
         "-i\tInstall service\n"
         "-u\tUninstall service\n"
         "-start\tStart service\n"
         "-stop\tStop service\n"
         "-clean\tStop service, uninstall, and remove registry entries\n"
         "-v\tQuery service version number\n")
EVENT_SOURCE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\NorvaneEngine"
SERVICE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\NorvaneEngine"
PRODUCT_KEY = r"HKLM\SOFTWARE\Urvo Software\Norvane 2"


class CommandLine(harness.EngineTestCase):
    def test_version_when_installed_and_not(self):
        n = self.new_norvane()
        done = n.engine("-v")
        self.assertEqual(done.stdout, "%s Version 2.0e\nThe service is not installed\n" % DISPLAY)
        self.assertEqual(done.returncode, 0)
        n.install()
        done = n.engine("-v")
        self.assertEqual(done.stdout, "%s Version 2.0e\nThe service is installed\n" % DISPLAY)
        self.assertEqual(done.returncode, 0)

    def test_install_twice(self):
        n = self.new_norvane()
        done = n.engine("-i")
        self.assertEqual((done.stdout, done.returncode), ("%s installed\n" % DISPLAY, 0))
        self.assertEqual(n.event_texts(), ["The NorvaneEngine service was installed successfully."])
        done = n.engine("-i")
        self.assertEqual((done.stdout, done.returncode), ("%s is already installed\n" % DISPLAY, 1))
        source = n.nvreg("get", EVENT_SOURCE_KEY, "EventMessageFile", check=True).stdout
        self.assertEqual(source.strip(), os.path.realpath(harness.engine_program()))
        listing = n.nvreg("list", EVENT_SOURCE_KEY, check=True).stdout
        self.assertIn('"TypesSupported"=dword:00000007', listing)

    def test_uninstall_removes_what_install_made(self):
        n = self.new_norvane()
        n.install()
        done = n.engine("-u")
        self.assertEqual(done.stdout, "%s removed. (You must delete the file (%s) yourself.)\n" % (
            DISPLAY, os.path.realpath(harness.engine_program())))
        self.assertEqual(done.returncode, 0)
        self.assertIn("The NorvaneEngine service was removed successfully.", n.event_texts())
        self.assertNotEqual(n.nvreg("list", EVENT_SOURCE_KEY).returncode, 0)
        self.assertNotEqual(n.nvreg("list", SERVICE_KEY).returncode, 0)
        done = n.engine("-u")
        self.assertEqual((done.stdout, done.returncode), ("%s is not installed\n" % DISPLAY, 1))

    def test_switches_need_an_installed_service(self):
        n = self.new_norvane()
        for switch in ("-start", "-stop", "-clean", "-u"):
            done = n.engine(switch)
            self.assertEqual((done.stdout, done.returncode),
                             ("%s is not installed\n" % DISPLAY, 1), switch)

    def test_unknown_switches_print_the_usage(self):
        n = self.new_norvane()
        for switch in ("-V", "-x", "-Start", "install", ""):
            done = n.engine(switch)
            self.assertEqual(done.stdout, USAGE, switch)
            self.assertEqual(done.returncode, 2, switch)

    def test_no_argument_outside_the_manager_ends_at_once(self):
        n = self.new_norvane()
        n.install()
        done = n.engine(timeout=harness.WAIT_TIMEOUT)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stdout, "")
        self.assertIn("runs only as a service", done.stderr)
        self.assertIn("1063", done.stderr)
        self.assertFalse(n.lock_held())
        self.assertNotIn("The service has been started.", n.event_texts())

    def test_a_start_that_fails_says_why(self):
        n = self.new_norvane()
        n.install()
        n.import_reg('[%s]\n"ImagePath"="/nonexistent/NorvaneEngine"\n' % SERVICE_KEY.replace(
            "HKLM", "HKEY_LOCAL_MACHINE"))
        done = n.engine("-start")
        self.assertEqual(done.stdout, "%s service failed to start - error 2\n" % DISPLAY)
        self.assertEqual(done.returncode, 1)

    def test_a_beta_version_is_stopped_and_removed(self):
        n = self.new_norvane()
        n.import_reg(r'''[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Urvo Norvane Engine]
"Type"=dword:00000010
"Start"=dword:00000003
"ErrorControl"=dword:00000001
"ImagePath"="/opt/norvane-beta/NorvaneEngine"
"DisplayName"="Urvo Norvane Engine"
''')
        done = n.engine("-v")
        self.assertEqual(done.stdout, "Removed previous beta version\n"
                         "%s Version 2.0e\nThe service is not installed\n" % DISPLAY)
        self.assertEqual(n.event_texts(), ["Stopped previous beta version.",
                                           "Removed previous beta version."])
        self.assertEqual({e.type for e in n.events()}, {"Warning"})
        self.assertNotEqual(n.nvreg(
            "list", r"HKLM\SYSTEM\CurrentControlSet\Services\Urvo Norvane Engine").returncode, 0)
        # Once gone, nothing more is said about it.
        self.assertEqual(n.engine("-v").stdout.count("beta"), 0)


class ServiceLife(harness.EngineTestCase):
    def test_start_runs_the_engine_and_stop_returns_after_its_shutdown(self):
        n = self.new_norvane()
        n.install()
        done = n.engine("-start")
        self.assertEqual((done.stdout, done.returncode), ("%s service started\n" % DISPLAY, 0))
        n.wait_for_event("The service has been started.")
        self.assertIn("Starting Engine.", n.event_texts())
        harness.wait_until(n.lock_held, message="instance lock not taken\n" + n.diagnostics())
        pids = n.engine_pids()
        self.assertEqual(len(pids), 1)
        engine = pids[0]
        self.assertNotEqual(os.getsid(engine), os.getsid(0))
        self.assertEqual(os.readlink("/proc/%d/fd/0" % engine), "/dev/null")
        self.assertEqual(os.readlink("/proc/%d/cwd" % engine),
                         os.path.dirname(os.path.realpath(harness.engine_program())))

        # A second -start changes nothing.
        done = n.engine("-start")
        self.assertEqual((done.stdout, done.returncode), ("%s service started\n" % DISPLAY, 0))
        self.assertEqual(n.engine_pids(), [engine])

        done = n.engine("-stop")
        self.assertEqual((done.stdout, done.returncode), ("%s service stopped\n" % DISPLAY, 0))
        # By the time -stop returns, the shut-down has run and the process has ended.
        texts = n.event_texts()
        for text in ("Stop command received from Service Control Manager - stopping Engine.",
                     "The service has been stopped.", "Engine stopped."):
            self.assertIn(text, texts)
        self.assertEqual([e.id for e in n.events() if e.text == "The service has been stopped."],
                         [6])
        self.assertFalse(harness.process_alive(engine))
        self.assertFalse(n.lock_held())

        # -stop then -start works in a script, and -stop of a stopped service is no failure.
        n.start()
        harness.wait_until(n.lock_held)
        self.assertEqual(n.stop().returncode, 0)
        done = n.engine("-stop")
        self.assertEqual((done.stdout, done.returncode), ("%s service stopped\n" % DISPLAY, 0))

    def test_a_second_engine_with_the_same_state_folder_ends(self):
        n = self.new_norvane()
        n.install_and_start()
        harness.wait_until(n.lock_held)
        first = n.engine_pids()
        # Hide the running engine from the manager, so that -start starts a second one.
        endpoint = os.path.join(n.state_dir, "run", "service", "NorvaneEngine.ctl")
        os.rename(endpoint, endpoint + ".aside")
        try:
            done = n.engine("-start")
            self.assertEqual(done.returncode, 0, done.stdout)
            n.wait_for_event("NorvaneEngine already running - terminating.")
            n.wait_for_event("Engine stopped.")
            harness.wait_until(lambda: n.engine_pids() == first,
                               message=lambda: "second engine did not end\n" + n.diagnostics())
            self.assertTrue(n.lock_held())
            errors = [e for e in n.events() if e.type == "Error"]
            self.assertEqual([e.text for e in errors],
                             ["NorvaneEngine already running - terminating."])
            self.assertNotIn(errors[0].pid, first)
        finally:
            os.rename(endpoint + ".aside", endpoint)
        self.assertEqual(n.stop().returncode, 0)
        self.assertEqual(n.engine_pids(), [])

    def test_sigterm_shuts_the_engine_down(self):
        n = self.new_norvane()
        n.install_and_start()
        harness.wait_until(n.lock_held)
        (engine,) = n.engine_pids()
        os.kill(engine, signal.SIGTERM)
        n.wait_for_event("Engine stopped.")
        self.assertIn("System shutting down - stopping Engine.", n.event_texts())
        n.wait_for_engine_end()
        self.assertFalse(n.lock_held())
        n.start()
        self.assertEqual(n.stop().returncode, 0)

    def test_clean_stops_uninstalls_and_deletes_the_configuration(self):
        n = self.new_norvane()
        n.import_reg(r'''[HKEY_LOCAL_MACHINE\SOFTWARE\Urvo Software\Norvane 2\Settings]
"LogFileDirectory"="Logs"
''')
        n.install_and_start()
        harness.wait_until(n.lock_held)
        done = n.engine("-clean")
        self.assertEqual((done.stdout, done.returncode), ("", 0))
        self.assertIn("Engine stopped.", n.event_texts())
        self.assertEqual(n.engine_pids(), [])
        self.assertIn("The service is not installed", n.engine("-v").stdout)
        self.assertNotEqual(n.nvreg("list", PRODUCT_KEY).returncode, 0)
        self.assertEqual(n.nvreg("list", r"HKLM\SOFTWARE\Urvo Software").returncode, 0)
        self.assertNotEqual(n.nvreg("list", EVENT_SOURCE_KEY).returncode, 0)

    def test_two_state_folders_run_side_by_side(self):
        a = self.new_norvane("a")
        b = self.new_norvane("b")
        a.install_and_start()
        b.install_and_start()
        harness.wait_until(a.lock_held)
        harness.wait_until(b.lock_held)
        self.assertEqual(len(a.engine_pids()), 1)
        self.assertEqual(len(b.engine_pids()), 1)
        self.assertNotEqual(a.engine_pids(), b.engine_pids())
        self.assertEqual(a.stop().returncode, 0)
        self.assertTrue(b.lock_held())
        self.assertEqual(len(b.engine_pids()), 1)
        self.assertEqual(b.stop().returncode, 0)
        for n in (a, b):
            self.assertNotIn("NorvaneEngine already running - terminating.", n.event_texts())


if __name__ == "__main__":
    harness.main()
