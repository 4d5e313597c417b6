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
    "No method here can panic: a bad argument becomes a `ValueError` with a message, because a panic\n"
    "that unwinds into CPython aborts the interpreter instead of raising an exception.\n"
    "\n"
    "```python\n"
    "import socket, time\n"
    "from tessel_client import Client\n"
    "\n"
    "sock = socket.create_connection((\"irc.example.org\", 6667))\n"
    "started = time.monotonic()\n"
    "client = Client(\"mynick\")\n"
    "client.handle_connected()\n"
    "\n"
    "while True:\n"
    "    while (out := client.poll_transmit()) is not None:\n"
    "        sock.sendall(out)\n"
    "\n"
    "    client.handle_bytes(sock.recv(4096))\n"
    "    client.tick(int((time.monotonic() - started) * 1000), int(time.time() * 1000))\n"
    "\n"
    "    for event in client.poll_events():\n"
    "        if event[\"type\"] == \"registered\":\n"
    "            client.join('#tessel')\n"
    "            client.send_message('#tessel', 'hello')\n"
    "```";

inline constexpr char kFromConfig[] =
    "from_config(config)\n"
    "--\n"
    "\n"
    "Build an engine from a whole config at once, for a host that already holds one as a dict or\n"
    "as JSON text, rather than as separate arguments.\n"
    "\n"
    "`config` has the same shape as `tessel_client::Config`. Only `nick` is required.";

inline constexpr char kHandleConnected[] =
    "handle_connected($self)\n"
    "--\n"
    "\n"
    "Tell the engine the transport is up. Queues the registration burst.";

inline constexpr char kHandleDisconnected[] =
    "handle_disconnected($self)\n"
    "--\n"
    "\n"
    "Tell the engine its transport died. The model survives, so a reconnect can resume from it.";

inline constexpr char kTick[] =
    "tick(monotonic_ms, unix_ms)\n"
    "--\n"
    "\n"
    "Advance the clock. `monotonic_ms` drives every deadline; `unix_ms` only stamps a message\n"
    "the server did not stamp itself with `server-time`.";

inline constexpr char kPollTimeout[] =
    "poll_timeout($self)\n"
    "--\n"
    "\n"
    "When [`Self::tick`] next has something to do, as a monotonic instant, or `None` when\n"
    "nothing is scheduled. A host can set one timer for exactly this instant instead of polling\n"
    "on an interval.";

inline constexpr char kHandleBytes[] =
    "handle_bytes(data)\n"
    "--\n"
    "\n"
    "Feed whatever the transport read. Partial lines are held until the rest arrives.";

inline constexpr char kPollTransmit[] =
    "poll_transmit($self)\n"
    "--\n"
    "\n"
    "Bytes the host should write to the transport, or `None` when there are none.\n"
    "\n"
    "One chunk per call, unlike [`Self::poll_events`]: a chunk is already the smallest unit a\n"
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

}  // namespace tessel::py::docs
