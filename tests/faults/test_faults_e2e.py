#!/usr/bin/env python3
"""The real launcher against faults from outside: a daemon that dies
mid-reply or resets the connection, a runtime directory that is missing, a
file or shut to the user, a theme directory that cannot be made, a broken
user stylesheet, and a theme file made unreadable while the launcher runs.

Each case ends with the launcher still answering: it maps, keeps what was
typed (the next key searches the whole text), closes on Escape with status
0, and its standard error shows no crash report.

Where a mode must keep the launcher out, it runs as the compositor's user
"flinttest" (when the tests run as root; root reads any file whatever its
mode), owning the sandbox as that user would.
"""
import os
import pwd
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

import common  # noqa: E402
import launcher_harness as h  # noqa: E402
import panel  # noqa: E402

GREEN = (0, 250, 0)
RED = (250, 0, 0)

# What a crash, a sanitizer or a failed GTK/GLib precondition leaves on
# standard error. dconf's complaint that it cannot make its directory in an
# unusable runtime directory is GSettings' own business, not a fault here.
CRASH_SIGNS = re.compile(r"AddressSanitizer|runtime error:|Segmentation fault|"
                         r"terminate called|(?<!dconf)-CRITICAL")


class FaultSandbox(h.Sandbox):
    """A sandbox whose launchers can run as the unprivileged test user."""

    def __init__(self):
        super().__init__()
        self.user = None

    def run_unprivileged(self):
        """Makes later launchers run as "flinttest" (when root) and hands the
        sandbox to that user. The launcher and its module are copied into
        the sandbox, in their installed layout: the checkout may sit in a
        home directory that user cannot enter."""
        if os.geteuid() != 0:
            return
        self.user = pwd.getpwnam("flinttest")
        prefix = os.path.join(self.root, "prefix")
        modules = os.path.normpath(os.path.join(prefix, "bin",
                                                os.environ["FLINTSEARCH_MODULE_RELDIR"]))
        os.makedirs(modules)
        os.makedirs(os.path.join(prefix, "bin"))
        self.binary = shutil.copy(h.BINARY, os.path.join(prefix, "bin"))
        shutil.copy(os.environ["FLINTSEARCH_MODULE"], modules)
        subprocess.run(["chown", "-R", f"{self.user.pw_uid}:{self.user.pw_gid}", self.root],
                       check=True)
        self.popen_user = {"user": self.user.pw_uid, "group": self.user.pw_gid,
                           "extra_groups": []}


class Faults(h.LauncherTestCase):
    def setUp(self):
        self.sandbox = FaultSandbox()
        self.addCleanup(lambda: self.sandbox.close())

    def fresh_sandbox(self):
        self.sandbox.close()
        self.sandbox = FaultSandbox()
        return self.sandbox

    # -- checks shared by the cases ---------------------------------------------

    def assert_answers_and_closes(self, launcher):
        """Still running, nothing selectable shown, Escape ends it with 0 and
        no crash report."""
        s = self.sandbox
        self.assertTrue(s.still_running(launcher), "the launcher ended by itself")
        s.key("Escape")
        self.assertEqual(s.wait_exit(launcher), 0)
        _, err = s.launcher_output(launcher)
        found = CRASH_SIGNS.search(err)
        self.assertIsNone(found, f"crash report on standard error: {found and found.group(0)}")

    def assert_shows_a_failure_row(self, launcher):
        """The failure row is shown: not selectable, and Enter keeps the
        launcher open without opening anything."""
        s = self.sandbox
        time.sleep(0.8)
        self.assertIsNone(panel.Layout(s).selected, "a failure row must not be selectable")
        s.key("Return")
        self.assertTrue(s.still_running(launcher), "Enter on the failure row closed the launcher")
        self.assertEqual(s.opened(), [])

    def border_probe(self):
        x = panel.panel_left() + h.PANEL_WIDTH // 2
        return lambda: self.sandbox.capture(x, h.PANEL_TOP + 2, 1, 1).pixel(0, 0)

    # -- the daemon ---------------------------------------------------------------

    def test_a_daemon_killed_mid_reply_leaves_the_typing_for_the_next_daemon(self):
        s = self.sandbox
        s.start_daemon([{"reply": common.hits_reply(*common.THREE_HITS), "die_after_bytes": 30}])
        launcher = s.launch()
        s.type("abc")
        s.wait_requests(1)
        common.wait_for(s, lambda: s.daemon.poll() is not None, "the daemon to die")
        self.assert_shows_a_failure_row(launcher)
        # A new daemon: the next key searches the whole text typed so far.
        s.start_daemon([common.hits_reply(*common.THREE_HITS)])
        s.type("d")
        s.wait_requests(2)
        self.assertEqual(s.requests()[-1], b'{"type":"query","query":"abcd","limit":10}\n')
        common.wait_selected(s)
        s.key("Return")
        self.assertEqual(s.wait_opened(), [["/home/u/docs/report one.pdf"]])
        self.assertEqual(s.wait_exit(launcher), 0)

    def test_a_reset_connection_leaves_the_typing_and_the_daemon_answers_next(self):
        s = self.sandbox
        s.start_daemon([{"reset": True, "reply": '{"type":"hits","hits":[{"ti',
                         "no_newline": True},
                        common.hits_reply(*common.THREE_HITS)])
        launcher = s.launch()
        s.type("abc")
        s.wait_requests(1)
        self.assert_shows_a_failure_row(launcher)
        s.type("d")
        s.wait_requests(2)
        self.assertEqual(s.requests()[-1], b'{"type":"query","query":"abcd","limit":10}\n')
        common.wait_selected(s)
        self.assert_answers_and_closes(launcher)

    # -- the runtime directory ------------------------------------------------------

    def test_a_runtime_directory_of_no_use_still_starts_and_closes(self):
        def missing(s):
            return os.path.join(s.root, "gone")

        def regular_file(s):
            path = os.path.join(s.root, "file")
            with open(path, "w") as f:
                f.write("not a directory")
            return path

        def socket_is_a_directory(s):
            os.mkdir(s.socket_path)
            return s.runtime

        def shut(mode):
            def make(s):
                s.run_unprivileged()
                os.chmod(s.runtime, mode)
                return s.runtime
            return make

        # (name, fault, whether the pid file can be written)
        table = [
            ("missing", missing, False),
            ("a regular file", regular_file, False),
            ("socket path is a directory", socket_is_a_directory, True),
            ("not searchable by the user", shut(0o600), False),
            ("no permissions for the user", shut(0o000), False),
            ("not writable by the user", shut(0o500), False),
        ]
        for name, make, pid_written in table:
            with self.subTest(name):
                s = self.fresh_sandbox()
                runtime = make(s)
                s.env["XDG_RUNTIME_DIR"] = runtime
                launcher = s.launch()
                pid_file = os.path.join(runtime, "flintsearch.pid")
                if pid_written:
                    with open(pid_file) as f:
                        self.assertEqual(f.read(), str(launcher.pid))
                else:
                    self.assertFalse(os.path.exists(pid_file))
                s.type("abc")
                self.assert_shows_a_failure_row(launcher)
                self.assert_answers_and_closes(launcher)
                os.chmod(s.runtime, 0o700)

    def test_a_theme_directory_that_cannot_be_made_leaves_the_palette_look(self):
        def flint_is_a_file(s):
            with open(os.path.join(s.runtime, "flint"), "w") as f:
                f.write("not a directory")

        def runtime_not_writable(s):
            s.run_unprivileged()
            os.chmod(s.runtime, 0o500)

        accent = "#33cc99"
        for name, make in [("flint is a regular file", flint_is_a_file),
                           ("runtime directory not writable", runtime_not_writable)]:
            with self.subTest(name):
                s = self.fresh_sandbox()
                s.write_palette({"color4": accent})
                make(s)
                launcher = s.launch()
                layout = panel.Layout(s)
                self.assertIsNotNone(layout.entry, "no search entry drawn")
                top, bottom = layout.entry
                common.wait_for(
                    s, lambda: h.find_colour(s.capture(panel.panel_left(), top, h.PANEL_WIDTH,
                                                     bottom - top), h.hex_colour(accent)),
                    "the palette's accent (the caret) in the entry", timeout=5)
                self.assert_answers_and_closes(launcher)
                os.chmod(s.runtime, 0o700)
                self.assertFalse(os.path.isdir(os.path.join(s.runtime, "flint")))

    # -- stylesheets ------------------------------------------------------------------

    def test_a_user_stylesheet_with_invalid_css_keeps_its_good_rules(self):
        s = self.sandbox
        s.write_user_css("}}} garbage ;;\n@@ nonsense;\n.x { colour: bleu; }\n"
                         ".launcher-bg { border-top: 6px solid rgb(0, 250, 0); }\n"
                         ".half { color: ")
        launcher = s.launch()
        probe = self.border_probe()
        common.wait_for(s, lambda: h.close_to(probe(), GREEN, 30), "the good rule on screen")
        self.assert_answers_and_closes(launcher)

    def test_a_user_stylesheet_with_invalid_utf8_is_ignored_whole(self):
        s = self.sandbox
        directory = os.path.join(s.config, "flintsearch")
        os.makedirs(directory)
        with open(os.path.join(directory, "style.css"), "wb") as f:
            f.write(b".launcher-bg { border-top: 6px solid rgb(0, 250, 0); }\n/* \xff\xfe */\n")
        launcher = s.launch()
        self.assertIsNotNone(panel.Layout(s).entry, "no search entry drawn")
        time.sleep(0.5)
        self.assertFalse(h.close_to(self.border_probe()(), GREEN, 30),
                         "a rule of a file that is not UTF-8 was applied")
        self.assert_answers_and_closes(launcher)

    def test_a_theme_file_made_unreadable_falls_back_and_comes_back(self):
        s = self.sandbox
        s.run_unprivileged()
        s.write_theme(".launcher-bg { border-top: 6px solid rgb(250, 0, 0); }\n")
        launcher = s.launch()
        probe = self.border_probe()
        common.wait_for(s, lambda: h.close_to(probe(), RED, 30), "the theme file's rule")
        os.chmod(s.theme_file, 0)
        common.wait_for(s, lambda: not h.close_to(probe(), RED, 30),
                        "the generated theme once the file is unreadable")
        os.chmod(s.theme_file, 0o644)
        common.wait_for(s, lambda: h.close_to(probe(), RED, 30), "the theme file's rule again")
        self.assert_answers_and_closes(launcher)


if __name__ == "__main__":
    h.main()
