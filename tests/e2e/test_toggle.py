#!/usr/bin/env python3
"""One command opens the launcher and, run again, closes it."""
import os

import launcher_harness as h


class Toggle(h.LauncherTestCase):
    def test_a_second_start_stops_the_running_launcher(self):
        s = self.sandbox
        first = s.launch()
        second = s.start()
        self.assertEqual(s.wait_exit(second), 0)
        self.assertEqual(s.killed(), [[str(first.pid)]])
        self.assertIsNone(s.view_of(second), "the stopping start opened a window")
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


if __name__ == "__main__":
    h.main()
