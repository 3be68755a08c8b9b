"""Hostile inputs, each with the outcome it must end in.

Every case takes a scale (1.0 is the full size) and a scratch directory, runs the input and
checks the result; it raises AssertionError when the outcome is wrong. The light variants run
in the normal suite at a small scale; the full sizes run in child processes, one per case, so
that time and peak memory can be measured:

    python tests/hostile.py            # every case at full size, a table of time and peak RSS
    python tests/hostile.py NAME ...   # chosen cases

Beside each case's total (input building and checks included) and the process's peak
resident size, the table gives each kind of tokenizer call: its time, and the memory it
needed above what the process already held.
"""

import json
import os
import random
import subprocess
import sys
import time

from reference import encode as reference_encode
from reference.vocab import render_token
from tessaron import BasicTokenizer

HEAD = b"tessaron v1\n\n0\n"
TOP = 2**64 - 1


CALLS = {}  # label -> [seconds, largest peak above the resident size at the call, MiB]
PEAK = [0.0]  # the process's peak resident size, MiB, across the resets below


def _status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    return 0.0


def _timed(label, method, *args):
    """Calls a tokenizer method, recording its time and the memory it needed on top of
    what the process held (the kernel's peak is reset before the call)."""
    resident = _status("VmRSS")
    PEAK[0] = max(PEAK[0], _status("VmHWM"))
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass
    start = time.perf_counter()
    try:
        return method(*args)
    finally:
        seconds = time.perf_counter() - start
        high = _status("VmHWM")
        PEAK[0] = max(PEAK[0], high)
        extra = max(0.0, high - resident)
        entry = CALLS.setdefault(label, [0.0, 0.0])
        entry[0] += seconds
        entry[1] = max(entry[1], extra)


def _write(directory, name, chunks):
    path = os.path.join(directory, name)
    with open(path, "wb") as f:
        for chunk in chunks:
            f.write(chunk)
    return path


def _load_error(path, tok=None):
    tok = tok or BasicTokenizer()
    try:
        _timed("failing load", tok.load, path)
    except OSError as error:
        return error
    raise AssertionError("load succeeded")


def _needs(method):
    if not hasattr(BasicTokenizer, method):
        raise NotImplementedError(method)


def million_rules(scale, directory):
    """A million distinct rules whose tokens stay short: loads, round-trips, decodes."""
    n = int(1_000_000 * scale)

    # Rule k joins byte k % 256 to the token of rule k // 256 (or to a byte), so the
    # pairs are distinct and every token is at most four bytes long.
    def rule(k):
        right = 256 + k // 256 - 1 if k >= 256 else k
        return b"%d %d\n" % (k % 256, right)

    data = HEAD + b"".join(rule(k) for k in range(n))
    path = _write(directory, "million.model", [data])
    tok = BasicTokenizer()
    _timed("load", tok.load, path)
    out = os.path.join(directory, "again.model")
    tok.save_model(out)
    with open(out, "rb") as f:
        assert f.read() == data
    sample = range(0, n, max(1, n // 1000))
    assert tok.decode([256 + k for k in sample]) == "".join(render_token(_token(k)) for k in sample)
    if hasattr(tok, "encode"):
        data = bytes(random.Random(n).randrange(256) for _ in range(800))
        rules = reference_encode.merges_from_lines(rule(k).split() for k in range(n))
        rules = {(int(a), int(b)): new for (a, b), new in rules.items()}
        assert tok.encode(data.decode("latin-1")) == reference_encode.encode(
            rules, data.decode("latin-1").encode()
        )


def _token(k):
    """Bytes of the token of rule k in million_rules."""
    head = bytes([k % 256])
    return head + (_token(k // 256 - 1) if k >= 256 else bytes([k]))


def huge_ids(scale, directory):
    """Ids at the top of the 64-bit range: specials and rules there load and decode."""
    n = int(1_000_000 * scale)
    specials = b"".join(b"t%d %d\n" % (k, TOP - k) for k in range(n))
    rules = b"".join(b"%d %d\n" % (TOP - k, TOP - k - 1) for k in range(n))
    path = _write(directory, "top.model", [b"tessaron v1\n\n%d\n" % n, specials, rules])
    tok = BasicTokenizer()
    _timed("load", tok.load, path)
    assert tok.decode([TOP, TOP - n + 1]) == "t0t%d" % (n - 1)
    # Rules name specials, which the builder enters after the rules: a second build joins them.
    try:
        tok.decode([256])
    except OSError:
        pass
    else:
        raise AssertionError("a rule was built before its parts")
    tok.build_vocab()
    assert tok.decode([256]) == "t0t1"
    if hasattr(tok, "encode"):
        assert tok.encode("t0t1 x") == list(b"t0t1 x")  # no rule joins two bytes
    try:
        tok.decode([TOP - n])
    except OSError as error:
        assert error.args == ("invalid token ID: %d" % (TOP - n),)
    else:
        raise AssertionError("decoded an id without an entry")


def long_line(scale, directory):
    """A 100 MB line: as the pattern it loads; as a number or a field it fails cleanly."""
    size = int(100_000_000 * scale)
    path = _write(directory, "pattern.model", [b"tessaron v1\n", b"x" * size, b"\n0\n97 98\n"])
    tok = BasicTokenizer()
    _timed("load", tok.load, path)
    assert tok.decode([256]) == "ab"
    path = _write(directory, "number.model", [HEAD, b"1" * size, b" 2\n"])
    assert _load_error(path, tok).args == ("number too large to fit in target type",)
    path = _write(directory, "blank.model", [HEAD, b" " * size, b"\n"])
    assert _load_error(path, tok).args == ("invalid merge entry",)
    path = _write(directory, "utf8.model", [HEAD, b"1" * size, b"\xff\n"])
    assert _load_error(path, tok).args == ("stream did not contain valid UTF-8",)
    assert tok.decode([256]) == "ab"  # failed loads changed nothing


def chains(scale, directory):
    """Rules chained into tokens too long to hold fail with MemoryError; cycles stay small."""
    tok = BasicTokenizer()
    tok.build_vocab()
    # Each rule doubles the previous token: 64 lines would make 2**65 bytes.
    doubling = HEAD + b"97 97\n" + b"".join(b"%d %d\n" % (k, k) for k in range(256, 319))
    path = _write(directory, "doubling.model", [doubling])
    try:
        _timed("refused load", tok.load, path)
    except MemoryError:
        pass
    else:
        raise AssertionError("a doubling chain loaded")
    # Each rule adds a byte: a million lines would make 5 * 10**11 bytes.
    n = int(1_000_000 * scale)
    linear = HEAD + b"97 97\n" + b"".join(b"%d 98\n" % k for k in range(256, 256 + n))
    path = _write(directory, "linear.model", [linear])
    try:
        _timed("refused load", tok.load, path)
    except MemoryError:
        assert n * n // 2 > _phys() // 32
    else:
        assert n * n // 2 <= _phys() // 32
        if hasattr(tok, "encode"):
            assert tok.encode("aa" + "b" * (n - 1)) == [256 + n - 1]
            assert tok.encode("aab" + "a" * n) == [257] + [256] * (n // 2) + [97] * (n % 2)
    assert tok.decode([97]) == "a"  # the refused loads changed nothing
    # A cycle through a special token: every build_vocab() lengthens it fourfold.
    path = _write(directory, "cycle.model", [b"tessaron v1\n\n1\nx 256\n257 257\n256 256\n"])
    tok = BasicTokenizer()
    tok.load(path)
    assert tok.decode([256]) == "x"
    tok.build_vocab()
    assert tok.decode([256, 257]) == "xxx"
    for calls in range(1, 40):
        try:
            tok.build_vocab()
        except MemoryError:
            break
    else:
        raise AssertionError("the cycle never hit the bound")
    assert tok.decode([256]) == "x"  # the refused build changed nothing
    # A rule naming its own id has no parts the first time and stays absent.
    path = _write(directory, "self.model", [HEAD + b"256 256\n"])
    tok = BasicTokenizer()
    tok.load(path)
    tok.build_vocab()
    try:
        tok.decode([256])
    except OSError:
        pass
    else:
        raise AssertionError("a self-referencing rule got a token")


def repeated_byte(scale, directory):
    """100 MB of one byte: training doubles the token, then joins the leftovers into one
    token for the whole text; encoding finds that token."""
    _needs("train")
    size = int(100_000_000 * scale)
    text = "a" * size
    tok = BasicTokenizer()
    _timed("train", tok.train, text, 300)
    path = os.path.join(directory, "a.model")
    tok.save_model(path)
    with open(path, "rb") as f:
        rules = f.read().splitlines()[3:]
    # Doublings, one per bit of the size, then one join per further set bit.
    assert rules[:3] == [b"97 97", b"256 256", b"257 257"]
    assert len(rules) == size.bit_length() - 1 + bin(size).count("1") - 1
    whole = 255 + len(rules)
    assert _timed("decode", tok.decode, [whole]) == text
    _needs("encode")
    assert _timed("encode", tok.encode, text) == [whole]


def max_vocab_size(scale, directory):
    """vocab_size 2**64 - 1 on a million random letters: training merges until one token is left."""
    _needs("train")
    rng = random.Random(1)
    text = "".join(rng.choice("abcdefghijklmnopqrstuvwxyz ") for _ in range(int(1_000_000 * scale)))
    tok = BasicTokenizer()
    _timed("train", tok.train, text, TOP)
    path = os.path.join(directory, "max.model")
    tok.save_model(path)
    with open(path, "rb") as f:
        count = len(f.read().splitlines()) - 3
    # Serial: merges until one token is left, which then stands for the whole text.
    assert count < len(text.encode())
    assert tok.decode([255 + count]) == text
    if hasattr(tok, "encode"):
        assert _timed("encode", tok.encode, text) == [255 + count]
    # Chunked counting either learns the same rules or stops where the sequence gets
    # shorter than the thread count.
    threaded = BasicTokenizer(2)
    try:
        _timed("train, 2 threads", threaded.train, text, TOP)
    except BaseException as error:
        assert type(error).__name__ == "PanicException"
        assert error.args == ("chunk_size must not be zero",)
    else:
        threaded.save_model(path)
        with open(path, "rb") as f:
            assert len(f.read().splitlines()) - 3 == count


def decode_ten_million(scale, directory):
    """decode of ten million ids, as a list and as bytes, and with a bad id at the end."""
    n = int(10_000_000 * scale)
    tok = BasicTokenizer()
    tok.build_vocab()
    ids = [104, 105] * (n // 2)
    assert _timed("decode", tok.decode, ids) == "hi" * (n // 2)
    assert tok.decode(bytes(ids)) == "hi" * (n // 2)
    ids[-1] = 256
    try:
        _timed("decode", tok.decode, ids)
    except OSError as error:
        assert error.args == ("invalid token ID: 256",)
    else:
        raise AssertionError("decoded an unknown id")


def _phys():
    return os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")


CASES = {
    f.__name__: f
    for f in (
        million_rules,
        huge_ids,
        long_line,
        chains,
        repeated_byte,
        max_vocab_size,
        decode_ten_million,
    )
}


def run_alone(name, timeout=3600):
    """Runs one case at full size in a fresh interpreter: (seconds, peak RSS in MiB,
    seconds spent in each kind of tokenizer call)."""
    done = subprocess.run(
        [sys.executable, os.path.abspath(__file__), "--child", name],
        capture_output=True,
        text=True,
        timeout=timeout,
    )
    if done.returncode != 0:
        raise AssertionError("%s failed (exit %d):\n%s" % (name, done.returncode, done.stderr))
    words = done.stdout.split(maxsplit=2)
    if words[0] == "skipped":
        raise NotImplementedError(words[-1])
    return float(words[0]), float(words[1]) / 1024, json.loads(words[2])


def _child(name):
    import tempfile

    with tempfile.TemporaryDirectory() as directory:
        start = time.perf_counter()
        try:
            CASES[name](1.0, directory)
        except NotImplementedError as missing:
            print("skipped", missing)
            return
        seconds = time.perf_counter() - start
    peak = max(PEAK[0], _status("VmHWM")) * 1024
    print(seconds, peak, json.dumps(CALLS))


if __name__ == "__main__":
    if sys.argv[1:2] == ["--child"]:
        _child(sys.argv[2])
    else:
        for case in sys.argv[1:] or CASES:
            try:
                seconds, peak, calls = run_alone(case)
            except NotImplementedError as missing:
                print("%-20s skipped: no %s" % (case, missing))
                continue
            inside = ", ".join(
                "%s %.2f s +%.0f MiB" % (label, seconds, extra)
                for label, (seconds, extra) in calls.items()
            )
            print(
                "%-20s %7.2f s %6.0f MiB peak RSS   (%s)" % (case, seconds, peak, inside),
                flush=True,
            )
