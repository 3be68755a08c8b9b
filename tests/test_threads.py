"""Many Python threads on shared and separate tokenizers: the only failures are the
borrow errors, and every result equals the single-threaded one."""

import random
import sys
import threading
import time

import pytest

from tessaron import BasicTokenizer

pytestmark = pytest.mark.skipif(
    not all(hasattr(BasicTokenizer, m) for m in ("train", "encode")),
    reason="needs train and encode",
)

BORROW_ERRORS = {"Already borrowed", "Already mutably borrowed"}
# Only one pair type at every step: training on it is deterministic (no ties to break).
STEADY = "a" * 1024
STEADY_SIZE = 266
TEXTS = ["hello world, hello threads", "the quick brown fox " * 30, "a" * 77, "", "é€😀 mixed"]


class Yielding:
    """A sequence whose iteration gives up the interpreter lock, so that other threads
    run while the caller holds its access to the tokenizer."""

    def __init__(self, ids):
        self.ids = ids

    def __len__(self):
        return len(self.ids)

    def __getitem__(self, i):
        if i % 16 == 0:
            time.sleep(0.0005)
        return self.ids[i]


class YieldingSize:
    """A vocab_size that gives up the interpreter lock while train holds its access."""

    def __index__(self):
        time.sleep(0.0005)
        return STEADY_SIZE


def model_bytes(tok, path):
    tok.save_model(str(path))
    return path.read_bytes()


def test_threads_on_shared_and_separate_tokenizers(tmp_path):
    fixed = BasicTokenizer(2)  # trained once, then only read
    fixed.train("the quick brown fox jumps over the lazy dog. " * 50, 320)
    steady = BasicTokenizer(2)  # retrained by some threads while others read it
    steady.train(STEADY, STEADY_SIZE)

    encoded = {t: fixed.encode(t) for t in TEXTS}
    decoded = {t: fixed.decode(ids) for t, ids in encoded.items()}
    steady_encoded = {t: steady.encode(t) for t in TEXTS}
    fixed_model = model_bytes(fixed, tmp_path / "fixed.model")
    steady_model = model_bytes(steady, tmp_path / "steady.model")

    errors, mismatches, borrow_errors = [], [], []

    def check(name, got, want):
        if got != want:
            mismatches.append((name, got, want))

    def worker(seed):
        rng = random.Random(seed)
        own = BasicTokenizer(rng.choice([1, 2, 3]))
        path = tmp_path / f"w{seed}.model"
        for _ in range(60):
            text = rng.choice(TEXTS)
            op = rng.randrange(8)
            try:
                if op == 0:
                    check("encode", fixed.encode(text), encoded[text])
                elif op == 1:
                    check("decode", fixed.decode(Yielding(encoded[text])), decoded[text])
                elif op == 2:
                    check("save_model", model_bytes(fixed, path), fixed_model)
                elif op == 3:
                    steady.train(STEADY, YieldingSize())
                elif op == 4:
                    check("steady encode", steady.encode(text), steady_encoded[text])
                elif op == 5:
                    ids = steady_encoded[text]
                    check("steady decode", steady.decode(Yielding(ids)), steady.decode(ids))
                elif op == 6:
                    check("steady save_model", model_bytes(steady, path), steady_model)
                else:
                    own.train(STEADY, STEADY_SIZE)
                    check("own model", model_bytes(own, path), steady_model)
                    check("own encode", own.encode(text), steady_encoded[text])
            except RuntimeError as error:
                if str(error) in BORROW_ERRORS:
                    borrow_errors.append(str(error))
                else:
                    errors.append(repr(error))
            except BaseException as error:  # anything else is a fault
                errors.append(repr(error))

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(12)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=120)
        assert not any(t.is_alive() for t in threads)
    finally:
        sys.setswitchinterval(interval)
    assert errors == []
    assert mismatches == []
    # The yielding arguments make the threads meet on the shared tokenizers.
    assert borrow_errors, borrow_errors
    # The access flags are free again: exclusive calls succeed on both.
    fixed.build_vocab()
    steady.build_vocab()
    assert model_bytes(steady, tmp_path / "end.model") == steady_model
