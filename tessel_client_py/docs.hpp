// Documentation strings of the module, the Client type and its methods. The first lines of
// each are its text signature, which the interpreter cuts off into __text_signature__.
#pragma once

namespace tessel::py::docs {

inline constexpr char kModule[] = "The extension module Python imports as `tessel_client`.";

inline constexpr char kClient[] =
    "Client(nick, *, username=None, realname=None, password=None, sasl=None, retention=None, alt_nicks=None)\n"
    "--\n"
    "\n"
    "One connection, wrapped for Python.\n"
    "\n"
    "No C++ exception crosses into Python: a bad argument raises a Python exception (`TypeError`,\n"
    "`ValueError`, `OverflowError`) with a message, and nothing a server sends raises at all: it\n"
    "becomes an event. The loop below says hello and leaves; `run` of examples/host_loop.py\n"
    "(README.md, \"The host loop\") also reconnects.\n"
    "\n"
    "```python\n"
    "import select, socket, time\n"
    "from tessel_client import Client\n"
    "\n"
    "def clocks():\n"
    "    return time.monotonic_ns() // 1_000_000, time.time_ns() // 1_000_000\n"
    "\n"
    "client = Client(\"mynick\")\n"
    "sock = socket.create_connection((\"irc.example.org\", 6667))\n"
    "client.tick(*clocks())  # the clock first: the keepalive counts from now\n"
    "client.handle_connected()\n"
    "linked = True\n"
    "while linked:\n"
    "    while (out := client.poll_transmit()) is not None:\n"
    "        sock.sendall(out)\n"
    "    deadline = client.poll_timeout()  # a monotonic instant in ms, or None\n"
    "    wait = None if deadline is None else max(0, deadline - clocks()[0]) / 1000\n"
    "    if select.select([sock], [], [], wait)[0]:\n"
    "        data = sock.recv(65536)\n"
    "        linked = data != b\"\"  # b\"\": the server closed the link\n"
    "        client.handle_bytes(data)\n"
    "    client.tick(*clocks())  # on every wake-up: timers run on a quiet link too\n"
    "    for event in client.poll_events():\n"
    "        if event[\"type\"] == \"registered\":\n"
    "            client.join(\"#tessel\")\n"
    "            client.send_message(\"#tessel\", \"hello\")\n"
    "            client.quit(\"bye\")  # the server closes the link once it has the QUIT\n"
    "        elif event[\"type\"] == \"link_dead\":\n"
    "            linked = False  # the server stopped answering PING\n"
    "sock.close()\n"
    "client.handle_disconnected()\n"
    "```";

inline constexpr char kFromConfig[] =
    "from_config(config)\n"
    "--\n"
    "\n"
    "Build an engine from a whole config at once, for a host that already holds one as a dict or\n"
    "as JSON text, rather than as separate arguments.\n"
    "\n"
    "`config` takes the constructor's arguments as keys (`nick`, `username`, `realname`, `password`,\n"
    "`sasl`, `retention`, `alt_nicks`), or their values as a list in that order. Every key may be\n"
    "left out and then takes the constructor's default; without `nick` the nick is empty, and the\n"
    "client registers with an empty NICK.";

inline constexpr char kHandleConnected[] =
    "handle_connected($self)\n"
    "--\n"
    "\n"
    "Tell the engine the transport is up. Queues the registration burst. Commands not yet taken\n"
    "wait with those given during registration until after the burst that follows `registered`;\n"
    "a message among them is stored as our own then, unless that link has `echo-message`. Raw\n"
    "lines, and the engine's own lines made while the link was down, stay ahead of the burst;\n"
    "`set_nick` and `quit` given while registering go out at once.\n"
    "\n"
    "Call `handle_disconnected` first when the last link ended: called on a link still up, this\n"
    "ends nothing and queues a second burst behind what that link left.";

inline constexpr char kHandleDisconnected[] =
    "handle_disconnected($self)\n"
    "--\n"
    "\n"
    "Tell the engine its transport died. The model survives, so a reconnect can resume from it.\n"
    "The engine's own lines not yet taken (registration, CAP, SASL, PING, PONG, the resume burst)\n"
    "end with the link. The host's lines stay: they lose the labels they were given for this\n"
    "link, their requests forgotten without a `command_timed_out`, and a message whose echo this\n"
    "link's server was to send is stored as our own if the link it goes out on has no\n"
    "`echo-message`.";

inline constexpr char kTick[] =
    "tick($self, monotonic_ms, unix_ms)\n"
    "--\n"
    "\n"
    "Advance the clock. `monotonic_ms` drives every deadline; `unix_ms` only stamps a message\n"
    "the server did not stamp itself with `server-time`.";

inline constexpr char kPollTimeout[] =
    "poll_timeout($self)\n"
    "--\n"
    "\n"
    "When `tick` next has something to do, as a monotonic instant, or `None` when\n"
    "nothing is scheduled. A host can set one timer for exactly this instant instead of polling\n"
    "on an interval.";

inline constexpr char kHandleBytes[] =
    "handle_bytes($self, data)\n"
    "--\n"
    "\n"
    "Feed whatever the transport read. Partial lines are held until the rest arrives.";

inline constexpr char kPollTransmit[] =
    "poll_transmit($self)\n"
    "--\n"
    "\n"
    "Bytes the host should write to the transport, or `None` when there are none.\n"
    "\n"
    "One chunk per call, unlike `poll_events`: a chunk is already the smallest unit a\n"
    "socket writes, so there is nothing to gain from batching it.";

inline constexpr char kPollEvents[] =
    "poll_events($self)\n"
    "--\n"
    "\n"
    "Every event the engine has queued since the last call, as a Python list.\n"
    "\n"
    "Draining a batch instead of one event per call is what keeps this binding cheap: a call\n"
    "across the GIL costs the same whether it carries one event or a hundred, so paying that\n"
    "cost once per drain rather than once per event is what actually saves work.\n"
    "\n"
    "An event's `type` names it, in `snake_case`, and the rest of the dict is that event's\n"
    "fields.\n"
    "\n"
    "```python\n"
    "for event in client.poll_events():\n"
    "    if event[\"type\"] == \"registered\":\n"
    "        print(\"registered as\", event[\"nick\"])\n"
    "    elif event[\"type\"] == \"model_changed\":\n"
    "        print(event[\"change\"])\n"
    "    elif event[\"type\"] == \"server_reply\":\n"
    "        print(event[\"severity\"], event[\"code\"], event[\"text\"])\n"
    "```";

inline constexpr char kModel[] =
    "model($self)\n"
    "--\n"
    "\n"
    "Everything the connection knows: channels, members, conversations and messages. For a host\n"
    "that only wants the model, not a diff of what changed.\n"
    "\n"
    "A call rather than a property, because it serialises the whole model, and an attribute\n"
    "would hide that cost from a caller reading two fields in a row.";

inline constexpr char kCommand[] =
    "command($self, command)\n"
    "--\n"
    "\n"
    "Do something on this connection. `command` is JSON text, or a dict, with the same shape as\n"
    "the typed methods: `type` names the method and the other keys are its arguments, as in\n"
    "`{\"type\": \"join\", \"channel\": \"#tessel\"}`. An optional argument may be left out or null;\n"
    "`limit` of `fetch_history` has no default here.\n"
    "\n"
    "A field that would land before the last parameter of the line and is empty, holds a space,\n"
    "CR, LF or NUL or begins with \":\", or a watched nick that is empty or holds a comma, space,\n"
    "CR, LF or NUL, raises ValueError naming the field, and nothing is sent. The typed methods\n"
    "check the same.";

inline constexpr char kJoin[] =
    "join($self, channel, key=None)\n"
    "--\n"
    "\n"
    "Join a channel.\n"
    "\n"
    "```python\n"
    "client.join(\"#tessel\")\n"
    "client.join(\"#staff\", key=\"marten4\")\n"
    "```";

inline constexpr char kPart[] =
    "part($self, channel, reason=None)\n"
    "--\n"
    "\n"
    "Leave a channel.";

inline constexpr char kSendMessage[] =
    "send_message($self, target, text)\n"
    "--\n"
    "\n"
    "Say something to a channel or a person.\n"
    "\n"
    "```python\n"
    "client.send_message(\"#tessel\", \"hello there\")\n"
    "client.send_message(\"quokka\", \"a private word\")\n"
    "```";

inline constexpr char kSendNotice[] =
    "send_notice($self, target, text)\n"
    "--\n"
    "\n"
    "Send a notice, which by convention must never be auto-replied to.";

inline constexpr char kSendAction[] =
    "send_action($self, target, text)\n"
    "--\n"
    "\n"
    "Send a `CTCP ACTION`, the third-person form.";

inline constexpr char kSetNick[] =
    "set_nick($self, nick)\n"
    "--\n"
    "\n"
    "Change our nick.\n"
    "\n"
    "While registering this goes out at once, as a server takes NICK before registration: the way\n"
    "to finish a registration whose nicks were all refused. It also ends the nick fallback on that\n"
    "link: no more `nick_in_use` tries follow, and a later refusal, of this nick or of an earlier\n"
    "try, comes as a `raw_line`. Given while the link is down it waits for `registered`, so the\n"
    "registration burst's own NICK cannot override it, and the next link's fallback runs as ever.";

inline constexpr char kSetTopic[] =
    "set_topic($self, channel, topic=None)\n"
    "--\n"
    "\n"
    "Set or clear a channel topic.";

inline constexpr char kSetAway[] =
    "set_away($self, message=None)\n"
    "--\n"
    "\n"
    "Mark ourselves away, or come back. The server's 306 then sets `model()[\"me\"][\"away\"]` to\n"
    "this message, and its 305 clears it.";

inline constexpr char kSetTyping[] =
    "set_typing($self, target, state)\n"
    "--\n"
    "\n"
    "Say we are typing, so others can show it. `state` is one of `\"active\"`, `\"paused\"`,\n"
    "`\"done\"`.";

inline constexpr char kAddReaction[] =
    "add_reaction($self, target, msgid, emoji)\n"
    "--\n"
    "\n"
    "React to a message with an emoji.";

inline constexpr char kRemoveReaction[] =
    "remove_reaction($self, target, msgid, emoji)\n"
    "--\n"
    "\n"
    "Take a reaction back.";

inline constexpr char kRedactMessage[] =
    "redact_message($self, target, msgid, reason=None)\n"
    "--\n"
    "\n"
    "Ask the server to delete a message.";

inline constexpr char kMarkRead[] =
    "mark_read($self, target, at_ms)\n"
    "--\n"
    "\n"
    "Tell the server how far we have read, in milliseconds since the Unix epoch.";

inline constexpr char kFetchHistory[] =
    "fetch_history($self, target, before_msgid=None, limit=50)\n"
    "--\n"
    "\n"
    "Ask for older messages than the ones we hold. With no `before_msgid`, this asks for the\n"
    "most recent, which is what a fresh window wants.";

inline constexpr char kSetMetadata[] =
    "set_metadata($self, key, value=None)\n"
    "--\n"
    "\n"
    "Set one of our own metadata keys, or clear it.";

inline constexpr char kSubscribeMetadata[] =
    "subscribe_metadata($self, keys)\n"
    "--\n"
    "\n"
    "Ask to be told when these metadata keys change on anyone we can see.";

inline constexpr char kWhois[] =
    "whois($self, nick)\n"
    "--\n"
    "\n"
    "Ask the server everything it will say about someone. The record lands in the model under\n"
    "the folded nick and arrives as one `whois_received` change when the reply finishes.";

inline constexpr char kRenameChannel[] =
    "rename_channel($self, channel, new_name, reason=None)\n"
    "--\n"
    "\n"
    "Rename a channel, keeping everyone in it and everything said in it.";

inline constexpr char kCreateInviteLink[] =
    "create_invite_link($self, channel=None, description=None)\n"
    "--\n"
    "\n"
    "Make an invitation link to a channel, or to the network when no channel is named.";

inline constexpr char kListInviteLinks[] =
    "list_invite_links($self)\n"
    "--\n"
    "\n"
    "Ask for the invitation links we have made.";

inline constexpr char kDeleteInviteLink[] =
    "delete_invite_link($self, share_id)\n"
    "--\n"
    "\n"
    "Withdraw an invitation link.";

inline constexpr char kRedeemInviteCode[] =
    "redeem_invite_code($self, code)\n"
    "--\n"
    "\n"
    "Redeem an invitation code. Only before registering, which is the point of it.";

inline constexpr char kGenerateToken[] =
    "generate_token($self, service)\n"
    "--\n"
    "\n"
    "Mint a bearer token for one of the network's services, such as its file host.";

inline constexpr char kWatchNicks[] =
    "watch_nicks($self, nicks)\n"
    "--\n"
    "\n"
    "Watch these nicks, so the server says when they come and go.";

inline constexpr char kUnwatchNicks[] =
    "unwatch_nicks($self, nicks)\n"
    "--\n"
    "\n"
    "Stop watching these nicks.";

inline constexpr char kSendVoiceSignal[] =
    "send_voice_signal($self, channel, signal)\n"
    "--\n"
    "\n"
    "Send a voice signalling frame to a room. The frame is the host's to build: everything in\n"
    "it comes from the media stack the core deliberately knows nothing about.";

inline constexpr char kQuit[] =
    "quit($self, reason=None)\n"
    "--\n"
    "\n"
    "Leave the network.\n"
    "\n"
    "While registering this goes out at once, as a server takes QUIT before registration. Given\n"
    "while the link is down it waits for `registered`, like every other command.";

inline constexpr char kSendRawLine[] =
    "send_raw_line($self, line)\n"
    "--\n"
    "\n"
    "Send a line we do not model. The escape hatch, so a host is never stuck waiting for us.\n"
    "Goes out at once, ahead of a registration burst when given before connecting. A NICK line\n"
    "given while registering ends the nick fallback on that link, as `set_nick` does.";

// The typed command methods, in the order of the Command variants.
inline constexpr const char* kCommandMethods[] = {
    kJoin, kPart, kSendMessage, kSendNotice, kSendAction, kSetNick, kSetTopic, kSetAway, kSetTyping,
    kAddReaction, kRemoveReaction, kRedactMessage, kMarkRead, kFetchHistory, kSetMetadata,
    kSubscribeMetadata, kWhois, kRenameChannel, kCreateInviteLink, kListInviteLinks,
    kDeleteInviteLink, kRedeemInviteCode, kGenerateToken, kWatchNicks, kUnwatchNicks,
    kSendVoiceSignal, kQuit, kSendRawLine,
};

}  // namespace tessel::py::docs
