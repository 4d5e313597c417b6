"""A short live session of one tessel_client Client, on either host loop of this folder.

It registers, joins a channel, says hello, asks the server who it is (WHOIS) and quits once
its own message and the WHOIS answer are in the model: every step waits for what the server
says, never for a timer of the server's. Exits 0 when all of that was seen within LIMIT seconds.

    PYTHONPATH=build/python python3 examples/session.py HOST PORT [--asyncio] [--tls | --cafile CAFILE]
        [--nick NICK] [--limit SECONDS]
"""

import argparse
import asyncio
import ssl
import sys
import time

import tessel_client
from asyncio_host import AsyncHost
from host_loop import run
from reading import Names

CHANNEL = "#tessel"


def describe(event):
    kind = event["type"]
    if kind == "raw_line":
        message = event["message"]
        return f"raw_line {message['command']} {' '.join(message['params'][1:])[:60]}"
    if kind == "model_changed":
        change = event["change"]
        return f"model_changed {change['type']} " + " ".join(
            str(v) for k, v in change.items() if k not in ("type", "key"))
    return kind + " " + " ".join(f"{k}={v}" for k, v in event.items() if k != "type")


class Session:
    """What the session does on each event; `leave` is called once everything was seen."""

    def __init__(self, client, leave):
        self.client, self.leave = client, leave
        self.seen = set()
        self.names = Names()

    def on_event(self, event):
        print(" ", describe(event))
        self.names.see(event)
        change = event.get("change", {})
        if event["type"] == "registered":
            self.seen.add("registered")
            if self.names.fold(CHANNEL) not in self.client.model()["channels"]:
                self.client.join(CHANNEL)  # the engine joins again, by itself, the channels the model holds
        elif change.get("type") == "channel_joined":
            self.seen.add("joined")
            self.client.send_message(CHANNEL, "hello from tessel_client")
            self.client.whois(self.client.model()["me"]["nick"])
        elif change.get("type") == "message_added" and change["target"] == CHANNEL:
            self.seen.add("message")
        elif change.get("type") == "whois_received":
            self.seen.add("whois")
        if self.seen >= {"message", "whois"} and "quit" not in self.seen:
            self.seen.add("quit")
            self.client.quit("session over")
            self.leave()


def with_selectors(client, host, port, tls, limit):
    session = Session(client, leave=lambda: None)
    deadline = time.monotonic() + limit
    run(client, host, port, session.on_event, done=lambda: "quit" in session.seen or time.monotonic() > deadline,
        tls=tls)
    return session


def with_asyncio(client, host, port, tls, limit):
    async def main():
        async_host = None
        session = Session(client, leave=lambda: async_host.stop())
        async_host = AsyncHost(client, host, port, session.on_event, tls=tls)
        try:
            await asyncio.wait_for(async_host.run(), limit)
        except asyncio.TimeoutError:
            pass
        return session

    return asyncio.run(main())


def report(client, session):
    model = client.model()
    print("own nick:", model["me"]["nick"])
    for name, channel in model["channels"].items():
        print(f"channel {name}: members {sorted(channel['members'])}")
        for message in channel["log"]["messages"]:
            print(f"  <{message['sender']}> {message['text']}")
    whois = model["whois"].get(session.names.fold(model["me"]["nick"]))
    if whois:
        print(f"whois: {whois['nick']} is {whois['username']}@{whois['host']} on {whois['server']}")
    ok = "quit" in session.seen
    print("session complete" if ok else f"session incomplete: saw only {sorted(session.seen)}")
    return 0 if ok else 1


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("--asyncio", action="store_true", help="use the asyncio host instead of selectors")
    parser.add_argument("--tls", action="store_true", help="speak TLS, trusting the system's CAs")
    parser.add_argument("--cafile", help="speak TLS, trusting the CA certificate in this file")
    parser.add_argument("--nick", default="tessel")
    parser.add_argument("--limit", type=float, default=20.0, help="seconds the session may take")
    args = parser.parse_args(argv)
    tls = ssl.create_default_context(cafile=args.cafile) if args.cafile else args.tls
    client = tessel_client.Client(args.nick, realname="tessel_client demo")
    loop = with_asyncio if args.asyncio else with_selectors
    return report(client, loop(client, args.host, args.port, tls, args.limit))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
