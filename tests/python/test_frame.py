"""The call frame: argument binding, conversions with their notes, the borrow flag, the lock."""
import sys
import threading

import pytest

from tessel_client import Client
import tessel_frame_probe as probe


def raised(call):
    with pytest.raises(BaseException) as info:
        call()
    return info.value


def notes(exc):
    return getattr(exc, "__notes__", [])


# ---- binding ------------------------------------------------------------------------------

CLIENT = Client("bind")

BINDING_ERRORS = [
    (lambda: Client(), "Client.__new__() missing 1 required positional argument: 'nick'"),
    (lambda: Client("a", "b"), "Client.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: Client("a", bogus=1), "Client.__new__() got an unexpected keyword argument 'bogus'"),
    (lambda: Client("a", nick="b"), "Client.__new__() got multiple values for argument 'nick'"),
    (lambda: Client(username="u"), "Client.__new__() missing 1 required positional argument: 'nick'"),
    (lambda: CLIENT.tick(1), "Client.tick() missing 1 required positional argument: 'unix_ms'"),
    (lambda: CLIENT.tick(), "Client.tick() missing 2 required positional arguments: 'monotonic_ms' and 'unix_ms'"),
    (lambda: CLIENT.tick(1, 2, 3), "Client.tick() takes 2 positional arguments but 3 were given"),
    (lambda: CLIENT.tick(1, monotonic_ms=2), "Client.tick() got multiple values for argument 'monotonic_ms'"),
    (lambda: CLIENT.handle_bytes(), "Client.handle_bytes() missing 1 required positional argument: 'data'"),
    (lambda: CLIENT.handle_bytes(b"", b""), "Client.handle_bytes() takes 1 positional arguments but 2 were given"),
    (lambda: Client.from_config(), "Client.from_config() missing 1 required positional argument: 'config'"),
    (lambda: Client.from_config({}, cfg=1), "Client.from_config() got an unexpected keyword argument 'cfg'"),
    # Shapes the later command methods have, through the probe's binder.
    (lambda: probe.bind_optional("#a", None, 1), "Client.join() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda: probe.bind_optional("#a", channel="#b"), "Client.join() got multiple values for argument 'channel'"),
    (lambda: probe.bind_optional(chan="#a"), "Client.join() got an unexpected keyword argument 'chan'"),
    (lambda: probe.bind_none_required(1, 2), "Client.set_away() takes from 0 to 1 positional arguments but 2 were given"),
    (lambda: probe.bind_three(), "Client.add_reaction() missing 3 required positional arguments: 'target', 'msgid', and 'emoji'"),
    (lambda: probe.bind_three("t", emoji="e"), "Client.add_reaction() missing 1 required positional argument: 'msgid'"),
]


@pytest.mark.parametrize("call, message", BINDING_ERRORS)
def test_binding_errors(call, message):
    exc = raised(call)
    assert type(exc) is TypeError
    assert str(exc) == message
    assert notes(exc) == []


def test_binding_fills_slots_by_position_and_keyword():
    assert probe.bind_optional("#a") == ("#a", None)
    assert probe.bind_optional(key="k", channel="#a") == ("#a", "k")
    assert probe.bind_three("t", emoji="e", msgid="m") == ("t", "m", "e")
    client = Client("a")
    client.tick(monotonic_ms=1, unix_ms=2)
    client.handle_bytes(data=b"")


def test_no_argument_methods_refuse_arguments():
    with pytest.raises(TypeError):
        CLIENT.poll_events(1)
    with pytest.raises(TypeError):
        CLIENT.model(x=1)


# ---- conversions --------------------------------------------------------------------------

class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Text(str):
    pass


class OddMeta(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise RuntimeError("no name")
        return super().__getattribute__(name)


class Odd(metaclass=OddMeta):
    pass


class LyingSequence:
    """Says it is enormous; holds two items."""

    def __init__(self, items, length=sys.maxsize):
        self.items = items
        self.length = length

    def __len__(self):
        if isinstance(self.length, Exception):
            raise self.length
        return self.length

    def __getitem__(self, i):
        return self.items[i]


CONVERSION_ERRORS = [
    # (call, exception type, message or None for interpreter-written texts, parameter)
    (lambda: Client(5), TypeError, "'int' object is not an instance of 'str'", "nick"),
    (lambda: Client(None), TypeError, "'None' is not an instance of 'str'", "nick"),
    (lambda: Client(b"a"), TypeError, "'bytes' object is not an instance of 'str'", "nick"),
    (lambda: Client(Odd()), TypeError, "'<failed to extract type name>' object is not an instance of 'str'", "nick"),
    (lambda: Client("\ud800"), UnicodeEncodeError, None, "nick"),
    (lambda: Client("a", username=5), TypeError, "'int' object is not an instance of 'str'", "username"),
    (lambda: Client("a", realname=[]), TypeError, "'list' object is not an instance of 'str'", "realname"),
    (lambda: Client("a", password="\udfff"), UnicodeEncodeError, None, "password"),
    (lambda: Client("a", retention=-1), OverflowError, None, "retention"),
    (lambda: Client("a", retention=2**64), OverflowError, None, "retention"),
    (lambda: Client("a", retention=1.5), TypeError, None, "retention"),
    (lambda: Client("a", retention="5"), TypeError, None, "retention"),
    (lambda: Client("a", retention=Index(-2)), OverflowError, None, "retention"),
    (lambda: Client("a", alt_nicks="b"), TypeError, "Can't extract `str` to `Vec`", "alt_nicks"),
    (lambda: Client("a", alt_nicks={"a"}), TypeError, "'set' object is not an instance of 'Sequence'", "alt_nicks"),
    (lambda: Client("a", alt_nicks={"a": 1}), TypeError, "'dict' object is not an instance of 'Sequence'", "alt_nicks"),
    (lambda: Client("a", alt_nicks=("a", 1)), TypeError, "'int' object is not an instance of 'str'", "alt_nicks"),
    (lambda: Client("a", alt_nicks=5), TypeError, "'int' object is not an instance of 'Sequence'", "alt_nicks"),
    (lambda: CLIENT.tick(1.5, 0), TypeError, None, "monotonic_ms"),
    (lambda: CLIENT.tick(0, -1), OverflowError, None, "unix_ms"),
    (lambda: CLIENT.tick(None, 0), TypeError, None, "monotonic_ms"),
    (lambda: CLIENT.handle_bytes("x"), TypeError, "Can't extract `str` to `Vec`", "data"),
    (lambda: CLIENT.handle_bytes([256]), OverflowError, "out of range integral type conversion attempted", "data"),
    (lambda: CLIENT.handle_bytes([-1]), OverflowError, "out of range integral type conversion attempted", "data"),
    (lambda: CLIENT.handle_bytes([2**70]), OverflowError, None, "data"),
    (lambda: CLIENT.handle_bytes([1.0]), TypeError, None, "data"),
    (lambda: CLIENT.handle_bytes(None), TypeError, "'None' is not an instance of 'Sequence'", "data"),
    (lambda: CLIENT.handle_bytes(7), TypeError, "'int' object is not an instance of 'Sequence'", "data"),
    (lambda: probe.to_u16(70000), OverflowError, "out of range integral type conversion attempted", "limit"),
    (lambda: probe.to_u16(-1), OverflowError, "out of range integral type conversion attempted", "limit"),
    (lambda: probe.to_u16(2**80), OverflowError, None, "limit"),
    (lambda: probe.to_u16(None), TypeError, None, "limit"),
]


@pytest.mark.parametrize("call, kind, message, parameter", CONVERSION_ERRORS)
def test_conversion_errors_carry_the_parameter_note(call, kind, message, parameter):
    exc = raised(call)
    assert type(exc) is kind
    if message is not None:
        assert str(exc) == message
    assert notes(exc) == [f"while processing '{parameter}'"]


def test_note_is_skipped_when_the_exception_takes_none():
    class NoNotes(Exception):
        def __getattribute__(self, name):
            if name == "add_note":
                raise AttributeError(name)
            return super().__getattribute__(name)

    class Refusing:
        def __index__(self):
            raise NoNotes("refused")

    exc = raised(lambda: CLIENT.tick(Refusing(), 0))
    assert type(exc) is NoNotes and notes(exc) == []


def burst(client):
    client.handle_connected()
    lines = []
    while (chunk := client.poll_transmit()) is not None:
        lines.append(chunk)
    return lines


def test_accepted_conversions():
    client = Client(Text("nick"), username=Text("user"), realname="Real Name", password="pw", retention=True,
                    alt_nicks=LyingSequence(["n2", "n3"]))
    assert burst(client) == [b"CAP LS 302\r\n", b"PASS pw\r\n", b"NICK nick\r\n", b"USER user 0 * :Real Name\r\n"]
    assert client.model()["retention"] == 1
    assert Client("a", retention=2**64 - 1).model()["retention"] == 2**64 - 1
    assert Client("a", retention=Index(7)).model()["retention"] == 7
    assert probe.to_u16(65535) == 65535 and probe.to_u16(Index(3)) == 3 and probe.to_u16(False) == 0
    CLIENT.tick(True, 0)
    CLIENT.tick(2**64 - 1, 2**64 - 1)
    CLIENT.tick(Index(0), Index(0))


def test_byte_data_kinds_feed_the_same_bytes():
    line = b"PING :tok\r\n"
    for data in (line, bytearray(line), list(line), tuple(line), LyingSequence(list(line)),
                 LyingSequence(list(line), length=ValueError("no len")), [Index(b) for b in line]):
        client = Client("a")
        client.handle_bytes(data)
        assert client.poll_transmit() == b"PONG tok\r\n", data


def test_lying_length_hint_is_only_a_hint():
    # Neither reserving sys.maxsize items nor a failing or enormous __len__ stops the conversion.
    for length in (sys.maxsize, 2**100, ValueError("boom")):
        client = Client("a", alt_nicks=LyingSequence(["b", "c"], length=length))
        client.handle_bytes(LyingSequence(list(b"PING x\r\n"), length=length))
        assert client.poll_transmit() == b"PONG x\r\n"


def test_iteration_failure_ends_the_conversion():
    class Broken:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            raise KeyError("bad item")

    exc = raised(lambda: Client("a", alt_nicks=Broken()))
    assert type(exc) is KeyError and notes(exc) == ["while processing 'alt_nicks'"]


# ---- borrow flag --------------------------------------------------------------------------

class Reenter:
    """A sequence whose iteration calls back into a client."""

    def __init__(self, call, items):
        self.call = call
        self.items = items
        self.seen = []

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]

    def __iter__(self):
        try:
            self.call()
        except Exception as exc:
            self.seen.append(exc)
        return iter(self.items)


REENTRANT = [
    (lambda c: c.poll_transmit(), "Already borrowed"),
    (lambda c: c.tick(0, 0), "Already borrowed"),
    (lambda c: c.handle_connected(), "Already borrowed"),
    (lambda c: c.poll_events(), "Already borrowed"),
    (lambda c: c.model(), "Already mutably borrowed"),
    (lambda c: c.poll_timeout(), "Already mutably borrowed"),
]


@pytest.mark.parametrize("call, message", REENTRANT)
def test_reentrant_call_from_iterator_fails_at_once(call, message):
    client = Client("a")
    data = Reenter(lambda: call(client), list(b"PING x\r\n"))
    client.handle_bytes(data)
    assert [(type(e), str(e)) for e in data.seen] == [(RuntimeError, message)]
    assert notes(data.seen[0]) == []
    assert client.poll_transmit() == b"PONG x\r\n"


def test_reentrant_call_from_index():
    client = Client("a")
    seen = []

    class Sneaky:
        def __index__(self):
            for call in (client.poll_timeout, lambda: client.tick(1, 1), lambda: client.tick(1), lambda: client.tick("x", 0)):
                try:
                    call()
                except Exception as exc:
                    seen.append((type(exc), str(exc)))
            return 5

    client.tick(Sneaky(), 0)
    # A binding error is reported before the borrow conflict, the conflict before a conversion error.
    assert seen == [
        (RuntimeError, "Already mutably borrowed"),
        (RuntimeError, "Already borrowed"),
        (TypeError, "Client.tick() missing 1 required positional argument: 'unix_ms'"),
        (RuntimeError, "Already borrowed"),
    ]


def test_failed_calls_give_the_borrow_back():
    client = Client("a")
    for call in (lambda: client.tick(-1, 0), lambda: client.handle_bytes("x"), lambda: client.tick(1)):
        with pytest.raises((TypeError, OverflowError)):
            call()
        assert probe.borrow_flag(client) == 0
    client.handle_connected()
    assert client.poll_transmit() == b"CAP LS 302\r\n"


def test_other_thread_meets_an_exclusive_call():
    client = Client("a")
    entered, release = threading.Event(), threading.Event()

    class Slow:
        def __index__(self):
            entered.set()
            release.wait(10)
            return 1

    worker = threading.Thread(target=client.tick, args=(Slow(), 0))
    worker.start()
    try:
        assert entered.wait(10)
        assert probe.borrow_flag(client) == -1
        for call, message in REENTRANT:
            with pytest.raises(RuntimeError) as info:
                call(client)
            assert str(info.value) == message
    finally:
        release.set()
        worker.join()
    assert probe.borrow_flag(client) == 0
    assert client.poll_timeout() is None


def test_shared_calls_overlap_and_exclude_exclusive_ones(monkeypatch):
    import json

    client = Client("a")
    entered, release = threading.Event(), threading.Event()
    calls = []

    class SlowJson:
        dumps = staticmethod(json.dumps)

        @staticmethod
        def loads(text):
            calls.append(text)
            if len(calls) == 1:
                entered.set()
                release.wait(10)
            return json.loads(text)

    monkeypatch.setitem(sys.modules, "json", SlowJson)
    results = []
    worker = threading.Thread(target=lambda: results.append(client.model()))
    worker.start()
    try:
        assert entered.wait(10)
        assert probe.borrow_flag(client) == 1
        assert client.poll_timeout() is None
        assert client.model()["me"]["nick"] == "a"
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            client.tick(0, 0)
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            client.poll_transmit()
    finally:
        release.set()
        worker.join()
    assert results[0]["me"]["nick"] == "a"
    assert probe.borrow_flag(client) == 0


def test_engine_work_runs_with_the_lock_released():
    # Another thread gets to run, and is refused, while handle_bytes works unlocked.
    client = Client("a")
    chunk = b"\n" * 4_000_000
    stop = threading.Event()
    refused = []

    def poke():
        while not stop.is_set():
            try:
                client.poll_timeout()
            except RuntimeError as exc:
                refused.append(str(exc))

    poker = threading.Thread(target=poke)
    poker.start()
    try:
        for _ in range(200):
            client.handle_bytes(chunk)
            if refused:
                break
    finally:
        stop.set()
        poker.join()
    assert refused and set(refused) == {"Already mutably borrowed"}


# ---- exception barrier --------------------------------------------------------------------

@pytest.mark.parametrize("kind, expected", [
    ("bad_alloc", MemoryError),
    ("runtime_error", RuntimeError),
    ("anything", RuntimeError),
])
def test_cpp_exceptions_become_python_exceptions(kind, expected):
    client = Client("a")
    with pytest.raises(expected):
        probe.throw_in_frame(client, kind)
    assert probe.borrow_flag(client) == 0
    client.handle_connected()
    assert client.poll_transmit() == b"CAP LS 302\r\n"
