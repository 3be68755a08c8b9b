"""Repeated calls, successful and failing, leave no memory and no references behind.

Three meters: glibc's count of bytes in use (the C++ side and large Python buffers),
tracemalloc (Python objects), and the reference counts of the objects a call touches."""

import ctypes
import gc
import os
import sys
import tracemalloc

import pytest

from tessaron import BasicTokenizer


class _MallInfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in (
            "arena",
            "ordblks",
            "smblks",
            "hblks",
            "hblkhd",
            "usmblks",
            "fsmblks",
            "uordblks",
            "fordblks",
            "keepcost",
        )
    ]


try:
    _mallinfo2 = ctypes.CDLL(None).mallinfo2
    _mallinfo2.restype = _MallInfo2
except AttributeError:  # not glibc
    _mallinfo2 = None


def malloc_in_use():
    if _mallinfo2 is None:
        return 0
    info = _mallinfo2()
    return info.uordblks + info.hblkhd


class Stop(Exception):
    pass


class BadIndex:
    def __index__(self):
        raise Stop


class Reenter:
    """Its __index__ calls encode or decode on the tokenizer that is being trained."""

    def __init__(self, tok):
        self.tok = tok

    def __index__(self):
        self.tok.decode([1])
        return 300


def expect(kind, call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except BaseException as error:
        assert type(error).__name__ == kind if isinstance(kind, str) else isinstance(error, kind)
    else:
        assert kind is None, f"no {kind}"


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    d = tmp_path_factory.mktemp("leaks")
    good = d / "good.model"
    good.write_bytes(b"tessaron v1\n\n1\n<s> 300\n104 105\n256 33\n")
    bad = d / "bad.model"
    bad.write_bytes(b"tessaron v1\n\n0\n1 2\n3 x\n")
    huge = d / "huge.model"
    huge.write_bytes(
        b"tessaron v1\n\n0\n97 97\n" + b"".join(b"%d %d\n" % (k, k) for k in range(256, 319))
    )
    return {
        "dir": str(d),
        "good": str(good),
        "bad": str(bad),
        "huge": str(huge),
        "out": str(d / "out"),
        "missing": str(d / "no" / "such"),
    }


IDS = list(range(256)) * 4
TEXT = "hello world, hello tokenizer " * 40


def calls(files, good=None):
    tok = BasicTokenizer()
    tok.load(good or files["good"])
    out, missing = files["out"], files["missing"]
    table = {
        "new": lambda: BasicTokenizer(3),
        "new/TypeError": lambda: expect(TypeError, BasicTokenizer, None),
        "new/binding": lambda: expect(TypeError, BasicTokenizer, 1, 2),
        "new/OverflowError": lambda: expect(OverflowError, BasicTokenizer, -1),
        "build_vocab": tok.build_vocab,
        "build_vocab/args": lambda: expect(TypeError, tok.build_vocab, 1),
        "decode/list": lambda: tok.decode(IDS),
        "decode/bytes": lambda: tok.decode(bytes(range(256))),
        "decode/range": lambda: tok.decode(range(258)),
        "decode/unknown": lambda: expect(OSError, tok.decode, IDS + [10**6]),
        "decode/str": lambda: expect(TypeError, tok.decode, "12"),
        "decode/int": lambda: expect(TypeError, tok.decode, 5),
        "decode/negative": lambda: expect(OverflowError, tok.decode, [1, -1]),
        "decode/float": lambda: expect(TypeError, tok.decode, [1, 1.5]),
        "decode/index raises": lambda: expect(Stop, tok.decode, [1, BadIndex()]),
        "decode/keyword": lambda: expect(TypeError, tok.decode, ids=[1], x=2),
        "save_model": lambda: tok.save_model(out),
        "save_model/missing dir": lambda: expect(FileNotFoundError, tok.save_model, missing),
        "save_model/NUL": lambda: expect(OSError, tok.save_model, out + "\0"),
        "save_model/bytes": lambda: expect(TypeError, tok.save_model, out.encode()),
        "save_vocab": lambda: tok.save_vocab(out),
        "save_vocab/missing dir": lambda: expect(FileNotFoundError, tok.save_vocab, missing),
        "save": lambda: tok.save(out, out + ".vocab"),
        "save/no listing": lambda: tok.save(out, None),
        "save/missing arg": lambda: expect(TypeError, tok.save, out),
        "load": lambda: tok.load(files["good"]),
        "load/missing": lambda: expect(FileNotFoundError, tok.load, missing),
        "load/format": lambda: expect(OSError, tok.load, files["bad"]),
        "load/too large": lambda: expect(MemoryError, tok.load, files["huge"]),
        "load/surrogate": lambda: expect(UnicodeEncodeError, tok.load, "\udcff"),
    }
    if os.path.exists("/dev/full"):
        table["save_model/full device"] = lambda: expect(OSError, tok.save_model, "/dev/full")
    if hasattr(tok, "encode"):
        table["encode"] = lambda: tok.encode(TEXT)
        table["encode/bytes"] = lambda: expect(TypeError, tok.encode, b"abc")
        table["encode/surrogate"] = lambda: expect(UnicodeEncodeError, tok.encode, "a\udcff")
    if hasattr(tok, "train"):
        fresh = BasicTokenizer()
        threaded = BasicTokenizer(2)
        table["train"] = lambda: fresh.train(TEXT, 280)
        table["train/threads"] = lambda: threaded.train(TEXT, 270)
        table["train/too small"] = lambda: expect("PanicException", fresh.train, "abc", 255)
        table["train/OverflowError"] = lambda: expect(OverflowError, fresh.train, "abc", 2**64)
        table["train/borrowed"] = lambda: expect(RuntimeError, fresh.train, "abc", Reenter(fresh))
    return table


@pytest.fixture(scope="module")
def table(files):
    return calls(files)


def _names():
    """The table's keys, for parametrize (only `good` is touched while building it)."""
    empty = os.path.join(os.path.dirname(__file__), "..", "fuzz", "corpus", "model", "empty_model")
    return sorted(calls(dict.fromkeys(["bad", "huge", "out", "missing"], ""), good=empty))


WARM, ROUNDS = 100, 2000


def _growth(call):
    """Python and native bytes gained over ROUNDS calls."""
    python_before = tracemalloc.get_traced_memory()[0]
    native_before = malloc_in_use()
    for _ in range(ROUNDS):
        call()
    gc.collect()
    return tracemalloc.get_traced_memory()[0] - python_before, malloc_in_use() - native_before


@pytest.mark.parametrize("name", _names())
def test_repeated_calls_do_not_grow(table, name):
    call = table[name]
    for _ in range(WARM):
        call()
    gc.collect()
    tracemalloc.start()
    try:
        for _ in range(WARM):
            call()
        gc.collect()
        # A leak grows in every window; memory taken once (a cache or free list of the
        # interpreter filling up, now and then in the middle of the suite) shows in one only.
        first, second = _growth(call), _growth(call)
    finally:
        tracemalloc.stop()
    python_growth, native_growth = min(first[0], second[0]), min(first[1], second[1])
    # A leak of one small object per call would show as ROUNDS times its size.
    assert python_growth < 16 * 1024, python_growth
    assert native_growth < 48 * 1024, native_growth


def test_arguments_keep_their_reference_counts(table, files):
    watched = [
        IDS,
        TEXT,
        files["out"],
        files["good"],
        files["missing"],
        None,
        BasicTokenizer,
        TypeError,
        OSError,
        OverflowError,
        MemoryError,
        RuntimeError,
        FileNotFoundError,
    ]
    for call in table.values():
        call()
    gc.collect()
    before = [sys.getrefcount(o) for o in watched]
    for call in table.values():
        for _ in range(50):
            call()
    gc.collect()
    # Each call ran 50 times: a reference taken or dropped per call moves a count by 50;
    # None's count also moves a little with the interpreter's own bookkeeping.
    drift = [sys.getrefcount(o) - b for o, b in zip(watched, before)]
    assert all(abs(d) < 10 for d in drift), drift
