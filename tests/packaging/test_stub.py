"""The type stub against the built module, so neither can drift from the other."""
import __future__
import inspect
import pathlib
import typing

import tessel_client
from tessel_client import Client

STUB = pathlib.Path(__file__).resolve().parents[2] / "tessel_client_py" / "tessel_client.pyi"


def load_stub():
    # Type checkers read a stub's annotations lazily (a method may return its own class), so the
    # stub is compiled the same way.
    code = compile(STUB.read_text(), str(STUB), "exec", flags=__future__.annotations.compiler_flag)
    namespace = {"__name__": "tessel_client"}
    exec(code, namespace)
    return namespace


def public(names):
    return {name for name in names if not name.startswith("_")}


def stub_functions(stub_client):
    """Name -> (the plain function, whether it is a class method) for `__new__` and every method."""
    functions = {}
    for name, member in vars(stub_client).items():
        if name == "__new__" or not name.startswith("_"):
            wrapped = isinstance(member, (classmethod, staticmethod))
            functions[name] = (member.__func__ if wrapped else member, isinstance(member, classmethod))
    return functions


def stub_call_signature(function):
    """The signature a call sees: without self or cls, and without annotations."""
    parameters = list(inspect.signature(function).parameters.values())[1:]
    return inspect.Signature([p.replace(annotation=inspect.Parameter.empty) for p in parameters])


def built_methods():
    """Name -> (signature of a bound call, whether it is a class method), read from the module."""
    bound = Client("stub")
    methods = {"__new__": (inspect.signature(Client), False)}
    for name in public(vars(Client)):
        is_classmethod = type(inspect.getattr_static(Client, name)).__name__ == "classmethod_descriptor"
        methods[name] = (inspect.signature(getattr(bound, name)), is_classmethod)
    return methods


def test_module_names_match():
    stub = load_stub()
    assert public(stub) - {"Any", "Literal", "Sequence", "final"} == public(vars(tessel_client)) == {"Client"}
    assert stub["__all__"] == tessel_client.__all__


def test_stub_marks_the_closed_type_final():
    base_type_flag = 1 << 10  # Py_TPFLAGS_BASETYPE: the type may be subclassed
    assert not Client.__flags__ & base_type_flag
    assert getattr(load_stub()["Client"], "__final__", False)


def test_methods_and_signatures_match():
    stub = {name: (stub_call_signature(function), is_classmethod)
            for name, (function, is_classmethod) in stub_functions(load_stub()["Client"]).items()}
    built = built_methods()
    assert sorted(stub) == sorted(built)
    for name, (signature, is_classmethod) in built.items():
        assert stub[name] == (signature, is_classmethod), name


def test_stub_types_every_parameter_and_result():
    for name, (function, _) in stub_functions(load_stub()["Client"]).items():
        hints = typing.get_type_hints(function)  # raises for a name the stub does not import
        parameters = list(inspect.signature(function).parameters)[1:]
        assert set(hints) == set(parameters) | {"return"}, name
