"""The command methods: every typed method and `command` put the same line on the wire, their
argument errors, and where commands stand against the registration and resume bursts."""
import pytest

from tessel_client import Client


def drain(client):
    lines = []
    while (chunk := client.poll_transmit()) is not None:
        lines.append(chunk)
    return lines


def registered(*caps):
    client = Client("me", username="u", realname="R")
    client.handle_connected()
    listed = " ".join(caps)
    client.handle_bytes(f"CAP * LS :{listed}\r\n".encode())
    if caps:
        client.handle_bytes(f"CAP * ACK :{listed}\r\n".encode())
    client.handle_bytes(b":srv 001 me :Welcome\r\n")
    drain(client)
    client.poll_events()
    return client


# (typed call, the same command as JSON, the line it sends)
BOTH_ROADS = [
    (lambda c: c.join("#a"), {"type": "join", "channel": "#a"}, b"JOIN #a"),
    (lambda c: c.join("#a", key="k"), ["join", "#a", "k"], b"JOIN #a k"),
    (lambda c: c.part("#a", "bye now"), {"type": "part", "channel": "#a", "reason": "bye now"}, b"PART #a :bye now"),
    (lambda c: c.send_message("#a", "hi"), {"type": "send_message", "target": "#a", "text": "hi"}, b"PRIVMSG #a hi"),
    (lambda c: c.send_notice("bob", "hi"), {"type": "send_notice", "target": "bob", "text": "hi"}, b"NOTICE bob hi"),
    (lambda c: c.send_action("#a", "waves"), {"type": "send_action", "target": "#a", "text": "waves"},
     b"PRIVMSG #a :\x01ACTION waves\x01"),
    (lambda c: c.set_nick("new"), {"type": "set_nick", "nick": "new"}, b"NICK new"),
    (lambda c: c.set_topic("#a"), {"type": "set_topic", "channel": "#a"}, b"TOPIC #a :"),
    (lambda c: c.set_away(), {"type": "set_away"}, b"AWAY"),
    (lambda c: c.set_typing("bob", "done"), {"type": "set_typing", "target": "bob", "state": "done"},
     b"@+typing=done TAGMSG bob"),
    (lambda c: c.add_reaction("#a", "m1", "+1"), ["add_reaction", "#a", "m1", "+1"],
     b"@+draft/react=+1;+draft/reply=m1 TAGMSG #a"),
    (lambda c: c.remove_reaction("#a", "m1", "+1"), ["remove_reaction", "#a", "m1", "+1"],
     b"@+draft/unreact=+1;+draft/reply=m1 TAGMSG #a"),
    (lambda c: c.redact_message("#a", "m1", reason="oops"), ["redact_message", "#a", "m1", "oops"],
     b"REDACT #a m1 oops"),
    (lambda c: c.mark_read("#a", 0), {"type": "mark_read", "target": "#a", "at_ms": 0},
     b"MARKREAD #a timestamp=1970-01-01T00:00:00.000Z"),
    (lambda c: c.fetch_history("#a"), {"type": "fetch_history", "target": "#a", "limit": 50},
     b"CHATHISTORY LATEST #a * 50"),
    (lambda c: c.fetch_history(target="#a", limit=10, before_msgid="x"), ["fetch_history", "#a", "x", 10],
     b"CHATHISTORY BEFORE #a msgid=x 10"),
    (lambda c: c.set_metadata("k", "v"), {"type": "set_metadata", "key": "k", "value": "v"}, b"METADATA * SET k v"),
    (lambda c: c.subscribe_metadata(("a", "b")), {"type": "subscribe_metadata", "keys": ["a", "b"]},
     b"METADATA * SUB a b"),
    (lambda c: c.whois("bob"), {"type": "whois", "nick": "bob"}, b"WHOIS bob"),
    (lambda c: c.rename_channel("#a", "#b"), {"type": "rename_channel", "channel": "#a", "new_name": "#b"},
     b"RENAME #a #b"),
    (lambda c: c.create_invite_link(description="d"), {"type": "create_invite_link", "description": "d"},
     b"INVITELINK CREATE * d"),
    (lambda c: c.list_invite_links(), ["list_invite_links"], b"INVITELINK LIST"),
    (lambda c: c.delete_invite_link("s1"), {"type": "delete_invite_link", "share_id": "s1"}, b"INVITELINK DELETE s1"),
    (lambda c: c.redeem_invite_code("c0de"), {"type": "redeem_invite_code", "code": "c0de"}, b"INVITECODE c0de"),
    (lambda c: c.generate_token("files"), {"type": "generate_token", "service": "files"}, b"TOKEN GENERATE files"),
    (lambda c: c.watch_nicks(["Mia", "bob"]), {"type": "watch_nicks", "nicks": ["Mia", "bob"]},
     b"MONITOR + Mia,bob"),
    (lambda c: c.unwatch_nicks(["Mia"]), {"type": "unwatch_nicks", "nicks": ["Mia"]}, b"MONITOR - Mia"),
    (lambda c: c.send_voice_signal("#a", {"type": "mic", "state": "off"}),
     {"type": "send_voice_signal", "channel": "#a", "signal": {"type": "mic", "state": "off"}},
     b'@+vantaweb/rtc={"type":"mic","state":"off"} TAGMSG #a'),
    (lambda c: c.send_voice_signal("#a", '["join", "#v"]'), ["send_voice_signal", "#a", ["join", "#v"]],
     b'@+vantaweb/rtc={"type":"join","channel":"#v"} TAGMSG #a'),
    (lambda c: c.quit("later"), {"type": "quit", "reason": "later"}, b"QUIT later"),
    (lambda c: c.send_raw_line("PRIVMSG #a :hi"), {"type": "send_raw_line", "line": "PRIVMSG #a :hi"},
     b"PRIVMSG #a hi"),
]


@pytest.mark.parametrize("typed, as_json, line", BOTH_ROADS)
def test_typed_method_and_command_send_the_same_line(typed, as_json, line):
    import json

    for road in (typed, lambda c: c.command(as_json), lambda c: c.command(json.dumps(as_json))):
        client = Client("me")
        assert road(client) is None
        assert drain(client) == [line + b"\r\n"]


def test_labels_and_local_echo_follow_the_capabilities():
    client = registered("labeled-response", "echo-message")
    client.send_message("#a", "hi")
    client.watch_nicks(["bob"])
    client.command({"type": "whois", "nick": "bob"})
    assert drain(client) == [b"@label=l1 PRIVMSG #a hi\r\n", b"MONITOR + bob\r\n", b"@label=l2 WHOIS bob\r\n"]
    assert client.poll_events() == []  # the server echoes

    client = registered()
    client.handle_bytes(b":me!u@h JOIN #a\r\n")
    client.poll_events()
    client.send_message("#a", "hi\r\nthere")
    assert drain(client)[-1] == b"PRIVMSG #a :hi  there\r\n"
    assert [e["change"]["type"] for e in client.poll_events()] == ["message_added"]
    stored = client.model()["channels"]["#a"]["log"]["messages"]
    assert [(m["sender"], m["text"], m["own"]) for m in stored] == [("me", "hi  there", True)]


# The fields of the commands below in declared order, for their array form.
FIELD_ORDER = {
    "join": ("channel", "key"), "part": ("channel", "reason"), "send_message": ("target", "text"),
    "send_notice": ("target", "text"), "send_action": ("target", "text"), "set_topic": ("channel", "topic"),
    "redact_message": ("target", "msgid", "reason"), "mark_read": ("target", "at_ms"),
    "fetch_history": ("target", "before_msgid", "limit"), "set_metadata": ("key", "value"),
    "subscribe_metadata": ("keys",), "rename_channel": ("channel", "new_name", "reason"),
    "create_invite_link": ("channel", "description"), "watch_nicks": ("nicks",), "unwatch_nicks": ("nicks",),
    "set_nick": ("nick",),
}


def middle(field, shown):
    return f"invalid {field}: {shown} cannot be a middle parameter"


# (typed call, the same command as JSON, the ValueError text (str) or the line sent (bytes)).
# A field before the last parameter must read back as that one parameter, a watched nick as
# one item of its list; the fields written last are sent as they are.
FIELD_CHECKS = [
    (lambda c: c.join("#a :evil", "k"), {"type": "join", "channel": "#a :evil", "key": "k"},
     middle("channel", '"#a :evil"')),
    (lambda c: c.join("#a b", "k"), {"type": "join", "channel": "#a b", "key": "k"}, middle("channel", '"#a b"')),
    (lambda c: c.join("", "k"), {"type": "join", "channel": "", "key": "k"}, middle("channel", '""')),
    (lambda c: c.join(":#a", "k"), {"type": "join", "channel": ":#a", "key": "k"}, middle("channel", '":#a"')),
    (lambda c: c.join("#a\r\nQUIT", "k"), {"type": "join", "channel": "#a\r\nQUIT", "key": "k"},
     middle("channel", '"#a\\r\\nQUIT"')),
    (lambda c: c.join("#a\0", "k"), {"type": "join", "channel": "#a\0", "key": "k"}, middle("channel", '"#a\\0"')),
    (lambda c: c.join("#a b"), {"type": "join", "channel": "#a b"}, b"JOIN :#a b"),
    (lambda c: c.join("#a", "k k"), {"type": "join", "channel": "#a", "key": "k k"}, b"JOIN #a :k k"),
    (lambda c: c.part("#a b", "bye"), {"type": "part", "channel": "#a b", "reason": "bye"},
     middle("channel", '"#a b"')),
    (lambda c: c.part("#a b"), {"type": "part", "channel": "#a b"}, b"PART :#a b"),
    (lambda c: c.send_message("#a :evil", "hi there"),
     {"type": "send_message", "target": "#a :evil", "text": "hi there"},
     middle("target", '"#a :evil"')),
    (lambda c: c.send_message("", "x"), {"type": "send_message", "target": "", "text": "x"}, middle("target", '""')),
    (lambda c: c.send_message("#a", ":) x"), {"type": "send_message", "target": "#a", "text": ":) x"},
     b"PRIVMSG #a ::) x"),
    (lambda c: c.send_notice("bob x", "hi"), {"type": "send_notice", "target": "bob x", "text": "hi"},
     middle("target", '"bob x"')),
    (lambda c: c.send_action('b"ob', "waves"), {"type": "send_action", "target": 'b"ob', "text": "waves"},
     b'PRIVMSG b"ob :\x01ACTION waves\x01'),
    (lambda c: c.send_action("\u00e9 \u0301", "waves"),
     {"type": "send_action", "target": "\u00e9 \u0301", "text": "waves"},
     middle("target", '"\u00e9 \\u{301}"')),
    (lambda c: c.set_topic("#a b", "t"), {"type": "set_topic", "channel": "#a b", "topic": "t"},
     middle("channel", '"#a b"')),
    (lambda c: c.set_topic("#a b"), {"type": "set_topic", "channel": "#a b"}, middle("channel", '"#a b"')),
    (lambda c: c.redact_message("#a b", "m1"), {"type": "redact_message", "target": "#a b", "msgid": "m1"},
     middle("target", '"#a b"')),
    (lambda c: c.redact_message("#a", "m 1", "spam"), {"type": "redact_message", "target": "#a", "msgid": "m 1",
                                                       "reason": "spam"}, middle("msgid", '"m 1"')),
    (lambda c: c.redact_message("#a", "m 1"), {"type": "redact_message", "target": "#a", "msgid": "m 1"},
     b"REDACT #a :m 1"),
    (lambda c: c.mark_read(":x", 0), {"type": "mark_read", "target": ":x", "at_ms": 0}, middle("target", '":x"')),
    (lambda c: c.fetch_history("#a b"), {"type": "fetch_history", "target": "#a b", "limit": 50},
     middle("target", '"#a b"')),
    (lambda c: c.fetch_history("#a", "x y"), {"type": "fetch_history", "target": "#a", "before_msgid": "x y",
                                              "limit": 50}, middle("before_msgid", '"x y"')),
    (lambda c: c.fetch_history("#a", ":x"), {"type": "fetch_history", "target": "#a", "before_msgid": ":x",
                                             "limit": 50}, b"CHATHISTORY BEFORE #a msgid=:x 50"),
    (lambda c: c.set_metadata("a b", "v"), {"type": "set_metadata", "key": "a b", "value": "v"},
     middle("key", '"a b"')),
    (lambda c: c.set_metadata("a b"), {"type": "set_metadata", "key": "a b"}, b"METADATA * SET :a b"),
    (lambda c: c.subscribe_metadata(["a", "b c", "d"]), {"type": "subscribe_metadata", "keys": ["a", "b c", "d"]},
     middle("keys", '"b c"')),
    # The last key too: every key is stored, and a reconnect resends them all on one line.
    (lambda c: c.subscribe_metadata(["a", "b c"]), {"type": "subscribe_metadata", "keys": ["a", "b c"]},
     middle("keys", '"b c"')),
    (lambda c: c.subscribe_metadata([":a"]), {"type": "subscribe_metadata", "keys": [":a"]},
     middle("keys", '":a"')),
    (lambda c: c.subscribe_metadata(["", "a"]), {"type": "subscribe_metadata", "keys": ["", "a"]},
     middle("keys", '""')),
    (lambda c: c.subscribe_metadata(["a", "b"]), {"type": "subscribe_metadata", "keys": ["a", "b"]},
     b"METADATA * SUB a b"),
    (lambda c: c.rename_channel("#a b", "#c"), {"type": "rename_channel", "channel": "#a b", "new_name": "#c"},
     middle("channel", '"#a b"')),
    (lambda c: c.rename_channel("#a", "#b c", "tidier"), {"type": "rename_channel", "channel": "#a", "new_name": "#b c",
                                                          "reason": "tidier"}, middle("new_name", '"#b c"')),
    (lambda c: c.rename_channel("#a", "#b c"), {"type": "rename_channel", "channel": "#a", "new_name": "#b c"},
     b"RENAME #a :#b c"),
    (lambda c: c.create_invite_link("#a b", "d"), {"type": "create_invite_link", "channel": "#a b", "description": "d"},
     middle("channel", '"#a b"')),
    (lambda c: c.create_invite_link("#a b"), {"type": "create_invite_link", "channel": "#a b"},
     b"INVITELINK CREATE :#a b"),
    (lambda c: c.watch_nicks(["ok", "a,b"]), {"type": "watch_nicks", "nicks": ["ok", "a,b"]},
     'invalid nicks: "a,b" cannot be a list item'),
    (lambda c: c.watch_nicks([""]), {"type": "watch_nicks", "nicks": [""]}, 'invalid nicks: "" cannot be a list item'),
    (lambda c: c.watch_nicks(["a b"]), {"type": "watch_nicks", "nicks": ["a b"]},
     'invalid nicks: "a b" cannot be a list item'),
    (lambda c: c.unwatch_nicks(("a\nb",)), {"type": "unwatch_nicks", "nicks": ["a\nb"]},
     'invalid nicks: "a\\nb" cannot be a list item'),
    (lambda c: c.set_nick("a b"), {"type": "set_nick", "nick": "a b"}, b"NICK :a b"),
]


@pytest.mark.parametrize("typed, as_json, outcome", FIELD_CHECKS)
def test_fields_that_would_reshape_the_line_are_refused_on_every_road(typed, as_json, outcome):
    import json

    as_array = [as_json["type"]] + [as_json.get(f) for f in FIELD_ORDER[as_json["type"]]]
    roads = (typed, lambda c: c.command(as_json), lambda c: c.command(as_array),
             lambda c: c.command(json.dumps(as_json)))
    for road in roads:
        client = Client("me")
        if isinstance(outcome, bytes):
            road(client)
            assert drain(client) == [outcome + b"\r\n"]
            continue
        with pytest.raises(ValueError) as info:
            road(client)
        assert str(info.value) == outcome
        assert getattr(info.value, "__notes__", []) == []
        assert drain(client) == [] and client.poll_events() == []


def test_a_refused_command_leaves_no_trace():
    client = registered("labeled-response")  # labels used, and a local echo for chat
    client.handle_bytes(b":me!u@h JOIN #a\r\n:me!u@h JOIN #k\r\n")
    client.join("#k", "old")
    client.subscribe_metadata(["avatar"])
    assert drain(client)[-2:] == [b"@label=l1 JOIN #k old\r\n", b"@label=l2 METADATA * SUB avatar\r\n"]
    client.poll_events()
    before = client.model()
    refused = [
        lambda c: c.send_message("#a :evil", "hi there"),
        lambda c: c.command(["send_action", "", "waves"]),
        lambda c: c.join("#k x", "new"),
        lambda c: c.command({"type": "subscribe_metadata", "keys": ["new key", "other"]}),
        lambda c: c.watch_nicks(["carol", "a,b"]),
        lambda c: c.command('{"type": "redact_message", "target": "#a", "msgid": "m 1", "reason": "spam"}'),
    ]
    for call in refused:
        with pytest.raises(ValueError):
            call(client)
    assert drain(client) == [] and client.poll_events() == []
    assert client.model() == before

    # No label was used, and the stored key, metadata keys and watch list are as they were.
    client.whois("bob")
    assert drain(client) == [b"@label=l3 WHOIS bob\r\n"]
    client.handle_disconnected()
    client.handle_connected()
    client.handle_bytes(b"CAP * LS :\r\n:srv 001 me :Welcome\r\n")
    assert drain(client)[4:] == [b"METADATA * SUB avatar\r\n", b"JOIN #a\r\n", b"JOIN #k old\r\n"]


class Index:
    def __index__(self):
        return 7


def test_accepted_argument_forms():
    client = Client("me")
    client.join("#a", None)
    client.join("#a", key="")
    client.mark_read("#a", True)
    client.mark_read("#a", 18446744073709551615)
    client.fetch_history("#a", None, Index())
    client.fetch_history("#a", limit=0)
    client.watch_nicks(b"")
    client.create_invite_link()
    client.set_away(message=None)
    assert drain(client) == [
        b"JOIN #a\r\n",
        b"JOIN #a :\r\n",
        b"MARKREAD #a timestamp=1970-01-01T00:00:00.001Z\r\n",
        b"MARKREAD #a timestamp=584556019-04-03T14:25:51.615Z\r\n",
        b"CHATHISTORY LATEST #a * 7\r\n",
        b"CHATHISTORY LATEST #a * 0\r\n",
        b"INVITELINK CREATE\r\n",
        b"AWAY\r\n",
    ]


def gen():
    yield "a"


# (call, exception type, message or None when the interpreter words it, parameter noted)
ARGUMENT_ERRORS = [
    (lambda c: c.whois(None), TypeError, "'None' is not an instance of 'str'", "nick"),
    (lambda c: c.send_message(1, 2), TypeError, "'int' object is not an instance of 'str'", "target"),
    (lambda c: c.send_message("#a", 2), TypeError, "'int' object is not an instance of 'str'", "text"),
    (lambda c: c.join("#a", key=5), TypeError, "'int' object is not an instance of 'str'", "key"),
    (lambda c: c.send_raw_line("\ud800"), UnicodeEncodeError, None, "line"),
    (lambda c: c.mark_read("#a", -1), OverflowError, None, "at_ms"),
    (lambda c: c.mark_read("#a", 2**64), OverflowError, None, "at_ms"),
    (lambda c: c.mark_read("#a", 1.5), TypeError, None, "at_ms"),
    (lambda c: c.fetch_history("#a", limit=65536), OverflowError, "out of range integral type conversion attempted",
     "limit"),
    (lambda c: c.fetch_history("#a", limit=-1), OverflowError, "out of range integral type conversion attempted",
     "limit"),
    (lambda c: c.fetch_history("#a", limit=None), TypeError, None, "limit"),
    (lambda c: c.fetch_history("#a", limit=2.0), TypeError, None, "limit"),
    (lambda c: c.watch_nicks("alpha"), TypeError, "Can't extract `str` to `Vec`", "nicks"),
    (lambda c: c.watch_nicks({"a"}), TypeError, "'set' object is not an instance of 'Sequence'", "nicks"),
    (lambda c: c.watch_nicks(gen()), TypeError, "'generator' object is not an instance of 'Sequence'", "nicks"),
    (lambda c: c.unwatch_nicks(("a", 1)), TypeError, "'int' object is not an instance of 'str'", "nicks"),
    (lambda c: c.subscribe_metadata(b"x"), TypeError, "'int' object is not an instance of 'str'", "keys"),
    (lambda c: c.set_typing("bob", 2), TypeError, "'int' object is not an instance of 'str'", "state"),
    # Binding errors carry no note.
    (lambda c: c.send_message("#a"), TypeError, "Client.send_message() missing 1 required positional argument: 'text'",
     None),
    (lambda c: c.add_reaction(), TypeError,
     "Client.add_reaction() missing 3 required positional arguments: 'target', 'msgid', and 'emoji'", None),
    (lambda c: c.join("#a", None, 1), TypeError, "Client.join() takes from 1 to 2 positional arguments but 3 were given",
     None),
    (lambda c: c.set_away(1, 2), TypeError, "Client.set_away() takes from 0 to 1 positional arguments but 2 were given",
     None),
    (lambda c: c.join("#a", channel="#b"), TypeError, "Client.join() got multiple values for argument 'channel'", None),
    (lambda c: c.join(chan="#a"), TypeError, "Client.join() got an unexpected keyword argument 'chan'", None),
    (lambda c: c.command(), TypeError, "Client.command() missing 1 required positional argument: 'command'", None),
    (lambda c: c.list_invite_links(1), TypeError, None, None),
    # The typing word and the readers raise ValueError without a note.
    (lambda c: c.set_typing("bob", "Paused"), ValueError,
     'invalid typing state: "Paused", expected active, paused or done', None),
    (lambda c: c.set_typing("bob", ""), ValueError, 'invalid typing state: "", expected active, paused or done', None),
    (lambda c: c.set_typing("bob", 'a"\n\u0301\x07'), ValueError,
     'invalid typing state: "a\\"\\n\\u{301}\\u{7}", expected active, paused or done', None),
    (lambda c: c.command("{"), ValueError, "invalid command: EOF while parsing an object at line 1 column 1", None),
    (lambda c: c.command({"type": "join"}), ValueError, "invalid command: missing field `channel`", None),
    (lambda c: c.send_voice_signal(1, {}), TypeError, "'int' object is not an instance of 'str'", "channel"),
    (lambda c: c.send_voice_signal("#a", object()), TypeError, "Object of type object is not JSON serializable", None),
    (lambda c: c.send_voice_signal("#a", {"type": 0, "channel": "#a"}), ValueError,
     "invalid voice signal: invalid type: integer `0`, expected variant identifier at line 1 column 10", None),
    (lambda c: c.send_voice_signal("#a", {"type": "join"}), ValueError,
     "invalid voice signal: missing field `channel`", None),
    (lambda c: c.command(object()), TypeError, "Object of type object is not JSON serializable", None),
]


@pytest.mark.parametrize("call, kind, message, parameter", ARGUMENT_ERRORS)
def test_argument_errors(call, kind, message, parameter):
    client = Client("me")
    with pytest.raises(BaseException) as info:
        call(client)
    exc = info.value
    assert type(exc) is kind
    if message is not None:
        assert str(exc) == message
    assert getattr(exc, "__notes__", []) == ([f"while processing '{parameter}'"] if parameter else [])
    # Nothing reached the engine, and the client is free for the next call.
    assert drain(client) == [] and client.poll_events() == []
    client.whois("bob")
    assert drain(client) == [b"WHOIS bob\r\n"]


def test_a_call_from_inside_a_conversion_finds_the_client_taken():
    client = Client("me")
    seen = []

    class Nicks:
        def __len__(self):
            return 1

        def __getitem__(self, i):
            if i == 0:
                for inner in (client.model, lambda: client.whois("x")):
                    try:
                        inner()
                    except RuntimeError as e:
                        seen.append(str(e))
                return "a"
            raise IndexError

    client.watch_nicks(Nicks())
    assert seen == ["Already mutably borrowed", "Already borrowed"]
    assert drain(client) == [b"MONITOR + a\r\n"]


HOSTILE = "a\r\nQUIT :x\n\0b \r"


def one_line_calls():
    """Hostile text in every field the line writes last or in a tag."""
    h = HOSTILE
    return [
        lambda c: c.join("#a", h), lambda c: c.join(h), lambda c: c.part("#a", h), lambda c: c.part(h),
        lambda c: c.send_message("#a", h), lambda c: c.send_notice("#a", h), lambda c: c.send_action("#a", h),
        lambda c: c.set_nick(h), lambda c: c.set_topic("#a", h), lambda c: c.set_away(h),
        lambda c: c.set_typing(h, "active"), lambda c: c.add_reaction(h, h, h), lambda c: c.remove_reaction(h, h, h),
        lambda c: c.redact_message("#a", "m1", h), lambda c: c.redact_message("#a", h),
        lambda c: c.set_metadata("k", h), lambda c: c.set_metadata(h), lambda c: c.whois(h),
        lambda c: c.rename_channel("#a", "#b", h), lambda c: c.rename_channel("#a", h),
        lambda c: c.create_invite_link("#a", h), lambda c: c.create_invite_link(h),
        lambda c: c.create_invite_link(description=h), lambda c: c.delete_invite_link(h),
        lambda c: c.redeem_invite_code(h), lambda c: c.generate_token(h),
        lambda c: c.send_voice_signal(h, {"type": "offer", "sdp": h}),
        lambda c: c.quit(h), lambda c: c.send_raw_line("@+t=" + h + " PRIVMSG #a :" + h),
        lambda c: c.command({"type": "send_message", "target": "#a", "text": h}),
    ]


def middle_calls():
    """The same text in a field that lands before the last parameter, or in a watch list."""
    h = HOSTILE
    return [
        lambda c: c.join(h, h), lambda c: c.part(h, h), lambda c: c.send_message(h, h), lambda c: c.send_notice(h, h),
        lambda c: c.send_action(h, h), lambda c: c.set_topic(h), lambda c: c.redact_message(h, "m1"),
        lambda c: c.redact_message("#a", h, h), lambda c: c.mark_read(h, 1), lambda c: c.fetch_history(h),
        lambda c: c.fetch_history("#a", h), lambda c: c.set_metadata(h, h), lambda c: c.subscribe_metadata(["k", h]),
        lambda c: c.rename_channel(h, "#b"), lambda c: c.rename_channel("#a", h, h),
        lambda c: c.create_invite_link(h, h), lambda c: c.watch_nicks([h]), lambda c: c.unwatch_nicks([h]),
        lambda c: c.command({"type": "send_message", "target": h, "text": h}),
    ]


def test_no_call_puts_more_than_one_line_on_the_wire():
    for caps in ((), ("labeled-response", "echo-message")):
        client = registered(*caps)
        for call in one_line_calls():
            call(client)
            chunks = drain(client)
            assert len(chunks) == 1, chunks
            body = chunks[0][:-2]
            assert chunks[0].endswith(b"\r\n") and not any(b in body for b in (b"\r", b"\n", b"\0")), chunks
        for call in middle_calls():
            with pytest.raises(ValueError):
                call(client)
            assert drain(client) == []


def test_commands_wait_for_registration_and_raw_lines_do_not():
    client = Client("me", username="u", realname="R")
    client.join("#early")
    client.send_raw_line("WEBIRC pw gw host 192.0.2.1")
    client.handle_connected()
    assert drain(client) == [b"WEBIRC pw gw host 192.0.2.1\r\n", b"CAP LS 302\r\n", b"NICK me\r\n",
                             b"USER u 0 * R\r\n"]
    client.handle_bytes(b"CAP * LS :\r\n")
    client.command({"type": "set_away", "message": "back soon"})
    client.send_raw_line("CAP LIST")
    client.handle_bytes(b"PING :p\r\n")
    assert drain(client) == [b"CAP END\r\n", b"CAP LIST\r\n", b"PONG p\r\n"]
    client.handle_bytes(b":srv 001 me :Welcome\r\n")
    assert drain(client) == [b"JOIN #early\r\n", b"AWAY :back soon\r\n"]

    # After a drop, the host commands it had not taken and those it gave while down follow the
    # rejoin; the engine's own lines (the WHO after a join) end with the link they were made on.
    client.handle_bytes(b":me!u@h JOIN #early\r\n")
    client.whois("bob")
    client.handle_disconnected()
    client.part("#early")
    client.handle_connected()
    assert drain(client) == [b"CAP LS 302\r\n", b"NICK me\r\n", b"USER u 0 * R\r\n"]
    client.handle_bytes(b"CAP * LS :\r\n:srv 001 me :Welcome\r\n")
    assert drain(client) == [b"CAP END\r\n", b"JOIN #early\r\n", b"WHOIS bob\r\n", b"PART #early\r\n"]


def test_nick_and_quit_finish_or_leave_a_stalled_registration():
    for leave in (False, True):
        client = Client("n")
        client.tick(0, 0)
        client.handle_connected()
        client.handle_bytes(b"CAP * LS :multi-prefix\r\nCAP * ACK :multi-prefix\r\n")
        client.handle_bytes(b":srv 433 * x :Nickname is already in use\r\n" * 40)  # the fallback gives up
        drain(client)
        assert client.poll_events()[-1]["type"] == "raw_line"
        if leave:
            client.quit("bye")
            assert drain(client) == [b"QUIT bye\r\n"]
        else:
            client.set_nick("freshnick")
            assert drain(client) == [b"NICK freshnick\r\n"]
            client.handle_bytes(b":srv 001 freshnick :Welcome\r\n")
            assert client.poll_events() == [{"type": "registered", "nick": "freshnick"}]

    # Given before connecting, a nick waits for 001: the burst's NICK would override it.
    client = Client("n")
    client.set_nick("later")
    client.handle_connected()
    assert drain(client) == [b"CAP LS 302\r\n", b"NICK n\r\n", b"USER n 0 * n\r\n"]
    client.handle_bytes(b"CAP * LS :\r\n:srv 001 n :Welcome\r\n")
    assert drain(client) == [b"CAP END\r\n", b"NICK later\r\n"]


def test_a_line_not_taken_when_its_link_drops_goes_out_without_its_label():
    client = registered("labeled-response", "message-tags")
    client.tick(1000, 0)
    client.set_away("brb")
    client.send_raw_line("@label=mine;+x=1 TAGMSG #a")
    client.handle_disconnected()
    client.tick(100000, 0)  # long past the 30 s a sent request would have
    assert not [e for e in client.poll_events() if e["type"] == "command_timed_out"]
    client.handle_connected()  # a server without labeled-response or message-tags
    assert drain(client) == [b"@+x=1 TAGMSG #a\r\n", b"CAP LS 302\r\n", b"NICK me\r\n", b"USER u 0 * R\r\n"]
    client.handle_bytes(b"CAP * LS :\r\n:srv 001 me :Welcome\r\n")
    assert drain(client) == [b"CAP END\r\n", b"AWAY brb\r\n"]
    client.tick(200000, 0)
    assert not [e for e in client.poll_events() if e["type"] == "command_timed_out"]


def test_resume_burst_rejoins_with_the_key_join_stored():
    client = registered()
    client.join("#Secret", "hunter2")
    client.join("#open")
    client.handle_bytes(b":me!u@h JOIN #Secret\r\n:me!u@h JOIN #open\r\n")
    drain(client)
    client.handle_disconnected()
    client.handle_connected()
    client.handle_bytes(b"CAP * LS :\r\n:srv 001 me :Welcome\r\n")
    lines = drain(client)
    assert lines[-2:] == [b"JOIN #open\r\n", b"JOIN #Secret hunter2\r\n"]

    # A later join without a key forgets it.
    client.join("#SECRET")
    client.handle_disconnected()
    client.handle_connected()
    client.handle_bytes(b"CAP * LS :\r\n:srv 001 me :Welcome\r\n")
    assert b"JOIN #Secret\r\n" in drain(client)
