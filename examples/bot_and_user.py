"""Two tessel_client Clients on one event loop: a small bot and a user who talks to it.

The bot joins #demo and sets its topic. The user joins, starts typing, says hi; the bot
answers; the user reacts to the answer with a thumbs-up, the bot thanks them; the user changes
nick, the bot remarks on it; the user quits and the bot sees them go, then quits too. Each side
prints what it saw, and the script exits 0 when every step was observed by the side it is for.

    PYTHONPATH=build/python python3 examples/bot_and_user.py HOST PORT [--limit SECONDS]
"""

import argparse
import asyncio
import collections
import sys

import tessel_client
from asyncio_host import AsyncHost
from reading import Names

CHANNEL = "#demo"
BOT, USER, RENAMED = "tesselbot", "ann", "annie"
THUMBS_UP = "\N{THUMBS UP SIGN}"

# Every step, in the order they happen, and the side that must see it.
STEPS = [
    ("bot", "registered"),
    ("bot", "set the topic"),
    ("user", "registered"),
    ("user", "joined and saw the bot and the topic"),
    ("bot", "saw the user typing"),
    ("bot", "got the user's hello"),
    ("user", "got the bot's answer"),
    ("bot", "saw the reaction"),
    ("user", "got the bot's thanks"),
    ("bot", "saw the nick change"),
    ("user", "got the remark on the new nick"),
    ("bot", "saw the user leave"),
]


class Side:
    """One client, its host, and what it saw."""

    def __init__(self, name, nick, port, host, observed):
        self.name = name
        self.client = tessel_client.Client(nick, realname=f"tessel_client demo {name}")
        self.host = AsyncHost(self.client, host, port, self.on_event)
        self.observed = observed
        self.kinds = collections.Counter()
        self.names = Names()

    def say(self, text):
        print(f"[{self.name:4}] {text}")

    def saw(self, step):
        if (self.name, step) not in self.observed:
            self.observed.append((self.name, step))

    def me(self):
        return self.client.model()["me"]["nick"]

    def holds(self, channel):
        return self.names.fold(channel) in self.client.model()["channels"]

    def message(self, change):
        """The stored message a message_added or message_reacted change names."""
        channel = self.client.model()["channels"].get(self.names.fold(change["target"]), {})
        log = channel.get("log", {"messages": []})
        for message in reversed(log["messages"]):
            if change.get("key") == message["key"] or change.get("msgid") == message["msgid"]:
                return message
        return None

    def on_event(self, event):
        kind = event["type"]
        change = event.get("change")
        self.names.see(event)
        self.kinds[change["type"] if change else kind] += 1
        if kind == "registered":
            self.say(f"registered as {event['nick']}")
            self.saw("registered")
        elif kind == "typing_changed" and event["active"]:
            self.say(f"{event['nick']} is typing in {event['target']}")
        elif change and change["type"] == "message_added":
            message = self.message(change)
            if message and message["kind"]["type"] in ("privmsg", "ctcp"):
                self.say(f"{change['target']} <{message['sender']}> {message['text']}")
        elif change and change["type"] == "message_reacted":
            message = self.message(change)
            if message:
                self.say(f"reactions on \"{message['text']}\": {message['reactions']}")
        elif change and change["type"] == "nick_changed":
            self.say(f"{change['from']} is now known as {change['to']}")
        elif change and change["type"] == "channel_topic_changed":
            topic = self.client.model()["channels"][self.names.fold(change["channel"])]["topic"]
            self.say(f"topic of {change['channel']}: {topic}")
        self.react(event, change)


class Bot(Side):
    def __init__(self, *args):
        super().__init__(*args)
        self.ready = asyncio.Event()  # set once the channel and its topic are there

    def react(self, event, change):
        if event["type"] == "registered" and not self.holds(CHANNEL):
            self.client.join(CHANNEL)  # the engine joins again, by itself, the channels the model holds
        if not change:
            if event["type"] == "typing_changed" and event["active"]:
                self.saw("saw the user typing")
            return
        if change["type"] == "channel_joined":
            self.client.set_topic(CHANNEL, "Say hi to the bot")
        elif change["type"] == "channel_topic_changed":
            self.saw("set the topic")
            self.ready.set()
        elif change["type"] == "message_added":
            message = self.message(change)
            if message and not message["own"] and message["text"] == "hi bot":
                self.saw("got the user's hello")
                self.client.send_message(CHANNEL, f"hello {message['sender']}, I am a bot")
        elif change["type"] == "message_reacted":
            message = self.message(change)
            if message and message["own"] and THUMBS_UP in message["reactions"]:
                self.saw("saw the reaction")
                self.client.send_message(CHANNEL, f"thanks for the {THUMBS_UP}")
        elif change["type"] == "nick_changed" and change["to"] == RENAMED:
            self.saw("saw the nick change")
            self.client.send_message(CHANNEL, f"nice new nick, {change['to']}")
        elif change["type"] == "channel_members_changed" and ("bot", "saw the nick change") in self.observed:
            members = sorted(self.client.model()["channels"][CHANNEL]["members"])
            self.say(f"members of {CHANNEL}: {', '.join(members)}")
            if RENAMED not in members:
                self.saw("saw the user leave")
                self.client.quit("demo over")
                self.host.stop()


class User(Side):
    joined = False

    def react(self, event, change):
        if event["type"] == "registered" and not self.holds(CHANNEL):
            self.client.join(CHANNEL)  # the engine joins again, by itself, the channels the model holds
        if not change:
            return
        if change["type"] == "channel_members_changed" and not self.joined:
            channel = self.client.model()["channels"][CHANNEL]
            members = {nick: m["prefixes"] for nick, m in channel["members"].items()}
            if BOT in members:
                self.joined = True
                self.say(f"joined {CHANNEL}: members {members}, topic \"{channel['topic']}\"")
                if channel["topic"] and members[BOT] == "@":
                    self.saw("joined and saw the bot and the topic")
                self.client.set_typing(CHANNEL, "active")
                self.client.send_message(CHANNEL, "hi bot")
                self.client.set_typing(CHANNEL, "done")
        elif change["type"] == "message_added":
            message = self.message(change)
            if not message or message["sender"] != BOT:
                return
            if message["text"].startswith("hello "):
                self.saw("got the bot's answer")
                self.client.add_reaction(CHANNEL, message["msgid"], THUMBS_UP)
            elif message["text"].startswith("thanks"):
                self.saw("got the bot's thanks")
                self.client.set_nick(RENAMED)
            elif message["text"] == f"nice new nick, {RENAMED}" and self.me() == RENAMED:
                self.saw("got the remark on the new nick")
                self.client.quit("bye")
                self.host.stop()


async def demo(host, port, limit):
    observed = []
    bot = Bot("bot", BOT, port, host, observed)
    user = User("user", USER, port, host, observed)
    bot_run = asyncio.create_task(bot.host.run())
    # The user comes in once the bot holds the channel and its topic.
    await asyncio.wait([bot_run, asyncio.create_task(bot.ready.wait())], timeout=limit,
                       return_when=asyncio.FIRST_COMPLETED)
    user_run = asyncio.create_task(user.host.run())
    await asyncio.wait([bot_run, user_run], timeout=limit)
    for task in (bot_run, user_run):
        task.cancel()
    return observed, bot, user


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("--limit", type=float, default=15.0, help="seconds the demo may take")
    args = parser.parse_args(argv)
    observed, bot, user = asyncio.run(demo(args.host, args.port, args.limit))

    print()
    for side in (bot, user):
        kinds = ", ".join(f"{kind} {n}" for kind, n in sorted(side.kinds.items()))
        print(f"{side.name} saw: {kinds}")
    missing = [step for step in STEPS if step not in observed]
    for side, step in STEPS:
        print(f"  {'ok  ' if (side, step) in observed else 'MISS'} {side}: {step}")
    print("every step observed" if not missing else f"{len(missing)} of {len(STEPS)} steps not observed")
    return 0 if not missing else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
