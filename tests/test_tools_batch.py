"""encode_batch: the same ids as encode, whatever the threads and the shapes of the input."""

import collections
import gc
import os
import random
import signal
import sys
import threading

import pytest

from tessaron_cli.lines import split_lines
from tessaron_tools import Tokenizer


@pytest.fixture(scope="module")
def tok():
    rng = random.Random(3)
    words = ["token", "tokenizer", "batch", " ", "東京", "\n", "é"]
    return Tokenizer.train("".join(rng.choice(words) for _ in range(20000)), 600)


def documents(seed, count, longest):
    rng = random.Random(seed)
    alphabet = "tokenizer batch 東京é\n\t"
    return [
        "".join(rng.choice(alphabet) for _ in range(rng.randint(0, longest))) for _ in range(count)
    ]


# 2,000 texts of up to 2,000 characters: runs of many texts, shrinking toward the end.
@pytest.mark.parametrize("threads", [None, 1, 2, 3, 8])
@pytest.mark.parametrize("count, longest", [(0, 0), (1, 10), (500, 60), (7, 200_000), (2000, 2000)])
def test_batches_equal_single_encodes(tok, threads, count, longest):
    texts = documents(count, count, longest)
    assert tok.encode_batch(texts, threads=threads) == [tok.encode(t) for t in texts]


def test_any_iterable_of_texts_and_bytes(tok):
    texts = ["a tokenizer", b"batch \xff", bytearray(b"\x00token"), memoryview(b"batch")]
    expected = [tok.encode(t) for t in texts]
    assert tok.encode_batch(texts) == expected
    assert tok.encode_batch(iter(texts)) == expected
    assert tok.encode_batch(tuple(texts), threads=2) == expected


def test_many_short_copied_texts_keep_their_bytes(tok):
    # Texts that are neither str nor bytes are copied; a batch of many short ones once showed
    # the encoder bytes of other texts.
    texts = [bytearray(b"token batch %d" % i) for i in range(300)]
    texts += [memoryview(b"\xe6\x9d\xb1 %d" % i) for i in range(300)]
    assert tok.encode_batch(texts, threads=2) == [tok.encode(t) for t in texts]
    assert tok.encode_batch_lines(texts, threads=2) == lines_of(tok.encode_batch(texts))


def lines_of(batch):
    return "".join(" ".join(map(str, ids)) + "\n" for ids in batch).encode()


@pytest.mark.parametrize("threads", [1, 2, 5])
@pytest.mark.parametrize("count, longest", [(0, 0), (3, 0), (500, 60), (4, 100_000), (2000, 2000)])
def test_lines_are_the_batch_written_out(tok, threads, count, longest):
    # 100,000 characters make lines of more ids than a block of the writer holds.
    texts = documents(count + 7, count, longest)
    assert tok.encode_batch_lines(texts, threads=threads) == lines_of(tok.encode_batch(texts))


def test_lines_write_special_and_large_ids():
    tok = Tokenizer.from_bytes(b"tessaron v1\n\n2\n<s> 18446744073709551615\n<t> 300\n97 97\n")
    texts = ["<s>aa<t>", "aaa<s>", ""]
    special = {"allowed_special": "all"}
    assert tok.encode_batch_lines(texts, **special) == lines_of(tok.encode_batch(texts, **special))
    assert tok.encode_batch_lines(texts, **special).split(b"\n")[0] == (
        b"18446744073709551615 256 300"
    )


@pytest.mark.parametrize("threads", [1, 2, 3])
def test_large_batches_hold_each_id_once_per_use(tok, threads):
    # The threads that encode fill the lists and count the references they write; the counts
    # are added afterwards: each id's int must gain exactly one reference per use, whichever
    # threads used it, and lose them with the lists.
    texts = documents(11, 40, 20_000) + ["", "token"]
    expected = [tok.encode(t) for t in texts]
    uses = collections.Counter(i for ids in expected for i in ids)
    held = {i: next(x for ids in expected for x in ids if x == i) for i in uses if i > 256}
    assert len(held) > 20  # ints of the model's own, not the interpreter's shared ones
    before = {i: sys.getrefcount(x) for i, x in held.items()}
    got = tok.encode_batch(texts, threads=threads)
    assert got == expected
    assert all(sys.getrefcount(x) == before[i] + uses[i] for i, x in held.items())
    assert all(gc.is_tracked(ids) for ids in got)
    del got
    gc.collect()
    assert all(sys.getrefcount(x) == before[i] for i, x in held.items())


def test_callers_on_several_threads_at_once(tok):
    # Each call takes kept threads of its own: calls at once must neither share them nor
    # wait on each other's.
    # Runs of at least 64 KB: 600 KB of texts keep every thread busy.
    texts = documents(12, 60, 20_000)
    expected = [tok.encode(t) for t in texts]
    wrong = []

    def caller():
        for _ in range(15):
            if tok.encode_batch(texts, threads=2) != expected:
                wrong.append(1)

    callers = [threading.Thread(target=caller) for _ in range(4)]
    for thread in callers:
        thread.start()
    for thread in callers:
        thread.join()
    assert not wrong


def test_forked_child_encodes_batches(tok):
    # The parent keeps the threads of its batches; they do not exist in a child.
    # Enough text for runs on all three threads, so that the parent keeps two.
    texts = documents(13, 40, 20_000)
    expected = tok.encode_batch(texts, threads=3)
    pid = os.fork()
    if pid == 0:
        signal.alarm(60)  # a child waiting on its parent's threads would hang
        os._exit(0 if tok.encode_batch(texts, threads=3) == expected else 1)
    _, status = os.waitpid(pid, 0)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0


def test_results_are_independent_lists(tok):
    first, second = tok.encode_batch(["token", "token"])
    assert first == second and first is not second


@pytest.mark.parametrize(
    "texts, threads, exc",
    [
        ("a string", None, TypeError),
        (["ok", 5], None, TypeError),
        (["ok", "\ud800"], None, UnicodeEncodeError),
        (["ok"], 0, ValueError),
        (["ok"], -1, OverflowError),
        (["ok"], "2", TypeError),
        (5, None, TypeError),
    ],
)
def test_batch_errors(tok, texts, threads, exc):
    with pytest.raises(exc):
        tok.encode_batch(texts, threads=threads)
    with pytest.raises(exc):
        tok.encode_batch_lines(texts, threads=threads)


@pytest.mark.parametrize("threads", [1, 2, 5])
@pytest.mark.parametrize(
    "data",
    [
        b"",
        b"\n",
        b"\n\n",
        b"no line feed",
        b"one\n",
        b"two\r\nlines\n\nand a last without",
        "東京\né\n\n",
        bytearray(b"copied\nlines\n"),
        memoryview(b"x" * 70_000 + b"\n" + b"token batch\n" * 30_000),
    ],
    ids=repr,
)
def test_lines_of_data_are_its_lines_written_out(tok, threads, data):
    # The command line's idea of a line, found natively: the same as splitting in Python.
    raw = data.encode() if isinstance(data, str) else bytes(data)
    expected = tok.encode_batch_lines(split_lines(raw))
    assert tok.encode_lines(data, threads=threads) == expected
    assert tok.encode_lines(data, threads=threads).count(b"\n") == len(split_lines(raw))


def test_lines_of_data_with_special_tokens():
    tok = Tokenizer.from_bytes(b"tessaron v1\n\n2\n<s> 18446744073709551615\n<t> 300\n97 97\n")
    special = {"allowed_special": "all"}
    assert (
        tok.encode_lines("<s>aa\naaa<t>\n", **special) == b"18446744073709551615 256\n256 97 300\n"
    )
    assert tok.encode_lines("<s>\n") == tok.encode_batch_lines(["<s>"])


@pytest.mark.parametrize(
    "data, threads, exc",
    [(["a list"], None, TypeError), ("\ud800", None, UnicodeEncodeError), ("ok", 0, ValueError)],
)
def test_lines_of_data_errors(tok, data, threads, exc):
    with pytest.raises(exc):
        tok.encode_lines(data, threads=threads)


def test_a_thread_that_took_no_run_adds_no_references(tok):
    # A batch's thread may find every run taken before it starts. What it counted in an
    # earlier batch must not be added again: each id's int keeps exactly its uses.
    first = documents(17, 30, 4000)
    ids = tok.encode_batch(first, threads=2)
    held = list({x for row in ids for x in row if x > 256})
    del ids
    gc.collect()
    before = [sys.getrefcount(x) for x in held]
    # Eight runs for eight threads on fewer cores: the last threads to start often find none.
    runs = ["token batch" * 6000] * 8
    for _ in range(100):
        got = tok.encode_batch(runs, threads=8)
        del got
        tok.encode_batch(first, threads=8)
    gc.collect()
    assert [sys.getrefcount(x) for x in held] == before
