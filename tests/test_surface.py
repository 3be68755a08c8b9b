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


def test_keywords_bind_by_name():
    tok = BasicTokenizer()
    tok.train(vocab_size=257, text="abab")
    assert tok.encode(text="abab") == [256, 256]
    assert tok.decode(ids=[]) == ""


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
