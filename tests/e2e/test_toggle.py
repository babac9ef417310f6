#!/usr/bin/env python3
"""One command opens the launcher and, run again, closes it."""
import os
import time

import launcher_harness as h


class Toggle(h.LauncherTestCase):
    def test_a_second_start_stops_the_running_launcher(self):
        s = self.sandbox
        first = s.launch()
        second = s.start()
        self.assertEqual(s.wait_exit(second), 0)
        self.assertEqual(s.killed(), [[str(first.pid)]])
        self.assertIsNone(s.window_of(second), "the stopping start opened a window")
        s.wait_exit(first)  # ended by the signal that kill sent
        # The next start finds no launcher under the stale id and opens.
        third = s.launch()
        self.assertEqual(s.pid_file_text(), str(third.pid))
        self.assertEqual(len(s.killed()), 1)

    def test_a_pid_file_naming_another_program_is_claimed(self):
        s = self.sandbox
        with open(s.pid_file, "w") as f:
            f.write(f" +{os.getpid()}\n")  # this test program: not a launcher
        launcher = s.launch()
        self.assertEqual(s.killed(), [])
        self.assertEqual(s.pid_file_text(), str(launcher.pid))

    def test_two_starts_at_once_leave_one_launcher_that_the_next_press_closes(self):
        # A held or double-pressed hotkey: starts that overlap may end with
        # no launcher or one, never two, and the toggle keeps its meaning.
        s = self.sandbox
        for attempt in range(4):
            pair = [s.start(), s.start()]
            time.sleep(2.0)
            running = [p for p in pair if p.poll() is None]
            self.assertLessEqual(len(running), 1, f"attempt {attempt}: two launchers run")
            if running:
                self.assertEqual(s.wait_exit(s.start()), 0)
            for process in pair:
                s.wait_exit(process)  # the press closed the one that ran


if __name__ == "__main__":
    h.main()
