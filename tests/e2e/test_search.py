#!/usr/bin/env python3
"""Searching as the user types: the pause before a query, the exact request,
hits drawn with the first selected, and a daemon that is not running."""
import time

import common
import launcher_harness as h


class Search(h.LauncherTestCase):
    def test_typing_sends_one_request_after_the_pause(self):
        s = self.sandbox
        s.start_daemon([common.hits_reply(*common.THREE_HITS)])
        s.launch()
        # Three keys 60 ms apart: each restarts the 150 ms pause.
        typed = s.type("a", "-s", "60", "b", "-s", "60", "c")
        arrived = s.wait_requests(1)
        self.assertGreaterEqual(arrived - typed, 0.14,
                                "the query went out before the typing pause")
        time.sleep(0.8)
        self.assertEqual(s.requests(), [b'{"type":"query","query":"abc","limit":10}\n'])

    def test_hits_render_with_the_first_selected(self):
        s = self.sandbox
        s.start_daemon([common.hits_reply(*common.THREE_HITS)])
        s.launch()
        before = common.panel.Layout(s)
        self.assertIsNotNone(before.entry, "no search entry drawn")
        self.assertIsNone(before.selected, "the hint row must not be selected")
        s.type("report")
        s.wait_requests(1)
        layout = common.wait_selected(s)
        # The selected row sits right below the entry (list padding only).
        gap = layout.selected[0] - layout.entry[1]
        self.assertLess(gap, 16, f"the selected row is not the first: {layout.surfaces}")
        s.key("Return")
        self.assertEqual(s.wait_opened(), [["/home/u/docs/report one.pdf"]])

    def test_without_a_daemon_the_launcher_shows_a_row_and_keeps_working(self):
        s = self.sandbox
        launcher = s.launch()
        s.type("abc")
        time.sleep(0.8)
        self.assertIsNone(common.panel.Layout(s).selected,
                          "the failure row must not be selectable")
        s.key("Return")
        self.assertTrue(s.still_running(launcher), "Enter on the failure row closed the launcher")
        self.assertEqual(s.opened(), [])
        # Once the daemon runs, the next change of the text searches again.
        s.start_daemon([common.hits_reply(*common.THREE_HITS)])
        s.type("d")
        s.wait_requests(1)
        self.assertEqual(s.requests(), [b'{"type":"query","query":"abcd","limit":10}\n'])
        common.wait_selected(s)
        s.key("Return")
        self.assertEqual(s.wait_opened(), [["/home/u/docs/report one.pdf"]])
        self.assertEqual(s.wait_exit(launcher), 0)


if __name__ == "__main__":
    h.main()
