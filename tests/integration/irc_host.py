"""A test host for tessel_client Clients on real sockets, several at once.

`Peer` owns one Client, its socket and its record of what happened (events, lines written and
read); `Net` runs every peer's host loop in one thread with one selector, so a test can wait
for a condition on one peer while the others keep talking. Waits end on the condition, never
after a fixed time; a wait that runs out fails with the peer's recent events.
"""

import json
import selectors
import socket
import time

import tessel_client

HOST = "127.0.0.1"


def clocks():
    return time.monotonic_ns() // 1_000_000, time.time_ns() // 1_000_000


def matches(event, kind, fields):
    if event["type"] != kind:
        return False
    return all(event.get(key) == value for key, value in fields.items())


def change_matches(event, kind, fields):
    return event["type"] == "model_changed" and matches(event["change"], kind, fields)


class Peer:
    def __init__(self, net, name, port, client):
        self.net, self.name, self.port, self.client = net, name, port, client
        self.sock = None
        self.events = []    # every event, in order
        self.cursor = 0     # where the next wait_event starts looking
        self.written = []   # every line sent, as text without CR LF
        self.read = []      # every line received, as text without CR LF
        self.transcript = []  # (">", line) sent and ("<", line) received, in the order they went
        self.writing = True   # False: the host takes no lines, as when its socket is backed up
        self.partial = b""
        self.skew_ms = 0    # added to the monotonic clock, to bring deadlines forward
        self.follow_reconnects = True
        self.connections = 0

    # -- the host loop's parts ------------------------------------------------------------

    def now(self):
        monotonic, unix = clocks()
        return monotonic + self.skew_ms, unix

    def connect(self):
        try:
            self.sock = socket.create_connection((HOST, self.port), timeout=5)
        except OSError:
            self.sock = None
            self.client.handle_disconnected()  # counts an attempt and advises the next one
            return
        self.connections += 1
        self.net.selector.register(self.sock, selectors.EVENT_READ, self)
        self.client.tick(*self.now())
        self.client.handle_connected()
        self.flush()

    def close(self):
        """The host drops the transport and tells the engine."""
        if self.sock is not None:
            self.net.selector.unregister(self.sock)
            self.sock.close()
            self.sock = None
            self.client.handle_disconnected()

    def flush(self):
        while self.writing and (chunk := self.client.poll_transmit()) is not None:
            self.written.append(chunk.decode(errors="replace").rstrip("\r\n"))
            self.transcript.append((">", self.written[-1]))
            if self.sock is None:
                continue  # kept by nobody: a dead link's lines are lost like on a real socket
            try:
                self.sock.sendall(chunk)
            except OSError:
                self.close()

    def on_readable(self):
        try:
            data = self.sock.recv(65536)
        except OSError:
            data = b""
        if not data:
            self.close()
            return
        lines = (self.partial + data).split(b"\n")
        self.partial = lines.pop()
        received = [line.rstrip(b"\r").decode(errors="replace") for line in lines]
        self.read.extend(received)
        self.transcript.extend(("<", line) for line in received)
        self.client.handle_bytes(data)

    def step(self):
        self.client.tick(*self.now())
        for event in self.client.poll_events():
            self.events.append(event)
            if (event["type"] == "reconnect_after" and event["after_ms"] == 0 and self.follow_reconnects
                    and self.sock is None):
                self.connect()
        self.flush()

    def wake_in(self):
        """Seconds until the engine's next deadline, or None."""
        deadline = self.client.poll_timeout()
        if deadline is None:
            return None
        return max(0.0, (deadline - self.now()[0]) / 1000)

    # -- what tests use -------------------------------------------------------------------

    def do(self, method, *args, **kwargs):
        """Calls a command method and writes out what it queued."""
        result = getattr(self.client, method)(*args, **kwargs)
        self.flush()
        self.step()
        return result

    def model(self):
        return self.client.model()

    def find_event(self, kind, fields, start=None, change=False):
        test = change_matches if change else matches
        for index in range(self.cursor if start is None else start, len(self.events)):
            if test(self.events[index], kind, fields):
                return index
        return None

    def wait_event(self, kind, timeout=10.0, **fields):
        """The next event of `kind` with these fields after the last one waited for."""
        return self._wait(kind, fields, timeout, change=False)

    def wait_change(self, kind, timeout=10.0, **fields):
        """The next model_changed event whose change is `kind` with these fields."""
        return self._wait(kind, fields, timeout, change=True)["change"]

    def _wait(self, kind, fields, timeout, change):
        found = []

        def seen():
            index = self.find_event(kind, fields, change=change)
            if index is not None:
                found.append(index)
            return index is not None

        self.net.wait(seen, timeout, f"{self.name}: {kind} {fields}")
        self.cursor = found[0] + 1
        return self.events[found[0]]

    def skip_to_end(self):
        self.cursor = len(self.events)

    def recent(self, count=25):
        shown = [json.dumps(e, separators=(",", ":"))[:200] for e in self.events[-count:]]
        return f"{self.name} events:\n  " + "\n  ".join(shown) + "\n" + f"{self.name} read:\n  " + "\n  ".join(
            self.read[-count:])


class Net:
    """Runs the host loops of all its peers."""

    def __init__(self):
        self.selector = selectors.DefaultSelector()
        self.peers = []

    def peer(self, name, port, nick=None, **client_args):
        peer = Peer(self, name, port, tessel_client.Client(nick or name, **client_args))
        self.peers.append(peer)
        return peer

    def connect(self, *peers, timeout=10.0):
        """Connects the peers together and waits until each is registered."""
        for peer in peers:
            peer.connect()
        for peer in peers:
            peer.wait_event("registered", timeout)

    def wait(self, condition, timeout=10.0, what="a condition"):
        deadline = time.monotonic() + timeout
        while True:
            for peer in self.peers:
                peer.step()
            if condition():
                return
            left = deadline - time.monotonic()
            if left <= 0:
                details = "\n".join(p.recent() for p in self.peers)
                raise AssertionError(f"timed out waiting for {what}\n{details}")
            waits = [w for w in (p.wake_in() for p in self.peers) if w is not None]
            timeout_s = min([left, *waits])
            if not self.selector.get_map():
                time.sleep(timeout_s)  # nothing connected: only a timer can change anything
                continue
            for key, _ in self.selector.select(timeout_s):
                key.data.on_readable()

    def close(self):
        for peer in self.peers:
            peer.follow_reconnects = False
            peer.close()
