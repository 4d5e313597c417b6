"""A scripted connection driven end to end through the engine-driving methods."""
from tessel_client import Client


def drain(client):
    lines = []
    while (chunk := client.poll_transmit()) is not None:
        assert type(chunk) is bytes and chunk.endswith(b"\r\n")
        lines.append(chunk)
    return lines


def test_new_client_is_quiet():
    client = Client("me")
    assert client.poll_transmit() is None
    assert client.poll_events() == []
    assert client.poll_timeout() is None
    snapshot = client.model()
    assert type(snapshot) is dict and snapshot["me"]["nick"] == "me" and snapshot["channels"] == {}


def test_scripted_session():
    client = Client("me", username="u", realname="Me Myself")
    client.tick(1000, 1772442000000)
    client.handle_connected()
    assert drain(client) == [b"CAP LS 302\r\n", b"NICK me\r\n", b"USER u 0 * :Me Myself\r\n"]
    assert client.poll_timeout() == 31000

    client.handle_bytes(b":irc.example.net CAP * LS :server-time message-tags unknown-cap\r\n")
    assert drain(client) == [b"CAP REQ message-tags\r\n", b"CAP REQ server-time\r\n"]
    client.handle_bytes(b":irc.example.net CAP * ACK message-tags\r\n:irc.example.net CAP * ACK :server-time\r\n")
    assert drain(client) == [b"CAP END\r\n"]

    client.handle_bytes(b"PING :token 1\r\n")
    assert drain(client) == [b"PONG :token 1\r\n"]

    # A welcome split across two reads is handled once the line feed arrives.
    client.handle_bytes(b":irc.example.net 001 me :Wel")
    assert client.poll_events() == [
        {"type": "capabilities_acknowledged", "names": ["message-tags"]},
        {"type": "capabilities_acknowledged", "names": ["server-time"]},
    ]
    client.handle_bytes(b"come\r\n")
    assert client.poll_events() == [{"type": "registered", "nick": "me"}]

    client.handle_bytes(b":me!u@host JOIN #chan\r\n")
    drain(client)
    client.handle_bytes(b"@time=2026-03-02T09:00:05.000Z;msgid=m1 :bob!b@host PRIVMSG #chan :hello there\r\n")
    events = client.poll_events()
    assert events[0] == {"type": "model_changed", "change": {"type": "channel_joined", "channel": "#chan"}}
    assert events[-1]["type"] == "model_changed"
    added = events[-1]["change"]
    assert added["type"] == "message_added" and added["target"] == "#chan"
    assert added["key"]["time_ms"] == 1772442005000

    # PONG changes nothing and says nothing.
    client.handle_bytes(b":irc.example.net PONG irc.example.net :me\r\n")
    assert client.poll_events() == [] and drain(client) == []

    snapshot = client.model()
    channel = snapshot["channels"]["#chan"]
    assert channel["name"] == "#chan"
    messages = channel["log"]["messages"]
    assert [m["text"] for m in messages] == ["hello there"]
    assert messages[0]["msgid"] == "m1" and messages[0]["sender"] == "bob"

    # Keepalive: the idle timer sends a PING, an unanswered one reports the link dead.
    deadline = client.poll_timeout()
    client.tick(deadline, 0)
    assert drain(client) == [b"PING me\r\n"]
    client.tick(client.poll_timeout(), 0)
    assert client.poll_events() == [{"type": "link_dead"}]

    client.handle_disconnected()
    assert client.poll_events() == [{"type": "reconnect_after", "after_ms": 2000}]
    assert client.model()["channels"]["#chan"]["log"]["messages"][0]["text"] == "hello there"
    client.handle_connected()
    assert drain(client)[0] == b"CAP LS 302\r\n"


def test_bytes_in_pieces_give_the_same_events():
    text = b":n!u@h PRIVMSG me :hi\r\n:srv NOTICE me :x\r\n:srv 999 me odd\r\n"
    whole = Client("me")
    whole.handle_bytes(text)
    pieces = Client("me")
    for i in range(0, len(text), 3):
        pieces.handle_bytes(text[i:i + 3])
    pieces.handle_bytes(b"")
    assert pieces.poll_events() == whole.poll_events() != []


def test_clock_goes_where_it_is_told():
    client = Client("me")
    client.handle_connected()
    client.tick(10, 5000)
    client.tick(5, 1000)
    client.handle_bytes(b"PING x\r\n")  # re-arms the idle timer from the stored time
    assert client.poll_timeout() == 30005
    # The Unix clock never goes back: an unstamped message takes the latest time seen.
    client.handle_bytes(b":n!u@h PRIVMSG me :hi\r\n")
    assert client.poll_events()[-1]["change"]["key"]["time_ms"] == 5000


NONE_GIVEN = dict(username=None, realname=None, password=None, sasl=None, retention=None, alt_nicks=None)


def test_constructor_defaults():
    cases = [
        ("a", {}, [b"CAP LS 302\r\n", b"NICK a\r\n", b"USER a 0 * a\r\n"], 5000),
        ("a", NONE_GIVEN, [b"CAP LS 302\r\n", b"NICK a\r\n", b"USER a 0 * a\r\n"], 5000),
        ("a", {"username": "", "realname": ""}, [b"CAP LS 302\r\n", b"NICK a\r\n", b"USER a 0 * a\r\n"], 5000),
        ("a", {"retention": 0, "password": ""}, [b"CAP LS 302\r\n", b"PASS :\r\n", b"NICK a\r\n", b"USER a 0 * a\r\n"], 1),
    ]
    for nick, kwargs, lines, retention in cases:
        client = Client(nick, **kwargs)
        client.handle_connected()
        assert drain(client) == lines, kwargs
        assert client.model()["retention"] == retention
    # Nothing judges the contents of a text.
    assert Client("").model()["me"]["nick"] == ""
    assert Client("a b").model()["me"]["nick"] == "a b"


def test_alt_nicks_reach_the_engine():
    client = Client("a", alt_nicks=("b", "c"))
    client.handle_connected()
    drain(client)
    client.handle_bytes(b":srv 433 * a :Nickname is already in use\r\n")
    assert drain(client) == [b"NICK b\r\n"]
    assert client.poll_events() == [{"type": "nick_in_use", "refused": "a", "trying": "b"}]
