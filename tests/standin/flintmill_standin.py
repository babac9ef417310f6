#!/usr/bin/env python3
"""A stand-in for the flintmill daemon, for tests and demos.

    flintmill_standin.py --socket PATH
                         [--script FILE | --answers FILE | --corpus DIR |
                          --hits N | --shape NAME]
                         [--delay-ms D] [--log FILE] [--timing-log FILE]
                         [--ready-file FILE]

Listens on the Unix socket PATH (a stale socket there is removed first) and
serves every connection in a thread of its own: it reads one request line
(up to the line feed), appends the exact bytes received to the --log file as
they arrive, and answers with one reply line.

--script FILE  JSON lines, one action per connection: connection N uses line
               N, the last line repeats. Members of an action (all optional):
                 "reply"          text of the reply line (a JSON object is
                                  encoded compactly), followed by LF unless
                 "no_newline"     is true
                 "reply_hex"      raw reply bytes in hex (say, invalid UTF-8)
                 "repeat"         N: a reply of N bytes "x" (a very long line)
                 "delay_ms"       wait this long before replying
                 "close_silently" close without writing anything
                 "keep_open"      after replying, hold the connection until
                                  the client closes it
                 "hang"           never answer; hold the connection
                 "die_after_bytes" N: write the first N bytes of the reply,
                                  then the whole daemon kills itself with
                                  SIGKILL (a daemon that dies mid-reply)
                 "reset"          leave the request unread (it is logged,
                                  not consumed), write the reply bytes if
                                  "reply" or "reply_hex" is given, and close:
                                  a Unix socket closed with unread data makes
                                  the client's next read fail with
                                  ECONNRESET
               An action without a reply answers like the corpus mode.
--answers FILE JSON lines, each an action as above with a "query" member: a
               query request with that exact text gets that action (for
               clients whose connections come in no fixed order); any
               other request is answered like the corpus mode. "reset" does
               not apply here (the request is read to find the action).
--corpus DIR   ranks the text files (.txt, .md, source code) and PDF files
               under DIR by word overlap with the query, score 0 to 1.
--hits N       answers every query with N hits whose titles repeat the query
               (so every reply looks different); for the bench.
--shape NAME   answers every query with one of the replies a hostile or buggy
               daemon could send (SHAPES: "hits:COUNT", "snippet-10mb",
               "empty-hits-60mib", "nested-60mib": 60 MiB of "["); for the
               bench.
--delay-ms D   waits D ms before every reply.
--timing-log   appends one JSON line per connection: {"arrive_us", "reply_us",
               "query"}, CLOCK_REALTIME microseconds when the request's line
               feed had arrived and just before the reply was written.
--ready-file   written (atomically) once the socket is listening.

Without --script or --corpus every query gets an empty list of hits. Status
requests get a status_info reply, reindex requests an ok reply, anything
unparsable an error reply. SIGTERM and SIGINT stop it cleanly. Python 3
standard library only.
"""

import argparse
import json
import os
import re
import select
import signal
import socket
import stat
import sys
import threading
import time
import zlib

TEXT_SUFFIXES = {
    ".txt", ".md", ".markdown", ".rst", ".org", ".tex", ".csv", ".log",
    ".py", ".c", ".h", ".cc", ".cpp", ".cxx", ".hpp", ".hh", ".rs", ".go",
    ".java", ".kt", ".js", ".ts", ".tsx", ".jsx", ".rb", ".pl", ".php", ".lua",
    ".sh", ".bash", ".zsh", ".fish", ".cmake", ".mk", ".json", ".toml",
    ".yaml", ".yml", ".ini", ".cfg", ".conf", ".xml", ".html", ".css", ".sql",
}
WORD = re.compile(r"\w+", re.UNICODE)
SNIPPET_MAX = 240


def words(text):
    return {w.lower() for w in WORD.findall(text)}


# ---------------------------------------------------------------------------
# PDF text, extracted naively: the literal strings shown by the Tj, TJ, ' and
# " operators in the content streams (Flate-compressed streams are inflated).

PDF_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "b": "\b", "f": "\f",
               "(": "(", ")": ")", "\\": "\\"}


def pdf_literal(data, i):
    """Reads the literal string whose "(" is at data[i]; returns (bytes, end)."""
    out = bytearray()
    depth = 1
    i += 1
    while i < len(data):
        c = data[i]
        if c == 0x5C:  # backslash
            i += 1
            if i >= len(data):
                break
            e = chr(data[i])
            if e in PDF_ESCAPES:
                out += PDF_ESCAPES[e].encode("latin-1")
                i += 1
            elif e in "01234567":
                j = i
                while j < len(data) and j - i < 3 and chr(data[j]) in "01234567":
                    j += 1
                out.append(int(data[i:j], 8) & 0xFF)
                i = j
            elif e in "\r\n":  # line continuation
                i += 1
                if e == "\r" and i < len(data) and data[i] == 0x0A:
                    i += 1
            else:
                i += 1
            continue
        if c == 0x28:
            depth += 1
        elif c == 0x29:
            depth -= 1
            if depth == 0:
                return bytes(out), i + 1
        out.append(c)
        i += 1
    return bytes(out), i


def pdf_decode(raw):
    if raw.startswith(b"\xfe\xff"):
        return raw[2:].decode("utf-16-be", errors="replace")
    return raw.decode("latin-1")


def pdf_content_text(data):
    """Text lines shown in one content stream."""
    lines = []
    current = []
    operands = []  # literal strings (or lists of them, for TJ) since the last operator
    i = 0
    n = len(data)
    while i < n:
        c = data[i]
        if c == 0x28:
            s, i = pdf_literal(data, i)
            operands.append(pdf_decode(s))
            continue
        if c == 0x5B:  # "[" ... "]" for TJ
            parts = []
            i += 1
            while i < n and data[i] != 0x5D:
                if data[i] == 0x28:
                    s, i = pdf_literal(data, i)
                    parts.append(pdf_decode(s))
                    continue
                m = re.match(rb"-?\d+(\.\d+)?", data[i:i + 32])
                if m:
                    if float(m.group(0)) < -200:  # a wide gap: a word break
                        parts.append(" ")
                    i += len(m.group(0))
                    continue
                i += 1
            i += 1
            operands.append("".join(parts))
            continue
        if c == 0x25:  # comment
            while i < n and data[i] not in b"\r\n":
                i += 1
            continue
        m = re.match(rb"[A-Za-z'\"*]+", data[i:i + 8])
        if m:
            op = m.group(0).decode("latin-1")
            i += len(op)
            if op in ("Td", "TD", "T*", "Tm", "ET", "'", '"'):
                if current:
                    lines.append("".join(current))
                    current = []
            if op in ("Tj", "TJ", "'", '"') and operands:
                current.append(operands[-1])
            operands = []
            continue
        i += 1
    if current:
        lines.append("".join(current))
    return lines


def pdf_text(data):
    streams = []
    for m in re.finditer(rb"stream\r?\n", data):
        start = m.end()
        end = data.find(b"endstream", start)
        if end < 0:
            break
        body = data[start:end]
        try:
            streams.append(zlib.decompress(body))
        except zlib.error:
            try:
                streams.append(zlib.decompressobj().decompress(body))
            except zlib.error:
                streams.append(body)
    if not streams:
        streams = [data]
    lines = []
    for s in streams:
        if b"Tj" in s or b"TJ" in s:
            lines.extend(pdf_content_text(s))
    return "\n".join(lines)


# ---------------------------------------------------------------------------
# The corpus: text of each readable file under a directory.

def read_document(path):
    suffix = os.path.splitext(path)[1].lower()
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return None
    if suffix == ".pdf":
        try:
            return pdf_text(data)
        except Exception:  # a damaged PDF is just unreadable
            return None
    if suffix in TEXT_SUFFIXES:
        try:
            return data.decode("utf-8")
        except UnicodeDecodeError:
            return None
    return None


def load_corpus(directory):
    docs = []
    for root, dirs, files in os.walk(directory):
        dirs.sort()
        for name in sorted(files):
            path = os.path.abspath(os.path.join(root, name))
            text = read_document(path)
            if text is None:
                continue
            lines = [line.strip() for line in text.splitlines()]
            first = next((i for i, line in enumerate(lines) if line), None)
            title = lines[first] if first is not None else name
            # The snippet comes from the body: the title line is shown already.
            body = [line for i, line in enumerate(lines) if line and i != first]
            if path.lower().endswith((".md", ".markdown")):
                title = title.lstrip("#").strip() or name
            docs.append({"path": path, "title": title, "lines": body,
                         "words": words(text) | words(name)})
    return docs


def rank(docs, query, limit):
    wanted = words(query)
    if not wanted or limit <= 0:
        return []
    scored = []
    for doc in docs:
        common = wanted & doc["words"]
        if not common:
            continue
        score = len(common) / len(wanted)
        best, best_count = "", 0
        for line in doc["lines"]:
            count = len(wanted & words(line))
            if count > best_count:
                best, best_count = line, count
        snippet = best or (doc["lines"][0] if doc["lines"] else "")
        if len(snippet) > SNIPPET_MAX:
            snippet = snippet[:SNIPPET_MAX - 1] + "\u2026"
        scored.append((score, doc, snippet))
    scored.sort(key=lambda t: (-t[0], t[1]["path"]))
    return [{"title": d["title"], "path": d["path"], "snippet": s, "score": round(sc, 4)}
            for sc, d, s in scored[:limit]]


# ---------------------------------------------------------------------------
# Synthetic replies for the bench.

SHAPES = ("hits:COUNT", "snippet-10mb", "empty-hits-60mib", "nested-60mib")


def hits_reply(count, query):
    hits = [{"title": f"{query} {i}", "path": f"/home/u/Documents/report-{i}.pdf",
             "snippet": "Revenue grew in the third quarter while costs stayed flat.",
             "score": round(1.0 - i / (count + 1), 4)} for i in range(count)]
    return json.dumps({"type": "hits", "hits": hits}, separators=(",", ":")).encode() + b"\n"


def shaped_reply(name):
    if name.startswith("hits:"):
        return hits_reply(int(name[5:]), "Report")
    if name == "snippet-10mb":
        hit = {"title": "Report", "path": "/home/u/Documents/report.pdf",
               "snippet": "word " * (2 * 1024 * 1024), "score": 0.5}
        return json.dumps({"type": "hits", "hits": [hit]}).encode() + b"\n"
    if name == "empty-hits-60mib":
        empty = '{"title":"","path":"","snippet":"","score":0}'
        count = 60 * 1024 * 1024 // (len(empty) + 1)
        return ('{"type":"hits","hits":[' + ",".join([empty] * count) + "]}\n").encode()
    if name == "nested-60mib":
        return b'{"type":"hits","hits":' + b"[" * (60 * 1024 * 1024) + b"\n"
    raise SystemExit(f"flintmill_standin: unknown shape {name!r} (known: {', '.join(SHAPES)})")


# ---------------------------------------------------------------------------
# The server.

class Standin:
    def __init__(self, args):
        self.socket_path = args.socket
        self.log_path = args.log
        self.log_lock = threading.Lock()
        self.count_lock = threading.Lock()
        self.connections = 0
        self.stopping = threading.Event()
        self.script = []
        if args.script:
            with open(args.script, "r", encoding="utf-8") as f:
                for line in f:
                    if line.strip():
                        self.script.append(json.loads(line))
        self.answers = {}
        if args.answers:
            with open(args.answers, "r", encoding="utf-8") as f:
                for line in f:
                    if line.strip():
                        action = json.loads(line)
                        self.answers[action.pop("query")] = action
        self.docs = load_corpus(args.corpus) if args.corpus else []
        self.hits = args.hits
        self.shaped = shaped_reply(args.shape) if args.shape else None
        self.delay_ms = args.delay_ms
        self.timing_log = open(args.timing_log, "a", buffering=1) if args.timing_log else None
        if self.log_path:
            open(self.log_path, "ab").close()

    def log_timing(self, arrive_us, request):
        try:
            query = json.loads(request).get("query")
        except (ValueError, AttributeError):
            query = None
        with self.log_lock:
            self.timing_log.write(json.dumps({"arrive_us": arrive_us,
                                              "reply_us": time.time_ns() // 1000,
                                              "query": query}) + "\n")

    def log(self, data):
        if not self.log_path or not data:
            return
        with self.log_lock:
            with open(self.log_path, "ab") as f:
                f.write(data)
                f.flush()

    def next_action(self):
        with self.count_lock:
            n = self.connections
            self.connections += 1
        if not self.script:
            return {}
        return self.script[min(n, len(self.script) - 1)]

    def answer(self, request_bytes):
        """The reply object for a request line, as the corpus mode gives it."""
        try:
            request = json.loads(request_bytes.decode("utf-8"))
        except (UnicodeDecodeError, ValueError) as e:
            return {"type": "error", "message": "cannot parse request: %s" % e}
        if not isinstance(request, dict):
            return {"type": "error", "message": "request is not a JSON object"}
        kind = request.get("type")
        if kind == "query":
            query = request.get("query")
            limit = request.get("limit")
            if not isinstance(query, str):
                return {"type": "error", "message": "query must be a string"}
            if not isinstance(limit, int) or isinstance(limit, bool) or limit < 0:
                return {"type": "error", "message": "limit must be a non-negative integer"}
            return {"type": "hits", "hits": rank(self.docs, query, limit)}
        if kind == "status":
            return {"type": "status_info", "indexed": len(self.docs), "pending": 0,
                    "model_ready": True}
        if kind == "reindex":
            return {"type": "ok"}
        return {"type": "error", "message": "unknown request type %r" % (kind,)}

    def read_request(self, conn):
        data = b""
        while b"\n" not in data:
            try:
                chunk = conn.recv(65536)
            except OSError:
                return data
            if not chunk:
                break
            self.log(chunk)
            data += chunk
        return data.split(b"\n", 1)[0]

    def drain_until_closed(self, conn):
        """Holds the connection until the client closes it (or we stop)."""
        conn.settimeout(0.2)
        while not self.stopping.is_set():
            try:
                chunk = conn.recv(65536)
            except socket.timeout:
                continue
            except OSError:
                return
            if not chunk:
                return
            self.log(chunk)

    def reset(self, conn, action):
        """Closes the connection with the request still unread."""
        readable, _, _ = select.select([conn], [], [], 10)
        if readable:
            try:
                self.log(conn.recv(65536, socket.MSG_PEEK))
            except OSError:
                pass
        payload = self.payload(action, b"") if ("reply" in action or
                                                "reply_hex" in action) else b""
        if payload:
            try:
                conn.sendall(payload)
            except OSError:
                pass

    def payload(self, action, request):
        """The reply bytes for an action, final line feed included."""
        if not action and self.shaped is not None:
            return self.shaped
        if not action and self.hits is not None:
            try:
                query = json.loads(request).get("query")
            except (ValueError, AttributeError):
                query = None
            return hits_reply(self.hits, query)
        if "reply_hex" in action:
            payload = bytes.fromhex(action["reply_hex"])
        elif "repeat" in action:
            payload = b"x" * int(action["repeat"])
        elif "reply" in action:
            reply = action["reply"]
            if not isinstance(reply, str):
                reply = json.dumps(reply, separators=(",", ":"), ensure_ascii=False)
            payload = reply.encode("utf-8")
        else:
            payload = json.dumps(self.answer(request), separators=(",", ":"),
                                 ensure_ascii=False).encode("utf-8")
        if not action.get("no_newline"):
            payload += b"\n"
        return payload

    def serve(self, conn):
        try:
            action = self.next_action()
            if not isinstance(action, dict):
                action = {}
            if action.get("reset"):
                self.reset(conn, action)
                return
            request = self.read_request(conn)
            arrive_us = time.time_ns() // 1000
            if self.answers:
                try:
                    action = self.answers.get(json.loads(request).get("query"), {})
                except (ValueError, AttributeError, TypeError):
                    action = {}
            if action.get("hang"):
                self.drain_until_closed(conn)
                return
            delay = action.get("delay_ms", self.delay_ms)
            if isinstance(delay, (int, float)) and delay > 0:
                time.sleep(delay / 1000.0)
            if action.get("close_silently"):
                return
            payload = self.payload(action, request)
            if self.timing_log is not None:
                self.log_timing(arrive_us, request)
            die_after = action.get("die_after_bytes")
            if isinstance(die_after, int) and not isinstance(die_after, bool):
                try:
                    conn.sendall(payload[:max(die_after, 0)])
                finally:
                    # No clean-up: the kernel closes the sockets, as for a
                    # daemon that crashes or is killed.
                    os.kill(os.getpid(), signal.SIGKILL)
            try:
                conn.sendall(payload)
            except OSError:
                return  # the client has gone; nothing to do
            if action.get("keep_open"):
                self.drain_until_closed(conn)
        except Exception as e:  # never let one connection stop the daemon
            print("flintmill_standin: connection failed: %r" % (e,), file=sys.stderr)
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def run(self, ready_file):
        path = self.socket_path
        try:
            if stat.S_ISSOCK(os.lstat(path).st_mode):
                os.unlink(path)
        except FileNotFoundError:
            pass
        server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        server.bind(path)
        server.listen(64)
        server.settimeout(0.2)
        if ready_file:
            tmp = ready_file + ".tmp"
            with open(tmp, "w") as f:
                f.write("%d\n" % os.getpid())
            os.replace(tmp, ready_file)
        try:
            while not self.stopping.is_set():
                try:
                    conn, _ = server.accept()
                except socket.timeout:
                    continue
                except OSError:
                    if self.stopping.is_set():
                        break
                    raise
                conn.settimeout(None)
                threading.Thread(target=self.serve, args=(conn,), daemon=True).start()
        finally:
            server.close()
            try:
                os.unlink(path)
            except OSError:
                pass


def main(argv=None):
    parser = argparse.ArgumentParser(description="Stand-in for the flintmill daemon.")
    parser.add_argument("--socket", required=True)
    source = parser.add_mutually_exclusive_group()
    source.add_argument("--script")
    source.add_argument("--answers")
    source.add_argument("--corpus")
    source.add_argument("--hits", type=int)
    source.add_argument("--shape")
    parser.add_argument("--delay-ms", type=int, default=0)
    parser.add_argument("--log")
    parser.add_argument("--timing-log")
    parser.add_argument("--ready-file")
    args = parser.parse_args(argv)

    standin = Standin(args)

    def stop(signum, frame):
        standin.stopping.set()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    standin.run(args.ready_file)
    return 0


if __name__ == "__main__":
    sys.exit(main())
