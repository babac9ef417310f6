#!/usr/bin/env python3
"""The resident instance: `flintsearch` hands its toggle over to a running
flintsearch-resident, every close hides the resident's window, and without
a (working) resident the start is the ordinary one."""
import os
import signal
import subprocess
import tempfile
import time

import common
import launcher_harness as h


class Resident(h.LauncherTestCase):
    def press(self):
        """One press of the key: a start that must end at once, status 0.
        The resident answers within 200 ms or is passed over, so the press
        waits for it to finish drawing what came before (a loaded machine
        can stall a main loop for longer)."""
        s = self.sandbox
        time.sleep(0.3)
        start = s.start()
        self.assertEqual(s.wait_exit(start), 0)
        self.assertIsNone(s.window_of(start), "the press opened a window of its own")
        return start

    def test_the_toggle_shows_and_hides_the_residents_window(self):
        s = self.sandbox
        s.start_daemon([common.hits_reply(*common.THREE_HITS)])
        resident = s.start_resident()
        self.assertIsNone(s.window_of(resident), "a resident starts hidden")
        for _ in range(2):
            self.press()
            s.wait_mapped(resident)
            s.type("report")
            common.wait_selected(s)
            self.press()
            s.wait_unmapped(resident)
        self.assertEqual(s.killed(), [])
        self.assertIsNone(s.pid_file_text(), "hand-overs claim no pid file")
        self.assertIsNone(resident.poll())

    def test_every_close_hides_and_the_next_show_is_fresh(self):
        s = self.sandbox
        s.start_daemon([common.hits_reply(*common.THREE_HITS)])
        resident = s.start_resident()
        closes = [
            ("Escape", lambda: s.key("Escape")),
            ("a click outside the panel", lambda: s.click(10, h.output_size()[1] - 10)),
            ("Enter on a hit", lambda: s.key("Return")),
        ]
        for name, close in closes:
            with self.subTest(name):
                self.press()
                s.wait_mapped(resident)
                s.type("report")
                common.wait_selected(s)
                close()
                s.wait_unmapped(resident)
                self.assertIsNone(resident.poll(), "closing ended the resident")
        self.assertEqual(s.wait_opened(), [[common.THREE_HITS[0]["path"]]])

    def test_without_a_working_resident_the_start_is_the_ordinary_one(self):
        s = self.sandbox
        resident = s.start_resident()
        second = s.start(program=h.RESIDENT)
        self.assertEqual(s.wait_exit(second), 1)
        self.assertEqual(s.launcher_output(second)[1],
                         "flintsearch: a resident instance is already running\n")
        # Killed, it leaves its socket behind: the next press opens a
        # launcher the ordinary way, and the one after closes it.
        resident.send_signal(signal.SIGKILL)
        resident.wait()
        self.assertTrue(os.path.exists(s.resident_socket))
        fresh = s.launch()
        self.assertEqual(s.pid_file_text(), str(fresh.pid))
        # A resident started now replaces the stale socket, but the open
        # launcher is what the next press closes.
        resident = s.start_resident()
        self.press()
        self.assertEqual(s.wait_exit(fresh), 0 - signal.SIGTERM)
        self.assertIsNone(s.window_of(resident))
        self.press()
        s.wait_mapped(resident)

    def test_a_resident_that_does_not_answer_is_passed_over(self):
        s = self.sandbox
        resident = s.start_resident()
        resident.send_signal(signal.SIGSTOP)
        try:
            fresh = s.launch()
            self.assertEqual(s.pid_file_text(), str(fresh.pid))
        finally:
            resident.send_signal(signal.SIGCONT)
        # The stopped resident got "toggle" but never "go": it stays hidden.
        time.sleep(0.5)
        self.assertIsNone(s.window_of(resident))

    def test_a_resident_ends_cleanly_with_its_compositor(self):
        s = self.sandbox
        with tempfile.TemporaryDirectory() as runtime:
            os.chmod(runtime, 0o700)
            env = dict(s.env, XDG_RUNTIME_DIR=runtime)
            script = ('"$0" & pid=$!; sleep 2; swaymsg exit >/dev/null 2>&1; wait $pid; '
                      'echo "status $?"')
            result = subprocess.run([os.environ["FLINT_HEADLESS_SWAY"], "--", "sh", "-c", script,
                                     h.RESIDENT], env=env, capture_output=True, text=True,
                                    timeout=60)
            self.assertIn("status 0", result.stdout, result.stderr)
            self.assertFalse(os.path.exists(os.path.join(runtime, "flintsearch-resident.sock")))


if __name__ == "__main__":
    h.main()
