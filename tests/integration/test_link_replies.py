"""Replies a real server gives that the engine reads against what the current link sent and
joined, each tried across a drop: a CAP line of the host's own ahead of SASL, a nick of the
host's own while the fallback runs, a refused rejoin, and our own away."""
import local_servers


def command_word(line):
    """The command word of a received line, past its tags and source."""
    words = line.split(" ")
    if words[0].startswith("@"):
        words = words[1:]
    return words[1] if words[0].startswith(":") and len(words) > 1 else words[0]


def test_a_cap_req_of_the_hosts_own_leaves_sasl_to_log_in(services, net, unique):
    credentials = {"mechanism": "plain", "username": services.account, "password": services.password}
    peer = net.peer("early", services.port, nick=unique("early"), sasl=credentials)
    for link in range(2):
        if link:
            peer.follow_reconnects = False
            peer.close()
        # Given while down, it goes ahead of the burst: the server answers it before its listing.
        peer.client.send_raw_line("CAP REQ :extended-join")
        start, written = len(peer.events), len(peer.written)
        peer.skip_to_end()
        net.connect(peer)
        assert peer.written[written:written + 2] == ["CAP REQ extended-join", "CAP LS 302"]
        logged_in = peer.find_event("logged_in", {"account": services.account}, start=start)
        registered = peer.find_event("registered", {}, start=start)
        assert logged_in is not None and registered is not None and logged_in < registered, peer.recent()
        assert peer.find_event("sasl_failed", {}, start=start) is None
        assert peer.model()["me"]["account"] == services.account
        assert peer.written[written:].count("CAP END") == 1


def test_a_nick_of_the_hosts_own_is_not_renamed_by_a_late_refusal(services, net, unique):
    nick, alt, own = unique("held"), unique("althold"), unique("own")
    with local_servers.RawIrc(services.port, nick), local_servers.RawIrc(services.port, alt):
        peer = net.peer("chooser", services.port, nick=nick, alt_nicks=[alt])
        peer.connect()
        peer.writing = False  # so NICK alt and the host's nick reach the server together
        peer.wait_event("nick_in_use", refused=nick, trying=alt)
        peer.client.set_nick(own)
        peer.writing = True
        peer.wait_event("registered", nick=own)
        refusals = [e["message"]["params"][1] for e in peer.events
                    if e["type"] == "raw_line" and e["message"]["command"] == "433"]
        assert refusals == [alt]  # left to the host
        assert [line for line in peer.written if line.startswith("NICK ")] == [f"NICK {nick}", f"NICK {alt}",
                                                                             f"NICK {own}"]
        assert peer.model()["me"]["nick"] == own

        # The next link starts the fallback over; the alternatives were used up on the first.
        peer.follow_reconnects = False
        peer.close()
        written = len(peer.written)
        peer.skip_to_end()
        peer.connect()
        peer.wait_event("registered", nick=nick + "_")
        assert [line for line in peer.written[written:] if line.startswith("NICK ")] == [
            f"NICK {nick}", f"NICK {nick}_"]


def test_a_channel_made_invite_only_while_we_were_away_is_gone(inspircd, net, unique):
    channel = unique("#closed")
    with local_servers.RawIrc(inspircd.port, unique("warden")) as warden:
        warden.send(f"JOIN {channel}")
        warden.until(lambda w: w[1] == "366")
        peer = net.peer("shut", inspircd.port, nick=unique("shut"))
        net.connect(peer)
        peer.do("join", channel)
        peer.wait_change("channel_joined", channel=channel)
        peer.do("send_message", channel, "before the drop")
        peer.wait_change("message_added", target=channel)

        peer.follow_reconnects = False
        peer.close()
        warden.send(f"MODE {channel} +i")
        warden.until(lambda w: w[1] == "MODE" and w[2] == channel)
        written = len(peer.written)
        peer.skip_to_end()
        peer.connect()
        peer.wait_event("registered")
        peer.wait_change("channel_parted", channel=channel)
        assert f"JOIN {channel}" in peer.written[written:]
        assert "473" in [command_word(line) for line in peer.read]
        assert channel not in peer.model()["channels"]

        # The next link does not try it again.
        peer.close()
        written = len(peer.written)
        peer.connect()
        peer.wait_event("registered")
        assert not any(line.startswith("JOIN") for line in peer.written[written:])


def test_our_away_follows_the_servers_replies(inspircd, net, unique):
    peer = net.peer("napper", inspircd.port, nick=unique("napper"))
    net.connect(peer)
    channel = unique("#nap")
    peer.do("join", channel)
    peer.wait_change("channel_members_changed", channel=channel)

    peer.do("set_away", "brb")
    net.wait(lambda: peer.model()["me"]["away"] == "brb", what="the 306")
    peer.do("set_away")
    net.wait(lambda: peer.model()["me"]["away"] is None, what="the 305")
    words = [command_word(line) for line in peer.read]
    assert [w for w in words if w in ("305", "306")] == ["306", "305"]
    assert "AWAY" not in words  # the server never says it itself

    # Given while down, it goes out after the next 001, and its 306 gives its text.
    peer.follow_reconnects = False
    peer.close()
    peer.client.set_away("back soon")
    peer.skip_to_end()
    peer.connect()
    net.wait(lambda: peer.model()["me"]["away"] == "back soon", what="the 306")
    model = peer.model()
    assert model["people"][model["me"]["nick"].lower()]["away"] == "back soon"
