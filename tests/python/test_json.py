"""The JSON bridge through the host's `json` module, `from_config` and the `sasl` argument."""
import json
import sys
import types

import pytest

from tessel_client import Client


def burst(client):
    client.handle_connected()
    lines = []
    while (chunk := client.poll_transmit()) is not None:
        lines.append(chunk)
    return lines


def config_of(client):
    """What the engine was built with, as far as the wire and the snapshot show it."""
    snapshot = client.model()
    return burst(client), snapshot["me"]["nick"], snapshot["retention"]


def fake_json(**functions):
    module = types.ModuleType("json")
    module.dumps = functions.get("dumps", json.dumps)
    module.loads = functions.get("loads", json.loads)
    return module


# ---- from_config ----------------------------------------------------------------------------

def test_from_config_shapes_build_the_same_client():
    expected = config_of(Client("alpha"))
    for config in ({"nick": "alpha"}, '{"nick":"alpha"}', ["alpha"], '["alpha"]', '  {"nick" : "alpha"}\n',
                   {"nick": "alpha", "username": ""}, {"nick": "alpha", "Nick": "b", "extra": [[[{}]]]},
                   ["alpha", "", "", None, None, 5000, []]):
        client = Client.from_config(config)
        assert type(client) is Client
        assert config_of(client) == expected, config


def test_from_config_fields():
    client = Client.from_config({"nick": "n", "username": "u", "realname": "r r", "password": "p",
                                 "retention": 0, "alt_nicks": ["m"]})
    assert config_of(client) == ([b"CAP LS 302\r\n", b"PASS p\r\n", b"NICK n\r\n", b"USER u 0 * :r r\r\n"], "n", 1)
    # Every key may be left out, nick too: the client then registers with an empty one.
    assert config_of(Client.from_config({})) == ([b"CAP LS 302\r\n", b"NICK :\r\n", b"USER  0 * :\r\n"], "", 5000)
    # Called on an instance it still builds a new plain Client.
    other = client.from_config({"nick": "x"})
    assert type(other) is Client and other is not client and other.model()["me"]["nick"] == "x"


@pytest.mark.parametrize("config, message", [
    ('{"nick":"a","nick":"b"}', "duplicate field `nick` at line 1 column 18"),
    ('{"nick":"a","retention":null}', "invalid type: null, expected usize at line 1 column 28"),
    ('{"nick":"a","alt_nicks":null}', "invalid type: null, expected a sequence at line 1 column 28"),
    ('{"alt_nicks":["a",null]}', "invalid type: null, expected a string at line 1 column 22"),
    ('{"nick":"a","retention":5e3}', "invalid type: floating point `5000.0`, expected usize at line 1 column 27"),
    ('["a","","",null,null,5000,[],1]', "trailing characters at line 1 column 30"),
    ('{"sasl":["plain","u"]}', "invalid length 1, expected struct variant Credentials::Plain with 2 elements at line 1 column 22"),
    ('{"nick":"a","sasl":{"mechanism":"plain"}}', "missing field `username` at line 1 column 41"),
    ("not json", "expected ident at line 1 column 2"),
    (None, "invalid type: null, expected struct Config at line 1 column 4"),
    ("", "EOF while parsing a value at line 1 column 0"),
    (5, "invalid type: integer `5`, expected struct Config at line 1 column 1"),
    ('{"nick":"a"} x', "trailing characters at line 1 column 14"),
    ({"nick": "a", "retention": 5000.0}, "invalid type: floating point `5000.0`, expected usize at line 1 column 33"),
])
def test_from_config_errors(config, message):
    with pytest.raises(ValueError) as info:
        Client.from_config(config)
    assert str(info.value) == "invalid config: " + message
    assert getattr(info.value, "__notes__", []) == []


def test_from_config_passes_json_errors_through():
    with pytest.raises(TypeError) as info:
        Client.from_config(object())
    assert "not JSON serializable" in str(info.value)
    assert getattr(info.value, "__notes__", []) == []


# ---- the sasl argument ------------------------------------------------------------------------

def sasl_exchange(client):
    """The lines the client sends once the server offers and acknowledges sasl."""
    client.handle_connected()
    client.handle_bytes(b":srv CAP * LS :sasl\r\n:srv CAP * ACK :sasl\r\nAUTHENTICATE +\r\n")
    lines = []
    while (chunk := client.poll_transmit()) is not None:
        lines.append(chunk)
    return lines[lines.index(b"CAP REQ sasl\r\n") + 1:]


def test_sasl_as_value_or_text_gives_the_same_credentials():
    forms = {
        "plain": [{"mechanism": "plain", "username": "u", "password": "p"},
                  {"password": "p", "username": "u", "mechanism": "plain"},
                  ["plain", "u", "p"], '["plain","u","p"]', '{"mechanism":"plain","username":"u","password":"p"}'],
        "external": [{"mechanism": "external"}, '{"mechanism":"external"}', ["external"],
                     {"mechanism": "external", "username": "x"}],
        "scram": [["scram", "u", "p", "rOprNGfwEbeRWgbNEkqO"],
                  {"mechanism": "scram", "nonce": "rOprNGfwEbeRWgbNEkqO", "username": "u", "password": "p"}],
    }
    exchanges = {}
    for mechanism, values in forms.items():
        seen = {tuple(sasl_exchange(Client("a", sasl=value))) for value in values}
        assert len(seen) == 1, mechanism
        exchanges[mechanism] = seen.pop()
    assert exchanges["plain"] == (b"AUTHENTICATE PLAIN\r\n", b"AUTHENTICATE AHUAcA==\r\n")  # "\0u\0p"
    assert exchanges["external"][0] == b"AUTHENTICATE EXTERNAL\r\n"
    assert exchanges["scram"][0] == b"AUTHENTICATE SCRAM-SHA-256\r\n"
    assert sasl_exchange(Client("a", sasl=None)) == sasl_exchange(Client("a")) == [b"CAP END\r\n"]
    # A configuration's "sasl" key reads the same credentials.
    configured = Client.from_config({"nick": "a", "sasl": {"mechanism": "plain", "username": "u", "password": "p"}})
    assert tuple(sasl_exchange(configured)) == exchanges["plain"]


@pytest.mark.parametrize("sasl, message", [
    ("{", "EOF while parsing an object at line 1 column 1"),
    (["plain", "u"], "invalid length 1, expected struct variant Credentials::Plain with 2 elements"),
    (["plain", "u", "p", "x"], "invalid length 3, expected 2 elements in sequence"),
    (["external", 1], "invalid length 1, expected 0 elements in sequence"),
    ({"mechanism": "scram", "username": "u", "password": "p"}, "missing field `nonce`"),
    ('{"mechanism":"plain","username":1}', "invalid type: integer `1`, expected a string"),
    ('{"mechanism":"Plain"}', "unknown variant `Plain`, expected one of `plain`, `external`, `scram` at line 1 column 20"),
    ('{"mechanism":1}', "invalid type: integer `1`, expected variant identifier at line 1 column 14"),
    ("plain", "expected value at line 1 column 1"),
    ('"plain"', 'invalid type: string "plain", expected internally tagged enum Credentials at line 1 column 7'),
    ('["external"] []', "trailing characters at line 1 column 14"),
])
def test_sasl_errors(sasl, message):
    with pytest.raises(ValueError) as info:
        Client("a", sasl=sasl)
    assert str(info.value) == "invalid sasl: " + message


def test_sasl_is_read_after_every_other_argument():
    with pytest.raises(TypeError) as info:
        Client("a", username=5, sasl="{")
    assert info.value.__notes__ == ["while processing 'username'"]


# ---- the bridge ---------------------------------------------------------------------------------

def test_json_module_is_looked_up_on_every_use(monkeypatch):
    seen = []

    def dumps(value):
        seen.append(value)
        return json.dumps(value)

    monkeypatch.setitem(sys.modules, "json", fake_json(dumps=dumps))
    Client.from_config({"nick": "a"})
    Client.from_config('{"nick":"b"}')  # text is used as it is
    assert seen == [{"nick": "a"}]


def test_dumps_returning_a_non_str(monkeypatch):
    monkeypatch.setitem(sys.modules, "json", fake_json(dumps=lambda value: 5))
    with pytest.raises(TypeError) as info:
        Client.from_config({})
    assert str(info.value) == "'int' object is not an instance of 'str'"


def test_lone_surrogate_text_goes_through_dumps():
    # json.dumps writes it as the JSON string "\ud800", whose lone surrogate the reader refuses.
    with pytest.raises(ValueError) as info:
        Client.from_config("\ud800")
    assert str(info.value) == "invalid config: unexpected end of hex escape at line 1 column 8"


def test_missing_json_module(monkeypatch):
    monkeypatch.setitem(sys.modules, "json", None)
    with pytest.raises(ImportError):
        Client.from_config({})
    with pytest.raises(ImportError):
        Client("a").model()


def test_failing_loads_still_drains_the_events(monkeypatch):
    client = Client("a")
    client.handle_disconnected()
    monkeypatch.setitem(sys.modules, "json", fake_json(loads=lambda text: 1 / 0))
    with pytest.raises(ZeroDivisionError):
        client.poll_events()
    monkeypatch.undo()
    assert client.poll_events() == []
    client.handle_disconnected()
    assert client.poll_events() == [{"type": "reconnect_after", "after_ms": 4000}]


def test_loads_result_is_returned_unchecked(monkeypatch):
    texts = []
    monkeypatch.setitem(sys.modules, "json", fake_json(loads=lambda text: texts.append(text) or "anything"))
    client = Client("a")
    assert client.poll_events() == "anything"
    assert client.model() == "anything"
    assert texts[0] == "[]" and texts[1].startswith("{")
