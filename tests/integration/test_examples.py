"""The examples and the main job's demo, run against real servers as a user would run them."""
import asyncio
import os
import subprocess
import sys
import time

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLES = os.path.join(ROOT, "examples")
sys.path.insert(0, EXAMPLES)

import host_loop  # noqa: E402
from asyncio_host import AsyncHost  # noqa: E402
import tessel_client  # noqa: E402


def run_example(*args, timeout=30):
    env = dict(os.environ, PYTHONPATH=os.path.dirname(tessel_client.__file__))
    return subprocess.run([sys.executable, *args], env=env, capture_output=True, text=True, timeout=timeout)


def test_readme_shows_the_loop_of_the_example():
    with open(os.path.join(EXAMPLES, "host_loop.py")) as f:
        loop = f.read().split("# --8<-- the loop the README shows\n", 1)[1].split("# --8<--", 1)[0]
    with open(os.path.join(ROOT, "README.md")) as f:
        readme = f.read()
    assert loop.strip() in readme


@pytest.mark.parametrize("loop", ["selectors", "asyncio"])
def test_session_example(services, unique, loop):
    flags = ["--asyncio"] if loop == "asyncio" else []
    result = run_example(os.path.join(EXAMPLES, "session.py"), "127.0.0.1", str(services.port), *flags,
                         "--nick", unique("session"), "--limit", "15")
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-3000:]
    assert "session complete" in result.stdout
    assert f"<{unique('session')}> hello from tessel_client" in result.stdout


class Crash:
    """Kills the server once the client is in a channel, starts it again once the engine has
    advised a reconnect, and ends the run when the engine has joined the channel again."""

    def __init__(self, server, client, stop):
        self.server, self.client, self.stop = server, client, stop
        self.seen = []
        self.deadline = time.monotonic() + 20

    def on_event(self, event):
        kind = event["type"]
        if kind == "model_changed" and event["change"]["type"] == "channel_joined":
            kind = "channel_joined"
        if kind in ("registered", "reconnect_after", "channel_joined"):
            self.seen.append((kind, event.get("after_ms")))
        if kind == "registered" and len(self.seen) == 1:
            self.client.join("#crash")
        elif kind == "channel_joined" and len(self.seen) == 2:
            self.server.kill()
        elif kind == "reconnect_after" and event["after_ms"] > 0:
            self.server.start()
        elif kind == "channel_joined":
            self.stop()

    def done(self):
        return self.seen.count(("channel_joined", None)) == 2 or time.monotonic() > self.deadline


@pytest.mark.parametrize("loop", ["selectors", "asyncio"])
def test_host_loop_reconnects_after_the_server_dies(inspircd, loop):
    client = tessel_client.Client("phoenix")
    if loop == "selectors":
        crash = Crash(inspircd, client, stop=lambda: None)
        assert host_loop.run(client, "127.0.0.1", inspircd.port, crash.on_event, crash.done)
    else:
        async def main():
            host = None
            crash = Crash(inspircd, client, stop=lambda: host.stop())
            host = AsyncHost(client, "127.0.0.1", inspircd.port, crash.on_event)
            assert await asyncio.wait_for(host.run(), 20)
            return crash
        crash = asyncio.run(main())
    # EOF told the engine the link was down; its timer, not a fixed sleep, brought it back.
    assert crash.seen == [("registered", None), ("channel_joined", None), ("reconnect_after", 2000),
                          ("reconnect_after", 0), ("registered", None), ("channel_joined", None)]
    assert "phoenix" in client.model()["channels"]["#crash"]["members"]


def test_main_job_demo(inspircd):
    result = run_example(os.path.join(EXAMPLES, "bot_and_user.py"), "127.0.0.1", str(inspircd.port))
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-3000:]
    assert "every step observed" in result.stdout
    assert "[bot ] #demo <ann> hi bot" in result.stdout
