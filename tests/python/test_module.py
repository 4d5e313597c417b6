"""The module and the Client type: what import gives, what the type refuses, its documentation."""
import ctypes
import gc
import importlib
import sys
import weakref

import pytest

import tessel_client
from tessel_client import Client


def test_module_attributes():
    assert tessel_client.__all__ == ["Client"]
    assert tessel_client.__doc__ == "The extension module Python imports as `tessel_client`."
    assert Client.__module__ == "tessel_client"
    assert (Client.__name__, Client.__qualname__) == ("Client", "Client")


def test_type_is_closed():
    with pytest.raises(TypeError):
        type("Sub", (Client,), {})
    client = Client("a")
    with pytest.raises(AttributeError):
        client.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(client)


def test_text_signatures_and_docs():
    assert Client.__text_signature__ == (
        "(nick, *, username=None, realname=None, password=None, sasl=None, retention=None, alt_nicks=None)"
    )
    doc = Client.__doc__.split("\n")
    assert doc[0] == "One connection, wrapped for Python."
    assert doc[7] == "```python" and doc[-1] == "```"  # the integration suite runs the example
    signatures = {
        "from_config": "(config)",
        "handle_connected": "($self)",
        "handle_disconnected": "($self)",
        "tick": "($self, monotonic_ms, unix_ms)",
        "poll_timeout": "($self)",
        "command": "($self, command)",
        "handle_bytes": "($self, data)",
        "poll_transmit": "($self)",
        "poll_events": "($self)",
        "model": "($self)",
    }
    for name, signature in signatures.items():
        method = Client.__dict__[name]
        assert method.__text_signature__ == signature, name
        assert method.__doc__ and not method.__doc__.startswith(name), name
    # The rows keep the method table's order, and from_config is a class method.
    assert [name for name in Client.__dict__ if name in signatures] == list(signatures)
    assert type(Client.__dict__["from_config"]).__name__ == "classmethod_descriptor"
    # Every other method shows inspect.signature its self, positional-only, as the typed ones do.
    for name, method in vars(Client).items():
        if not name.startswith("_") and name != "from_config":
            assert method.__text_signature__.startswith("($self"), name
    assert Client.poll_events.__doc__.endswith("```")
    assert Client.model.__doc__.endswith("would hide that cost from a caller reading two fields in a row.")


def test_docs_name_only_what_exists_here():
    # No words of another language's runtime, no link syntax, no C++ namespace that is not there.
    for name, member in [("Client", Client), *vars(Client).items()]:
        doc = getattr(member, "__doc__", None) or ""
        for word in ("panic", "Self::", "[`", "tessel_client::"):
            assert word not in doc, (name, word)


def test_instances_give_back_their_type_reference():
    gc.collect()
    before = sys.getrefcount(Client)
    for _ in range(1000):
        Client("a")
    for _ in range(100):
        Client.from_config({"nick": "a"})
    gc.collect()
    assert sys.getrefcount(Client) == before


class Mallinfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]


def test_dropped_clients_give_back_their_memory():
    """The C heap (the engine's share of it, as the interpreter keeps its small objects apart)
    stands where it stood after a thousand clients went through a channel rename and nick
    changes and were dropped."""
    mallinfo2 = ctypes.CDLL(None).mallinfo2
    mallinfo2.restype = Mallinfo2
    lines = [":srv CAP * LS :", ":srv 001 me :hi", ":me!u@h JOIN #a", ":srv 353 me = #a :@me +bob",
             ":bob!u@h PRIVMSG #a :hi", ":srv RENAME #a #b :moved", ":bob!u@h NICK rob", ":rob!u@h PRIVMSG me :psst"]
    data = "".join(line + "\r\n" for line in lines).encode()

    def lifetime():
        client = Client("me")
        client.handle_connected()
        client.handle_bytes(data)
        while client.poll_transmit() is not None:
            pass
        return client.poll_events()

    def in_use():
        info = mallinfo2()
        return info.uordblks + info.hblkhd

    lifetime()
    gc.collect()
    before = in_use()
    for _ in range(1000):
        lifetime()
    gc.collect()
    # Some slack for the interpreter's own blocks; a client that kept its node pool left 5 KB.
    assert in_use() - before < 64 << 10


def test_reimport_reuses_the_type():
    saved = sys.modules.pop("tessel_client")
    try:
        again = importlib.import_module("tessel_client")
        assert again is not saved
        assert again.Client is Client
        assert again.__all__ == ["Client"]
    finally:
        sys.modules["tessel_client"] = saved
