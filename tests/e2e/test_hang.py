#!/usr/bin/env python3
"""A daemon that accepts a query and never answers: the launcher goes on
taking keys and searching, and Escape closes it at once although the
exchange would only give up after 30 s."""
import time

import common
import launcher_harness as h

# Far below the 30 s the launcher allows an exchange: an exit within this
# bound cannot have waited for the hanging one.
PROMPT_EXIT = 5.0


def query_line(text):
    return ('{"type":"query","query":"%s","limit":10}\n' % text).encode()


class Hang(h.LauncherTestCase):
    def type_during_hang(self, first, more):
        """Types first, waits until its request is in (the daemon now holds
        it), types more and waits for the second request."""
        s = self.sandbox
        s.type(first)
        s.wait_requests(1)
        s.type(more)
        s.wait_requests(2)
        self.assertEqual(s.requests(), [query_line(first), query_line(first + more)])

    def assert_escape_closes_promptly(self, launcher):
        s = self.sandbox
        self.assertIsNone(launcher.poll(), "the launcher ended on its own")
        pressed = time.monotonic()
        s.key("Escape")
        self.assertEqual(s.wait_exit(launcher), 0)
        took = time.monotonic() - pressed
        print(f"\nEscape to exit during the hang: {took * 1000:.0f} ms", flush=True)
        self.assertLess(took, PROMPT_EXIT, f"Escape took {took:.1f} s to close the launcher")
        self.assertIsNone(s.pid_file_text(), "the pid file outlived the launcher")
        self.assertEqual(s.opened(), [])

    def test_escape_closes_while_every_exchange_hangs(self):
        s = self.sandbox
        s.start_daemon([{"hang": True}])
        launcher = s.launch()
        self.type_during_hang("abc", "def")
        # Both exchanges are still open when Escape comes.
        time.sleep(0.3)
        self.assert_escape_closes_promptly(launcher)

    def test_a_later_search_renders_while_the_first_hangs(self):
        s = self.sandbox
        s.start_daemon([{"hang": True}, common.hits_reply(*common.THREE_HITS)])
        launcher = s.launch()
        self.type_during_hang("report", " one")
        common.wait_selected(s, what="the second search's hits")
        self.assert_escape_closes_promptly(launcher)


if __name__ == "__main__":
    h.main()
