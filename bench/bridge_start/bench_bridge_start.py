#!/usr/bin/env python3
"""Start-to-first-answer of the browser's native host, as a page pays it.

The browser starts one carvix-bridge per page. This starts the host as the browser does
(native-messaging framing on its standard input and output), and times, per round, from the
start of the process to the answer of its first request (`hello`), to an object created by
ProgID (`create CARVIX.WholeCard`, which loads the module) and, with a reader given, to the
whole application read in one call (`ReadApplication`). Medians of the rounds, in ms.

    bench_bridge_start.py BRIDGE [ROUNDS] [--reader NAME --app ID]

Needs the module registered for the user (`carvix register`); the page's origin
http://localhost is allowed through a private allow-list (CARVIX_BRIDGE_ORIGINS, root-owned).
"""

import argparse
import json
import os
import statistics
import struct
import subprocess
import tempfile
import time

ORIGIN = "http://localhost"


def send(pipe, message):
    data = json.dumps(message).encode()
    pipe.write(struct.pack("=I", len(data)) + data)
    pipe.flush()


def receive(pipe):
    header = pipe.read(4)
    if len(header) != 4:
        raise RuntimeError("the host ended without an answer")
    (length,) = struct.unpack("=I", header)
    return json.loads(pipe.read(length))


def one_round(bridge, env, reader, app):
    times = {}
    start = time.perf_counter()
    host = subprocess.Popen([bridge, "chrome-extension://bench/"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    try:
        send(host.stdin, {"id": 1, "origin": ORIGIN, "op": "hello"})
        answer = receive(host.stdout)
        times["hello"] = time.perf_counter() - start
        if not answer.get("ok"):
            raise RuntimeError("hello failed: %s" % answer)
        send(host.stdin, {"id": 2, "origin": ORIGIN, "op": "create", "progId": "CARVIX.WholeCard"})
        answer = receive(host.stdout)
        times["create"] = time.perf_counter() - start
        if not answer.get("ok"):
            raise RuntimeError("create failed: %s" % answer)
        if reader:
            handle = answer["result"]["$object"]
            send(host.stdin, {"id": 3, "origin": ORIGIN, "op": "call", "handle": handle,
                              "name": "ReadApplication", "args": [reader, app]})
            answer = receive(host.stdout)
            times["read"] = time.perf_counter() - start
            if not answer.get("ok"):
                raise RuntimeError("ReadApplication failed: %s" % answer)
    finally:
        host.stdin.close()
        host.wait()
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("bridge")
    parser.add_argument("rounds", nargs="?", type=int, default=21)
    parser.add_argument("--reader")
    parser.add_argument("--app", type=int, default=1)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        origins = os.path.join(folder, "allowed-origins")
        with open(origins, "w") as f:
            f.write(ORIGIN + " read\n")
        env = dict(os.environ, CARVIX_BRIDGE_ORIGINS=origins)
        rounds = [one_round(args.bridge, env, args.reader, args.app)
                  for _ in range(max(1, args.rounds))]
    print("%d rounds; median ms from the host's start to the answer of" % len(rounds))
    for key, text in (("hello", "its first request (hello)"),
                      ("create", "a created object (module loaded)"),
                      ("read", "the whole application read (ReadApplication)")):
        if key in rounds[0]:
            print("  %-48s %8.2f" % (text, statistics.median(r[key] for r in rounds) * 1e3))


if __name__ == "__main__":
    main()
