#!/usr/bin/env python3
"""Throughput of the command methods through the Python binding.

send_message: a registered client with labeled-response and echo-message enabled, the transmit
queue drained every 1,000 calls. command: the same message given as JSON text.

Usage: bench_commands.py [--build DIR] [--calls N] [--repeat N]
"""
import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
DRAIN_EVERY = 1000


def registered(Client):
    client = Client("me", username="u", realname="R")
    client.handle_connected()
    client.handle_bytes(b"CAP * LS :labeled-response echo-message\r\n"
                        b"CAP * ACK :labeled-response echo-message\r\n"
                        b":srv 001 me :Welcome\r\n:me!u@h JOIN #tessel\r\n")
    while client.poll_transmit() is not None:
        pass
    client.poll_events()
    return client


def drain(client):
    while client.poll_transmit() is not None:
        pass


def run_send_message(client, calls):
    send = client.send_message
    text = "a line of ordinary chat, about as long as most of them are"
    start = time.perf_counter()
    for _ in range(calls // DRAIN_EVERY):
        for _ in range(DRAIN_EVERY):
            send("#tessel", text)
        drain(client)
    return time.perf_counter() - start


def run_command(client, calls):
    command = client.command
    text = '{"type":"send_message","target":"#tessel","text":"a line of ordinary chat, about as long as most of them are"}'
    start = time.perf_counter()
    for _ in range(calls // DRAIN_EVERY):
        for _ in range(DRAIN_EVERY):
            command(text)
        drain(client)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.environ.get("TESSEL_BUILD_DIR", os.path.join(ROOT, "build")))
    parser.add_argument("--calls", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()

    sys.path.insert(0, os.path.join(os.path.abspath(args.build), "python"))
    from tessel_client import Client

    for name, run in (("send_message", run_send_message), ("command (JSON text)", run_command)):
        best = None
        for _ in range(args.repeat):
            client = registered(Client)  # a fresh client: the pending labels start empty
            elapsed = run(client, args.calls)
            best = elapsed if best is None else min(best, elapsed)
        print(f"{name}: {args.calls:,} calls, best {best:.3f} s: {args.calls / best:,.0f} calls/s")


if __name__ == "__main__":
    main()
