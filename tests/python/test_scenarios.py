"""Whole sessions scripted through the Python module the way a bot drives it: server lines in,
exact lines, events and snapshots out."""
import base64

import pytest

from tessel_client import Client

T0 = 1772442000000  # 2026-03-02T09:00:00Z


def b64(text):
    return base64.b64encode(text.encode() if isinstance(text, str) else text).decode()


class Session:
    """A Client plus the two clocks, with lines written as text."""

    def __init__(self, nick="me", **kwargs):
        self.client = Client(nick, **kwargs)
        self.mono = 0
        self.client.tick(0, T0)

    def feed(self, *lines):
        self.client.handle_bytes("".join(line + "\r\n" for line in lines).encode())

    def sent(self):
        out = []
        while (chunk := self.client.poll_transmit()) is not None:
            assert chunk.endswith(b"\r\n") and chunk.count(b"\n") == 1
            out.append(chunk[:-2].decode())
        return out

    def events(self):
        return self.client.poll_events()

    def changes(self):
        """The changes of the queued events; any other event fails the test."""
        events = self.events()
        assert all(e["type"] == "model_changed" for e in events), events
        return [e["change"] for e in events]

    def model(self):
        return self.client.model()

    def advance(self, ms, unix=0):
        self.mono += ms
        self.client.tick(self.mono, unix)

    def register(self, caps="", isupport=(), nick="me"):
        """Connect, acknowledge every offered capability, and take 001 and one 005 line."""
        self.client.handle_connected()
        self.sent()
        self.feed(f":srv CAP * LS :{caps}")
        lines = self.sent()
        requested = [line.split(" ", 2)[2] for line in lines if line.startswith("CAP REQ ")]
        if requested:
            self.feed(f":srv CAP {nick} ACK :{' '.join(requested)}")
            lines = self.sent()
        assert lines == ["CAP END"]
        self.feed(f":srv 001 {nick} :Welcome")
        if isupport:
            self.feed(f":srv 005 {nick} {' '.join(isupport)} :are supported by this server")
        self.sent()
        self.events()
        return requested


def added(target, time_ms, seq):
    return {"type": "message_added", "target": target, "key": {"time_ms": time_ms, "seq": seq}}


def members_changed(channel):
    return {"type": "channel_members_changed", "channel": channel}


def test_registration_with_multiline_listing_and_sasl_plain():
    s = Session("me", username="u", realname="Real Name", sasl={"mechanism": "plain", "username": "acct", "password": "pw"})
    s.client.handle_connected()
    assert s.sent() == ["CAP LS 302", "NICK me", "USER u 0 * :Real Name"]
    assert s.client.poll_timeout() == 30000

    # Nothing is requested until the listing's last line; then one REQ per wanted name, in the engine's order.
    s.feed(":srv CAP * LS * :sasl=plain,EXTERNAL multi-prefix znc.in/playback x-unknown")
    assert s.sent() == []
    s.feed(":srv CAP * LS :echo-message server-time labeled-response message-tags batch draft/chathistory")
    assert s.sent() == [
        "CAP REQ message-tags", "CAP REQ server-time", "CAP REQ batch", "CAP REQ labeled-response",
        "CAP REQ echo-message", "CAP REQ multi-prefix", "CAP REQ draft/chathistory", "CAP REQ sasl",
        "CAP REQ znc.in/playback",
    ]
    # Negotiation waits for every answer; a NAK counts as one.
    s.feed(":srv CAP me ACK :message-tags server-time batch labeled-response echo-message sasl")
    assert s.sent() == []
    s.feed(":srv CAP me NAK :znc.in/playback", ":srv CAP me ack :multi-prefix draft/chathistory")
    assert s.sent() == ["AUTHENTICATE PLAIN"]
    s.feed("AUTHENTICATE +")
    assert s.sent() == ["AUTHENTICATE " + b64("\0acct\0pw")]
    s.feed(":srv 900 me me!u@h acct :You are now logged in as acct", ":srv 903 me :SASL authentication successful")
    assert s.sent() == ["CAP END"]
    s.feed(":srv 903 me :again")  # a second success changes nothing
    assert s.sent() == []
    assert s.events() == [
        {"type": "capabilities_acknowledged",
         "names": ["message-tags", "server-time", "batch", "labeled-response", "echo-message", "sasl"]},
        {"type": "capabilities_acknowledged", "names": ["multi-prefix", "draft/chathistory"]},
        {"type": "logged_in", "account": "acct"},
    ]

    s.feed(":srv 001 me :Welcome", ":srv 005 me PREFIX=(qov)~@+ CASEMAPPING=ascii NETWORK=Ex\\x20Net -FOO :are supported")
    assert s.events() == [
        {"type": "registered", "nick": "me"},
        {"type": "isupport_token", "token": "PREFIX", "value": "(qov)~@+"},
        {"type": "isupport_token", "token": "CASEMAPPING", "value": "ascii"},
        {"type": "isupport_token", "token": "NETWORK", "value": "Ex Net"},
        {"type": "isupport_token", "token": "FOO", "value": None},
    ]
    assert s.sent() == []  # nothing to resume on a first connection

    # Capabilities may come and go after registration; negotiation is not reopened.
    s.feed(":srv CAP me NEW :draft/typing batch x-other", ":srv CAP me DEL :echo-message")
    # A refused capability is still on offer, so a NEW asks for it once more.
    assert s.sent() == ["CAP REQ draft/typing", "CAP REQ znc.in/playback"]
    s.feed(":srv CAP me ACK draft/typing", ":srv CAP me NAK znc.in/playback")
    assert s.sent() == []
    assert s.events() == [{"type": "capabilities_acknowledged", "names": ["draft/typing"]}]


SCRAM_SERVER_FIRST = "r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,s=W22ZaJ0SNY7soEsUEjb6gQ==,i=4096"
SCRAM_CLIENT_FINAL = ("c=biws,r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,"
                      "p=dHzbZapWIk4jUhN+Ute9ytag9zjfMHgsqmmiz7AndVQ=")
SCRAM_SERVER_FINAL = "v=6rriTRBi23WpRR/wtup+mMhUZUn/dB5nLTJRsjl95G4="


@pytest.mark.parametrize("server_final, outcome", [
    (SCRAM_SERVER_FINAL, None),
    ("v=" + b64(bytes(32)), "server_not_verified"),
])
def test_scram_login_follows_the_rfc_7677_exchange(server_final, outcome):
    sasl = ["scram", "user", "pencil", "rOprNGfwEbeRWgbNEkqO"]
    s = Session("me", sasl=sasl)
    s.client.handle_connected()
    s.sent()
    s.feed(":srv CAP * LS :sasl=SCRAM-SHA-256")
    assert s.sent() == ["CAP REQ sasl"]
    s.feed(":srv CAP * ACK sasl")
    assert s.sent() == ["AUTHENTICATE SCRAM-SHA-256"]
    s.feed("AUTHENTICATE +")
    assert s.sent() == ["AUTHENTICATE biwsbj11c2VyLHI9ck9wck5HZndFYmVSV2diTkVrcU8="]
    s.feed("AUTHENTICATE " + b64(SCRAM_SERVER_FIRST))
    assert s.sent() == ["AUTHENTICATE " + b64(SCRAM_CLIENT_FINAL)]
    s.feed("AUTHENTICATE " + b64(server_final))
    events = s.events()
    if outcome is None:
        assert s.sent() == ["AUTHENTICATE +"]
        s.feed(":srv 900 me me!u@h user :Logged in", ":srv 903 me :SASL authentication successful")
        assert s.sent() == ["CAP END"]
        events += s.events()
        assert events == [{"type": "capabilities_acknowledged", "names": ["sasl"]},
                          {"type": "logged_in", "account": "user"}]
    else:
        assert s.sent() == ["CAP END"]
        assert events == [{"type": "capabilities_acknowledged", "names": ["sasl"]},
                          {"type": "sasl_failed", "reason": outcome}]
        s.feed(":srv 904 me :too late")  # the exchange is over: nothing more is reported
        assert s.events() == [] and s.sent() == []

    # The next connection logs in anew, from a fresh client-first message.
    s.client.handle_disconnected()
    s.client.handle_connected()
    s.feed(":srv CAP * LS :sasl", ":srv CAP * ACK :sasl", "AUTHENTICATE +")
    assert s.sent()[-2:] == ["AUTHENTICATE SCRAM-SHA-256", "AUTHENTICATE biwsbj11c2VyLHI9ck9wck5HZndFYmVSV2diTkVrcU8="]


def test_sasl_mechanism_the_server_does_not_list():
    s = Session("me", sasl={"mechanism": "external"})
    s.client.handle_connected()
    s.sent()
    s.feed(":srv CAP * LS :sasl=PLAIN,SCRAM-SHA-256", ":srv CAP * ACK :sasl")
    assert s.sent() == ["CAP REQ sasl", "CAP END"]
    assert s.events()[-1] == {"type": "sasl_failed", "reason": "no_shared_mechanism"}


def stamp(second):
    return f"2026-03-02T09:00:{second:02d}.000Z"


def test_channel_life_and_snapshot_shape():
    s = Session("me")
    s.register("message-tags server-time echo-message multi-prefix account-tag draft/read-marker",
               isupport=["WHOX", "PREFIX=(ov)@+", "STATUSMSG=@+", "CHANTYPES=#"])

    # Own JOIN: the WHOX query goes out, unlabelled, and the channel is keyed by its rfc1459 fold.
    s.feed(":Me!u@h JOIN #Chan[1]")
    assert s.sent() == ["WHO #Chan[1] %tcuhnfar,332"]
    assert s.changes() == [{"type": "channel_joined", "channel": "#Chan[1]"}]
    s.feed(":srv 332 me #chan{1} :The topic",
           ":srv 353 me = #Chan[1] :@+Bob ann!a@h.example +carl Me",
           ":srv 366 me #Chan[1] :End of /NAMES list.",
           ":srv 354 me 332 #Chan[1] bobu bob.host Bob H@* bobacct :Bob Real",
           ":srv 354 me 332 #Chan[1] ~a a.host ann G 0 :Ann",
           ":srv 354 me 999 #Chan[1] x y zed H x :not our query")
    events = s.events()
    assert [e["type"] for e in events] == ["model_changed"] * 2 + ["raw_line"] + ["model_changed"] * 2 + ["raw_line"]
    assert events[0]["change"] == {"type": "channel_topic_changed", "channel": "#chan{1}"}
    assert events[1]["change"] == members_changed("#Chan[1]")
    assert events[2]["message"] == {"tags": [], "source": {"name": "srv", "user": None, "host": None},
                                    "command": "366", "params": ["me", "#Chan[1]", "End of /NAMES list."]}

    s.feed(f"@time={stamp(2)};msgid=zz;account=bobacct :Bob!b@h PRIVMSG #chan{{1}} :hi ME, see [me] and meh",
           f"@msgid=aa :ann!a@h NOTICE @#Chan[1] :ops only",
           f"@time={stamp(1)};msgid=mm :Me!u@h PRIVMSG #CHAN[1] :hello all",
           ":carl!c@h PRIVMSG #Chan[1] :\x01ACTION waves\x01",
           ":srv MODE #Chan[1] +o-v+k carl Bob secret")
    assert s.changes() == [
        added("#chan{1}", T0 + 2000, 0),
        added("#Chan[1]", T0 + 2000, 1),  # no server time: the clock, raised by the line before
        added("#CHAN[1]", T0 + 1000, 2),
        added("#Chan[1]", T0 + 2000, 3),
        {"type": "channel_modes_changed", "channel": "#Chan[1]"},
        members_changed("#Chan[1]"),
    ]

    snap = s.model()
    assert list(snap) == ["me", "channels", "conversations", "people", "whois", "retention", "next_seq"]
    assert snap["me"] == {"nick": "me", "account": None, "modes": "", "metadata": {}, "away": None}
    assert list(snap["channels"]) == ["#chan{1}"]
    chan = snap["channels"]["#chan{1}"]
    assert list(chan) == ["name", "topic", "topic_by", "modes", "members", "log", "unread", "mentions",
                          "metadata", "read_marker", "typing", "named_modes"]
    assert (chan["name"], chan["topic"], chan["topic_by"], chan["modes"]) == ("#Chan[1]", "The topic", None, {"k": "secret"})
    assert chan["members"] == {"ann": {"prefixes": ""}, "bob": {"prefixes": "@"}, "carl": {"prefixes": "@+"}, "me": {"prefixes": ""}}
    assert (chan["unread"], chan["mentions"]) == (3, 1)
    log = chan["log"]
    assert list(log) == ["messages", "by_msgid", "retention"] and log["retention"] == 5000
    assert [(m["key"]["seq"], m["sender"], m["text"], m["own"]) for m in log["messages"]] == [
        (2, "Me", "hello all", True), (0, "Bob", "hi ME, see [me] and meh", False),
        (1, "ann", "ops only", False), (3, "carl", "waves", False)]
    assert list(log["by_msgid"].items()) == [("aa", {"time_ms": T0 + 2000, "seq": 1}),
                                             ("mm", {"time_ms": T0 + 1000, "seq": 2}),
                                             ("zz", {"time_ms": T0 + 2000, "seq": 0})]
    first = log["messages"][1]
    assert list(first) == ["key", "msgid", "sender", "kind", "text", "account", "historical", "own",
                           "reply_to", "reactions", "link_preview", "redacted"]
    assert (first["kind"], first["account"], first["historical"]) == ({"type": "privmsg"}, "bobacct", False)
    assert log["messages"][2]["kind"] == {"type": "notice"}
    assert log["messages"][3]["kind"] == {"type": "ctcp", "command": "ACTION"}
    assert log["messages"][3]["msgid"] is None and log["messages"][3]["link_preview"] is None
    assert snap["people"]["bob"] == {"nick": "Bob", "account": "bobacct", "away": None, "bot": False, "username": "bobu",
                                     "host": "bob.host", "realname": "Bob Real", "operator": True, "metadata": {}}
    assert (snap["people"]["ann"]["away"], snap["people"]["ann"]["account"]) == ("", None)
    assert "zed" not in snap["people"]  # a WHOX reply to another query is not ours to read
    assert snap["next_seq"] == 4

    # Reactions, redaction and the read marker act on the stored messages.
    s.feed("@+draft/react=\U0001F44D;+reply=zz :ann!a@h TAGMSG #Chan[1]",
           "@+draft/react=\U0001F44D;+draft/reply=zz :Carl!c@h TAGMSG #Chan[1]",
           "@+draft/react=\U0001F44D;+reply=zz :ANN!a@h TAGMSG #Chan[1]",
           "@+draft/react=x;+reply=zz :Bob!b@h TAGMSG #Chan[1]",
           "@+draft/unreact=x;+reply=zz :bob!b@h TAGMSG #Chan[1]",
           ":Bob!b@h REDACT #Chan[1] zz :oops",
           ":srv MARKREAD #Chan[1] timestamp=" + stamp(3))
    assert s.changes() == [{"type": "message_reacted", "target": "#Chan[1]", "msgid": "zz"}] * 5 + [
        {"type": "message_redacted", "target": "#Chan[1]", "msgid": "zz"},
        {"type": "read_marker_moved", "target": "#Chan[1]"}]
    chan = s.model()["channels"]["#chan{1}"]
    first = chan["log"]["messages"][1]
    assert first["reactions"] == {"\U0001F44D": ["ann", "carl"]}
    assert first["redacted"] is True and first["text"] == "hi ME, see [me] and meh"
    assert (chan["read_marker"], chan["unread"], chan["mentions"]) == (stamp(3), 0, 0)

    # After our own nick change, "own" and mentions follow the new nick; the old one is someone else's.
    s.feed(":me!u@h NICK Neo", ":Neo!u@h PRIVMSG #Chan[1] :mine", ":me!x@y PRIVMSG #Chan[1] :neo, not me")
    assert [c["type"] for c in s.changes()] == ["nick_changed", "message_added", "message_added"]
    chan = s.model()["channels"]["#chan{1}"]
    assert [(m["sender"], m["own"]) for m in chan["log"]["messages"][-2:]] == [("Neo", True), ("me", False)]
    assert (chan["unread"], chan["mentions"]) == (1, 1)
    assert list(chan["members"]) == ["ann", "bob", "carl", "neo"]


def test_private_conversation_typing_reactions_and_redaction():
    s = Session("me")
    s.register("message-tags server-time echo-message draft/typing draft/message-redaction", isupport=["CASEMAPPING=ascii"])
    s.feed(f"@time={stamp(1)};msgid=p1 :Bob[1]!b@h PRIVMSG me :psst",
           f"@time={stamp(2)};msgid=p2 :me!u@h PRIVMSG bob[1] :yes?",  # the server's echo of our reply
           f"@time={stamp(3)} :srv.example NOTICE me :server notice")
    assert s.changes() == [added("Bob[1]", T0 + 1000, 0), added("bob[1]", T0 + 2000, 1), added("srv.example", T0 + 3000, 2)]
    convs = s.model()["conversations"]
    assert list(convs) == ["bob[1]", "srv.example"]  # ascii casemapping leaves the brackets alone
    bob = convs["bob[1]"]
    assert list(bob) == ["nick", "log", "unread", "read_marker", "typing"]
    assert (bob["nick"], bob["unread"]) == ("Bob[1]", 1)
    assert [(m["sender"], m["own"]) for m in bob["log"]["messages"]] == [("Bob[1]", False), ("me", True)]

    # Typing in private is reported under the sender; it expires on its own after six seconds.
    s.feed("@+typing=active :Bob[1]!b@h TAGMSG me")
    assert s.events() == [{"type": "typing_changed", "target": "Bob[1]", "nick": "Bob[1]", "active": True}]
    assert s.model()["conversations"]["bob[1]"]["typing"] == ["bob[1]"]
    assert s.client.poll_timeout() == 6000  # the typing timer comes before the idle timer
    s.advance(5999)
    assert s.events() == []
    s.advance(1)
    assert s.events() == [{"type": "typing_changed", "target": "bob[1]", "nick": "bob[1]", "active": False}]
    s.feed("@+typing=done :Bob[1]!b@h TAGMSG me")  # already stopped: nothing to report
    assert s.events() == []

    # The other party reacts to, and redacts, a private message: the target is our own nick.
    s.feed("@+draft/react=ok;+reply=p2 :Bob[1]!b@h TAGMSG ME",
           ":Bob[1]!b@h REDACT me p1",
           "@vantaweb/link-preview-title=T;+reply=p1 :Bob[1]!b@h TAGMSG me",
           ":srv MARKREAD bob[1] timestamp=" + stamp(2))
    assert [e["type"] for e in s.changes()] == ["message_reacted", "message_redacted", "message_added", "read_marker_moved"]
    bob = s.model()["conversations"]["bob[1]"]
    assert [(m["msgid"], m["redacted"], m["reactions"], m["link_preview"]) for m in bob["log"]["messages"]] == [
        ("p1", True, {}, {"title": "T", "snippet": None, "image": None}), ("p2", False, {"ok": ["bob[1]"]}, None)]
    assert (bob["read_marker"], bob["unread"]) == (stamp(2), 0)

    # A renamed party takes the conversation along, with a typing entry that still runs out.
    s.feed("@+typing=active :Bob[1]!b@h TAGMSG me", ":Bob[1]!b@h NICK Robert")
    assert s.events()[1:] == [{"type": "model_changed", "change": {"type": "nick_changed", "from": "Bob[1]", "to": "Robert"}}]
    convs = s.model()["conversations"]
    assert list(convs) == ["robert", "srv.example"] and convs["robert"]["nick"] == "Robert"
    assert convs["robert"]["typing"] == ["bob[1]"]
    s.advance(6000)
    assert s.events() == [{"type": "typing_changed", "target": "robert", "nick": "bob[1]", "active": False}]
    assert s.model()["conversations"]["robert"]["typing"] == []


def test_nick_collisions_and_keepalive():
    s = Session("me", alt_nicks=["me2"])
    s.client.handle_connected()
    s.sent()
    # Refused during registration: the alternatives first, then underscores.
    s.feed(":srv 433 * me :Nickname is already in use", ":srv 432 * me2 :Erroneous nickname", ":srv 433 *")
    assert s.sent() == ["NICK me2", "NICK me2_", "NICK me2__"]
    assert s.events() == [{"type": "nick_in_use", "refused": "me", "trying": "me2"},
                          {"type": "nick_in_use", "refused": "me2", "trying": "me2_"},
                          {"type": "nick_in_use", "refused": "me2_", "trying": "me2__"}]
    assert s.model()["me"]["nick"] == "me2__"
    s.feed(":srv CAP * LS :", ":srv 001 me2_ :Welcome")
    assert s.sent() == ["CAP END"]
    assert s.events() == [{"type": "registered", "nick": "me2_"}]
    # After registration a refusal is only passed on.
    s.feed(":srv 433 me2_ taken :Nickname is already in use")
    assert s.sent() == []
    assert [e["type"] for e in s.events()] == ["raw_line"]

    # A confirmed own nick change is followed by the keepalive too.
    s.feed(":ME2_!u@h NICK :Neo")
    assert s.changes() == [{"type": "nick_changed", "from": "ME2_", "to": "Neo"}]
    assert s.model()["me"]["nick"] == "Neo"

    # Idle for 30 s: PING with the own nick; no answer within 10 s: the link is dead.
    assert s.client.poll_timeout() == 30000
    s.advance(30000)
    assert s.sent() == ["PING Neo"]
    assert s.client.poll_timeout() == 40000
    s.feed(":srv PONG srv :Neo")  # any line clears the ping timeout and re-arms the idle timer
    assert s.events() == [] and s.client.poll_timeout() == 60000
    s.advance(30000)
    assert s.sent() == ["PING Neo"]
    s.feed("PING :srv")
    assert s.sent() == ["PONG srv"]
    s.advance(30000)
    assert s.sent() == ["PING Neo"]
    s.advance(9999)
    assert s.events() == []
    s.advance(1)
    assert s.events() == [{"type": "link_dead"}]
    assert s.client.poll_timeout() is None
    # The host gives up on the transport: only the reconnect timer is left.
    s.client.handle_disconnected()
    assert s.events() == [{"type": "reconnect_after", "after_ms": 2000}]
    assert s.client.poll_timeout() == s.mono + 2000


def test_history_replay_leaves_live_state_alone():
    s = Session("me")
    s.register("message-tags server-time batch draft/chathistory draft/event-playback")
    s.feed(":me!u@h JOIN #a", ":srv 353 me = #a :me @bob carl", ":srv 332 me #a :live topic")
    s.sent()
    s.events()
    s.feed(":srv BATCH +h1 chathistory #a",
           f"@batch=h1;time={stamp(1)};msgid=o1 :bob!b@h PRIVMSG #a :old news me",
           f"@batch=h1;time={stamp(2)};msgid=o2 :me!u@h PART #a :gone yesterday",
           f"@batch=h1;time={stamp(3)};msgid=o3 :op!o@h KICK #a me :and kicked",
           f"@batch=h1;time={stamp(4)};msgid=o4 :me!u@h NICK :OldMe",
           f"@batch=h1;time={stamp(5)};msgid=o5 :carl!c@h QUIT :old quit",
           f"@batch=h1;time={stamp(6)};msgid=o6 :dave!d@h JOIN #a",
           f"@batch=h1;time={stamp(7)} :op!o@h TOPIC #a :old topic",
           f"@batch=h1;time={stamp(8)} :op!o@h MODE #a +o carl",
           "@batch=h1 PING :inside",  # connection-level lines are handled at once, batch or not
           f"@batch=h1;time={stamp(9)};msgid=o1 :bob!b@h PRIVMSG #a :old news me")  # repeated in the batch
    assert s.sent() == ["PONG inside"]
    assert s.events() == []  # held until the batch closes
    s.feed(":srv BATCH -h1")
    events = s.events()
    assert events[0] == {"type": "model_changed", "change": added("#a", T0 + 1000, 0)}
    assert [e["type"] for e in events[1:]] == ["raw_line"] * 7
    assert [e["message"]["command"] for e in events[1:]] == ["PART", "KICK", "NICK", "QUIT", "JOIN", "TOPIC", "MODE"]
    snap = s.model()
    chan = snap["channels"]["#a"]
    assert snap["me"]["nick"] == "me"
    assert chan["topic"] == "live topic" and chan["modes"] == {}
    assert chan["members"] == {"bob": {"prefixes": "@"}, "carl": {"prefixes": ""}, "me": {"prefixes": ""}}
    assert (chan["unread"], chan["mentions"]) == (0, 0)
    assert [(m["msgid"], m["historical"]) for m in chan["log"]["messages"]] == [("o1", True)]

    # A live message after the replay counts again; a closed batch's tag no longer holds anything.
    s.feed(f"@batch=h1;time={stamp(10)};msgid=n1 :bob!b@h PRIVMSG #a :me: fresh")
    assert s.changes() == [added("#a", T0 + 10000, 1)]  # the repeat inside the batch took no number
    chan = s.model()["channels"]["#a"]
    assert (chan["unread"], chan["mentions"]) == (1, 1)
    assert chan["log"]["messages"][-1]["historical"] is False


def test_multiline_batch_inside_history_and_live():
    s = Session("me")
    s.register("message-tags batch draft/multiline draft/chathistory")
    s.feed(":me!u@h JOIN #a")
    s.sent()
    s.events()
    s.feed(":srv BATCH +outer chathistory #a",
           "@batch=outer :srv BATCH +ml draft/multiline #a",
           "@batch=ml;msgid=x1 :bob!b@h PRIVMSG #a :hello",
           "@batch=ml :bob!b@h PRIVMSG #a :world",
           "@batch=ml;draft/multiline-concat :bob!b@h PRIVMSG #a :!",
           ":srv BATCH -ml")
    assert [c["type"] for c in s.changes()] == ["message_added"]  # applied when the inner batch closes
    s.feed(":srv BATCH -outer")
    assert s.events() == []
    s.feed(":srv BATCH +ml2 draft/multiline #a",
           "@batch=ml2;msgid=x2 :carl!c@h PRIVMSG #a :one",
           "@batch=ml2 :carl!c@h privmsg #a :two",
           "@batch=ml2 :carl!c@h NOTICE #a :three",
           ":srv BATCH -ml2")
    assert len(s.changes()) == 2
    messages = s.model()["channels"]["#a"]["log"]["messages"]
    assert [(m["msgid"], m["text"], m["historical"], m["kind"]["type"]) for m in messages] == [
        ("x1", "hello\nworld!", True, "privmsg"), ("x2", "one\ntwo", False, "privmsg"), (None, "three", False, "notice")]
    assert s.model()["channels"]["#a"]["unread"] == 2


def test_netsplit_whois_and_monitor():
    s = Session("me")
    s.register("monitor extended-monitor", isupport=["MONITOR=2"])
    s.feed(":me!u@h JOIN #a", ":me!u@h JOIN #b",
           ":srv 353 me = #a :me @ann bob carl", ":srv 353 me = #b :me Bob dave")
    assert s.sent() == ["WHO #a", "WHO #b"]
    s.events()

    # A WHOIS of bob is still arriving when someone else parts: the half-built record survives.
    s.feed(":srv 311 me BOB bu bob.host * :Bob Real",
           ":srv 319 me bob :@#a #b",
           ":srv 317 me bob 42 1772441000 :seconds idle, signon time",
           ":dave!d@h PART #b :bye",
           ":srv 671 me bob :is using a secure connection",
           ":srv 318 me Bob :End of /WHOIS list.")
    assert s.changes() == [members_changed("#b"), {"type": "whois_received", "nick": "Bob"}]
    assert s.model()["whois"] == {"bob": {
        "nick": "BOB", "username": "bu", "host": "bob.host", "realname": "Bob Real", "server": None,
        "server_info": None, "operator": None, "idle_secs": 42, "signon_ms": 1772441000000, "channels": ["@#a", "#b"],
        "account": None, "actual_host": None, "secure": True, "complete": True}}
    s.feed(":srv 318 me nobody :End of /WHOIS list.")  # nothing was asked about nobody
    assert [e["type"] for e in s.events()] == ["raw_line"]

    # Netsplit: QUITs prune the members, then the people and WHOIS records nobody shares any more.
    s.feed(":bob!b@h QUIT :*.net *.split", ":carl!c@h QUIT :*.net *.split", ":zed!z@h QUIT :*.net *.split")
    events = s.events()
    assert [e.get("change") for e in events[:3]] == [members_changed("#a"), members_changed("#b"), members_changed("#a")]
    assert [e["type"] for e in events[3:]] == ["raw_line"]  # zed shared nothing with us
    snap = s.model()
    assert {k: list(c["members"]) for k, c in snap["channels"].items()} == {"#a": ["ann", "me"], "#b": ["me"]}
    assert list(snap["people"]) == ["ann", "me"] and snap["whois"] == {}

    # MONITOR replies: one event per target; an unasked nick joins the watch list.
    s.feed(":srv 730 me :Carol!c@h,dave,,Eve", ":srv 731 me :dave", ":srv 730 me")
    assert s.events() == [{"type": "presence_changed", "nick": "Carol", "online": True},
                          {"type": "presence_changed", "nick": "dave", "online": True},
                          {"type": "presence_changed", "nick": "Eve", "online": True},
                          {"type": "presence_changed", "nick": "dave", "online": False}]
    s.feed(":srv 732 me :carol,dave,eve", ":srv 733 me :End of MONITOR list")
    assert [e["type"] for e in s.events()] == ["raw_line", "raw_line"]
    assert s.sent() == []


def test_disconnect_reconnect_and_resume():
    s = Session("me")
    s.register("message-tags server-time batch draft/chathistory monitor draft/typing", isupport=["MONITOR=2"])
    s.feed(":me!u@h JOIN #b", ":me!u@h JOIN #A", ":srv 353 me = #A :me bob", ":srv 353 me = #b :me bob",
           f"@time={stamp(1)};msgid=a1 :bob!b@h PRIVMSG #A :first",
           f"@time={stamp(2)};msgid=a2 :bob!b@h PRIVMSG #A :newest",
           f"@time={stamp(1)};msgid=b1 :bob!b@h PRIVMSG #b :has an id",
           f"@time={stamp(2)} :bob!b@h PRIVMSG #b :newest has none",
           ":srv 730 me :Eve,Carol,dave",
           "@+typing=active :bob!b@h TAGMSG #b",
           ":srv BATCH +open chathistory #A",
           "@batch=open;msgid=lost :bob!b@h PRIVMSG #A :never applied",
           ":srv 311 me bob bu h * :half a whois",
           "PING :before")
    s.events()
    assert s.client.poll_transmit() == b"WHO #b\r\n"  # the host wrote one line before the drop
    s.client.handle_bytes(b"PING :partial line of the old transport")

    # The engine's own lines not taken before the drop (the WHO, the PONG) end with that link.
    s.client.handle_disconnected()
    assert s.events() == [{"type": "reconnect_after", "after_ms": 2000}]
    snap = s.model()
    assert {k: (c["name"], c["members"], len(c["log"]["messages"]), c["typing"]) for k, c in snap["channels"].items()} == {
        "#a": ("#A", {}, 2, []), "#b": ("#b", {}, 2, ["bob"])}
    assert snap["whois"] == {} and list(snap["people"]) == ["bob", "me"]
    assert s.client.poll_timeout() == 2000
    s.client.handle_disconnected()  # the host did not manage to reconnect: the next delay doubles
    assert s.events() == [{"type": "reconnect_after", "after_ms": 4000}]
    assert s.client.poll_timeout() == 4000  # one reconnect timer, moved
    s.advance(4000)
    assert s.events() == [{"type": "reconnect_after", "after_ms": 0}]
    s.advance(2000)  # the typing timer survived the drop and still runs out
    assert s.events() == [{"type": "typing_changed", "target": "#b", "nick": "bob", "active": False}]
    assert s.client.poll_timeout() is None

    s.client.handle_connected()
    assert s.sent() == ["CAP LS 302", "NICK me", "USER me 0 * me"]
    assert s.client.poll_timeout() == s.mono + 30000
    s.feed(":srv CAP * LS :draft/chathistory monitor", ":srv BATCH -open")
    assert s.events() == []  # neither the old partial line nor the old batch comes back
    assert s.sent() == ["CAP REQ monitor", "CAP REQ draft/chathistory"]
    s.feed(":srv CAP * ACK :monitor draft/chathistory")
    assert s.sent() == ["CAP END"]
    s.feed(":srv 001 me :Welcome back")
    assert s.sent() == ["MONITOR + carol,dave", "MONITOR + eve", "JOIN #A", "CHATHISTORY AFTER #A msgid=a2 100", "JOIN #b"]
    assert s.events()[-1] == {"type": "registered", "nick": "me"}
    assert "lost" not in s.model()["channels"]["#a"]["log"]["by_msgid"]


def test_reconnect_back_off_runs_out():
    s = Session("me")
    delays = []
    for _ in range(101):
        s.client.handle_disconnected()
        delays += s.events()
    assert [e.get("after_ms") for e in delays[:10]] == [2000, 4000, 8000, 16000, 32000, 64000, 128000, 256000, 300000, 300000]
    assert delays[99] == {"type": "reconnect_after", "after_ms": 300000}
    assert delays[100] == {"type": "reconnect_abandoned"}
    s.client.handle_connected()
    s.client.handle_disconnected()
    assert s.events() == [{"type": "reconnect_after", "after_ms": 2000}]


def test_rename_metadata_presence_and_server_replies():
    s = Session("me")
    s.register("message-tags draft/channel-rename draft/metadata-2 away-notify account-notify draft/named-modes")
    s.feed(":me!u@h JOIN #old", ":me!u@h JOIN #z", ":srv 353 me = #old :me bob", ":srv 353 me = #z :bob",
           f"@time={stamp(1)};msgid=r1 :bob!b@h PRIVMSG #old :before the rename",
           "@+typing=active :bob!b@h TAGMSG #old")
    s.sent()
    s.events()

    # A renamed channel keeps everything, its typing entry included, and the entry still runs out.
    s.feed(":srv RENAME #old #New :tidy up",
           "@vantaweb/link-preview-title=A\\spage;vantaweb/link-preview-meta=img.png;+reply=r1 :srv TAGMSG #new")
    assert s.changes() == [{"type": "channel_renamed", "from": "#old", "to": "#New"},
                           added("#new", T0 + 1000, 0)]
    chan = s.model()["channels"]["#new"]
    assert chan["name"] == "#New" and chan["typing"] == ["bob"] and list(chan["members"]) == ["bob", "me"]
    assert chan["log"]["messages"][0]["link_preview"] == {"title": "A page", "snippet": None, "image": "img.png"}
    s.advance(6000)
    assert s.events() == [{"type": "typing_changed", "target": "#new", "nick": "bob", "active": False}]
    assert s.model()["channels"]["#new"]["typing"] == []

    # Presence and metadata of people shared with several channels.
    s.feed(":bob!b@h AWAY :lunch", ":bob!b@h ACCOUNT bobacct", ":nobody!n@h AWAY :x",
           ":srv METADATA * avatar * :https://img", ":srv METADATA #New color * :blue",
           ":srv 761 me bob pronouns * :they", ":srv 766 me bob pronouns :no such key",
           ":srv PROP #New +topiclock -secret +limit=5")
    events = s.events()
    assert [e.get("change") for e in events] == [
        members_changed("#New"), members_changed("#z"), members_changed("#New"), members_changed("#z"), None,
        {"type": "metadata_changed", "target": "me", "key": "avatar"},
        {"type": "metadata_changed", "target": "#New", "key": "color"},
        {"type": "metadata_changed", "target": "bob", "key": "pronouns"},
        {"type": "metadata_changed", "target": "bob", "key": "pronouns"},
        {"type": "channel_modes_changed", "channel": "#New"}]
    assert events[4]["type"] == "raw_line"  # nobody shares a channel with us
    snap = s.model()
    assert snap["me"]["metadata"] == {"avatar": "https://img"}
    assert snap["channels"]["#new"]["metadata"] == {"color": "blue"}
    assert snap["channels"]["#new"]["named_modes"] == {"limit": "5", "topiclock": None}
    bob = snap["people"]["bob"]
    assert (bob["away"], bob["account"], bob["metadata"]) == ("lunch", "bobacct", {})

    # Standard replies, service tokens and user modes reach the host as their own events.
    s.feed("FAIL CHATHISTORY INVALID_TARGET #x :No such channel", ":srv NOTE X Y",
           ":srv TOKEN GENERATE files https://files.example tok123 extra", ":srv TOKEN generate a b c",
           ":srv MODE me +iw")
    events = s.events()
    assert events[:3] == [
        {"type": "server_reply", "severity": "fail", "command": "CHATHISTORY", "code": "INVALID_TARGET",
         "context": ["#x"], "text": "No such channel"},
        {"type": "server_reply", "severity": "note", "command": "X", "code": "Y", "context": [], "text": "Y"},
        {"type": "auth_token", "service": "files", "endpoint": "https://files.example", "token": "tok123"}]
    assert [e["type"] for e in events[3:]] == ["raw_line", "raw_line"]
    assert s.model()["me"]["modes"] == "iw"

    # The next connection rejoins under the new name.
    s.client.handle_disconnected()
    s.client.handle_connected()
    s.feed(":srv CAP * LS :", ":srv 001 me :back")
    assert s.sent()[-2:] == ["JOIN #New", "JOIN #z"]


def test_labelled_batch_holding_history():
    s = Session("me")
    s.register("message-tags batch labeled-response draft/chathistory")
    s.feed(":me!u@h JOIN #a")
    s.sent()
    s.events()
    s.feed("@label=l7 :srv BATCH +lr labeled-response",
           "@batch=lr :srv BATCH +h chathistory #a",
           "@batch=h;msgid=h1 :bob!b@h PRIVMSG #a :from history",
           "@batch=lr;msgid=l1 :srv NOTICE #a :part of the answer",
           ":srv BATCH -h")
    assert s.changes() == [added("#a", T0, 0)]
    s.feed(":srv BATCH -lr")
    assert s.changes() == [added("#a", T0, 1)]
    messages = s.model()["channels"]["#a"]["log"]["messages"]
    assert [(m["msgid"], m["historical"]) for m in messages] == [("h1", True), ("l1", False)]


def test_odd_bytes_reach_the_host_intact():
    s = Session("me")
    s.register()
    s.client.handle_bytes(
        b"@k1=a\\sb\\:c\\\\d\\r\\n;k2;k3= :n!u@h 999 me :tab\there \x01ctl\x1f \x7f / \xc3\xa9 bad\xff\xfeend \"q\"\n"
        b"\r\n"  # an empty line is dropped without a trace
        b"\n")
    events = s.events()
    assert events == [{"type": "raw_line", "message": {
        "tags": [{"key": "k1", "value": "a b;c\\d\r\n"}, {"key": "k2", "value": None}, {"key": "k3", "value": None}],
        "source": {"name": "n", "user": "u", "host": "h"},
        "command": "999",
        "params": ["me", "tab\there \x01ctl\x1f \x7f / \u00e9 bad\ufffd\ufffdend \"q\""]}}]

    # An unterminated line is given up at 8704 bytes, the rest of it up to its line feed is dropped,
    # and the connection goes on with the next line. A long line that arrives whole is read.
    s.client.handle_bytes(b":n!u@h 999 me :" + b"x" * 8689)
    s.client.handle_bytes(b"y" * 20000 + b"\r\n:n!u@h 999 me :after\r\n")
    s.client.handle_bytes(b":n!u@h 999 me :" + b"z" * 20000 + b"\r\n")
    events = s.events()
    assert [e["message"]["params"][-1][:5] for e in events] == ["after", "zzzzz"]
    assert len(events[1]["message"]["params"][-1]) == 20000

    # Neither a partial line nor a give-up left by a dead transport touches the next one.
    for leftover in (b":n!u@h 999 me :half", b"w" * 8704):
        s.client.handle_bytes(leftover)
        s.client.handle_disconnected()
        s.client.handle_connected()
        s.feed(":srv 999 me :first line of the new server")
        events = s.events()
        assert events[0]["type"] == "reconnect_after"
        assert [e["message"]["params"] for e in events[1:]] == [["me", "first line of the new server"]]


def test_server_prefixes_and_casemapping_shape_the_keys():
    s = Session("me")
    s.register(isupport=["PREFIX=(qaohv)~&@%+", "CASEMAPPING=ascii", "CHANTYPES=#&!"])
    s.feed(":me!u@h JOIN !Chan[1]",
           ":srv 353 me = !Chan[1] :~me %Ann[x] +bob &carl",
           ":srv MODE !Chan[1] +qoh bob ann[X] ann[x]",
           ":srv MODE !chan[1] -h+v ann[x] ANN[x]")
    snap = s.model()
    assert list(snap["channels"]) == ["!chan[1]"]
    assert snap["channels"]["!chan[1]"]["members"] == {
        "ann[x]": {"prefixes": "@+"}, "bob": {"prefixes": "~+"}, "carl": {"prefixes": "&"}, "me": {"prefixes": "~"}}
    assert snap["people"]["ann[x]"]["nick"] == "Ann[x]"
    # Under ascii casemapping brackets are distinct characters: ann{x} is someone else.
    s.feed(":ann{x}!a@h PRIVMSG !CHAN[1] :hi", ":Ann{x}!a@h PART !Chan[1]")
    snap = s.model()
    assert snap["channels"]["!chan[1]"]["log"]["messages"][0]["sender"] == "ann{x}"
    assert "ann[x]" in snap["channels"]["!chan[1]"]["members"]

    # Collections come out in byte order of their folded keys, a prefix before its extensions.
    s.feed(":me!u@h JOIN #été", ":me!u@h JOIN #b", ":me!u@h JOIN #A_", ":me!u@h JOIN #a")
    assert list(s.model()["channels"]) == ["!chan[1]", "#a", "#a_", "#b", "#été"]


def test_retention_bounds_every_log():
    s = Session("me", retention=2)
    s.register("message-tags server-time draft/chathistory")
    s.feed(":me!u@h JOIN #a")
    s.sent()
    s.events()
    s.feed(*[f"@time={stamp(n)};msgid=m{n} :bob!b@h PRIVMSG #a :n{n}" for n in (2, 3, 4)],
           f"@time={stamp(1)};msgid=m1 :bob!b@h PRIVMSG #a :older than all",
           f"@time={stamp(5)};msgid=m2 :bob!b@h PRIVMSG #a :trimmed ids are new again")
    assert [c["key"]["seq"] for c in s.changes()] == [0, 1, 2, 3, 4]
    chan = s.model()["channels"]["#a"]
    assert [m["msgid"] for m in chan["log"]["messages"]] == ["m4", "m2"]
    assert list(chan["log"]["by_msgid"]) == ["m2", "m4"] and chan["log"]["retention"] == 2
    assert chan["unread"] == 5
    s.client.handle_disconnected()
    s.client.handle_connected()
    s.feed(":srv CAP * LS :draft/chathistory", ":srv CAP * ACK draft/chathistory", ":srv 001 me :hi")
    assert s.sent()[-2:] == ["JOIN #a", "CHATHISTORY AFTER #a msgid=m2 100"]
    # The server's echo of our rejoin keeps the log and asks for the members again.
    s.feed(":me!u@h JOIN #a")
    assert s.sent() == ["WHO #a"]
    assert len(s.model()["channels"]["#a"]["log"]["messages"]) == 2


@pytest.mark.parametrize("server, reason", [
    ([":srv 904 me :SASL authentication failed"], "rejected"),
    ([":srv 905 me :too long"], "too_long"),
    ([":srv 906 me :aborted"], "aborted"),
    ([":srv 907 me :already"], "already_authenticated"),
    (["AUTHENTICATE *"], "aborted"),  # not base64
    ([":srv 908 me PLAIN,EXTERNAL :are available", ":srv 903 me :ok"], None),
])
def test_sasl_outcomes_end_negotiation_once(server, reason):
    s = Session("me", sasl=["plain", "u", "p" * 297])  # 300 payload bytes: exactly 400 base64 characters
    s.client.handle_connected()
    s.sent()
    s.feed(":srv CAP * LS :sasl", ":srv CAP * ACK :sasl", "AUTHENTICATE +")
    payload = b64("\0u\0" + "p" * 297)
    assert s.sent() == ["CAP REQ sasl", "AUTHENTICATE PLAIN", "AUTHENTICATE " + payload, "AUTHENTICATE +"]
    s.events()
    s.feed(*server)
    assert s.sent() == ["CAP END"]
    events = s.events()
    if reason is None:
        assert [e["type"] for e in events] == ["raw_line"]
    else:
        assert events == [{"type": "sasl_failed", "reason": reason}]
    s.feed(":srv 904 me :late", ":srv 903 me :late", "AUTHENTICATE +")
    assert s.sent() == [] and s.events() == []
