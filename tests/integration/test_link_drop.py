"""Links that drop with the engine's own lines not yet taken, on InspIRCd with Atheme: the next
link negotiates from nothing and logs in; and a message given while down, logged once whatever
the next link negotiated."""
import pytest


def words_of(line):
    """A received line's words from its command on, past its tags and source."""
    words = line.split(" ")
    if words[0].startswith("@"):
        words = words[1:]
    return words[1:] if words and words[0].startswith(":") else words


def ends_cap_ls(line):
    """The last line of a server's CAP LS reply (a line that continues has "*" before its list)."""
    words = words_of(line)
    return len(words) > 3 and words[0] == "CAP" and words[2] == "LS" and words[3].startswith(":")


def asks_for_payload(line):
    return words_of(line)[:2] in (["AUTHENTICATE", "+"], ["AUTHENTICATE", ":+"])


def test_a_link_that_drops_mid_negotiation_is_followed_by_one_that_logs_in(services, net, unique):
    credentials = {"mechanism": "plain", "username": services.account, "password": services.password}
    peer = net.peer("relinker", services.port, nick=unique("relinker"), sasl=credentials)
    peer.follow_reconnects = False
    starts = []

    # The host writes the burst and then nothing: the CAP REQ lines the LS reply makes stay queued.
    starts.append(len(peer.written))
    peer.connect()
    peer.writing = False
    net.wait(lambda: any(ends_cap_ls(line) for line in peer.read), what="the CAP LS reply")
    peer.close()

    # The next link writes until the server asks for the SASL payload, which stays queued.
    read_mark = len(peer.read)
    plain_on_readable = peer.on_readable

    def on_readable():
        plain_on_readable()
        if any(asks_for_payload(line) for line in peer.read[read_mark:]):
            peer.writing = False

    peer.on_readable = on_readable
    peer.writing = True
    starts.append(len(peer.written))
    peer.connect()
    net.wait(lambda: not peer.writing, what="the server's AUTHENTICATE +")
    assert "CAP REQ sasl" in peer.written[starts[-1]:]
    peer.close()

    del peer.on_readable
    peer.writing = True
    events_mark = len(peer.events)
    starts.append(len(peer.written))
    peer.connect()
    peer.wait_event("registered")

    # Each link opened with its own burst, none of a dead link's lines ahead of it.
    for start in starts:
        assert peer.written[start] == "CAP LS 302", peer.written[start:start + 4]
    kinds = [e["type"] for e in peer.events[events_mark:]]
    assert "sasl_failed" not in kinds
    assert kinds.index("logged_in") < kinds.index("registered"), kinds
    assert peer.find_event("logged_in", {"account": services.account}, start=events_mark) is not None
    assert peer.model()["me"]["account"] == services.account


def own_messages(peer, channel):
    model = peer.model()
    log = model["channels"][channel]["log"]["messages"]
    return [m for m in log if m["sender"] == model["me"]["nick"] and m["kind"]["type"] == "privmsg"]


@pytest.mark.parametrize("server", ["services", "ngircd"])  # with echo-message, and without
def test_a_message_given_while_down_is_logged_once_after_the_reconnect(request, server, net, unique):
    port = request.getfixturevalue(server).port
    channel = unique("#outage")
    peer = net.peer("outage", port, nick=unique("outage"))
    net.connect(peer)
    peer.do("join", channel)
    peer.wait_change("channel_joined", channel=channel)

    peer.follow_reconnects = False
    peer.close()
    peer.writing = False  # nothing takes the line while down: it waits for the next link
    peer.do("send_message", channel, "said while down")
    peer.writing = True
    peer.connect()
    peer.wait_event("registered")
    peer.wait_change("channel_joined", channel=channel)
    # The server answers in order, so once the marker is logged any echo of the first one is too.
    peer.do("send_message", channel, "marker")
    net.wait(lambda: "marker" in [m["text"] for m in own_messages(peer, channel)], what="the marker in our log")
    logged = own_messages(peer, channel)
    assert [m["text"] for m in logged] == ["said while down", "marker"]
    # InspIRCd's echoes carry msgids, so both entries are the server's; ngIRCd's are our own.
    echoed = peer.model()["channels"][channel]["log"]["by_msgid"]
    assert len(echoed) == (2 if server == "services" else 0), echoed
