"""The examples, the code the README and the docstrings show, and the main job's demo, run
against real servers as a user would run them."""
import asyncio
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time

import pytest

import local_servers

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
EXAMPLES = os.path.join(ROOT, "examples")
sys.path.insert(0, EXAMPLES)

import asyncio_host  # noqa: E402
import host_loop  # noqa: E402
from irc_host import Peer  # noqa: E402
from asyncio_host import AsyncHost  # noqa: E402
import tessel_client  # noqa: E402


def example_env():
    return dict(os.environ, PYTHONPATH=os.pathsep.join([os.path.dirname(tessel_client.__file__), EXAMPLES]))


def run_example(*args, timeout=30):
    return subprocess.run([sys.executable, *args], env=example_env(), capture_output=True, text=True,
                          timeout=timeout)


def start_example(*args):
    return subprocess.Popen([sys.executable, *args], env=example_env(), stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)


def readme():
    with open(os.path.join(ROOT, "README.md")) as f:
        return f.read()


def readme_block(containing, language="python"):
    """The one fenced block of the README in `language` that holds `containing`."""
    [block] = [b for b in re.findall(rf"```{language}\n(.*?)```", readme(), re.S) if containing in b]
    return block


def docstring_block(doc):
    return doc.split("```python\n", 1)[1].split("```", 1)[0]


def substituted(code, replacements):
    for old, new in replacements.items():
        assert old in code, old
        code = code.replace(old, new)
    return code


def test_readme_shows_the_loop_of_the_example():
    with open(os.path.join(EXAMPLES, "host_loop.py")) as f:
        loop = f.read().split("# --8<-- the loop the README shows\n", 1)[1].split("# --8<--", 1)[0]
    assert loop.strip() in readme()


def test_readme_lists_every_event_and_change():
    with open(os.path.join(ROOT, "tessel_client", "formats", "event_json.cpp")) as f:
        source = f.read()
    rows = set(re.findall(r"^\| `(\w+)` \|", readme(), re.M))
    for table in ("kEventTypes", "kChangeTypes"):
        words = re.findall(r'"(\w+)"', source.split(table, 1)[1].split(";", 1)[0])
        assert len(words) > 10 and set(words) <= rows, table


# Both say hello in a channel and leave; each must end on its own once the server closed the link.
HELLO_AND_LEAVE = {
    "Client docstring": (lambda: docstring_block(tessel_client.Client.__doc__), '"irc.example.org", 6667',
                         '"mynick"', '"#tessel"'),
    "README application": (lambda: readme_block("quitting = True"), '"irc.example.net", 6667', '"mybot"',
                           '"#tessel"'),
}


@pytest.mark.parametrize("shown", HELLO_AND_LEAVE)
def test_shown_code_says_hello_and_leaves(services, net, unique, shown):
    code, address, nick, channel = HELLO_AND_LEAVE[shown]
    watcher = net.peer("watcher", services.port, nick=unique("watcher"))
    net.connect(watcher)
    watcher.do("join", unique("#hello"))
    watcher.wait_change("channel_joined", channel=unique("#hello"))
    process = start_example("-c", substituted(code(), {
        address: f'"127.0.0.1", {services.port}', nick: repr(unique("hello")), channel: repr(unique("#hello"))}))
    try:
        watcher.wait_change("message_added", target=unique("#hello"), timeout=20)
        [said] = [m for m in watcher.model()["channels"][unique("#hello")]["log"]["messages"]
                  if m["kind"]["type"] == "privmsg"]
        assert (said["sender"], said["text"]) == (unique("hello"), "hello")
        assert process.wait(timeout=20) == 0, process.stdout.read()
    finally:
        process.kill()
        process.wait()


class LoopbackServer:
    """Accepts connections on a loopback port of its own, in a thread, and hands each to `take`
    there; a subclass sets its own fields before this starts it."""

    def __init__(self):
        self.listener = socket.create_server((local_servers.HOST, 0))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            self.take(conn)

    def close(self):
        self.listener.close()


class ClosingServer(LoopbackServer):
    """Says nothing, and closes each connection `after` seconds later; records when it accepted
    and when it closed."""

    def __init__(self, after):
        self.after = after
        self.accepted, self.closed = [], []
        super().__init__()

    def take(self, conn):
        self.accepted.append(time.monotonic())
        time.sleep(self.after)
        # Noted before the close, so that a thread slow to run again cannot make it look later.
        self.closed.append(time.monotonic())
        conn.close()


def run_selectors(client, port, on_event, until, on_error=None, tls=None):
    deadline = time.monotonic() + 20  # as the asyncio one's wait_for: a test fails, never hangs
    return host_loop.run(client, local_servers.HOST, port, on_event, on_error=on_error, tls=tls,
                         done=lambda: until() or time.monotonic() > deadline)


def run_asyncio(client, port, on_event, until, on_error=None, tls=None):
    async def main():
        host = AsyncHost(client, local_servers.HOST, port, on_event, on_error, tls=tls)

        async def stop_when_asked():
            while not until():
                await asyncio.sleep(0.01)
            host.stop()

        watcher = asyncio.get_running_loop().create_task(stop_when_asked())
        try:
            return await asyncio.wait_for(host.run(), 20)
        finally:
            watcher.cancel()

    return asyncio.run(main())


HOSTS = {"selectors": run_selectors, "asyncio": run_asyncio}


@pytest.mark.parametrize("loop", HOSTS)
def test_the_back_off_counts_from_the_disconnect(loop):
    # The link is quiet, so the host's last wake-up was when it connected: a back-off counted
    # from then would bring the second attempt a second early.
    server = ClosingServer(after=0.9)
    try:
        events = []
        HOSTS[loop](tessel_client.Client("quiet"), server.port, events.append, until=lambda: len(server.accepted) == 2)
    finally:
        server.close()
    assert {"type": "reconnect_after", "after_ms": 2000} in events
    assert server.accepted[1] - server.closed[0] >= 1.95


@pytest.mark.parametrize("loop", HOSTS)
def test_connect_errors_reach_the_application_and_done_ends_a_back_off(loop, capfd):
    port = local_servers.free_port()  # nothing listens there
    # The first reconnect_after comes before any sleep; a done() in the middle of the 2 s
    # back-off ends it within a second.
    for until_what, until in (("the advice", lambda events: bool(events)), ("half a second", lambda events: False)):
        events, errors = [], []
        started = time.monotonic()
        HOSTS[loop](tessel_client.Client("nobody"), port, events.append, on_error=errors.append,
                    until=lambda: until(events) or time.monotonic() > started + 0.5)
        took = time.monotonic() - started
        assert took < (0.4 if until_what == "the advice" else 1.5), until_what
        assert [type(error) for error in errors] == [ConnectionRefusedError], until_what
        assert events == [{"type": "reconnect_after", "after_ms": 2000}], until_what
    # Without on_error of its own, the application still hears of it, on stderr.
    events = []
    HOSTS[loop](tessel_client.Client("nobody"), port, events.append, until=lambda: bool(events))
    assert f"cannot connect to {local_servers.HOST}:{port}: " in capfd.readouterr().err


@pytest.mark.parametrize("loop", ["selectors", "asyncio", "asyncio over TLS"])
def test_session_example(services, unique, loop):
    address = [str(services.port)]
    if loop.endswith("TLS"):
        address = [str(services.tls_port), "--cafile", services.cafile]
    flags = ["--asyncio"] if loop.startswith("asyncio") else []
    result = run_example(os.path.join(EXAMPLES, "session.py"), "127.0.0.1", *address, *flags,
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


@pytest.mark.parametrize("transport", ["plain text", "TLS"])
def test_ping_bot_reads_what_arrived_and_answers(services, net, unique, transport):
    from reading import Names
    n = unique("")
    # Brackets fold to braces under rfc1459: str.lower() would miss both logs.
    bot, channel = f"Pong[{n}]", f"#Ping[{n}]"
    watcher = net.peer("watcher", services.port, nick=f"Watch[{n}]")
    net.connect(watcher)
    watcher.do("join", channel)
    watcher.wait_change("channel_joined", channel=channel)
    names = Names()

    def holds(where, name, sender, text):
        for event in watcher.events:
            names.see(event)
        place = watcher.model()[where].get(names.fold(name))
        return place is not None and any((m["sender"], m["text"]) == (sender, text) for m in place["log"]["messages"])

    # The watcher speaks plain text; over TLS the bot meets it as on a network with both ports.
    address = [str(services.port)] if transport == "plain text" else [str(services.tls_port), "--cafile",
                                                                      services.cafile]
    process = start_example(os.path.join(EXAMPLES, "ping_bot.py"), local_servers.HOST, *address,
                            "--nick", bot, "--channel", channel)
    try:
        net.wait(lambda: names.fold(bot) in watcher.model()["channels"][names.fold(channel)]["members"], 15,
                 "the bot in the channel")
        watcher.do("send_message", channel, "!ping")
        net.wait(lambda: holds("channels", channel, bot, "pong"), 10, "pong in the channel")
        watcher.do("send_message", bot, "!ping")
        net.wait(lambda: holds("conversations", bot, bot, "pong"), 10, "pong in private")
        watcher.do("send_message", channel, "!quit")
        assert process.wait(timeout=15) == 0, process.stdout.read()
    finally:
        process.kill()
        process.wait()


def test_readme_shows_the_examples_as_they_are():
    for name, marker in (("reading.py", "# --8<-- the reading"), ("ping_bot.py", "# --8<-- the bot"),
                         ("long_text.py", "# --8<-- the splitting"), ("cpp_host.cpp", "// --8<-- the C++ host")):
        with open(os.path.join(EXAMPLES, name)) as f:
            shown = f.read().split(f"{marker} the README shows\n", 1)[1].split(marker[:7], 1)[0]
        assert shown.strip() in readme(), name


@pytest.mark.parametrize("text, max_bytes, pieces", [
    ("", 400, []),
    ("short", 400, ["short"]),
    ("one\r\ntwo\n\nthree\r", 400, ["one", "two", "three"]),  # each line its own, empty ones left out
    ("aaaa bbbb cccc", 10, ["aaaa bbbb ", "cccc"]),  # after the last space that fits
    ("aaaaaaaaaaaaaaa", 10, ["aaaaaaaaaa", "aaaaa"]),  # no space: between characters
    (" aaaaaaaaaaaaaa", 10, [" aaaaaaaaa", "aaaaa"]),  # a leading space is no place to cut
    ("é" * 7, 5, ["éé", "éé", "éé", "é"]),  # two-byte characters stay whole
    ("😀😀😀", 7, ["😀", "😀", "😀"]),  # so do four-byte ones
    ("x😀😀", 7, ["x😀", "😀"]),
])
def test_split_text(text, max_bytes, pieces):
    from long_text import split_text
    assert split_text(text, max_bytes) == pieces


def test_split_text_gets_long_text_across_whole(services, net, unique):
    from long_text import split_text
    sender = net.peer("sender", services.port, nick=unique("long"))
    receiver = net.peer("receiver", services.port, nick=unique("reader"))
    net.connect(sender, receiver)
    channel = unique("#long")
    for peer in (sender, receiver):
        peer.do("join", channel)
        peer.wait_change("channel_joined", channel=channel)
    net.wait(lambda: unique("long") in receiver.model()["channels"][channel]["members"], what="both in")

    def received():
        return [m["text"] for m in receiver.model()["channels"][channel]["log"]["messages"]
                if m["kind"]["type"] == "privmsg"]

    text = " ".join(["Grüße aus Zürich 😀, привет"] * 50)  # 1,949 bytes of UTF-8
    sender.do("send_message", channel, text[:600])  # unsplit: the server cuts the line it relays
    net.wait(lambda: len(received()) == 1, what="the unsplit text")
    cut = received()[0].rstrip("\ufffd")  # the cut may fall inside a character
    assert len(cut) < 600 and text.startswith(cut)
    pieces = split_text(text)
    for piece in pieces:
        sender.do("send_message", channel, piece)
    net.wait(lambda: len(received()) == 1 + len(pieces), what="every piece")
    assert "".join(received()[1:]) == text
    assert len(pieces) == 5 and all(len(piece.encode()) <= 400 for piece in pieces)


def listening(port):
    try:
        socket.create_connection((local_servers.HOST, port), timeout=1).close()
        return True
    except OSError:
        return False


PLAIN_BANNER = r"InspIRCd listening on 127\.0\.0\.1:(\d+), plain text, no services\n"


def test_readme_server_for_your_own_bot_runs_it_and_stops(tmp_path):
    own_bot, stays_up = readme_block("mybot.py 127.0.0.1 {port}", "sh").splitlines()
    # The README's application as mybot.py, the address from its arguments and the loop copied
    # next to it, as the README says.
    shutil.copy(os.path.join(EXAMPLES, "host_loop.py"), tmp_path)
    (tmp_path / "mybot.py").write_text("import sys\n" + substituted(readme_block("quitting = True"), {
        '"irc.example.net", 6667': "sys.argv[1], int(sys.argv[2])"}))
    result = subprocess.run(["bash", "-c", substituted(own_bot, {
        "build/python": os.path.dirname(tessel_client.__file__), "mybot.py": str(tmp_path / "mybot.py")})],
        cwd=ROOT, capture_output=True, text=True, timeout=30)
    # The bot ends only once it has said hello and its QUIT closed the link.
    assert result.returncode == 0, result.stdout + result.stderr
    port = int(re.fullmatch(PLAIN_BANNER, result.stdout)[1])
    assert not listening(port)

    server = subprocess.Popen(["bash", "-c", stays_up], cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, start_new_session=True)
    try:
        port = int(re.fullmatch(PLAIN_BANNER, server.stdout.readline())[1])
        for visitor in ("first", "second"):  # one bot after another on the same server
            local_servers.RawIrc(port, visitor).close()
        os.killpg(server.pid, signal.SIGINT)  # Ctrl-C reaches every process of the terminal's group
        assert server.wait(timeout=10) == 130
        assert server.stdout.read() == ""  # no traceback
        assert not listening(port)
    finally:
        if server.poll() is None:
            os.killpg(server.pid, signal.SIGINT)
            server.wait()


def test_readme_outline_of_the_model_names_what_it_holds():
    client = tessel_client.Client("me")
    client.tick(1000, 1767225600000)
    client.handle_connected()
    client.handle_bytes("".join(line + "\r\n" for line in (
        ":srv 001 me :hi", ":me!u@h JOIN #Chan", ":srv 332 me #Chan :the topic",
        ":srv 353 me = #Chan :@Ann me", ":srv 366 me #Chan :end", ":Ann!a@h PRIVMSG #Chan :hello",
        ":carl!c@h PRIVMSG me :psst", ":srv 311 me Ann a h * :Ann A", ":srv 318 me Ann :end")).encode())
    model = client.model()
    channel = model["channels"]["#chan"]
    assert (channel["name"], channel["topic"], channel["members"]["ann"]) == ("#Chan", "the topic", {"prefixes": "@"})
    records = {"me": model["me"], "channel": channel, "conversation": model["conversations"]["carl"],
               "log": channel["log"], "message": channel["log"]["messages"][0], "person": model["people"]["ann"]}
    assert "ann" in model["whois"]

    outline = readme_block("conversations  folded nick", "text")
    rows = {line.split()[0]: line.split(None, 1)[1] for line in outline.splitlines()}
    assert [line.split()[0] for line in outline.splitlines() if not line.startswith(" ")] == list(model)
    for name, record in records.items():
        fields = [field.strip() for field in re.sub(r"\(.*?\)", "", rows[name]).split(",")]
        assert set(fields) <= set(record), (name, set(fields) - set(record))
    assert '{"prefixes": "@"}' in rows["members"]

    with open(os.path.join(ROOT, "tessel_client", "formats", "model_json.cpp")) as f:
        kinds = re.findall(r'"(\w+)"', f.read().split("kKindWords", 1)[1].split(";", 1)[0])
    shown = readme().split("and its `kind` is", 1)[1].split(". From", 1)[0]
    assert re.findall(r"`(\w+)`", shown.replace("`command`", "").replace("`target`", "").replace("`new_nick`", "")) \
        == kinds[1:]


def test_readme_says_what_a_nick_with_a_space_sends():
    [burst] = re.findall(r'`Client\("bad nick"\)` sends `(.+?)` and `(.+?)`', readme())
    client = tessel_client.Client("bad nick")
    client.tick(1000, 1767225600000)
    client.handle_connected()
    sent = []
    while (line := client.poll_transmit()) is not None:
        sent.append(line.decode().rstrip("\r\n"))
    assert sent[1:] == list(burst)


@pytest.mark.parametrize("server", ["services", "ngircd"])
def test_readme_nick_that_is_not_ascii_registers(request, net, unique, server):
    port = request.getfixturevalue(server).port
    [shown] = re.findall(r'`(Client\("Jörg", .+?\))`', readme())

    def peer(code):
        client = eval(code, {"Client": tessel_client.Client})
        peer = Peer(net, "jörg", port, client)
        peer.follow_reconnects = False
        net.peers.append(peer)
        peer.connect()
        return peer

    # Both servers refuse the nick; its ASCII alternative registers.
    ascii_nick = unique("joerg")
    registered = peer(substituted(shown, {'"joerg"': repr(ascii_nick)})).wait_event("registered")
    assert registered["nick"] == ascii_nick
    # Without the ASCII username InspIRCd refuses the USER line and ngIRCd closes the link.
    stalled = peer(substituted(shown, {'username="joerg", ': "", '"joerg"': repr(unique("joerg2"))}))
    if server == "services":
        net.wait(lambda: any(e["type"] == "raw_line" and e["message"]["command"] == "468" for e in stalled.events))
    else:
        net.wait(lambda: stalled.sock is None)
    assert not any(e["type"] == "registered" for e in stalled.events)


# -- TLS in the host loops, against the TLS port of the services' server ---------------------------

def until_any(events, *kinds):
    return lambda: any(event["type"] in kinds for event in events)


@pytest.mark.parametrize("loop", HOSTS)
@pytest.mark.parametrize("mechanism", ["external", "external with a certificate no account holds", "plain"])
def test_sasl_over_tls(services, unique, loop, mechanism):
    context = services.context()
    if mechanism == "external":  # the certificate whose fingerprint is on the account
        context.load_cert_chain(services.client_cert, services.client_key)
    elif mechanism.startswith("external"):  # the server's own certificate will do
        context.load_cert_chain(services.cafile, services.keyfile)
    sasl = {"mechanism": "external"}
    if mechanism == "plain":
        sasl = {"mechanism": "plain", "username": services.account, "password": services.password}
    client = tessel_client.Client(unique("secure"), sasl=sasl)
    events, errors = [], []
    assert HOSTS[loop](client, services.tls_port, events.append, until_any(events, "registered"), errors.append,
                       tls=context)
    outcomes = [event for event in events if event["type"] in ("logged_in", "sasl_failed")]
    assert errors == []
    if "no account" in mechanism:
        assert outcomes == [{"type": "sasl_failed", "reason": "rejected"}]
    else:
        assert outcomes == [{"type": "logged_in", "account": services.account}]


@pytest.mark.parametrize("loop", HOSTS)
@pytest.mark.parametrize("tls, outcome", [
    (True, ssl.SSLCertVerificationError),  # the system's CAs know nothing of a certificate made for the run
    (None, None),  # plain text to a TLS port: the server answers with an alert and closes the link
])
def test_a_link_tls_cannot_carry_reconnects(services, loop, tls, outcome):
    events, errors = [], []
    HOSTS[loop](tessel_client.Client("doubter"), services.tls_port, events.append, until_any(events, "reconnect_after"),
                errors.append, tls=tls)
    assert [type(error) for error in errors] == ([outcome] if outcome else [])
    assert events == [{"type": "reconnect_after", "after_ms": 2000}]


class SilentTls(LoopbackServer):
    """A TLS server with the services' certificate that completes each handshake and then says
    nothing: the TLS records a client reads from it (session tickets) carry no text, and it
    never answers a close_notify."""

    def __init__(self, certfile, keyfile):
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(certfile, keyfile)
        self.links = []
        super().__init__()

    def take(self, conn):
        try:
            self.links.append(self.context.wrap_socket(conn, server_side=True))
        except OSError:
            conn.close()

    def close(self):
        super().close()
        for link in self.links:
            link.close()


def test_a_quiet_tls_link_keeps_the_selectors_loop_awake(services):
    # A read that waited for text after a record without any would hold the loop (and done())
    # for the socket's 10 s timeout and then drop a sound link.
    server = SilentTls(services.cafile, services.keyfile)
    events = []
    started = time.monotonic()
    try:
        run_selectors(tessel_client.Client("quiet"), server.port, events.append,
                      lambda: time.monotonic() > started + 1.5, tls=services.context())
    finally:
        server.close()
    assert time.monotonic() - started < 3
    assert events == [] and len(server.links) == 1


def test_link_dead_drops_a_silent_tls_link_of_the_asyncio_loop_at_once(services, monkeypatch):
    # Closing a TLS transport waits for the peer's close_notify, which a dead server never sends.
    server = SilentTls(services.cafile, services.keyfile)
    skew = [0]
    monkeypatch.setattr(asyncio_host, "clocks", lambda: (host_loop.clocks()[0] + skew[0], host_loop.clocks()[1]))
    events = []

    async def main():
        host = AsyncHost(tessel_client.Client("lonely"), local_servers.HOST, server.port, events.append,
                         tls=services.context())
        running = asyncio.get_running_loop().create_task(host.run())
        while host.transport is None:
            await asyncio.sleep(0.01)
        for skew[0] in (30_000, 40_000):  # the keepalive PING, then 10 s without an answer
            host.pump()
        dead = time.monotonic()
        while not any(event["type"] == "reconnect_after" for event in events) and time.monotonic() < dead + 5:
            await asyncio.sleep(0.01)
        host.stop()
        await running
        return time.monotonic() - dead

    try:
        took = asyncio.run(main())
    finally:
        server.close()
    assert [event["type"] for event in events][:2] == ["link_dead", "reconnect_after"]
    assert took < 1


@pytest.mark.parametrize("loop", HOSTS)
@pytest.mark.parametrize("tls", ["yes", 1, ssl.create_default_context])
def test_tls_takes_none_true_or_a_context(loop, tls):
    with pytest.raises(TypeError, match="tls must be None, True or an ssl.SSLContext"):
        HOSTS[loop](tessel_client.Client("x"), local_servers.free_port(), lambda event: None, lambda: True, tls=tls)


@pytest.mark.parametrize("name", ["host_loop.py", "asyncio_host.py"])
def test_a_loop_file_copied_alone_imports(tmp_path, name):
    shutil.copy(os.path.join(EXAMPLES, name), tmp_path)
    env = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    result = subprocess.run([sys.executable, "-c", f"import {name[:-3]}"], cwd=tmp_path, env=env,
                            capture_output=True, text=True, timeout=30)
    assert result.returncode == 0, result.stderr


class Relay(LoopbackServer):
    """A relay in front of a server: records what clients send through it, and `cut()` drops
    every link it carries, as a network does; so does the first chunk a client sends holding
    `cut_before`, which the server then never sees."""

    def __init__(self, port, cut_before=None):
        self.server_port = port
        self.cut_before = cut_before
        self.sent = []
        self.links = []
        super().__init__()

    def take(self, near):
        far = socket.create_connection((local_servers.HOST, self.server_port))
        self.links.append((near, far))
        threading.Thread(target=self.pipe, args=(near, far, self.sent), daemon=True).start()
        threading.Thread(target=self.pipe, args=(far, near, []), daemon=True).start()

    def pipe(self, source, sink, record):
        while True:
            try:
                data = source.recv(65536)
                if data:
                    record.append(data)
                    if record is self.sent and self.cut_before and self.cut_before in data:
                        self.cut_before = None
                        self.cut()
                        break
                    sink.sendall(data)
                    continue
            except OSError:
                pass
            break
        for sock in (source, sink):
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def cut(self):
        for link in self.links:
            for sock in link:
                try:
                    sock.shutdown(socket.SHUT_RDWR)  # wakes both pipes, which end
                except OSError:
                    pass

    def lines(self):
        """What clients sent, line by line, tags left out."""
        lines = b"".join(self.sent).decode(errors="replace").split("\r\n")
        return [line.split(" ", 1)[1] if line.startswith("@") else line for line in lines]

    def close(self):
        self.cut()
        super().close()


@pytest.mark.parametrize("drop", ["after the server answered the JOIN", "before the server saw the JOIN"])
def test_ping_bot_joins_once_a_link_after_a_drop(services, net, unique, drop):
    # The engine joins again the channels its model holds, the bot those it does not.
    bot, channel = unique("rejoiner"), unique("#rejoin")
    watcher = net.peer("watcher", services.port, nick=unique("stayer"))
    net.connect(watcher)
    watcher.do("join", channel)
    watcher.wait_change("channel_joined", channel=channel)

    def bot_is_in():
        return bot in watcher.model()["channels"][channel]["members"]

    def pongs():
        return [m for m in watcher.model()["channels"][channel]["log"]["messages"] if m["text"] == "pong"]

    relay = Relay(services.port, cut_before=None if drop.startswith("after") else f"JOIN {channel}".encode())
    process = start_example(os.path.join(EXAMPLES, "ping_bot.py"), local_servers.HOST, str(relay.port),
                            "--nick", bot, "--channel", channel)
    try:
        if drop.startswith("after"):
            net.wait(bot_is_in, 15, "the bot in the channel")
            watcher.do("send_message", channel, "!ping")  # answered from the channel the bot's model holds
            net.wait(lambda: len(pongs()) == 1, 10, "the first pong")
            relay.cut()
            net.wait(lambda: not bot_is_in(), 10, "the bot gone with its link")
        net.wait(bot_is_in, 15, "the bot in the channel after its reconnect")
        answered = len(pongs())
        watcher.do("send_message", channel, "!ping")  # answered after any JOIN it sent on this link
        net.wait(lambda: len(pongs()) == answered + 1, 10, "a pong after the reconnect")
        watcher.do("send_message", channel, "!quit")
        assert process.wait(timeout=15) == 0, process.stdout.read()
    finally:
        process.kill()
        process.wait()
        relay.close()
    assert relay.lines().count(f"NICK {bot}") == 2  # two links
    assert relay.lines().count(f"JOIN {channel}") == 2  # the bot's on the first, the engine's on the second


# -- the README's TLS and SASL, on the servers with_server.py starts -------------------------------

TLS_BANNER = (r"InspIRCd listening on 127\.0\.0\.1:(\d+), TLS with the certificate (/\S+/server\.pem), "
              r"(no services|Atheme services \(NickServ, SaslServ\))\n")


def test_readme_session_over_tls_runs():
    session, _ = readme_block("--cafile {cafile}", "sh").splitlines()
    session = substituted(session, {"build/python": os.path.dirname(tessel_client.__file__)})
    result = subprocess.run(["bash", "-c", session], cwd=ROOT, capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-3000:]
    assert re.match(TLS_BANNER, result.stdout)[3] == "no services"
    assert "session complete" in result.stdout


def children(pid):
    """The processes whose parent is `pid`."""
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/stat") as f:
                if int(f.read().rsplit(")", 1)[1].split()[1]) == pid:
                    found.append(int(entry))
        except OSError:
            pass  # gone meanwhile
    return found


def test_readme_network_logs_in_by_certificate_and_goes_on_a_signal(tmp_path):
    _, network = readme_block("--cafile {cafile}", "sh").splitlines()
    port = local_servers.free_port()
    network = substituted(network, {"--port 6697": f"--port {port}"})
    # Twice on the same port, as when a bot is tried across a restart; kill, then a closed terminal.
    for stop in (signal.SIGTERM, signal.SIGHUP):
        server = subprocess.Popen(["bash", "-c", network], cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  text=True, start_new_session=True)
        try:
            banner = re.fullmatch(TLS_BANNER, server.stdout.readline())
            assert banner and int(banner[1]) == port and banner[3] != "no services"
            cafile = banner[2]
            workdir = os.path.dirname(os.path.dirname(cafile))
            if stop == signal.SIGTERM:
                log_in_as_the_readme_shows(tmp_path, port, cafile)
            else:
                local_servers.RawIrc(port, "visitor", tls=ssl.create_default_context(cafile=cafile)).close()
            processes = children(server.pid)
            assert len(processes) == 3  # InspIRCd, Atheme and the command
            server.send_signal(stop)
            assert server.wait(timeout=15) == 128 + stop
            assert server.stdout.read() == ""  # no traceback
        finally:
            if server.poll() is None:  # a failed step: the servers still go with their folder
                server.terminate()
                try:
                    server.wait(timeout=15)
                except subprocess.TimeoutExpired:
                    os.killpg(server.pid, signal.SIGKILL)
                    server.wait()
        assert not [pid for pid in processes if os.path.exists(f"/proc/{pid}")]
        assert not os.path.exists(workdir)
        assert not listening(port)


def log_in_as_the_readme_shows(folder, port, cafile):
    """A certificate made by the README's commands, its fingerprint added to a new account by the
    README's messages to NickServ, and the README's EXTERNAL code logging in with it."""
    make, fingerprint = readme_block("sha256sum", "sh").splitlines()
    subprocess.run(["bash", "-c", make], cwd=folder, check=True, capture_output=True, timeout=30)
    fingerprint = subprocess.run(["bash", "-c", fingerprint], cwd=folder, check=True, capture_output=True,
                                 text=True, timeout=30).stdout.strip()
    assert fingerprint == local_servers.fingerprint(str(folder / "mybot.pem"))
    with local_servers.RawIrc(port, "mybot", tls=ssl.create_default_context(cafile=cafile)) as irc:
        for text, answer in zip(re.findall(r"^/msg NickServ (.+)$", readme_block("CERT ADD", "text"), re.M),
                                ("registered", "Added fingerprint")):
            for shown, value in (("<password>", "secret-words"), ("<email>", "mybot@example.test"),
                                 ("<fingerprint>", fingerprint)):
                text = text.replace(shown, value)
            irc.send("PRIVMSG NickServ :" + text)
            assert answer in irc.until(lambda w: w[1] == "NOTICE" and w[0].startswith(":NickServ!"))[-1][-1]
    code = substituted(readme_block('sasl={"mechanism": "external"}'), {
        "ssl.create_default_context()": f"ssl.create_default_context(cafile={cafile!r})",
        '"mybot.pem", "mybot.key"': f"{str(folder / 'mybot.pem')!r}, {str(folder / 'mybot.key')!r}",
        '"irc.example.net", 6697': f'"127.0.0.1", {port}', '"mybot"': '"mybot2"'})
    namespace = {"tessel_client": tessel_client, "run": host_loop.run, "events": [], "closed": False}
    exec("def on_event(event):\n    global closed\n    events.append(event)\n"
         "    closed = closed or event['type'] == 'registered'\n" + code, namespace)
    assert {"type": "logged_in", "account": "mybot"} in namespace["events"]


def test_readme_tls_lines_register_on_either_loop(services, unique):
    run_line, host_line = readme_block("tls=True)\nhost = AsyncHost(").splitlines()
    context = services.context()

    def shown(line, nick):
        events = []
        deadline = time.monotonic() + 10
        namespace = {"run": host_loop.run, "AsyncHost": AsyncHost, "client": tessel_client.Client(unique(nick)),
                     "closed": False, "context": context, "expired": lambda: time.monotonic() > deadline}

        def on_event(event):
            events.append(event)
            namespace["closed"] = namespace["closed"] or event["type"] == "registered"

        namespace["on_event"] = on_event
        exec(substituted(line, {'"irc.example.net", 6697': f'"127.0.0.1", {services.tls_port}',
                                "tls=True": "tls=context"}).replace("lambda: closed", "lambda: closed or expired()"),
             namespace)
        return namespace, events

    _, events = shown(run_line, "shownrun")
    assert {"type": "registered", "nick": unique("shownrun")} in events
    namespace, events = shown(host_line, "shownhost")

    async def until_registered():
        host = namespace["host"]
        running = asyncio.get_running_loop().create_task(host.run())
        while not namespace["closed"]:
            await asyncio.sleep(0.01)
        host.stop()
        return await running

    assert asyncio.run(asyncio.wait_for(until_registered(), 10))
    assert {"type": "registered", "nick": unique("shownhost")} in events
