"""model() and poll_events() build their results from the engine's records while json.loads is
the standard one; the results must equal what json.loads makes of the JSON text, which a host
with a json module of its own still gets."""
import base64
import functools
import json
import os
import re
import sys
import types

import pytest

from tessel_client import Client

T0 = 1772442000000
SERVER_LINES = os.path.join(os.path.dirname(__file__), "..", "..", "bench", "data", "server_lines.txt")


def stamp(second):
    return f"2026-03-02T09:00:{second:02d}.000Z"


def b64(text):
    return base64.b64encode(text.encode()).decode()


def assert_same(direct, loaded, path="result"):
    """Equal values of the same types with keys in the same order (== alone takes True for 1
    and ignores the order of keys)."""
    assert type(direct) is type(loaded), path
    if isinstance(loaded, dict):
        assert list(direct) == list(loaded), path
        for key in loaded:
            assert_same(direct[key], loaded[key], f"{path}[{key!r}]")
    elif isinstance(loaded, list):
        assert len(direct) == len(loaded), path
        for i, (a, b) in enumerate(zip(direct, loaded)):
            assert_same(a, b, f"{path}[{i}]")
    else:
        assert direct == loaded, path


@pytest.fixture
def through_text(monkeypatch):
    """Runs a call with a json module of the host's making, whose loads is not the standard one."""
    module = types.ModuleType("json")
    module.dumps = json.dumps
    module.loads = lambda text: json.loads(text)

    def call(method):
        monkeypatch.setitem(sys.modules, "json", module)
        try:
            return method()
        finally:
            monkeypatch.undo()
    return call


def test_a_replaced_loads_is_called(monkeypatch):
    # A wrapper that passes for the function by its name still gets the JSON text.
    texts = []
    standard = json.loads

    @functools.wraps(standard)
    def loads(text):
        texts.append(text)
        return standard(text)

    client = Client("me")
    client.handle_disconnected()
    monkeypatch.setattr(json, "loads", loads)
    assert client.poll_events() == [{"type": "reconnect_after", "after_ms": 2000}]
    assert client.model()["me"]["nick"] == "me"
    assert texts[0] == '[{"type":"reconnect_after","after_ms":2000}]' and texts[1].startswith('{"me":')


class Twins:
    """Two clients driven alike: one drained directly, the other through the JSON text."""

    def __init__(self, through_text, nick="me", **kwargs):
        self.clients = (Client(nick, **kwargs), Client(nick, **kwargs))
        self.through_text = through_text
        self.mono = 0
        self.each(lambda c: c.tick(0, T0))

    def each(self, action):
        for client in self.clients:
            action(client)
            while client.poll_transmit() is not None:
                pass

    def feed(self, *lines):
        data = "".join(line + "\r\n" for line in lines).encode()
        self.each(lambda c: c.handle_bytes(data))

    def advance(self, ms):
        self.mono += ms
        self.each(lambda c: c.tick(self.mono, T0 + self.mono))

    def events(self):
        direct, loaded = self.clients[0].poll_events(), self.through_text(self.clients[1].poll_events)
        assert_same(direct, loaded)
        return direct

    def model(self):
        direct, loaded = self.clients[0].model(), self.through_text(self.clients[0].model)
        assert_same(direct, loaded)
        return direct


def register(t, caps, isupport=()):
    t.each(lambda c: c.handle_connected())
    t.feed(f":srv CAP * LS :{caps}", f":srv CAP me ACK :{caps}", ":srv 001 me :Welcome",
           f":srv 005 me {' '.join(isupport)} -GONE :are supported")


def test_a_full_model_and_its_events(through_text):
    t = Twins(through_text, retention=3)
    register(t, "message-tags server-time echo-message multi-prefix account-tag draft/read-marker draft/typing "
             "draft/channel-rename draft/metadata-2 away-notify account-notify draft/named-modes monitor "
             "extended-monitor chghost labeled-response batch draft/chathistory draft/message-redaction",
             ["PREFIX=(qov)~@+", "CASEMAPPING=rfc1459", "CHANMODES=b,k,l,imnst", "MONITOR=5", "WHOX"])
    t.feed(":me!u@h JOIN #Chan[1]", ":me!u@h JOIN #b", ":me!u@h JOIN #été",
           ":srv 332 me #chan{1} :The \"topic\" \\ \x02bold\x02",
           ":srv 333 me #Chan[1] Bob!b@h 1772441000",
           ":srv 353 me = #Chan[1] :~@+Bob ann!a@h.example +carl me", ":srv 366 me #Chan[1] :End",
           ":srv 353 me = #b :me @Bob dave", ":srv 353 me = #été :me zoë",
           ":srv 354 me 332 #Chan[1] bobu bob.host Bob H@* bobacct :Bob Real",
           ":srv MODE #Chan[1] +mlk-v 5 s3cret carl", ":srv MODE me +iw")
    for second in range(1, 8):  # more than the logs keep
        t.feed(f"@time={stamp(second)};msgid=m{second};account=bobacct :Bob!b@h PRIVMSG #Chan[1] "
               f":hi me \U0001F600 \"{second}\" \\ \t\x03" + "04red",
               f"@time={stamp(second)} :ann!a@h NOTICE #b :no msgid {second}",
               f"@time={stamp(second)};msgid=p{second} :Dave!d@h PRIVMSG me :private {second}")
    t.feed(":carl!c@h PRIVMSG #Chan[1] :\x01ACTION waves\x01",
           f"@time={stamp(9)};msgid=own1 :me!u@h PRIVMSG #b :mine",
           "@+draft/react=\U0001F44D;+reply=m7 :ann!a@h TAGMSG #Chan[1]",
           "@+draft/react=\U0001F44D;+reply=m7 :carl!c@h TAGMSG #Chan[1]",
           "@+draft/react=x;+reply=m6 :Bob!b@h TAGMSG #Chan[1]",
           "@vantaweb/link-preview-title=A\\spage;vantaweb/link-preview-meta=img.png;+reply=m6 :srv TAGMSG #Chan[1]",
           "@vantaweb/link-preview-title=T;+reply=p7 :Dave!d@h TAGMSG me",
           ":Bob!b@h REDACT #Chan[1] m7 :oops",
           ":srv MARKREAD #Chan[1] timestamp=" + stamp(6),
           "@+typing=active :Bob!b@h TAGMSG #Chan[1]", "@+typing=active :Dave!d@h TAGMSG me",
           ":bob!b@h AWAY :lunch", ":ann!a@h ACCOUNT annacct", ":carl!c@h CHGHOST cu c.host",
           ":srv METADATA * avatar * :https://img", ":srv METADATA #Chan[1] color * :blue",
           ":srv 761 me bob pronouns * :they", ":srv PROP #Chan[1] +topiclock -secret +limit=5",
           ":srv 311 me BOB bu bob.host * :Bob Real", ":srv 312 me bob irc.example :The server",
           ":srv 313 me bob :is an IRC operator", ":srv 319 me bob :~#Chan[1] @#b",
           ":srv 317 me bob 42 1772441000 :idle", ":srv 330 me bob bobacct :is logged in as",
           ":srv 671 me bob :is using a secure connection", ":srv 318 me Bob :End of /WHOIS list.",
           ":srv 311 me zoë z z.host * :half done",
           ":srv 730 me :Carol!c@h,dave", ":srv 731 me :dave",
           ":dave!d@h NICK Davy", ":srv RENAME #b #Bee :tidy", ":ann!a@h KICK #Bee dave :out")
    events = t.events()
    changes = {e["change"]["type"] for e in events if e["type"] == "model_changed"}
    assert set() == {"channel_joined", "channel_members_changed", "channel_topic_changed", "nick_changed",
                       "channel_modes_changed", "read_marker_moved", "message_reacted", "message_redacted",
                       "metadata_changed", "whois_received", "channel_renamed", "message_added"} - changes
    assert {"typing_changed", "presence_changed", "raw_line", "registered", "isupport_token",
            "capabilities_acknowledged"} <= {e["type"] for e in events}

    snap = t.model()
    chan = snap["channels"]["#chan{1}"]
    assert len(chan["log"]["messages"]) == 3 and chan["log"]["messages"][0]["reactions"] == {"x": ["bob"]}
    assert chan["modes"] and chan["typing"] and chan["named_modes"] and chan["metadata"]
    assert snap["conversations"] and snap["people"]["bob"]["metadata"] and list(snap["whois"]) == ["bob", "zoë"]
    t.advance(6000)
    t.events()
    t.feed(":me!u@h PART #Bee")
    assert {"type": "channel_parted", "channel": "#Bee"} in [e.get("change") for e in t.events()]
    assert list(t.model()["channels"]) == ["#chan{1}", "#été"]


def test_a_long_transcript_with_full_logs(through_text):
    t = Twins(through_text, retention=40)
    register(t, "message-tags server-time account-tag multi-prefix")
    with open(SERVER_LINES, "rb") as f:
        data = f.read()
    t.feed(*(f":me!u@h JOIN {name.decode()}" for name in sorted(set(re.findall(rb" (#[^ ,]+)", data)))))
    for start in range(0, len(data), 4096):
        t.each(lambda c: c.handle_bytes(data[start:start + 4096]))
        t.events()
    snap = t.model()
    assert sum(len(c["log"]["messages"]) for c in snap["channels"].values()) > 40 * 10


def test_every_other_event_kind(through_text):
    t = Twins(through_text, alt_nicks=["me2"], sasl={"mechanism": "plain", "username": "acct", "password": "pw"})
    t.each(lambda c: c.handle_connected())
    t.feed(":srv 433 * me :Nickname is already in use", ":srv CAP * LS :sasl message-tags labeled-response",
           ":srv CAP me2 ACK :sasl message-tags labeled-response", "AUTHENTICATE +",
           ":srv 900 me2 me2!u@h acct :You are now logged in as acct", ":srv 903 me2 :SASL authentication successful",
           ":srv 001 me2 :Welcome", "FAIL CHATHISTORY INVALID_TARGET #x :No such channel", ":srv WARN X Y :careful",
           ":srv TOKEN GENERATE files https://files.example tok123", ":srv CMDSLIST +foo -bar",
           "@tesselnet/bot-info=" + b64('{"nick":"Quizbot","bot_id":"b1","commands":[{"name":"help"}]}')
           + " :srv TAGMSG me2",
           '@+vantaweb/rtc={"type":"presence","member":"bob","state":"deaf-on"} :bob!u@h TAGMSG #room',
           '@+vantaweb/rtc={"type":"joined","members":["me","bob"],"role":"viewer"} :bob!u@h TAGMSG #room',
           "@k1=a\\sb\\:c\\\\d\\r\\n;k2 :n!u@h 999 me2 :tab\there \x01ctl\x1f \x7f \"q\"")
    t.each(lambda c: c.whois("bob"))
    t.advance(30000)
    t.advance(10000)
    t.each(lambda c: c.handle_disconnected())
    kinds = {e["type"] for e in t.events()}
    assert kinds == {"nick_in_use", "capabilities_acknowledged", "logged_in", "registered", "server_reply",
                     "auth_token", "allowed_commands_changed", "bots_changed", "voice", "raw_line",
                     "command_timed_out", "link_dead", "reconnect_after"}

    for _ in range(101):
        t.each(lambda c: c.handle_disconnected())
    assert t.events()[-1] == {"type": "reconnect_abandoned"}

    failed = Twins(through_text, sasl={"mechanism": "plain", "username": "acct", "password": "pw"})
    failed.each(lambda c: c.handle_connected())
    failed.feed(":srv CAP * LS :sasl", ":srv CAP me ACK :sasl", "AUTHENTICATE +", ":srv 904 me :failed")
    assert [e["type"] for e in failed.events()] == ["capabilities_acknowledged", "sasl_failed"]


def test_a_fresh_model(through_text):
    assert Twins(through_text).model() == {"me": {"nick": "me", "account": None, "modes": "", "metadata": {}, "away": None},
                                           "channels": {}, "conversations": {}, "people": {}, "whois": {},
                                           "retention": 5000, "next_seq": 0}


# ---- Allocation failures --------------------------------------------------------------------

def small_session(client):
    client.handle_connected()
    lines = [":srv CAP * LS :message-tags server-time draft/typing", ":srv CAP me ACK :message-tags server-time draft/typing",
             ":srv 001 me :hi", ":me!u@h JOIN #a", ":srv 353 me = #a :me @bob", ":srv MODE #a +k key",
             f"@time={stamp(1)};msgid=x1;account=b :bob!b@h PRIVMSG #a :one \U0001F600",
             "@+draft/react=ok;+reply=x1 :bob!b@h TAGMSG #a", ":bob!b@h PRIVMSG #a :\x01ACTION two\x01",
             "@vantaweb/link-preview-title=T;+reply=x1 :bob!b@h TAGMSG #a", "@+typing=active :bob!b@h TAGMSG #a",
             ":carl!c@h PRIVMSG me :private", ":srv 311 me bob b h * :Bob", ":srv 318 me bob :End",
             '@+vantaweb/rtc={"type":"mic"} :bob!u@h TAGMSG #a', ":srv 999 me :raw"]
    client.handle_bytes("".join(line + "\r\n" for line in lines).encode())
    while client.poll_transmit() is not None:
        pass
    return client


def attempt(call, start):
    """The call's result with every allocation from the start-th on failing, or None when it
    raised MemoryError."""
    import _testcapi
    _testcapi.set_nomemory(start, 0)
    try:
        return call()
    except MemoryError:
        return None
    finally:
        _testcapi.remove_mem_hooks()


# Member names that the interpreter itself has no use for: every dict the snapshot or the events
# build holds one of them, so one leaked on a failed attempt raises its count for good. (The
# count of all allocated blocks would say more, but the import of json, failing in its own ways,
# moves it too.)
SENTINELS = ("time_ms", "messages", "by_msgid", "prefixes", "reactions", "link_preview", "snippet", "read_marker",
             "named_modes", "topic_by", "signon_ms", "change", "tags", "params", "trying", "active")


def assert_fails_cleanly(make_call, expected):
    """Fails the allocations of a call from each one on in turn: each attempt must raise
    MemoryError and release what it made, until the call gets through with the full result."""
    import gc
    start = 1
    while (result := attempt(make_call(), start)) is None:
        assert gc.isenabled()
        counts = [sys.getrefcount(name) for name in SENTINELS]
        for _ in range(3):  # (a freelist refilled by one attempt may let the next get further)
            attempt(make_call(), start)
        gc.collect()
        assert [sys.getrefcount(name) for name in SENTINELS] == counts, start
        start += 1
    assert_same(result, expected)
    assert start > 50


def test_allocation_failures_leak_nothing():
    pytest.importorskip("_testcapi")
    client = small_session(Client("me"))
    assert_fails_cleanly(lambda: client.model, client.model())
    assert_fails_cleanly(lambda: small_session(Client("me")).poll_events, small_session(Client("me")).poll_events())
