"""Replies a host meets that the engine reads against what the current link sent and joined:
a nick refusal once the host sent its own nick, the answer to a CAP line of the host's own, a
refused rejoin after a reconnect, and the server's word on our own away."""
import base64

import pytest

from tessel_client import Client
from wire import feed, sent


def session(nick="me", **kwargs):
    client = Client(nick, username="u", realname="R", **kwargs)
    client.tick(0, 0)
    return client


def register(client, nick="me"):
    client.handle_connected()
    feed(client, ":srv CAP * LS :", f":srv 001 {nick} :Welcome")
    sent(client)
    client.poll_events()


def raw(line):
    """The raw_line event of a line with a source, a command and trailing text."""
    head, text = line.split(" :", 1)
    source, command, *middle = head.split(" ")
    return {"type": "raw_line", "message": {"tags": [], "source": {"name": source[1:], "user": None, "host": None},
                                            "command": command, "params": [*middle, text]}}


@pytest.mark.parametrize("send_own", [
    lambda c: c.set_nick("mine"),
    lambda c: c.send_raw_line("NICK mine"),
], ids=["set_nick", "raw NICK"])
def test_the_hosts_nick_ends_the_fallback_on_its_link(send_own):
    client = session(alt_nicks=["alt1", "alt2"])
    client.handle_connected()
    sent(client)
    feed(client, ":srv 433 * me :Nickname is already in use")
    assert sent(client) == ["NICK alt1"]
    client.poll_events()

    send_own(client)
    assert sent(client) == ["NICK mine"]
    late = ":srv 433 * alt1 :Nickname is already in use"
    feed(client, late)
    assert sent(client) == []  # no NICK alt1_ to rename what the server registers
    assert client.poll_events() == [raw(late)]
    feed(client, ":srv CAP * LS :", ":srv 001 mine :Welcome")
    assert client.model()["me"]["nick"] == "mine"

    # The next link starts over.
    client.handle_disconnected()
    client.handle_connected()
    sent(client)
    client.poll_events()
    feed(client, ":srv 433 * me :Nickname is already in use")
    assert sent(client) == ["NICK alt2"]
    assert client.poll_events() == [{"type": "nick_in_use", "refused": "me", "trying": "alt2"}]


def test_an_early_cap_req_of_the_hosts_own_leaves_sasl_to_run():
    client = session(sasl={"mechanism": "plain", "username": "acct", "password": "pw"})
    client.send_raw_line("CAP REQ :extended-join")
    client.handle_connected()
    assert sent(client) == ["CAP REQ extended-join", "CAP LS 302", "NICK me", "USER u 0 * R"]

    feed(client, ":srv CAP * ACK :extended-join")
    assert sent(client) == []  # no CAP END: the listing has not come yet
    assert client.poll_events() == [{"type": "capabilities_acknowledged", "names": ["extended-join"]}]
    feed(client, ":srv CAP * LS :extended-join sasl=PLAIN")
    assert sent(client) == ["CAP REQ sasl"]
    feed(client, ":srv CAP * ACK :sasl", "AUTHENTICATE +")
    assert sent(client) == ["AUTHENTICATE PLAIN", "AUTHENTICATE " + base64.b64encode(b"\0acct\0pw").decode()]
    feed(client, ":srv 900 me me!u@h acct :You are now logged in", ":srv 903 me :SASL successful")
    assert sent(client) == ["CAP END"]
    assert [e["type"] for e in client.poll_events()] == ["capabilities_acknowledged", "logged_in"]


REFUSALS = ["403", "405", "437", "471", "473", "474", "475", "476", "477", "489", "442"]


def rejoining():
    """Joined #c with one message, then a reconnect whose resume burst has sent JOIN #c."""
    client = session()
    register(client)
    feed(client, ":me!u@h JOIN #c", ":bob!u@h PRIVMSG #c :before the drop")
    client.handle_disconnected()
    client.handle_connected()
    feed(client, ":srv CAP * LS :", ":srv 001 me :Welcome")
    assert "JOIN #c" in sent(client)
    client.poll_events()
    return client


@pytest.mark.parametrize("numeric", REFUSALS)
def test_a_refused_rejoin_removes_the_channel(numeric):
    client = rejoining()
    other = f":srv {numeric} me #elsewhere :Cannot join channel"
    feed(client, other)
    assert client.poll_events() == [raw(other)]

    feed(client, f":srv {numeric} me #c :Cannot join channel")
    assert client.poll_events() == [{"type": "model_changed", "change": {"type": "channel_parted", "channel": "#c"}}]
    assert client.model()["channels"] == {}


@pytest.mark.parametrize("numeric", REFUSALS[:-1])
def test_a_rejoin_that_went_through_keeps_the_channel(numeric):
    client = rejoining()
    feed(client, ":me!u@h JOIN #c")
    client.poll_events()
    refusal = f":srv {numeric} me #c :Cannot join channel"
    feed(client, refusal)
    assert client.poll_events() == [raw(refusal)]
    log = client.model()["channels"]["#c"]["log"]["messages"]
    assert "before the drop" in [m["text"] for m in log]


@pytest.mark.parametrize("before, reply, away", [
    (lambda c: c.set_away("brb"), "306", "brb"),
    (lambda c: None, "306", ""),
    (lambda c: c.set_away(), "305", None),
], ids=["306 after set_away", "306 without an AWAY", "305 after set_away()"])
def test_305_and_306_set_our_own_away(before, reply, away):
    client = session()
    register(client)
    feed(client, ":me!u@h JOIN #c", ":srv 353 me = #c :me bob", ":me!u@h AWAY :set by a line")
    client.poll_events()
    before(client)
    sent(client)
    feed(client, f":srv {reply} me :Away status")
    assert client.poll_events() == [{"type": "model_changed", "change": {"type": "channel_members_changed", "channel": "#c"}}]
    assert client.model()["me"]["away"] == away
    assert client.model()["people"]["me"]["away"] == away
