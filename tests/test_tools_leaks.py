"""The second face's calls, successful and failing, leave no memory behind."""

import gc
import pathlib
import tracemalloc

import pytest

from tessaron_tools import Tokenizer
from test_leaks import ROUNDS, WARM, BadIndex, Stop, expect, malloc_in_use

TEXT = "hello world, hello tokenizer<|s|> " * 40
MODEL = b"tessaron v1\n\n1\n<|s|> 300\n104 105\n256 33\n"


def stop(done, wanted):
    raise Stop


def calls(tmp_path):
    tok = Tokenizer.from_bytes(MODEL)
    good, out, corpus = tmp_path / "good.model", tmp_path / "out.model", tmp_path / "corpus.txt"
    missing = tmp_path / "no" / "such"
    ids = list(range(256)) * 4
    return {
        "new": Tokenizer,
        "train": lambda: Tokenizer.train(TEXT, 300, special_tokens=["<|s|>"]),
        "train/threads": lambda: Tokenizer.train(TEXT.encode(), 270, threads=2),
        "train/progress": lambda: Tokenizer.train(TEXT, 270, progress=lambda d, w: None),
        "train/progress raises": lambda: expect(Stop, Tokenizer.train, TEXT, 270, progress=stop),
        "train/special twice": lambda: expect(
            ValueError, Tokenizer.train, TEXT, 300, special_tokens=["a", "a"]
        ),
        "train/too small": lambda: expect(ValueError, Tokenizer.train, TEXT, 10),
        "train_files": lambda: Tokenizer.train_files([corpus, corpus], 270),
        "train_files/missing": lambda: expect(
            FileNotFoundError, Tokenizer.train_files, [corpus, missing], 270
        ),
        "load": lambda: Tokenizer.load(good),
        "load/missing": lambda: expect(FileNotFoundError, Tokenizer.load, missing),
        "from_bytes": lambda: Tokenizer.from_bytes(MODEL),
        "from_bytes/format": lambda: expect(ValueError, Tokenizer.from_bytes, b"x\n"),
        "to_bytes": tok.to_bytes,
        "save": lambda: tok.save(out),
        "save/missing dir": lambda: expect(FileNotFoundError, tok.save, missing),
        "encode": lambda: tok.encode(TEXT),
        "encode/special": lambda: tok.encode(TEXT, allowed_special="all"),
        "encode/not special": lambda: expect(ValueError, tok.encode, TEXT, allowed_special=["x"]),
        "encode/surrogate": lambda: expect(UnicodeEncodeError, tok.encode, "a\udcff"),
        "encode_batch": lambda: tok.encode_batch([TEXT, TEXT.encode()] * 4, threads=2),
        "encode_batch/bad item": lambda: expect(TypeError, tok.encode_batch, [TEXT, 5]),
        "encode_batch_lines": lambda: tok.encode_batch_lines([TEXT, bytearray(b"ab")] * 4),
        "encode_lines": lambda: tok.encode_lines(bytearray((TEXT + "\n").encode() * 4), threads=2),
        "decode": lambda: tok.decode(ids),
        "decode_bytes": lambda: tok.decode_bytes(ids),
        "decode/unknown": lambda: expect(ValueError, tok.decode, ids + [10**6]),
        "decode/too large": lambda: expect(ValueError, tok.decode_bytes, ids + [2**70]),
        "decode/index raises": lambda: expect(Stop, tok.decode_bytes, [1, BadIndex()]),
        "token_bytes": lambda: tok.token_bytes(257),
        "merges": lambda: tok.merges,
        "special_tokens": lambda: tok.special_tokens,
        "repr": lambda: repr(tok),
        "reduce": tok.__reduce__,
    }


SLOW = {"train", "train_files", "save"}
NAMES = sorted(calls(pathlib.Path("unused")))


@pytest.fixture(scope="module")
def table(tmp_path_factory):
    folder = tmp_path_factory.mktemp("tools-leaks")
    (folder / "good.model").write_bytes(MODEL)
    (folder / "corpus.txt").write_text(TEXT)
    return calls(folder)


def growth(call, rounds):
    """Python and native bytes gained over `rounds` calls."""
    python_before, native_before = tracemalloc.get_traced_memory()[0], malloc_in_use()
    for _ in range(rounds):
        call()
    gc.collect()
    return tracemalloc.get_traced_memory()[0] - python_before, malloc_in_use() - native_before


@pytest.mark.parametrize("name", NAMES)
def test_repeated_calls_do_not_grow(table, name):
    call = table[name]
    # Training and writing files cost milliseconds; whatever they leak, a model or a buffer,
    # is large.
    rounds = ROUNDS // 10 if name.split("/")[0] in SLOW else ROUNDS
    for _ in range(WARM):
        call()
    gc.collect()
    tracemalloc.start()
    try:
        # A leak grows in both windows; memory taken once shows in one only.
        first, second = growth(call, rounds), growth(call, rounds)
    finally:
        tracemalloc.stop()
    # A leak of one small object per call would show as `rounds` times its size.
    assert min(first[0], second[0]) < 8 * rounds
    assert min(first[1], second[1]) < 24 * rounds


def test_attribute_names_are_not_made_per_call():
    # The interpreter caches type attribute look-ups with a reference to the name: a name made
    # afresh for each call stayed alive there, tens of bytes a call.
    def call():
        expect(ValueError, Tokenizer.train_files, [], 10)

    for _ in range(WARM):
        call()
    gc.collect()
    tracemalloc.start()
    try:
        first, second = growth(call, 2000), growth(call, 2000)
    finally:
        tracemalloc.stop()
    assert min(first[0], second[0]) < 1000
