"""Every argument the binding refuses, in one table: the exception, its exact message, and
that nothing was written before the refusal."""

import pathlib

import pytest

from tessaron import BasicTokenizer

B = BasicTokenizer
# (call on a new tokenizer, exception type, message). None: Python's own message, passed on
# without an "argument '...'" prefix.
REFUSALS = {
    "new-positional": (
        lambda t: B(1, 2),
        TypeError,
        "BasicTokenizer.__new__() takes from 0 to 1 positional arguments but 2 were given",
    ),
    "new-keyword": (
        lambda t: B(threads=1),
        TypeError,
        "BasicTokenizer.__new__() got an unexpected keyword argument 'threads'",
    ),
    "new-twice": (
        lambda t: B(1, num_threads=1),
        TypeError,
        "BasicTokenizer.__new__() got multiple values for argument 'num_threads'",
    ),
    "new-none": (
        lambda t: B(num_threads=None),
        TypeError,
        "argument 'num_threads': 'NoneType' object cannot be interpreted as an integer",
    ),
    "new-str": (
        lambda t: B(num_threads="2"),
        TypeError,
        "argument 'num_threads': 'str' object cannot be interpreted as an integer",
    ),
    "new-float": (
        lambda t: B(num_threads=1.5),
        TypeError,
        "argument 'num_threads': 'float' object cannot be interpreted as an integer",
    ),
    "new-negative": (lambda t: B(-1), OverflowError, None),
    "new-2**64": (lambda t: B(2**64), OverflowError, None),
    "build_vocab-argument": (lambda t: t.build_vocab(1), TypeError, None),
    "train-none": (
        lambda t: t.train(),
        TypeError,
        "BasicTokenizer.train() missing 2 required positional arguments: 'text' and 'vocab_size'",
    ),
    "train-one": (
        lambda t: t.train("abc"),
        TypeError,
        "BasicTokenizer.train() missing 1 required positional argument: 'vocab_size'",
    ),
    "train-int-text": (
        lambda t: t.train(5, 300),
        TypeError,
        "argument 'text': 'int' object cannot be cast as 'str'",
    ),
    "train-negative": (lambda t: t.train("x", -1), OverflowError, None),
    "encode-twice": (
        lambda t: t.encode("a", text="b"),
        TypeError,
        "BasicTokenizer.encode() got multiple values for argument 'text'",
    ),
    "encode-keyword": (
        lambda t: t.encode(txt="a"),
        TypeError,
        "BasicTokenizer.encode() got an unexpected keyword argument 'txt'",
    ),
    "encode-bytes": (
        lambda t: t.encode(b"abc"),
        TypeError,
        "argument 'text': 'bytes' object cannot be cast as 'str'",
    ),
    "encode-int": (
        lambda t: t.encode(5),
        TypeError,
        "argument 'text': 'int' object cannot be cast as 'str'",
    ),
    "encode-surrogate": (lambda t: t.encode("a\ud800"), UnicodeEncodeError, None),
    "decode-positional": (
        lambda t: t.decode([1], [2]),
        TypeError,
        "BasicTokenizer.decode() takes 1 positional arguments but 2 were given",
    ),
    "decode-none": (
        lambda t: t.decode(),
        TypeError,
        "BasicTokenizer.decode() missing 1 required positional argument: 'ids'",
    ),
    "decode-unbound": (
        lambda t: B.decode(t),
        TypeError,
        "BasicTokenizer.decode() missing 1 required positional argument: 'ids'",
    ),
    "decode-keyword": (
        lambda t: t.decode(idz=[1]),
        TypeError,
        "BasicTokenizer.decode() got an unexpected keyword argument 'idz'",
    ),
    "decode-twice": (
        lambda t: t.decode([1], ids=[1]),
        TypeError,
        "BasicTokenizer.decode() got multiple values for argument 'ids'",
    ),
    "decode-str": (
        lambda t: t.decode("12"),
        TypeError,
        "argument 'ids': Can't extract `str` to `Vec`",
    ),
    "decode-int": (
        lambda t: t.decode(5),
        TypeError,
        "argument 'ids': 'int' object cannot be cast as 'Sequence'",
    ),
    "decode-dict": (
        lambda t: t.decode({1: 2}),
        TypeError,
        "argument 'ids': 'dict' object cannot be cast as 'Sequence'",
    ),
    "decode-set": (
        lambda t: t.decode({1}),
        TypeError,
        "argument 'ids': 'set' object cannot be cast as 'Sequence'",
    ),
    "decode-none-ids": (
        lambda t: t.decode(None),
        TypeError,
        "argument 'ids': 'NoneType' object cannot be cast as 'Sequence'",
    ),
    "decode-float-id": (
        lambda t: t.decode([1.5]),
        TypeError,
        "argument 'ids': 'float' object cannot be interpreted as an integer",
    ),
    "decode-negative-id": (lambda t: t.decode([-1]), OverflowError, None),
    "decode-2**64-id": (lambda t: t.decode([2**64]), OverflowError, None),
    "save_model-two": (
        lambda t: t.save_model("m", "m"),
        TypeError,
        "BasicTokenizer.save_model() takes 1 positional arguments but 2 were given",
    ),
    "save_model-bytes": (
        lambda t: t.save_model(b"m"),
        TypeError,
        "argument 'file_path': 'bytes' object cannot be cast as 'str'",
    ),
    "save_model-pure-path": (
        lambda t: t.save_model(pathlib.PurePosixPath("m")),
        TypeError,
        "argument 'file_path': 'PurePosixPath' object cannot be cast as 'str'",
    ),
    "save_vocab-none": (
        lambda t: t.save_vocab(None),
        TypeError,
        "argument 'vocab_file_path': 'NoneType' object cannot be cast as 'str'",
    ),
    "load-none": (
        lambda t: t.load(None),
        TypeError,
        "argument 'model_file_path': 'NoneType' object cannot be cast as 'str'",
    ),
    "load-path": (
        lambda t: t.load(pathlib.Path("m")),
        TypeError,
        "argument 'model_file_path': 'PosixPath' object cannot be cast as 'str'",
    ),
    "load-keyword": (
        lambda t: t.load(path="m"),
        TypeError,
        "BasicTokenizer.load() got an unexpected keyword argument 'path'",
    ),
    "save-none": (
        lambda t: t.save(),
        TypeError,
        "BasicTokenizer.save() missing 2 required positional arguments: "
        "'model_file_path' and 'vocab_file_path'",
    ),
    "save-one": (
        lambda t: t.save("m.model"),
        TypeError,
        "BasicTokenizer.save() missing 1 required positional argument: 'vocab_file_path'",
    ),
    "save-three": (
        lambda t: t.save("a", "b", "c"),
        TypeError,
        "BasicTokenizer.save() takes 2 positional arguments but 3 were given",
    ),
    "save-none-model": (
        lambda t: t.save(None, "v"),
        TypeError,
        "argument 'model_file_path': 'NoneType' object cannot be cast as 'str'",
    ),
    "save-int-vocab": (
        lambda t: t.save("m", 5),
        TypeError,
        "argument 'vocab_file_path': 'int' object cannot be cast as 'str'",
    ),
}


@pytest.mark.parametrize("call, exc, message", REFUSALS.values(), ids=REFUSALS.keys())
def test_refusal(call, exc, message, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(exc) as info:
        call(BasicTokenizer())
    error = info.value
    assert type(error) is exc
    if message is None:
        assert not str(error).startswith("argument")
    else:
        assert str(error) == message
    if str(error).startswith("argument '"):
        # The conversion's own error stays reachable as the cause.
        assert type(error.__cause__) is TypeError
        assert str(error).endswith(": " + str(error.__cause__))
    assert list(tmp_path.iterdir()) == []  # nothing written before a refusal
