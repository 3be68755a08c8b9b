"""The module and class as the interpreter sees them: identity, signatures, binding."""
import importlib
import sys
import weakref

import pytest

import tessaron
from tessaron import BasicTokenizer


def test_module_identity_survives_reimport():
    again = importlib.import_module("tessaron")
    assert again is tessaron
    del sys.modules["tessaron"]
    fresh = importlib.import_module("tessaron")
    assert fresh is tessaron
    assert fresh.BasicTokenizer is BasicTokenizer
    assert tessaron.__all__ == ["BasicTokenizer"]
    assert tessaron.__doc__ == ""


def test_class_shape():
    assert BasicTokenizer.__module__ == "builtins"
    assert BasicTokenizer.__name__ == BasicTokenizer.__qualname__ == "BasicTokenizer"
    assert BasicTokenizer.__text_signature__ == "(num_threads=1)"
    assert BasicTokenizer.build_vocab.__text_signature__ == "($self)"
    assert BasicTokenizer.decode.__text_signature__ == "($self, ids)"
    assert BasicTokenizer.__mro__ == (BasicTokenizer, object)
    with pytest.raises(TypeError):
        type("Sub", (BasicTokenizer,), {})
    tok = BasicTokenizer()
    with pytest.raises(AttributeError):
        tok.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(tok)
    assert tok == tok and tok != BasicTokenizer()


@pytest.mark.parametrize(
    "args, kwargs",
    [((), {}), ((0,), {}), ((), {"num_threads": 0}), ((True,), {}), ((2**64 - 1,), {})],
)
def test_constructor_accepts(args, kwargs):
    BasicTokenizer(*args, **kwargs).build_vocab()


@pytest.mark.parametrize(
    "args, kwargs, exc, message",
    [
        ((1, 2), {}, TypeError,
         "BasicTokenizer.__new__() takes from 0 to 1 positional arguments but 2 were given"),
        ((), {"threads": 1}, TypeError,
         "BasicTokenizer.__new__() got an unexpected keyword argument 'threads'"),
        ((1,), {"num_threads": 1}, TypeError,
         "BasicTokenizer.__new__() got multiple values for argument 'num_threads'"),
        ((-1,), {}, OverflowError, None),
        ((2**64,), {}, OverflowError, None),
    ],
)
def test_constructor_refuses(args, kwargs, exc, message):
    with pytest.raises(exc) as info:
        BasicTokenizer(*args, **kwargs)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message
    else:
        assert not str(info.value).startswith("argument")


@pytest.mark.parametrize("value", [None, "2", 1.5])
def test_constructor_type_errors_are_rewritten(value):
    with pytest.raises(TypeError) as info:
        BasicTokenizer(num_threads=value)
    cause = info.value.__cause__
    assert type(cause) is TypeError
    assert str(info.value) == "argument 'num_threads': " + str(cause)


def test_decode_binding_messages():
    tok = BasicTokenizer()
    cases = [
        (lambda: tok.decode([1], [2]),
         "BasicTokenizer.decode() takes 1 positional arguments but 2 were given"),
        (lambda: tok.decode(),
         "BasicTokenizer.decode() missing 1 required positional argument: 'ids'"),
        (lambda: tok.decode(idz=[1]),
         "BasicTokenizer.decode() got an unexpected keyword argument 'idz'"),
        (lambda: tok.decode([1], ids=[1]),
         "BasicTokenizer.decode() got multiple values for argument 'ids'"),
        (lambda: BasicTokenizer.decode(tok),
         "BasicTokenizer.decode() missing 1 required positional argument: 'ids'"),
    ]
    for call, message in cases:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message
    assert tok.decode(ids=[]) == ""


def test_build_vocab_refuses_arguments():
    with pytest.raises(TypeError):
        BasicTokenizer().build_vocab(1)


def test_index_protocol_and_int_subclasses():
    class Index:
        def __index__(self):
            return 104

    class MyInt(int):
        pass

    tok = BasicTokenizer()
    tok.build_vocab()
    assert tok.decode([Index(), MyInt(105), True]) == "hi\\u0001"
