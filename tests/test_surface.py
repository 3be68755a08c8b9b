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
        (
            (1, 2),
            {},
            TypeError,
            "BasicTokenizer.__new__() takes from 0 to 1 positional arguments but 2 were given",
        ),
        (
            (),
            {"threads": 1},
            TypeError,
            "BasicTokenizer.__new__() got an unexpected keyword argument 'threads'",
        ),
        (
            (1,),
            {"num_threads": 1},
            TypeError,
            "BasicTokenizer.__new__() got multiple values for argument 'num_threads'",
        ),
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
        (
            lambda: tok.decode([1], [2]),
            "BasicTokenizer.decode() takes 1 positional arguments but 2 were given",
        ),
        (
            lambda: tok.decode(),
            "BasicTokenizer.decode() missing 1 required positional argument: 'ids'",
        ),
        (
            lambda: tok.decode(idz=[1]),
            "BasicTokenizer.decode() got an unexpected keyword argument 'idz'",
        ),
        (
            lambda: tok.decode([1], ids=[1]),
            "BasicTokenizer.decode() got multiple values for argument 'ids'",
        ),
        (
            lambda: BasicTokenizer.decode(tok),
            "BasicTokenizer.decode() missing 1 required positional argument: 'ids'",
        ),
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


METHODS = {
    "build_vocab": "($self)",
    "save_model": "($self, file_path)",
    "save_vocab": "($self, vocab_file_path)",
    "train": "($self, text, vocab_size)",
    "encode": "($self, text)",
    "decode": "($self, ids)",
    "load": "($self, model_file_path)",
    "save": "($self, model_file_path, vocab_file_path)",
}


def test_methods_in_table_order_with_signatures():
    names = [n for n in vars(BasicTokenizer) if not n.startswith("__")]
    assert names == list(METHODS)
    for name, signature in METHODS.items():
        method = getattr(BasicTokenizer, name)
        assert method.__text_signature__ == signature
        assert method.__doc__ is None


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda t: t.save(),
            "BasicTokenizer.save() missing 2 required positional arguments: "
            "'model_file_path' and 'vocab_file_path'",
        ),
        (
            lambda t: t.save("m.model"),
            "BasicTokenizer.save() missing 1 required positional argument: 'vocab_file_path'",
        ),
        (
            lambda t: t.save("a", "b", "c"),
            "BasicTokenizer.save() takes 2 positional arguments but 3 were given",
        ),
        (
            lambda t: t.train(),
            "BasicTokenizer.train() missing 2 required positional arguments: "
            "'text' and 'vocab_size'",
        ),
        (
            lambda t: t.train("abc"),
            "BasicTokenizer.train() missing 1 required positional argument: 'vocab_size'",
        ),
        (
            lambda t: t.encode("a", text="b"),
            "BasicTokenizer.encode() got multiple values for argument 'text'",
        ),
        (
            lambda t: t.encode(txt="a"),
            "BasicTokenizer.encode() got an unexpected keyword argument 'txt'",
        ),
        (lambda t: t.encode(b"abc"), "argument 'text': 'bytes' object cannot be cast as 'str'"),
        (
            lambda t: t.save_model(__import__("pathlib").PurePosixPath("m")),
            "argument 'file_path': 'PurePosixPath' object cannot be cast as 'str'",
        ),
        (
            lambda t: t.save("m", 5),
            "argument 'vocab_file_path': 'int' object cannot be cast as 'str'",
        ),
        (
            lambda t: t.load(None),
            "argument 'model_file_path': 'NoneType' object cannot be cast as 'str'",
        ),
    ],
)
def test_binding_and_cast_messages(call, message, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(TypeError) as info:
        call(BasicTokenizer())
    assert str(info.value) == message
    assert list(tmp_path.iterdir()) == []  # nothing written before a refusal


def test_keywords_bind_by_name():
    tok = BasicTokenizer()
    tok.train(vocab_size=257, text="abab")
    assert tok.encode(text="abab") == [256, 256]


def test_lone_surrogate_passes_unchanged():
    with pytest.raises(UnicodeEncodeError) as info:
        BasicTokenizer().encode("a\ud800")
    assert not str(info.value).startswith("argument")


def test_panic_exception_is_one_base_exception_class(capfd):
    tok = BasicTokenizer()
    classes = []
    for _ in range(2):
        try:
            tok.train("abc", 255)
        except Exception:  # pragma: no cover - must not catch it
            pytest.fail("PanicException was caught as an Exception")
        except BaseException as panic:
            classes.append(type(panic))
    assert classes[0] is classes[1]
    panic = classes[0]
    assert (panic.__module__, panic.__name__, panic.__bases__) == (
        "pyo3_runtime",
        "PanicException",
        (BaseException,),
    )
    assert panic.__doc__
    assert not hasattr(tessaron, "PanicException")
    err = capfd.readouterr().err
    assert "vocab_size must be at least 256" in err and ".cpp:" in err
    tok.train("abab", 257)
    assert tok.encode("abab") == [256, 256]


def test_second_interpreter_is_refused():
    interpreters = pytest.importorskip("_xxsubinterpreters")
    interp = interpreters.create()
    try:
        with pytest.raises(interpreters.RunFailedError, match="ImportError"):
            interpreters.run_string(interp, "import tessaron")
    finally:
        interpreters.destroy(interp)
    assert BasicTokenizer().encode("ok") == [111, 107]
