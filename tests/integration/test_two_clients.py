"""Two clients on one InspIRCd: what each sends, the other sees, and both models agree with the
server. The server is asked directly (NAMES, TOPIC) by a plain connection that joins nothing."""
import pytest

import local_servers


@pytest.fixture
def duo(services, net, unique):
    alice = net.peer("alice", services.port, nick=unique("alice"))
    bob = net.peer("bob", services.port, nick=unique("bob"))
    net.connect(alice, bob)
    channel = unique("#duo")
    alice.do("join", channel)
    alice.wait_change("channel_joined", channel=channel)
    bob.do("join", channel)
    bob.wait_change("channel_joined", channel=channel)
    both = {unique("alice"), unique("bob")}
    net.wait(lambda: set(members(alice, channel)) == both == set(members(bob, channel)), what="both members")
    alice.skip_to_end()
    bob.skip_to_end()
    return alice, bob, channel


@pytest.fixture
def server_view(services, unique):
    with local_servers.RawIrc(services.port, unique("view"), caps=("multi-prefix",)) as view:
        yield view


def members(peer, channel):
    return {nick: m["prefixes"] for nick, m in peer.model()["channels"][channel]["members"].items()}


def log_of(peer, name, conversation=False):
    where = peer.model()["conversations" if conversation else "channels"][name.lower()]
    return where["log"]["messages"]


def tags(line):
    return line[1:].split(" ", 1)[0].split(";") if line.startswith("@") else []


def agrees_with_server(view, channel, *peers):
    names = {nick.lower(): prefixes for nick, prefixes in view.names(channel).items()}
    topic = view.topic(channel)
    for peer in peers:
        assert members(peer, channel) == names, peer.name
        assert peer.model()["channels"][channel]["topic"] == topic, peer.name


def test_messages_both_ways_with_echo_and_server_time(duo, server_view):
    alice, bob, channel = duo
    agrees_with_server(server_view, channel, alice, bob)

    alice.do("send_message", channel, "hello bob")
    alice.wait_change("message_added", target=channel)
    bob.wait_change("message_added", target=channel)
    [sent] = [m for m in log_of(alice, channel) if m["kind"]["type"] == "privmsg"]
    [got] = [m for m in log_of(bob, channel) if m["kind"]["type"] == "privmsg"]
    # The echo and the relay are one message: same msgid, same server time.
    assert sent["own"] and not got["own"]
    assert sent["msgid"] and sent["msgid"] == got["msgid"]
    assert sent["key"]["time_ms"] == got["key"]["time_ms"]
    assert (got["sender"], got["text"]) == (alice.client.model()["me"]["nick"], "hello bob")
    assert bob.model()["channels"][channel]["unread"] == 1
    assert alice.model()["channels"][channel]["unread"] == 0

    bob.do("send_notice", alice.model()["me"]["nick"], "a notice back")
    alice.wait_change("message_added", target=bob.model()["me"]["nick"])
    bob.wait_change("message_added", target=alice.model()["me"]["nick"])
    [notice] = log_of(alice, bob.model()["me"]["nick"], conversation=True)
    [echo] = log_of(bob, alice.model()["me"]["nick"], conversation=True)
    assert (notice["kind"], notice["text"], notice["own"]) == ({"type": "notice"}, "a notice back", False)
    assert echo["own"] and echo["msgid"] == notice["msgid"]

    bob.do("send_action", channel, "waves")
    alice.wait_change("message_added", target=channel)
    assert log_of(alice, channel)[-1]["kind"] == {"type": "ctcp", "command": "ACTION"}
    assert log_of(alice, channel)[-1]["text"] == "waves"


def test_typing_and_reactions_are_relayed(duo):
    alice, bob, channel = duo
    alice_nick = alice.model()["me"]["nick"]

    bob.do("send_message", channel, "react to this")
    alice.wait_change("message_added", target=channel)
    msgid = log_of(alice, channel)[-1]["msgid"]

    alice.do("set_typing", channel, "active")
    bob.wait_event("typing_changed", target=channel, nick=alice_nick, active=True)
    assert bob.model()["channels"][channel]["typing"] == [alice_nick.lower()]
    alice.do("set_typing", channel, "done")
    bob.wait_event("typing_changed", target=channel, nick=alice_nick, active=False)
    assert bob.model()["channels"][channel]["typing"] == []

    alice.do("add_reaction", channel, msgid, "\N{THUMBS UP SIGN}")
    bob.wait_change("message_reacted", target=channel, msgid=msgid)
    alice.wait_change("message_reacted", target=channel, msgid=msgid)  # the echo of its own reaction
    for peer in (alice, bob):
        [message] = [m for m in log_of(peer, channel) if m["msgid"] == msgid]
        assert message["reactions"] == {"\N{THUMBS UP SIGN}": [alice_nick.lower()]}, peer.name

    alice.do("remove_reaction", channel, msgid, "\N{THUMBS UP SIGN}")
    bob.wait_change("message_reacted", target=channel, msgid=msgid)
    [message] = [m for m in log_of(bob, channel) if m["msgid"] == msgid]
    assert message["reactions"] == {}
    # Reactions and typing are no chat lines of their own.
    assert [m["kind"]["type"] for m in log_of(bob, channel) if m["kind"]["type"] == "tagmsg"] == []


def test_labelled_whois_and_a_request_that_times_out(duo, net):
    alice, bob, channel = duo
    bob_nick = bob.model()["me"]["nick"]

    alice.do("whois", bob_nick)
    alice.wait_change("whois_received", nick=bob_nick)
    [whois_line] = [line for line in alice.written if line.endswith(f"WHOIS {bob_nick}")]
    label = whois_line.split(" ", 1)[0].removeprefix("@label=")
    [opened] = [line for line in alice.read
                if f"label={label}" in tags(line) and " BATCH +" in line and line.endswith("labeled-response")]
    ref = opened.split(" BATCH +", 1)[1].split(" ", 1)[0]
    # The batch's end settles the request; it may come in a later read than the reply.
    net.wait(lambda: any(line.split(" ")[-2:] in (["BATCH", f"-{ref}"], ["BATCH", f":-{ref}"])
                         for line in alice.read), what="the end of the labelled batch")
    record = alice.model()["whois"][bob_nick.lower()]
    assert record["complete"] and record["username"] and record["host"] == "127.0.0.1"
    assert channel in " ".join(record["channels"])

    # The answer to the first request settled it: moving the clock past its deadline reports
    # only the request whose answer is still to be read.
    alice.do("whois", alice.model()["me"]["nick"])
    alice.skew_ms += 31_000
    alice.step()
    alice.wait_event("command_timed_out", command="WHOIS")
    assert [e for e in alice.events if e["type"] == "command_timed_out"] == [
        {"type": "command_timed_out", "command": "WHOIS"}]
    # The late answer is still taken in.
    alice.wait_change("whois_received", nick=alice.model()["me"]["nick"])


def test_membership_changes_match_the_server(duo, server_view, net, unique):
    alice, bob, channel = duo
    alice_nick, bob_nick = unique("alice"), unique("bob")  # lower case already, as the model keys them

    def holds(peer, expected):
        net.wait(lambda: members(peer, channel) == expected, what=f"{peer.name}: members {expected}")

    alice.do("send_raw_line", f"MODE {channel} +v {bob_nick}")
    for peer in (alice, bob):
        holds(peer, {alice_nick: "@", bob_nick: "+"})
    agrees_with_server(server_view, channel, alice, bob)

    alice.do("send_raw_line", f"MODE {channel} +o {bob_nick}")
    for peer in (alice, bob):
        holds(peer, {alice_nick: "@", bob_nick: "@+"})
    agrees_with_server(server_view, channel, alice, bob)

    bob.do("set_topic", channel, "a topic from bob")
    alice.wait_change("channel_topic_changed", channel=channel)
    bob.wait_change("channel_topic_changed", channel=channel)
    assert alice.model()["channels"][channel]["topic"] == "a topic from bob"
    assert alice.model()["channels"][channel]["topic_by"].split("!")[0] == bob_nick
    agrees_with_server(server_view, channel, alice, bob)

    # The server answers a labelled NICK with the new nick as its source.
    new_nick = unique("robert")
    bob.do("set_nick", new_nick)
    bob.wait_change("nick_changed", to=new_nick)
    alice.wait_change("nick_changed", to=new_nick)
    assert bob.model()["me"]["nick"] == new_nick
    for peer in (alice, bob):
        holds(peer, {alice_nick: "@", new_nick: "@+"})
    agrees_with_server(server_view, channel, alice, bob)
    bob.do("send_message", channel, "as robert")
    bob.wait_change("message_added", target=channel)
    assert log_of(bob, channel)[-1]["own"]

    alice.do("send_raw_line", f"KICK {channel} {new_nick} :out you go")
    bob.wait_change("channel_parted", channel=channel)
    holds(alice, {alice_nick: "@"})
    assert channel not in bob.model()["channels"]
    agrees_with_server(server_view, channel, alice)

    bob.do("join", channel)
    bob.wait_change("channel_joined", channel=channel)
    holds(alice, {alice_nick: "@", new_nick: ""})
    bob.do("part", channel, "leaving")
    bob.wait_change("channel_parted", channel=channel)
    holds(alice, {alice_nick: "@"})
    agrees_with_server(server_view, channel, alice)

    bob.do("join", channel)
    for peer in (alice, bob):
        holds(peer, {alice_nick: "@", new_nick: ""})
    agrees_with_server(server_view, channel, alice, bob)
    bob.do("quit", "goodbye")
    holds(alice, {alice_nick: "@"})
    agrees_with_server(server_view, channel, alice)
    assert new_nick not in alice.model()["people"]
