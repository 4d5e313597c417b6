"""The host loop of one tessel_client Client on a TCP socket, with `selectors`.

The engine does no I/O: this loop owns the socket and the clocks. It sleeps until the socket
has data or the engine's next deadline (`poll_timeout`) comes, calls `tick` on every wake-up,
tells the engine when the link drops, and reconnects when the engine's reconnect timer says so
(the delays grow from 2 s to 5 min) until the engine gives up. It speaks plain text or TLS.
README.md shows `run` as it is. It needs nothing but the standard library: copy it next to a bot.
"""

import selectors
import socket
import ssl
import sys
import time


# --8<-- the loop the README shows
def clocks():
    """Both clocks the engine takes, in milliseconds: monotonic for deadlines, Unix for stamps."""
    return time.monotonic_ns() // 1_000_000, time.time_ns() // 1_000_000


def tls_context(tls):
    """The SSL context `tls` asks for: None (plain text) for None or False, the system's trusted
    CAs for True, or an `ssl.SSLContext` as given."""
    if tls is None or tls is False:
        return None
    if tls is True:
        return ssl.create_default_context()
    if isinstance(tls, ssl.SSLContext):
        return tls
    raise TypeError(f"tls must be None, True or an ssl.SSLContext, not {type(tls).__name__}")


def open_link(host, port, context):
    """A connected socket, in TLS when there is a context (the name checked is `host`). A refused
    connect, a failed handshake or a certificate the context does not trust raise OSError."""
    sock = socket.create_connection((host, port), timeout=10)
    if context is None:
        return sock
    try:
        return context.wrap_socket(sock, server_hostname=host)  # the handshake, within the timeout
    except BaseException:
        sock.close()
        raise


def receive(sock):
    """What a readable socket holds, read without waiting: bytes, b"" once the link ended, or None
    when TLS took in only a record without text (a session ticket) or part of one."""
    sock.setblocking(False)
    try:
        data = sock.recv(65536)
        while data and isinstance(sock, ssl.SSLSocket) and sock.pending():
            data += sock.recv(65536)  # decrypted already, so select would not report it
        return data
    except (BlockingIOError, ssl.SSLWantReadError, ssl.SSLWantWriteError):
        return None
    except OSError:
        return b""  # a reset, or a TLS alert
    finally:
        sock.settimeout(10)  # a write waits for room in the socket, 10 s at most


def run(client, host, port, on_event, done=lambda: False, on_error=None, tls=None):
    """Drives `client` until `done()` holds (True) or reconnecting is abandoned (False).

    `on_event(event)` sees every event, a dict; it may call the client's command methods.
    `on_error(error)` sees the OSError of every connect that failed, a TLS handshake or
    certificate the context does not trust included (by default it is printed to stderr); the
    engine's back-off decides when the next attempt comes. `done()` is asked after every
    wake-up and at least once a second, a back-off included. `tls` is None for plain text,
    True for TLS trusting the system's CAs, or an `ssl.SSLContext` used as given (a CA of its
    own, a client certificate for SASL EXTERNAL).

    The engine advises a reconnect after every disconnect, also after our own `quit()`. To stop
    once quit, let `done()` hold when the `reconnect_after` of that disconnect arrives: the QUIT
    went out and the server closed the link (README.md shows it).
    """
    context = tls_context(tls)
    selector = selectors.DefaultSelector()
    sock = None

    def report(error):
        print(f"cannot connect to {host}:{port}: {error}", file=sys.stderr)

    def connect():
        nonlocal sock
        try:
            sock = open_link(host, port, context)
        except OSError as error:
            (on_error or report)(error)  # a wrong host or port, or an untrusted certificate, shows at once
            client.tick(*clocks())  # the back-off counts from now
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
        client.tick(*clocks())  # the back-off counts from now, not from the last wake-up
        client.handle_disconnected()  # keeps the model; advises when to reconnect

    def drain():
        """Hands every event to the application, also those its handling queued."""
        while events := client.poll_events():
            for event in events:
                on_event(event)
                if event["type"] == "link_dead" and sock is not None:
                    disconnect()  # the server stopped answering PING
                elif event["type"] == "reconnect_after" and event["after_ms"] == 0 and sock is None:
                    connect()  # the reconnect timer fired

    client.tick(*clocks())
    connect()
    try:
        while True:
            drain()
            while sock is not None and (line := client.poll_transmit()) is not None:
                try:
                    sock.sendall(line)  # one CR LF line per chunk
                except OSError:
                    disconnect()
                    drain()
            if done():
                return True
            deadline = client.poll_timeout()  # a monotonic instant in ms, or None
            if sock is None and deadline is None:
                return False  # no link and no timer: reconnecting was abandoned
            wait = 1.0 if deadline is None else min(1.0, max(0, deadline - clocks()[0]) / 1000)
            if sock is None:
                time.sleep(wait)  # no link: only the reconnect timer can change anything
            elif selector.select(wait) and (data := receive(sock)) is not None:
                if data:
                    client.handle_bytes(data)  # any chunking; the engine cuts lines
                else:
                    disconnect()  # EOF or a socket error
            client.tick(*clocks())  # on every wake-up: timers run on a quiet link too
    finally:
        if sock is not None:
            sock.close()
        selector.close()
# --8<--
