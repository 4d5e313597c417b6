"""The host loop of one tessel_client Client on a TCP socket, with `selectors`.

The engine does no I/O: this loop owns the socket and the clocks. It sleeps until the socket
has data or the engine's next deadline (`poll_timeout`) comes, calls `tick` on every wake-up,
tells the engine when the link drops, and reconnects when the engine's reconnect timer says so
(the delays grow from 2 s to 5 min) until the engine gives up. README.md shows `run` as it is.
"""

import selectors
import socket
import time


# --8<-- the loop the README shows
def clocks():
    """Both clocks the engine takes, in milliseconds: monotonic for deadlines, Unix for stamps."""
    return time.monotonic_ns() // 1_000_000, time.time_ns() // 1_000_000


def run(client, host, port, on_event, done=lambda: False):
    """Drives `client` until `done()` holds (True) or reconnecting is abandoned (False).

    `on_event(event)` sees every event, a dict; it may call the client's command methods.
    """
    selector = selectors.DefaultSelector()
    sock = None

    def connect():
        nonlocal sock
        try:
            sock = socket.create_connection((host, port), timeout=10)
        except OSError:
            client.handle_disconnected()  # counts the attempt; a reconnect_after follows
            return
        selector.register(sock, selectors.EVENT_READ)
        client.tick(*clocks())  # the clock first: the keepalive counts from now
        client.handle_connected()  # queues CAP LS 302, NICK and USER

    def disconnect():
        nonlocal sock
        selector.unregister(sock)
        sock.close()
        sock = None
        client.handle_disconnected()  # keeps the model; advises when to reconnect

    client.tick(*clocks())
    connect()
    try:
        while True:
            while sock is not None and (line := client.poll_transmit()) is not None:
                try:
                    sock.sendall(line)  # one CR LF line per chunk
                except OSError:
                    disconnect()
            if done():
                return True
            deadline = client.poll_timeout()  # a monotonic instant in ms, or None
            wait = None if deadline is None else max(0, deadline - clocks()[0]) / 1000
            if sock is None and wait is None:
                return False  # no link and no timer: reconnecting was abandoned
            if sock is None:
                time.sleep(wait)  # no link: only the reconnect timer can change anything
            elif selector.select(wait):
                try:
                    data = sock.recv(65536)
                except OSError:
                    data = b""
                if data:
                    client.handle_bytes(data)  # any chunking; the engine cuts lines
                else:
                    disconnect()  # EOF or a socket error
            client.tick(*clocks())  # on every wake-up: timers run on a quiet link too
            for event in client.poll_events():
                on_event(event)
                if event["type"] == "link_dead" and sock is not None:
                    disconnect()  # the server stopped answering PING
                elif event["type"] == "reconnect_after" and event["after_ms"] == 0 and sock is None:
                    connect()  # the reconnect timer fired
    finally:
        if sock is not None:
            sock.close()
        selector.close()
# --8<--
