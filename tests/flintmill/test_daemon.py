"""The real flintmill over a folder of real files, through its socket.

Each test starts the daemon with its own HOME and XDG folders (sys.argv[1]
names the binary). Deadlines are generous; nothing here measures speed.
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

BINARY = os.environ.get("FLINTMILL", "flintmill")
DEADLINE = 20.0


class Daemon:
    def __init__(self, root):
        self.root = root
        self.docs = os.path.join(root, "docs")
        self.run_dir = os.path.join(root, "run")
        os.makedirs(self.docs, exist_ok=True)
        os.makedirs(self.run_dir, mode=0o700, exist_ok=True)
        self.env = dict(os.environ, HOME=root, XDG_RUNTIME_DIR=self.run_dir,
                        XDG_CACHE_HOME=os.path.join(root, "cache"),
                        XDG_CONFIG_HOME=os.path.join(root, "config"), LANG="en_GB.UTF-8")
        self.env.pop("LISTEN_FDS", None)
        self.sock = os.path.join(self.run_dir, "flintmill.sock")
        self.proc = None

    def start(self):
        self.proc = subprocess.Popen([BINARY, "--root", self.docs], env=self.env,
                                     stderr=subprocess.PIPE, text=True)
        wait(lambda: os.path.exists(self.sock) and self.ask({"type": "status"})["model_ready"],
             "the daemon to listen")
        return self

    def stop(self):
        self.proc.terminate()
        _, err = self.proc.communicate(timeout=DEADLINE)
        return self.proc.returncode, err

    def raw(self, data, read=True):
        with socket.socket(socket.AF_UNIX) as s:
            s.settimeout(DEADLINE)
            s.connect(self.sock)
            s.sendall(data)
            return s.makefile("rb").readline() if read else None

    def ask(self, request):
        return json.loads(self.raw(json.dumps(request).encode() + b"\n"))

    def paths(self, text):
        reply = self.ask({"type": "query", "query": text, "limit": 10})
        return [os.path.basename(h["path"]) for h in reply["hits"]]

    def write(self, name, text):
        with open(os.path.join(self.docs, name), "w") as f:
            f.write(text)


def wait(condition, what):
    end = time.monotonic() + DEADLINE
    while True:
        try:
            if condition():
                return
        except (OSError, ValueError, KeyError):
            pass
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.1)


class DaemonTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="flintmill-test-")
        self.d = Daemon(self.tmp)
        self.d.write("budget.txt", "The quarterly budget for the garden project.")
        self.d.write("trip.md", "# Holiday plans\n\nWe travel to Lisbon in spring.\n")

    def tearDown(self):
        if self.d.proc and self.d.proc.poll() is None:
            self.d.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def test_protocol_replies(self):
        d = self.d.start()
        wait(lambda: d.ask({"type": "status"})["indexed"] == 2, "two documents indexed")
        hits = d.ask({"type": "query", "query": "holiday plans", "limit": 10})["hits"]
        self.assertEqual(hits[0]["title"], "Holiday plans")
        self.assertGreater(hits[0]["score"], 0.9)  # an exact title
        self.assertEqual(d.paths("lisb"), ["trip.md"])  # still typing
        self.assertEqual(d.ask({"type": "query", "query": "budget", "limit": 0})["hits"], [])
        self.assertEqual(d.ask({"type": "reindex"}), {"type": "ok"})
        for name, data in [("garbage", b"garbage\n"), ("unknown", b'{"type":"drop"}\n'),
                           ("oversized", b'{"type":"query","query":"' + b"a" * 70000)]:
            with self.subTest(name):
                reply = json.loads(d.raw(data))
                self.assertEqual(reply["type"], "error")
                self.assertTrue(reply["message"])
        # A client that never ends its line is answered and dropped, and
        # does not hold up anyone else meanwhile.
        with socket.socket(socket.AF_UNIX) as slow:
            slow.settimeout(DEADLINE)
            slow.connect(d.sock)
            slow.sendall(b'{"type":')
            self.assertEqual(d.ask({"type": "status"})["type"], "status_info")
            self.assertEqual(json.loads(slow.makefile("rb").readline())["type"], "error")

    def test_second_instance_exits_1(self):
        self.d.start()
        second = subprocess.run([BINARY, "--root", self.d.docs], env=self.d.env,
                                capture_output=True, text=True, timeout=DEADLINE)
        self.assertEqual(second.returncode, 1)
        self.assertEqual(len(second.stderr.strip().splitlines()), 1)
        code, _ = self.d.stop()
        self.assertEqual(code, 0)
        self.assertFalse(os.path.exists(self.d.sock))

    def test_follows_changes_and_reconciles_after_restart(self):
        d = self.d.start()
        d.write("zebra.txt", "notes on the zebra crossing")
        wait(lambda: d.paths("zebra") == ["zebra.txt"], "a new file to be found")
        os.rename(os.path.join(d.docs, "zebra.txt"), os.path.join(d.docs, "stripes.txt"))
        wait(lambda: d.paths("zebra") == ["stripes.txt"], "a renamed file under its new name")
        os.remove(os.path.join(d.docs, "budget.txt"))
        wait(lambda: d.paths("budget") == [], "a deleted file to go")
        d.stop()
        # While it is down: one file changes, one moves, one appears.
        d.write("stripes.txt", "now about horses")
        os.rename(os.path.join(d.docs, "trip.md"), os.path.join(d.docs, "lisbon.md"))
        d.write("late.txt", "a walrus arrived late")
        d.start()
        # Related words may add weaker hits below; the file itself comes first.
        wait(lambda: d.paths("walrus")[:1] == ["late.txt"], "a file added while down")
        wait(lambda: d.paths("horses")[:1] == ["stripes.txt"], "a file changed while down")
        self.assertEqual(d.paths("holiday"), ["lisbon.md"])

    def test_corrupt_index_is_rebuilt(self):
        d = self.d.start()
        wait(lambda: d.ask({"type": "status"})["indexed"] == 2, "two documents indexed")
        d.stop()
        index = os.path.join(self.tmp, "cache", "flintmill")
        for name in os.listdir(index):
            if name.endswith(".glass") or name.startswith("iamglass"):
                with open(os.path.join(index, name), "r+b") as f:
                    f.write(b"\xde\xad" * 64)
        d.start()
        wait(lambda: d.paths("lisbon") == ["trip.md"], "the rebuilt index to answer")
        _, err = d.stop()
        self.assertIn("rebuilt", err)

    @unittest.skipUnless(os.geteuid() == 0, "needs another user to connect as")
    def test_other_users_are_not_answered(self):
        d = self.d.start()
        os.chmod(self.tmp, 0o755)
        os.chmod(d.run_dir, 0o755)
        os.chmod(d.sock, 0o777)  # only the peer check stands in the way
        pid = os.fork()
        if pid == 0:
            os.setuid(65534)
            try:
                os._exit(0 if d.raw(b'{"type":"status"}\n') == b"" else 1)
            except OSError:
                os._exit(0)
        _, status = os.waitpid(pid, 0)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0)


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        BINARY = sys.argv.pop(1)
    unittest.main()
