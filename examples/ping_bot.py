"""A bot that answers "!ping" with "pong", in a channel or in private, and leaves on "!quit".

It reads the text of every new message from the model (reading.py) and keeps ten messages a log,
which is all it needs and keeps `model()` cheap. README.md shows `ping_bot` as it is.

    PYTHONPATH=build/python python3 examples/ping_bot.py HOST PORT [--nick NICK] [--channel CHANNEL]
        [--tls | --cafile CAFILE]
"""

import argparse
import ssl
import sys

import tessel_client
from host_loop import run
from reading import Names, stored_message


# --8<-- the bot the README shows
def ping_bot(host, port, nick, channel, tls=None):
    client = tessel_client.Client(nick, retention=10)  # model() writes every message it keeps
    names = Names()
    state = {"newest": -1, "quitting": False, "closed": False}

    def on_event(event):
        names.see(event)
        change = event.get("change", {})
        if event["type"] == "registered" and names.fold(channel) not in client.model()["channels"]:
            client.join(channel)  # the engine joins again, by itself, the channels the model holds
        elif change.get("type") == "message_added":
            if change["key"]["seq"] <= state["newest"]:
                return  # one seen before, named again because a link preview came for it
            state["newest"] = change["key"]["seq"]
            message = stored_message(client.model(), names, change)
            if message is None or message["own"] or message["historical"]:
                return
            if message["kind"]["type"] != "privmsg":
                return  # notices are never answered, CTCP and TAGMSG are not for us
            if message["text"] == "!ping":
                client.send_message(change["target"], "pong")
            elif message["text"] == "!quit":
                client.quit(f"asked by {message['sender']}")
                state["quitting"] = True
        elif event["type"] == "reconnect_after" and state["quitting"]:
            state["closed"] = True  # the link closed after our QUIT: no reconnecting

    return run(client, host, port, on_event, done=lambda: state["closed"], tls=tls)
# --8<--


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("--nick", default="pingbot")
    parser.add_argument("--channel", default="#tessel")
    parser.add_argument("--tls", action="store_true", help="speak TLS, trusting the system's CAs")
    parser.add_argument("--cafile", help="speak TLS, trusting the CA certificate in this file")
    args = parser.parse_args(argv)
    tls = ssl.create_default_context(cafile=args.cafile) if args.cafile else args.tls
    return 0 if ping_bot(args.host, args.port, args.nick, args.channel, tls) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
