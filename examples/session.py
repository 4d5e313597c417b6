"""A short live session: one tessel_client Client against a local IRC server.

The Client does no I/O; this script owns the socket and the clock. A second, plain
socket plays a friend who sends us two private messages once we are registered. The
session ends once both have arrived and the engine has answered a PING of the server
(scripts/run.sh configures its server to ping every few seconds), or after LIMIT seconds.

    python3 examples/session.py HOST PORT [LIMIT]
"""

import json
import select
import socket
import sys
import time

import tessel_client


def now_ms():
    return time.monotonic_ns() // 1_000_000, time.time_ns() // 1_000_000


def flush(client, sock):
    """Writes every queued line; returns them."""
    sent = []
    while (chunk := client.poll_transmit()) is not None:
        print("  >>", chunk.decode().rstrip())
        sock.sendall(chunk)
        sent.append(chunk)
    return sent


def show(event):
    kind = event["type"]
    if kind == "raw_line":
        msg = event["message"]
        return f"raw_line {msg['command']} {' '.join(msg['params'])[:60]}"
    if kind == "isupport_token":
        return f"isupport_token {event['token']}={event['value']}"
    rest = {k: v for k, v in event.items() if k != "type"}
    return f"{kind} {json.dumps(rest, separators=(',', ':'))}"


def friend_says(host, port, lines):
    friend = socket.create_connection((host, port), timeout=10)
    friend.sendall(b"NICK friend\r\nUSER friend 0 * :A friend\r\n")
    buf = b""
    while b" 001 " not in buf:
        data = friend.recv(4096)
        if not data:
            raise ConnectionError("the server closed the friend's connection")
        buf += data
    for line in lines:
        friend.sendall(line.encode() + b"\r\n")
    return friend


def main(host, port, limit=30.0):
    client = tessel_client.Client("tessel", realname="tessel_client demo")
    sock = socket.create_connection((host, port))
    client.tick(*now_ms())
    client.handle_connected()
    print("connected; the engine queues the registration burst:")
    flush(client, sock)

    friend = None
    got_message = False
    answered_ping = False
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline and not (got_message and answered_ping):
        timeout = client.poll_timeout()
        wait = 0.2 if timeout is None else max(0.0, min(0.2, timeout / 1000 - now_ms()[0] / 1000))
        ready, _, _ = select.select([sock], [], [], wait)
        if ready:
            data = sock.recv(4096)
            if not data:
                break
            for line in data.splitlines():
                words = line.split(b" ")
                if b"PING" in words[:2]:
                    print("  <<", line.decode(errors="replace"))
            client.handle_bytes(data)
        client.tick(*now_ms())
        for event in client.poll_events():
            print("  ev", show(event))
            if event["type"] == "registered" and friend is None:
                friend = friend_says(host, port, [
                    "PRIVMSG tessel :hello from a friend",
                    "PRIVMSG tessel :\x01ACTION waves\x01",
                ])
            if event["type"] == "model_changed" and event["change"]["type"] == "message_added":
                got_message = event["change"]["key"] is not None and "waves" in json.dumps(
                    client.model()["conversations"])
        answered_ping |= any(line.startswith(b"PONG") for line in flush(client, sock))

    model = client.model()
    print("model: own nick", model["me"]["nick"])
    for name, conv in model["conversations"].items():
        print(f"  conversation {name}: unread {conv['unread']}")
        for msg in conv["log"]["messages"]:
            print(f"    <{msg['sender']}> {msg['kind']['type']}: {msg['text']}")

    sock.close()
    client.handle_disconnected()
    print("disconnected:", [show(e) for e in client.poll_events()])
    if friend:
        friend.close()
    print("messages received:", got_message, "- server PING answered:", answered_ping)
    return 0 if got_message and answered_ping else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], int(sys.argv[2]), *(float(a) for a in sys.argv[3:4])))
