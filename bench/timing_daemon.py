#!/usr/bin/env python3
"""A daemon for scripts/bench that time-stamps what it sees.

    timing_daemon.py --socket PATH --log FILE [--hits N] [--delay-ms D]
                     [--shape NAME] [--ready-file FILE]

Speaks the launcher's protocol (one request line, one reply line per
connection) and answers every query with N hits (default 10) after D ms;
the hits' titles repeat the query, so every reply looks different.
For each connection it appends one JSON line to the log:
{"arrive_us": ..., "reply_us": ..., "query": ...}, both times CLOCK_REALTIME
microseconds: when the request's line feed had arrived, and just before the
reply was written. SIGTERM stops it. Python 3 standard library only.

--shape answers every query with one of the replies a hostile or buggy
daemon could send instead (see SHAPES).
"""
import argparse
import json
import os
import signal
import socket
import sys
import threading
import time


def hits_reply(count, query):
    # The titles carry the query, so each reply shows different rows: rows
    # identical to the ones on screen would need no new frame at all.
    hits = [{"title": f"{query} {i}", "path": f"/home/u/Documents/report-{i}.pdf",
             "snippet": "Revenue grew in the third quarter while costs stayed flat.",
             "score": round(1.0 - i / (count + 1), 4)} for i in range(count)]
    return (json.dumps({"type": "hits", "hits": hits}, separators=(",", ":")) + "\n").encode()


def shaped_reply(name):
    hit = {"title": "Report", "path": "/home/u/Documents/report.pdf",
           "snippet": "Revenue grew.", "score": 0.5}
    if name.startswith("hits:"):
        count = int(name[5:])
        hits = [dict(hit, title=f"Report {i}", path=f"/home/u/Documents/report-{i}.pdf")
                for i in range(count)]
    elif name == "snippet-10mb":
        hits = [dict(hit, snippet="word " * (2 * 1024 * 1024))]
    elif name == "empty-hits-60mib":
        empty = '{"title":"","path":"","snippet":"","score":0}'
        count = 60 * 1024 * 1024 // (len(empty) + 1)
        return ('{"type":"hits","hits":[' + ",".join([empty] * count) + "]}\n").encode()
    else:
        raise SystemExit(f"timing_daemon.py: unknown shape {name!r}")
    return (json.dumps({"type": "hits", "hits": hits}, separators=(",", ":")) + "\n").encode()


SHAPES = ("hits:10", "hits:1000", "hits:100000", "snippet-10mb", "empty-hits-60mib")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--socket", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--hits", type=int, default=10)
    parser.add_argument("--delay-ms", type=int, default=0)
    parser.add_argument("--shape")
    parser.add_argument("--ready-file")
    args = parser.parse_args()
    shaped = shaped_reply(args.shape) if args.shape else None

    lock = threading.Lock()
    log = open(args.log, "a", buffering=1)

    def serve(conn):
        with conn:
            data = b""
            while b"\n" not in data:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                data += chunk
            arrive = time.time_ns() // 1000
            try:
                query = json.loads(data.split(b"\n", 1)[0]).get("query")
            except ValueError:
                query = None
            reply = shaped if shaped is not None else hits_reply(args.hits, query)
            if args.delay_ms:
                time.sleep(args.delay_ms / 1000)
            sent = time.time_ns() // 1000
            try:
                conn.sendall(reply)
            except OSError:
                pass
            with lock:
                log.write(json.dumps({"arrive_us": arrive, "reply_us": sent, "query": query}) + "\n")

    try:
        os.unlink(args.socket)
    except FileNotFoundError:
        pass
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(args.socket)
    server.listen(16)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    if args.ready_file:
        with open(args.ready_file + ".tmp", "w") as f:
            f.write("ready\n")
        os.replace(args.ready_file + ".tmp", args.ready_file)
    try:
        while True:
            conn, _ = server.accept()
            threading.Thread(target=serve, args=(conn,), daemon=True).start()
    finally:
        try:
            os.unlink(args.socket)
        except OSError:
            pass


if __name__ == "__main__":
    main()
