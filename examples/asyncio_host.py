"""The host loop of a tessel_client Client on asyncio, for hosts built on an event loop.

One `AsyncHost` runs one Client: a `Protocol` feeds what the transport reads, one timer handle
wakes the engine at `poll_timeout`, and every wake-up calls `tick`, drains the events and
writes out the queued lines. Several hosts share one event loop (see bot_and_user.py). It speaks
plain text or TLS, and needs nothing but the standard library: copy it next to a bot.
"""

import asyncio
import ssl
import sys
import time


def clocks():
    """Both clocks the engine takes, in milliseconds: monotonic for deadlines, Unix for stamps."""
    return time.monotonic_ns() // 1_000_000, time.time_ns() // 1_000_000


class _Link(asyncio.Protocol):
    def __init__(self, host):
        self.host = host

    def connection_made(self, transport):
        self.host.connected(transport)

    def data_received(self, data):
        self.host.client.handle_bytes(data)  # any chunking; the engine cuts lines
        self.host.pump()

    def connection_lost(self, exc):
        self.host.lost()


class AsyncHost:
    """`on_event(event)` sees every event; `on_error(error)` the OSError of every connect that
    failed, a TLS handshake or certificate the context does not trust included (by default it is
    printed to stderr). `tls` is None for plain text, True for TLS trusting the system's CAs, or
    an `ssl.SSLContext` used as given (a CA of its own, a client certificate for SASL EXTERNAL);
    the name checked is `host`. The engine advises a reconnect after every disconnect, also
    after our own `quit()`: to leave, call `quit()` and then `stop()`, which writes the QUIT
    before it closes the link and reconnects no more."""

    def __init__(self, client, host, port, on_event, on_error=None, tls=None):
        self.client, self.host, self.port, self.on_event = client, host, port, on_event
        self.on_error = on_error or self.report
        if tls is None or tls is False:
            self.tls = None
        elif tls is True:
            self.tls = ssl.create_default_context()
        elif isinstance(tls, ssl.SSLContext):
            self.tls = tls
        else:
            raise TypeError(f"tls must be None, True or an ssl.SSLContext, not {type(tls).__name__}")
        self.transport = None
        self.timer = None
        self.leaving = False
        self.finished = None

    async def run(self):
        """Runs until `stop` was called and the link is closed (True) or reconnecting was
        abandoned (False)."""
        if self.leaving:
            return True  # stopped before it ran
        self.finished = asyncio.get_running_loop().create_future()
        self.client.tick(*clocks())
        await self.connect()
        try:
            return await self.finished
        finally:
            if self.timer:
                self.timer.cancel()

    def stop(self):
        """No reconnecting from now on; the link closes once the queued lines are written, and
        `run` returns at once when there is no link (during a back-off, say)."""
        self.leaving = True
        self.pump()
        if self.transport is not None:
            self.transport.close()
        else:
            self.finish(True)

    def report(self, error):
        print(f"cannot connect to {self.host}:{self.port}: {error}", file=sys.stderr)

    async def connect(self):
        try:
            tls = {"ssl": self.tls, "ssl_handshake_timeout": 10} if self.tls else {}
            await asyncio.get_running_loop().create_connection(lambda: _Link(self), self.host, self.port, **tls)
        except OSError as error:
            if self.leaving:
                return
            self.on_error(error)  # a wrong host or port, or an untrusted certificate, shows at once
            self.client.tick(*clocks())  # the back-off counts from now
            self.client.handle_disconnected()  # counts the attempt; a reconnect_after follows
            self.pump()

    def connected(self, transport):
        if self.leaving:
            transport.close()  # stopped while connecting
            return
        self.transport = transport
        self.client.tick(*clocks())  # the clock first: the keepalive counts from now
        self.client.handle_connected()  # queues CAP LS 302, NICK and USER
        self.pump()

    def lost(self):
        if self.transport is None:
            return  # a link closed while connecting after stop
        self.transport = None
        if self.leaving:
            self.finish(True)
            return
        self.client.tick(*clocks())  # the back-off counts from now, not from the last wake-up
        self.client.handle_disconnected()  # keeps the model; advises when to reconnect
        self.pump()  # its reconnect_after reaches on_event now

    def finish(self, result):
        if self.finished is not None and not self.finished.done():
            self.finished.set_result(result)

    def pump(self):
        """One wake-up: clocks, events, queued lines, and the timer for the next deadline."""
        self.client.tick(*clocks())
        while events := self.client.poll_events():  # also those the handling queued
            for event in events:
                self.on_event(event)
                if event["type"] == "link_dead" and self.transport is not None:
                    # The server stopped answering PING; lost() follows. Not close(): over TLS it
                    # would wait for the silent server to answer our close_notify.
                    self.transport.abort()
                elif event["type"] == "reconnect_after" and event["after_ms"] == 0 and not self.leaving:
                    if self.transport is None:
                        asyncio.get_running_loop().create_task(self.connect())  # the reconnect timer fired
                elif event["type"] == "reconnect_abandoned":
                    self.finish(False)
        while self.transport is not None and (line := self.client.poll_transmit()) is not None:
            self.transport.write(line)  # one CR LF line per chunk
        if self.timer:
            self.timer.cancel()
            self.timer = None
        deadline = self.client.poll_timeout()  # a monotonic instant in ms, or None
        if deadline is not None and not (self.finished and self.finished.done()):
            delay = max(0, deadline - clocks()[0]) / 1000
            self.timer = asyncio.get_running_loop().call_later(delay, self.pump)
