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
        requested = [line.split(" ", 2)[2] for line in self.sent() if line.startswith("CAP REQ ")]
        if requested:
            self.feed(f":srv CAP {nick} ACK :{' '.join(requested)}")
        assert self.sent() == ["CAP END"]
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
