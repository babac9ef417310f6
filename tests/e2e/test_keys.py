#!/usr/bin/env python3
"""The keyboard: Enter, the arrows, Ctrl+Enter and Escape, and Enter on rows
that are not hits."""
import json

import common
import launcher_harness as h

FIRST, SECOND, _ = (hit["path"] for hit in common.THREE_HITS)


class Keys(h.LauncherTestCase):
    def search(self):
        s = self.sandbox
        s.start_daemon([common.hits_reply(*common.THREE_HITS)])
        launcher = s.launch()
        self.assertEqual(s.pid_file_text(), str(launcher.pid))
        s.type("report")
        s.wait_requests(1)
        common.wait_selected(s)
        return launcher

    def assert_opened_and_closed(self, launcher, expected):
        s = self.sandbox
        self.assertEqual(s.wait_opened(), [[expected]])
        self.assertEqual(s.wait_exit(launcher), 0)
        self.assertIsNone(s.pid_file_text(), "the pid file outlived the launcher")
        # xdg-open gets the null device for its standard streams.
        fds = s.calls(s.xdg_open_log)[0]["fds"]
        self.assertEqual(fds, {0: "/dev/null", 1: "/dev/null", 2: "/dev/null"})

    def test_keys_choose_what_opens(self):
        table = [
            ("Enter", [("Return",)], FIRST),
            ("keypad Enter", [("KP_Enter",)], FIRST),
            ("Down Enter", [("Down",), ("Return",)], SECOND),
            ("Down Down Up Enter", [("Down",), ("Down",), ("Up",), ("Return",)], SECOND),
            ("Up at the top", [("Up",), ("Return",)], FIRST),
            ("Ctrl+Enter", [("Return", "ctrl")], "/home/u/docs"),
            ("Shift+Enter", [("Return", "shift")], FIRST),
        ]
        for name, keys, expected in table:
            with self.subTest(name):
                self.fresh_sandbox()
                launcher = self.search()
                for key in keys:
                    self.sandbox.key(*key)
                self.assert_opened_and_closed(launcher, expected)

    def test_down_moves_the_drawn_selection(self):
        s = self.sandbox
        self.search()
        first = common.panel.Layout(s).selected
        s.key("Down")
        moved = common.wait_selected(s, lambda l: l.selected[0] > first[0] + 10,
                                     "the selection to move down")
        s.key("Up")
        common.wait_selected(s, lambda l: abs(l.selected[0] - first[0]) <= 2,
                             "the selection to move back up")
        self.assertGreater(moved.selected[0], first[0])

    def test_the_selected_row_stays_in_view(self):
        # Ten hits of three lines overflow the list: only about six show.
        s = self.sandbox
        hits = [common.hit(f"Document {i}", f"/home/u/docs/doc{i}.txt",
                           f"what document {i} says", 0.9 - i / 20) for i in range(10)]
        s.start_daemon([common.hits_reply(*hits)])
        launcher = s.launch()
        s.type("docs")
        s.wait_requests(1)
        first = common.wait_selected(s).selected

        def in_view(layout):
            return layout.selected[0] >= layout.entry[1] and layout.selected[1] <= layout.bottom

        tops = []
        for n in range(2, 11):
            s.key("Down")
            tops.append(common.wait_selected(s, in_view, f"row {n} drawn selected in view")
                        .selected[0])
        self.assertGreater(tops[-1], first[0], "the selection never moved")
        # Rows below the view come in at its bottom edge (the last one with
        # the list's padding under it).
        self.assertEqual(tops[-3], tops[-2], "the rows do not end at the list's edge")
        self.assertLessEqual(tops[-1], tops[-2])
        for n in range(9, 0, -1):
            s.key("Up")
            common.wait_selected(s, in_view, f"row {n} drawn selected in view")
        common.wait_selected(s, lambda l: l.selected == first, "the first row back at the top")
        for _ in range(9):
            s.key("Down")
        common.wait_selected(s, in_view, "the tenth row drawn selected")
        # New results start again from the top.
        s.type("s")
        s.wait_requests(2)
        common.wait_selected(s, lambda l: l.selected == first, "new results from the top")
        for _ in range(9):
            s.key("Down")
        common.wait_selected(s, in_view, "the tenth row drawn selected")
        s.key("Return")
        self.assert_opened_and_closed(launcher, "/home/u/docs/doc9.txt")

    def test_enter_on_a_message_row_does_nothing(self):
        s = self.sandbox
        s.start_daemon([common.hits_reply()])
        launcher = s.launch()
        s.key("Return")  # on the hint row
        self.assertTrue(s.still_running(launcher), "Enter on the hint row closed the launcher")
        s.type("zzz")
        s.wait_requests(1)
        s.key("Return")  # on "No results"
        self.assertTrue(s.still_running(launcher), "Enter on \"No results\" closed the launcher")
        self.assertEqual(s.opened(), [])
        self.assertEqual(s.pid_file_text(), str(launcher.pid))

    def test_keys_of_a_pending_compose_belong_to_it(self):
        # A dead key waits for its letter; meanwhile Escape cancels it and
        # Enter is the input method's too. One wtype run each: a keyboard of
        # its own, so no keymap change comes between the dead key and the next.
        s = self.sandbox
        launcher = self.search()
        s.type("-k", "dead_acute", "-k", "Escape")
        self.assertTrue(s.still_running(launcher), "Escape during a compose closed it")
        s.type("-k", "dead_acute", "-k", "e")
        common.wait_for(s, lambda: json.loads(s.requests()[-1])["query"] == "report\u00e9",
                        "a search with the composed letter")
        s.type("-k", "dead_acute", "-k", "Return")
        self.assertTrue(s.still_running(launcher), "Enter during a compose closed it")
        self.assertEqual(s.opened(), [])

    def test_escape_closes(self):
        s = self.sandbox
        launcher = s.launch()
        s.type("still typing")  # a search is pending when Escape comes
        s.key("Escape")
        self.assertEqual(s.wait_exit(launcher), 0)
        self.assertIsNone(s.pid_file_text())
        self.assertEqual(s.opened(), [])


if __name__ == "__main__":
    h.main()
