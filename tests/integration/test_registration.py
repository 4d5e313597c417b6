"""Registration against real servers: CAP 302, ISUPPORT, SASL PLAIN, a server without IRCv3, taken nicks."""

import tessel_client

# What InspIRCd offers that the engine has no use for.
NOT_WANTED = {"inspircd.org/poison", "inspircd.org/standard-replies"}


def offered_caps(peer):
    caps = set()
    for line in peer.read:
        words = line.split(" ")
        if len(words) > 3 and words[1] == "CAP" and words[3] == "LS":
            caps.update(c.split("=", 1)[0] for c in line.split(" :", 1)[1].split())
    return caps


def test_cap_302_and_isupport(services, net, unique):
    peer = net.peer("reg", services.port, nick=unique("reg"), username="regu", realname="A test user")
    net.connect(peer)

    assert peer.written[:3] == ["CAP LS 302", f"NICK {unique('reg')}", "USER regu 0 * :A test user"]
    offered = offered_caps(peer)
    acknowledged = set()
    for e in peer.events:
        if e["type"] == "capabilities_acknowledged":
            acknowledged.update(e["names"])
    assert {"labeled-response", "echo-message", "sasl"} <= offered
    assert acknowledged == offered - NOT_WANTED
    assert not any(" NAK " in line for line in peer.read)
    assert peer.written.count("CAP END") == 1
    assert {"type": "registered", "nick": unique("reg")} in peer.events

    tokens = {e["token"]: e["value"] for e in peer.events if e["type"] == "isupport_token"}
    assert tokens["NETWORK"] == "TesselNet"
    assert tokens["CASEMAPPING"] == "rfc1459"
    assert tokens["PREFIX"] == "(ov)@+"
    assert tokens["CHANTYPES"] == "#"
    assert tokens["STATUSMSG"] == "@+"
    model = peer.model()
    assert model["me"]["nick"] == unique("reg")
    assert model["me"]["account"] is None


def test_sasl_plain_logs_in_and_messages_carry_the_account(services, net, unique):
    credentials = {"mechanism": "plain", "username": services.account, "password": services.password}
    member = net.peer("member", services.port, nick=unique("member"), sasl=credentials)
    other = net.peer("other", services.port, nick=unique("other"))
    net.connect(member, other)
    channel = unique("#sasl")

    assert member.find_event("logged_in", {"account": services.account}, start=0) is not None
    assert member.find_event("sasl_failed", {}, start=0) is None
    assert member.model()["me"]["account"] == services.account

    member.do("join", channel)
    member.wait_change("channel_joined", channel=channel)
    other.do("join", channel)
    other.wait_change("channel_joined", channel=channel)
    member.do("send_message", channel, "signed by my account")
    other.wait_change("message_added", target=channel)
    [message] = [m for m in other.model()["channels"][channel]["log"]["messages"] if m["kind"]["type"] == "privmsg"]
    assert (message["sender"], message["text"], message["account"]) == (
        unique("member"), "signed by my account", services.account)


def test_sasl_plain_wrong_password_fails_and_registration_goes_on(services, net, unique):
    credentials = {"mechanism": "plain", "username": services.account, "password": "wrong-password"}
    peer = net.peer("wrong", services.port, nick=unique("wrong"), sasl=credentials)
    net.connect(peer)
    assert peer.find_event("sasl_failed", {"reason": "rejected"}, start=0) is not None
    assert peer.find_event("logged_in", {}, start=0) is None
    assert peer.model()["me"]["account"] is None


def test_server_without_ircv3_registers_and_chats(ngircd, net, unique):
    # ngIRCd allows nicks of nine characters.
    alice = net.peer("alice", ngircd.port, nick=unique("al"))
    bob = net.peer("bob", ngircd.port, nick=unique("bo"))
    net.connect(alice, bob)
    channel = unique("#plain")
    for peer in (alice, bob):
        assert not any(e["type"] == "capabilities_acknowledged" and e["names"] != ["multi-prefix"]
                       for e in peer.events)
        assert "CAP END" in peer.written

    alice.do("join", channel)
    alice.wait_change("channel_joined", channel=channel)
    bob.do("join", channel)
    bob.wait_change("channel_joined", channel=channel)
    alice.wait_change("channel_members_changed", channel=channel)

    # Without echo-message the sender files its own message at once.
    bob.do("send_message", channel, "no tags here")
    [own] = bob.model()["channels"][channel]["log"]["messages"][-1:]
    assert (own["sender"], own["text"], own["own"], own["msgid"]) == (unique("bo"), "no tags here", True, None)
    alice.wait_change("message_added", target=channel)
    got = alice.model()["channels"][channel]["log"]["messages"][-1]
    assert (got["sender"], got["text"], got["own"]) == (unique("bo"), "no tags here", False)

    alice.do("send_message", unique("bo"), "in private")
    bob.wait_change("message_added", target=unique("al"))
    conv = bob.model()["conversations"][unique("al").lower()]
    assert [m["text"] for m in conv["log"]["messages"]] == ["in private"]
    assert alice.model()["channels"][channel]["members"] == {unique("al").lower(): {"prefixes": "@"},
                                                             unique("bo").lower(): {"prefixes": ""}}


def test_a_nick_taken_at_the_length_limit_falls_back_within_it(services, ngircd, net, unique):
    # InspIRCd here allows 30 characters and ngIRCd 9; both refuse a longer nick as erroneous.
    for port, nicklen, stem in ((services.port, 30, "long"), (ngircd.port, 9, "nine")):
        nick = unique(stem).ljust(nicklen, "x")
        fallback = nick[:-1] + "_"
        first = net.peer(f"first-{stem}", port, nick=nick)
        second = net.peer(f"second-{stem}", port, nick=nick)
        net.connect(first)
        net.connect(second)
        assert second.find_event("registered", {"nick": fallback}, start=0) is not None
        assert [e for e in second.events if e["type"] == "nick_in_use"] == [
            {"type": "nick_in_use", "refused": nick, "trying": nick + "_"},
            {"type": "nick_in_use", "refused": nick + "_", "trying": fallback}]
        assert [line for line in second.written if line.startswith("NICK ")] == [
            f"NICK {nick}", f"NICK {nick}_", f"NICK {fallback}"]


def fallback_nicks(nick):
    """Every nick the engine tries for `nick` when each is refused, in order, until it gives up."""
    client = tessel_client.Client(nick)
    client.handle_connected()
    client.handle_bytes(b"CAP * LS :\r\n")
    list(iter(client.poll_transmit, None))  # the burst, with the configured nick
    tried = [nick]
    while True:
        client.handle_bytes(f":srv 433 * {tried[-1]} :Nickname is already in use\r\n".encode())
        sent = [chunk.decode().rstrip("\r\n") for chunk in iter(client.poll_transmit, None)]
        nicks = [line.split(" ", 1)[1] for line in sent if line.startswith("NICK ")]
        if not nicks:
            return tried
        tried += nicks


def test_a_nick_of_our_own_finishes_a_registration_whose_nicks_are_all_taken(services, net, unique):
    nick = unique("taken")
    candidates = fallback_nicks(nick)
    assert len(candidates) == 17  # the configured nick and 16 generated ones
    holders = [net.peer(f"holder-{i}", services.port, nick=taken) for i, taken in enumerate(candidates)]
    net.connect(*holders)

    late = net.peer("late", services.port, nick=nick)
    late.connect()
    net.wait(lambda: any(e["type"] == "raw_line" and e["message"]["command"] == "433" for e in late.events),
             what="the fallback to give up")
    assert [line.split(" ", 1)[1] for line in late.written if line.startswith("NICK ")] == candidates

    late.do("set_nick", unique("free"))
    late.wait_event("registered", nick=unique("free"))
    assert not any(" 451 " in line for line in late.read)
