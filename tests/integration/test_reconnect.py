"""A server killed mid-session and started again: the client reconnects and rejoins."""
import local_servers


def test_server_restart_reconnects_and_rejoins_with_stored_key(inspircd, net):
    peer = net.peer("keeper", inspircd.port)
    net.connect(peer)
    peer.do("join", "#keyed", "sesame")
    peer.wait_change("channel_joined", channel="#keyed")
    peer.do("send_raw_line", "MODE #keyed +k sesame")
    peer.wait_change("channel_modes_changed", channel="#keyed")
    peer.do("send_message", "#keyed", "before the crash")
    peer.wait_change("message_added", target="#keyed")

    inspircd.kill()
    peer.wait_event("reconnect_after", after_ms=2000)
    model = peer.model()["channels"]["#keyed"]
    assert model["members"] == {}  # gone with the link; the channel and its log stay
    assert [m["text"] for m in model["log"]["messages"] if m["kind"]["type"] == "privmsg"] == ["before the crash"]

    # The channel comes back keyed before the client does, so only the stored key lets it in.
    peer.follow_reconnects = False
    inspircd.start()
    with local_servers.RawIrc(inspircd.port, "warden") as warden:
        warden.send("JOIN #keyed", "MODE #keyed +k sesame")
        warden.until(lambda w: w[1] == "MODE" and w[2] == "#keyed")
        peer.follow_reconnects = True
        if peer.sock is None and peer.find_event("reconnect_after", {"after_ms": 0}) is not None:
            peer.connect()  # the timer fired while the host held back
        peer.wait_event("registered")
        peer.wait_change("channel_joined", channel="#keyed")
        assert "JOIN #keyed sesame" in peer.written[peer.written.index("CAP LS 302", 1):]
        peer.wait_change("channel_members_changed", channel="#keyed")
        assert set(peer.model()["channels"]["#keyed"]["members"]) == {"keeper", "warden"}
        assert peer.connections == 2


# What the client may say to a server that has not registered it yet.
REGISTRATION_WORDS = {"CAP", "NICK", "USER", "PASS", "AUTHENTICATE", "PONG", "PING"}


def numeric(line):
    """The command word of a received line, past its tags and source."""
    words = line.split(" ")
    if words[0].startswith("@"):
        words = words[1:]
    return words[1] if words[0].startswith(":") and len(words) > 1 else words[0]


def test_commands_queued_across_a_restart_reach_the_server_only_after_registration(inspircd, net):
    peer = net.peer("queuer", inspircd.port)
    net.connect(peer)
    for channel in ("#q", "#gone"):
        peer.do("join", channel)
        peer.wait_change("channel_joined", channel=channel)

    # The host stops taking lines, as one whose socket is backed up, and the server dies under
    # labelled commands it never got; more commands come while the link is down.
    peer.writing = False
    for i in range(60):
        peer.client.send_message("#q", f"queued {i}")
    peer.client.join("#later")
    inspircd.kill()
    peer.wait_event("reconnect_after", after_ms=2000)
    peer.client.send_message("#q", "while down")
    peer.client.part("#gone")
    peer.client.join("#down")

    peer.follow_reconnects = False
    inspircd.start()
    with local_servers.RawIrc(inspircd.port, "listener") as listener:
        listener.send("JOIN #q")
        listener.until(lambda w: w[1] == "366")
        reconnected = len(peer.transcript)
        peer.writing = True
        peer.connect()
        peer.wait_event("registered")
        heard = listener.until(lambda w: w[1] == "PRIVMSG" and w[-1] == "while down")
        assert [w[-1] for w in heard if w[1] == "PRIVMSG"] == [f"queued {i}" for i in range(60)] + ["while down"]
        peer.wait_change("channel_joined", channel="#down")

    session = peer.transcript[reconnected:]
    welcome = next(i for i, (way, line) in enumerate(session) if way == "<" and numeric(line) == "001")
    early = [line for way, line in session[:welcome] if way == ">"]
    assert early[0] == "CAP LS 302" and {line.split(" ")[0] for line in early} <= REGISTRATION_WORDS, early
    assert not [line for way, line in session if way == "<" and numeric(line) == "451"]
    # The PART given while down follows the rejoin of the resume burst, so it holds.
    model = peer.model()["channels"]
    assert "#later" in model and "#down" in model and "#gone" not in model
    # Every labelled request was answered once it went out: none times out.
    peer.skew_ms += 31000
    peer.step()
    assert peer.find_event("command_timed_out", {}, start=0) is None
