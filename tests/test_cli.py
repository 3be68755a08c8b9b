"""The `tessaron` command end to end, in subprocesses."""

import os
import pty
import subprocess
import sys

import pytest

TEXT_A = "the quick brown fox jumps over the lazy dog\nthe lazy dog sleeps\n" * 20
TEXT_B = "".join(f"line {i}: héllo wörld, 漢字 and more text\n" for i in range(300))


def tessaron(*args, stdin=None, cwd=None, stderr=subprocess.PIPE):
    return subprocess.run(
        [sys.executable, "-m", "tessaron_cli", *args],
        input=stdin,
        stdout=subprocess.PIPE,
        stderr=stderr,
        cwd=cwd,
        timeout=120,
    )


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    d = tmp_path_factory.mktemp("cli")
    (d / "a.txt").write_text(TEXT_A, encoding="utf-8")
    (d / "b.txt").write_text(TEXT_B, encoding="utf-8")
    r = tessaron("train", "a.txt", "b.txt", "--vocab-size", "320", "-o", "m", cwd=d)
    assert r.returncode == 0, r.stderr
    assert r.stderr == b""  # piped: no progress
    return d


def test_train_writes_model_and_listing(corpus):
    model = (corpus / "m.model").read_text(encoding="utf-8").split("\n")
    assert model[:3] == ["tessaron v1", "", "0"]
    assert len(model) == 3 + 64 + 1  # 64 rules, then the final line feed
    listing = (corpus / "m.vocab").read_text(encoding="utf-8").splitlines()
    assert len(listing) == 320 and listing[65] == "[A] 65"


def test_train_from_stdin_equals_files(corpus):
    r = tessaron(
        "train", "-v", "320", "-o", "s", "-t", "1", stdin=(TEXT_A + TEXT_B).encode(), cwd=corpus
    )
    assert r.returncode == 0, r.stderr
    assert (corpus / "s.model").read_bytes() == (corpus / "m.model").read_bytes()


def test_encode_decode_round_trip(corpus):
    enc = tessaron("encode", "-m", "m.model", "a.txt", cwd=corpus)
    assert enc.returncode == 0, enc.stderr
    lines = enc.stdout.decode().splitlines()
    assert len(lines) == TEXT_A.count("\n")
    assert len(lines[0].split()) < len("the quick brown fox jumps over the lazy dog")
    dec = tessaron("decode", "-m", "m.model", stdin=enc.stdout, cwd=corpus)
    assert dec.returncode == 0, dec.stderr
    assert dec.stdout.decode() == TEXT_A


def test_encode_matches_module(corpus):
    import tessaron as module

    tok = module.BasicTokenizer()
    tok.load(str(corpus / "m.model"))
    r = tessaron("encode", "-m", "m.model", "--whole", "b.txt", cwd=corpus)
    assert r.stdout.decode() == " ".join(map(str, tok.encode(TEXT_B))) + "\n"
    r = tessaron("encode", "-m", "m.model", "--text", "héllo 漢字", cwd=corpus)
    assert r.stdout.decode().split() == [str(i) for i in tok.encode("héllo 漢字")]


@pytest.mark.parametrize("mode", [[], ["--whole"]])
def test_encode_jobs_output_equals_one_job(corpus, mode):
    files = []
    for i in range(5):  # a mix of small files and one spanning several batches
        f = corpus / f"j{i}.txt"
        f.write_text((TEXT_B * 30) if i == 2 else TEXT_A[: 100 * i], encoding="utf-8")
        files.append(f.name)
    one = tessaron("encode", "-m", "m.model", *mode, *files, cwd=corpus)
    many = tessaron("encode", "-m", "m.model", "--jobs", "3", *mode, *files, cwd=corpus)
    assert one.returncode == many.returncode == 0, many.stderr
    assert many.stdout == one.stdout and len(one.stdout) > 50_000


def test_info_summarises(corpus):
    r = tessaron("info", "m.model", "--top", "3", cwd=corpus)
    assert r.returncode == 0, r.stderr
    out = r.stdout.decode()
    assert "merge rules:    64" in out and "vocabulary:     320 tokens" in out
    assert len(out.split("longest tokens:")[1].strip().splitlines()) == 3


@pytest.mark.parametrize(
    "args, stdin, code, message",
    [
        (["encode", "-m", "m.model", "missing.txt"], None, 1, "missing.txt: no such file"),
        (["encode", "-m", "missing.model", "a.txt"], None, 1, "missing.model: no such file"),
        (
            ["encode", "-m", "bad.model", "a.txt"],
            None,
            1,
            "bad.model: not a valid tessaron model: invalid version",
        ),
        (
            ["info", "empty.model"],
            None,
            1,
            "empty.model: not a valid tessaron model: missing version",
        ),
        (["decode", "-m", ".", "a.txt"], None, 1, ".: is a directory"),
        (
            ["encode", "-m", "m.model", "latin1.txt"],
            None,
            1,
            "latin1.txt: not UTF-8 text (invalid byte 0xe9 at offset 1)",
        ),
        (["decode", "-m", "m.model"], b"1 2\n3 x\n", 1, "<stdin>:2: 'x' is not a token id"),
        (["decode", "-m", "m.model"], b"-1\n", 1, "<stdin>:1: '-1' is not a token id"),
        (["decode", "-m", "m.model"], b"18446744073709551616\n", 1, "is not a token id"),
        (["decode", "-m", "m.model"], b"104 99999 105\n", 1, "<stdin>:1: invalid token ID: 99999"),
        (
            ["train", "a.txt", "-v", "300", "-o", "nodir/m"],
            None,
            1,
            "cannot write nodir/m.model: No such file or directory",
        ),
        (["train", "a.txt", "-v", "255", "-o", "x"], None, 2, "must be at least 256, got 255"),
        (["train", "a.txt", "-v", "lots", "-o", "x"], None, 2, "'lots' is not a whole number"),
        (["train", "a.txt", "-o", "x"], None, 2, "required: -v/--vocab-size"),
        (["encode", "-m", "m.model", "-j", "0", "a.txt"], None, 2, "must be at least 1"),
        (["encode", "-m", "m.model", "--text", "hi", "a.txt"], None, 2, "not allowed with FILE"),
        (["frobnicate"], None, 2, "invalid choice: 'frobnicate'"),
        ([], None, 2, "required: COMMAND"),
    ],
)
def test_errors_are_one_line_with_exit_code(corpus, args, stdin, code, message):
    (corpus / "bad.model").write_text("x\n\n0\n")
    (corpus / "empty.model").write_text("")
    (corpus / "latin1.txt").write_bytes("né".encode("latin-1"))
    r = tessaron(*args, stdin=stdin, cwd=corpus)
    err = r.stderr.decode()
    assert r.returncode == code
    assert err.count("\n") == 1 and err.startswith("tessaron") and message in err, err


@pytest.mark.parametrize("command", [[], ["train"], ["encode"], ["decode"], ["info"], ["demo"]])
def test_help_everywhere(command):
    r = tessaron(*command, "--help")
    assert r.returncode == 0 and r.stdout.startswith(b"usage: tessaron")


def test_info_reads_what_load_reads(tmp_path):
    # Tab and CR LF separators, a special token, a repeated pair that takes the later id.
    (tmp_path / "h.model").write_bytes(
        b"tessaron v1\r\n\\w+ \r\n1\r\n<|end|>\t9999\r\n104 105\r\n256\t33\r\n104 105\r\n258 258"
    )
    out = tessaron("info", "h.model", cwd=tmp_path).stdout.decode()
    assert "pattern:        '\\\\w+ '" in out and "merge rules:    3" in out
    assert "9999  '<|end|>'" in out
    # (104, 105) now has the id 258: 256 and 257 are never built, 259 is "hihi".
    assert "vocabulary:     259 tokens (ids 0 to 9999)" in out
    assert "259     4 B  'hihi'" in out


def on_terminal(corpus, *args):
    """Runs with standard error on a pseudo-terminal; returns what it showed."""
    try:
        leader, follower = pty.openpty()
    except OSError:
        pytest.skip("no pseudo-terminals here")
    try:
        r = tessaron(*args, cwd=corpus, stderr=follower)
        os.close(follower)
        shown = b""
        while True:
            try:
                chunk = os.read(leader, 65536)
            except OSError:  # EIO once the terminal has no writer
                break
            if not chunk:
                break
            shown += chunk
    finally:
        os.close(leader)
    assert r.returncode == 0
    return shown.decode()


def test_progress_on_a_terminal(corpus):
    shown = on_terminal(corpus, "train", "a.txt", "b.txt", "-v", "300", "-o", "t")
    assert "reading  [" in shown and "100%" in shown
    assert "training on" in shown and "trained in" in shown and "wrote t.model" in shown
    shown = on_terminal(corpus, "encode", "-m", "t.model", "a.txt", "b.txt", "-o", "ids")
    assert "encoding [" in shown and "KB /" in shown
    assert on_terminal(corpus, "encode", "-q", "-m", "t.model", "a.txt", "-o", "ids") == ""


def test_demo_reports_and_saves(tmp_path):
    r = tessaron(
        "demo", "--out", "o", "--size-mb", "0.2", "--held-out-mb", "0.05", "-v", "300", cwd=tmp_path
    )
    assert r.returncode == 0, r.stderr
    out = r.stdout.decode()
    for piece in ("standard library source", "bytes per token", "decoded", "saved:"):
        assert piece in out
    assert (tmp_path / "o" / "stdlib.model").is_file()
    assert (tmp_path / "o" / "stdlib.vocab").is_file()
