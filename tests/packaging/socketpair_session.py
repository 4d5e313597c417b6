"""A short session through the installed module, over a socketpair whose far end plays the
server: registration, a PING, a private message, the model. Run from outside the checkout;
with a path, also checks that the stub installed beside the module is that file."""
import filecmp
import pathlib
import socket
import sys
import time

import tessel_client
from tessel_client import Client

module = pathlib.Path(tessel_client.__file__)
assert module.name == "tessel_client.abi3.so" and "site-packages" in module.parts, module
if len(sys.argv) > 1:
    assert filecmp.cmp(module.with_name("tessel_client.pyi"), sys.argv[1], shallow=False)
    assert module.with_name("tessel_client").joinpath("py.typed").is_file()

ours, theirs = socket.socketpair()
theirs.settimeout(5)
client = Client("pkg")
started = time.monotonic()


def pump():
    """Writes what the client queued and returns the lines the far end received."""
    sent = 0
    while (chunk := client.poll_transmit()) is not None:
        ours.sendall(chunk)
        sent += len(chunk)
    received = b""
    while len(received) < sent:
        received += theirs.recv(4096)
    return received.decode().splitlines()


def serve(text):
    theirs.sendall(text.encode())
    client.handle_bytes(ours.recv(4096))
    client.tick(int((time.monotonic() - started) * 1000), int(time.time() * 1000))


client.handle_connected()
assert pump() == ["CAP LS 302", "NICK pkg", "USER pkg 0 * pkg"]
serve(":srv CAP * LS :\r\n")
assert pump() == ["CAP END"]
serve(":srv 001 pkg :Welcome\r\nPING :t1\r\n:ana!a@h PRIVMSG pkg :hi there\r\n")
assert pump() == ["PONG t1"]

events = client.poll_events()
assert events[0] == {"type": "registered", "nick": "pkg"}, events
assert [e["change"]["target"] for e in events if e["type"] == "model_changed"
        and e["change"]["type"] == "message_added"] == ["ana"], events
assert client.model()["me"]["nick"] == "pkg"
print(f"session over a socketpair passes under {sys.executable} ({len(events)} events)")
