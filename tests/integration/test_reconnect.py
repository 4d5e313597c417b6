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
