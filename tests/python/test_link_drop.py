"""What a link that ends leaves behind, as a host meets it: the engine's own untaken lines end
with it, an own message is logged once across a reconnect, and a server's msgid that would split
the resume burst's history line is not used there."""
import pytest

from tessel_client import Client
from wire import feed, sent

BURST = ["CAP LS 302", "NICK me", "USER u 0 * R"]
PLAIN = {"mechanism": "plain", "username": "acct", "password": "secret"}


def client(**kwargs):
    c = Client("me", username="u", realname="R", **kwargs)
    c.tick(0, 0)
    return c


def up(c, caps=""):
    """A new link that acknowledges `caps`, not yet registered; what it sent is taken."""
    c.handle_connected()
    feed(c, f"CAP * LS :{caps}")
    if caps:
        feed(c, f"CAP * ACK :{caps}")
    sent(c)


def registered(c, caps=""):
    up(c, caps)
    feed(c, ":srv 001 me :Welcome")
    sent(c)


def cap_reqs_untaken(c):
    c.handle_connected()
    sent(c)
    feed(c, "CAP * LS :sasl message-tags")


def sasl_payload_untaken(c):
    c.handle_connected()
    feed(c, "CAP * LS :sasl", "CAP * ACK :sasl")
    sent(c)
    feed(c, "AUTHENTICATE +")


def resume_burst_untaken(c):
    registered(c, "draft/chathistory monitor")
    c.watch_nicks(["bob"])
    feed(c, ":me!u@h JOIN #a", "@msgid=m1 :bob!b@h PRIVMSG #a :hi")
    sent(c)
    c.handle_disconnected()
    up(c, "draft/chathistory")
    feed(c, ":srv 001 me :Welcome")


@pytest.mark.parametrize("leave, after_welcome", [
    (cap_reqs_untaken, []),
    (sasl_payload_untaken, []),
    (lambda c: c.handle_connected(), []),
    (lambda c: (registered(c), feed(c, "PING :x", ":me!u@h JOIN #a")), ["JOIN #a"]),
    (resume_burst_untaken, ["MONITOR + bob", "JOIN #a"]),
], ids=["cap-req", "sasl-payload", "burst", "pong-and-who", "resume-burst"])
def test_the_engines_own_untaken_lines_end_with_their_link(leave, after_welcome):
    c = client(sasl=PLAIN)
    leave(c)
    c.handle_disconnected()
    c.handle_connected()
    assert sent(c) == BURST
    feed(c, ":srv 433 * me :Nickname is already in use")
    assert sent(c) == ["NICK me_"]  # the new link's own fallback, not a length cut
    feed(c, "CAP * LS :", ":srv 001 me_ :Welcome")
    assert sent(c) == ["CAP END", *after_welcome]


def test_a_link_after_one_dropped_mid_negotiation_logs_in_before_it_registers():
    c = client(sasl=PLAIN)
    cap_reqs_untaken(c)
    c.handle_disconnected()
    c.poll_events()
    c.handle_connected()
    feed(c, "CAP * LS :sasl message-tags")
    assert sent(c) == [*BURST, "CAP REQ message-tags", "CAP REQ sasl"]
    feed(c, "CAP * ACK :message-tags sasl", "AUTHENTICATE +")
    assert sent(c) == ["AUTHENTICATE PLAIN", "AUTHENTICATE AGFjY3QAc2VjcmV0"]
    feed(c, ":srv 900 me me!u@h acct :Logged in", ":srv 903 me :Success")
    assert sent(c) == ["CAP END"]
    feed(c, ":srv 001 me :Welcome")
    assert [e["type"] for e in c.poll_events()] == ["capabilities_acknowledged", "logged_in", "registered"]


def test_lines_made_while_down_and_the_hosts_lines_outlive_the_drop():
    c = client()
    registered(c)
    c.whois("bob")
    c.send_raw_line("WEBIRC pw gw host 192.0.2.1")
    c.handle_disconnected()
    feed(c, "PING :late")
    c.handle_disconnected()
    c.handle_connected()
    c.handle_connected()  # without a drop between: two bursts, as asked
    assert sent(c) == ["WEBIRC pw gw host 192.0.2.1", "PONG late", *BURST, *BURST]
    feed(c, "CAP * LS :")
    sent(c)
    feed(c, ":srv 001 me :Welcome")
    assert sent(c) == ["WHOIS bob"]


def logged(c, text):
    return [m["text"] for m in c.model()["channels"]["#a"]["log"]["messages"]].count(text)


def echo_caps(echo):
    return "draft/chathistory echo-message" if echo else "draft/chathistory"


@pytest.mark.parametrize("given, first_echo, second_echo", [
    ("down", False, True),
    ("down", True, False),
    ("registering", True, False),
    ("registering", False, True),
    ("registered", True, False),
    ("registered", True, True),
    ("registered", False, False),
])
def test_an_own_message_that_outlives_its_link_is_logged_once(given, first_echo, second_echo):
    c = client()
    registered(c, echo_caps(first_echo))
    feed(c, ":me!u@h JOIN #a", "@msgid=m1 :bob!b@h PRIVMSG #a :before")
    sent(c)
    if given != "registered":
        c.handle_disconnected()
    if given == "registering":
        up(c, echo_caps(first_echo))
    c.send_message("#a", "hello")
    assert logged(c, "hello") == (1 if given == "registered" and not first_echo else 0)
    if given != "down":
        c.handle_disconnected()

    up(c, echo_caps(second_echo))
    feed(c, ":srv 001 me :Welcome")
    history = [] if given == "registered" and not first_echo else ["CHATHISTORY AFTER #a msgid=m1 100"]
    assert sent(c) == ["JOIN #a", *history, "PRIVMSG #a hello"]
    if second_echo:
        feed(c, "@msgid=e1 :me!u@h PRIVMSG #a :hello")
    assert logged(c, "hello") == 1


def test_an_own_message_taken_on_its_own_link_is_echoed_as_before():
    c = client()
    registered(c)
    feed(c, ":me!u@h JOIN #a")
    c.send_message("#a", "now")
    assert logged(c, "now") == 1
    assert sent(c) == ["WHO #a", "PRIVMSG #a now"]


@pytest.mark.parametrize("msgid, history", [
    (r"m\sPRIVMSG\s#victim\s:spam", []),
    (r"m\r1", []),
    (r"m\n1", []),
    ("m1", ["CHATHISTORY AFTER #d msgid=m1 100"]),
])
def test_a_msgid_that_would_split_the_history_line_is_not_used(msgid, history):
    c = client()
    registered(c, "draft/chathistory message-tags")
    feed(c, ":me!u@h JOIN #d", f"@msgid={msgid} :bob!b@h PRIVMSG #d :hi")
    c.handle_disconnected()
    up(c, "draft/chathistory")
    feed(c, ":srv 001 me :Welcome")
    assert sent(c) == ["JOIN #d", *history]
