"""Checks of the stand-in daemon itself: PDF text, the corpus and its
ranking, and that bad requests never stop it."""

import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

import flintmill_standin as standin

HERE = os.path.dirname(os.path.abspath(__file__))


def make_pdf(content, compress=True):
    body = zlib.compress(content) if compress else content
    flt = b"/Filter/FlateDecode" if compress else b""
    return (b"%PDF-1.4\n1 0 obj<</Length " + str(len(body)).encode() + flt + b">>stream\n" +
            body + b"\nendstream\nendobj\n%%EOF\n")


class PdfText(unittest.TestCase):
    def test_reads_shown_strings_line_by_line(self):
        content = (b"BT /F1 12 Tf 72 712 Td (Quarterly \\(cat\\) report) Tj "
                   b"0 -14 Td [(Hel) 20 (lo) -300 (World)] TJ T* (caf\\351\\\nx) Tj ET")
        for compress in (True, False):
            with self.subTest(compress=compress):
                self.assertEqual(standin.pdf_text(make_pdf(content, compress)),
                                 "Quarterly (cat) report\nHello World\ncaf\u00e9x")

    def test_nested_parentheses_and_utf16(self):
        content = b"BT (a (b) c) Tj ET BT (\xfe\xff\x00h\x00i) Tj ET"
        self.assertEqual(standin.pdf_text(make_pdf(content)), "a (b) c\nhi")


class Corpus(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        d = self.tmp.name
        os.mkdir(os.path.join(d, "sub"))
        with open(os.path.join(d, "cats.md"), "w") as f:
            f.write("\n# Cats\n\nCats sleep.\nDogs bark at cats.\n")
        with open(os.path.join(d, "sub", "main.py"), "w") as f:
            f.write("def sleep():\n    pass\n")
        with open(os.path.join(d, "report.pdf"), "wb") as f:
            f.write(make_pdf(b"BT (Annual report) Tj T* (dogs and cats) Tj ET"))
        with open(os.path.join(d, "latin1.txt"), "wb") as f:
            f.write(b"caf\xe9 cats")
        with open(os.path.join(d, "photo.jpg"), "wb") as f:
            f.write(b"cats")
        self.docs = standin.load_corpus(d)

    def tearDown(self):
        self.tmp.cleanup()

    def test_reads_text_code_and_pdf_and_skips_the_rest(self):
        names = sorted(os.path.basename(doc["path"]) for doc in self.docs)
        self.assertEqual(names, ["cats.md", "main.py", "report.pdf"])
        for doc in self.docs:
            self.assertTrue(os.path.isabs(doc["path"]))

    def test_ranks_by_overlap(self):
        hits = standin.rank(self.docs, "dogs cats", 10)
        self.assertEqual([os.path.basename(h["path"]) for h in hits], ["cats.md", "report.pdf"])
        self.assertEqual(hits[0]["title"], "Cats")
        self.assertEqual(hits[0]["snippet"], "Dogs bark at cats.")
        self.assertEqual(hits[0]["score"], 1.0)
        self.assertEqual(hits[1]["title"], "Annual report")
        self.assertEqual(len(standin.rank(self.docs, "dogs cats", 1)), 1)
        self.assertEqual(standin.rank(self.docs, "zebra", 10), [])
        self.assertEqual(standin.rank(self.docs, "", 10), [])
        for h in standin.rank(self.docs, "sleep cats zebra", 10):
            self.assertTrue(0 <= h["score"] <= 1)


class Server(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.start()

    def start(self, *extra):
        self.sock = os.path.join(self.tmp.name, "s.sock")
        ready = os.path.join(self.tmp.name, "ready")
        self.log = os.path.join(self.tmp.name, "log")
        self.proc = subprocess.Popen([sys.executable, os.path.join(HERE, "flintmill_standin.py"),
                                      "--socket", self.sock, "--log", self.log,
                                      "--ready-file", ready, *extra])
        deadline = time.time() + 20
        while not os.path.exists(ready):
            self.assertLess(time.time(), deadline, "stand-in not ready")
            time.sleep(0.02)

    def tearDown(self):
        self.proc.terminate()
        self.assertEqual(self.proc.wait(timeout=10), 0)
        self.assertFalse(os.path.exists(self.sock))
        self.tmp.cleanup()

    def exchange(self, data, close_after=False):
        with socket.socket(socket.AF_UNIX) as s:
            s.settimeout(10)
            s.connect(self.sock)
            s.sendall(data)
            if close_after:
                s.shutdown(socket.SHUT_WR)
            reply = b""
            while not reply.endswith(b"\n"):
                chunk = s.recv(65536)
                if not chunk:
                    break
                reply += chunk
            return reply

    def test_answers_bad_requests_with_errors_and_keeps_serving(self):
        for data in (b"garbage\n", b"\xff\xfe\n", b"[1]\n", b'{"type":"nope"}\n',
                     b'{"type":"query","query":"a","limit":-1}\n', b"no newline"):
            with self.subTest(data=data):
                reply = json.loads(self.exchange(data, close_after=True))
                self.assertEqual(reply["type"], "error")
        ok = json.loads(self.exchange(b'{"type":"query","query":"cat","limit":10}\n'))
        self.assertEqual(ok, {"type": "hits", "hits": []})
        self.assertEqual(json.loads(self.exchange(b'{"type":"reindex"}\n')), {"type": "ok"})
        with open(self.log, "rb") as f:
            self.assertTrue(f.read().endswith(b'{"type":"reindex"}\n'))

    def test_the_bench_modes_answer_with_made_up_hits_and_time_each_exchange(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        os.unlink(os.path.join(self.tmp.name, "ready"))
        timing = os.path.join(self.tmp.name, "timing")
        self.start("--hits", "3", "--delay-ms", "20", "--timing-log", timing)
        reply = json.loads(self.exchange(b'{"type":"query","query":"tax","limit":10}\n'))
        self.assertEqual([h["title"] for h in reply["hits"]], ["tax 0", "tax 1", "tax 2"])
        with open(timing) as f:
            entry = json.loads(f.readline())
        self.assertEqual(entry["query"], "tax")
        self.assertGreaterEqual(entry["reply_us"] - entry["arrive_us"], 20_000)
        for name, count in (("hits:5", 5), ("empty-hits-60mib", None)):
            with self.subTest(name):
                hits = json.loads(standin.shaped_reply(name))["hits"]
                if count:
                    self.assertEqual(len(hits), count)
                else:
                    self.assertGreater(len(hits), 1_000_000)


if __name__ == "__main__":
    unittest.main()
