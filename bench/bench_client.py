#!/usr/bin/env python3
"""Throughput of the Python binding over the server transcript of make_transcript.py.

Feeds the transcript to Client.handle_bytes in 4 KiB chunks, draining poll_events (every
event becomes Python objects) and poll_transmit after each chunk, and reports lines/s with
the time split between feeding (the engine's work) and draining (events to Python objects).
Then times Client.model() on the model the transcript leaves behind (the logs full), with its
user and system time and page faults, and reports the process's peak resident memory.

Usage: bench_client.py [--build DIR] [--lines N] [--transcript FILE] [--repeat N] [--retention N]
                       [--through-text]
Without --transcript the transcript of N lines (default 100000) is generated into the build
directory once, by make_transcript.py beside this script.
"""
import argparse
import os
import resource
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CHUNK = 4096


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.environ.get("TESSEL_BUILD_DIR", os.path.join(ROOT, "build")))
    parser.add_argument("--lines", type=int, default=100000)
    parser.add_argument("--transcript")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--retention", type=int, help="messages each log keeps (default: the engine's 5000)")
    parser.add_argument("--through-text", action="store_true",
                        help="read events and the model through their JSON text, as a host whose json.loads "
                             "is its own does")
    args = parser.parse_args()
    if args.through_text:
        import json
        import types
        host_json = types.ModuleType("json")
        host_json.dumps, host_json.loads = json.dumps, lambda text: json.loads(text)
        sys.modules["json"] = host_json

    sys.path.insert(0, os.path.join(os.path.abspath(args.build), "python"))
    from tessel_client import Client

    path = args.transcript or os.path.join(args.build, f"bench_transcript_{args.lines}.txt")
    if not os.path.exists(path):
        maker = os.path.join(HERE, "make_transcript.py")
        subprocess.run([sys.executable, maker, path, "--lines", str(args.lines)], check=True,
                       stderr=subprocess.DEVNULL)
    with open(path, "rb") as f:
        data = f.read()
    lines = data.count(b"\n")
    chunks = [data[i:i + CHUNK] for i in range(0, len(data), CHUNK)]

    best = None
    client = None
    for _ in range(args.repeat):
        client = None  # the previous run's model goes before the next one is built
        client = Client("me", retention=args.retention)
        client.handle_connected()
        events = 0
        feeding = 0.0
        clock = time.perf_counter
        start = clock()
        for chunk in chunks:
            before = clock()
            client.handle_bytes(chunk)
            feeding += clock() - before
            events += len(client.poll_events())
            while client.poll_transmit() is not None:
                pass
        elapsed = clock() - start
        best = elapsed if best is None else min(best, elapsed)
        print(f"{lines} lines, {events} events in {elapsed:.3f} s: {lines / elapsed:,.0f} lines/s "
              f"(handle_bytes {feeding:.3f} s, draining {elapsed - feeding:.3f} s)")
    print(f"best: {lines / best:,.0f} lines/s ({len(data) / best / 1e6:.1f} MB/s)")

    snapshot = None
    best_model = None
    for _ in range(args.repeat):
        snapshot = None
        before = resource.getrusage(resource.RUSAGE_SELF)
        start = time.perf_counter()
        snapshot = client.model()
        took = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_SELF)
        # Most of a large snapshot is fresh memory: the system time is mostly its page faults.
        print(f"model(): {took:.3f} s (user {after.ru_utime - before.ru_utime:.3f} s, system "
              f"{after.ru_stime - before.ru_stime:.3f} s, {after.ru_minflt - before.ru_minflt} page faults)")
        best_model = took if best_model is None else min(best_model, took)
    stored = sum(len(c["log"]["messages"]) for c in snapshot["channels"].values())
    stored += sum(len(c["log"]["messages"]) for c in snapshot["conversations"].values())
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    print(f"model(): best {best_model:.3f} s for {stored} stored messages; process peak {peak / 1e9:.2f} GB")


if __name__ == "__main__":
    main()
