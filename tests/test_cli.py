"""The `tessaron` command end to end, in subprocesses."""

import os
import pty
import subprocess
import sys

import pytest

import tessaron

TEXT_A = "the quick brown fox jumps over the lazy dog\nthe lazy dog sleeps\n" * 20
TEXT_B = "".join(f"line {i}: héllo wörld, 漢字 and more text\n" for i in range(300))
# Lines the round trip must give back byte for byte.
AWKWARD = {
    "multilingual.txt": "Grüße, Ελληνικά, кириллица, 漢字かな, עברית, हिन्दी, 🙂 emoji\n" * 30,
    "crlf.txt": "first line\r\nsecond line\r\n\r\nlast\r\n" * 20,
    "tabs_nul.txt": "col\tcol\t\x00nul\x00\n\t\n\x00\n" * 20,
    "no_final_newline.txt": "one\ntwo\nthree without a line feed",
}


def tessaron_run(*args, stdin=None, cwd=None, stderr=subprocess.PIPE):
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
    for name, text in AWKWARD.items():
        (d / name).write_bytes(text.encode("utf-8"))
    r = tessaron_run("train", "a.txt", "b.txt", "--vocab-size", "320", "-o", "m", cwd=d)
    assert r.returncode == 0, r.stderr
    assert r.stderr == b""  # piped: no progress
    return d


def basic(path) -> tessaron.BasicTokenizer:
    tok = tessaron.BasicTokenizer()
    tok.load(str(path))
    return tok


def test_train_writes_model_and_listing(corpus):
    model = (corpus / "m.model").read_text(encoding="utf-8").split("\n")
    assert model[:3] == ["tessaron v1", "", "0"]
    assert len(model) == 3 + 64 + 1  # 64 rules, then the final line feed
    listing = (corpus / "m.vocab").read_text(encoding="utf-8").splitlines()
    assert len(listing) == 320 and listing[65] == "[A] 65"


def test_train_learns_what_the_module_learns(corpus):
    tok = tessaron.BasicTokenizer()
    tok.train(TEXT_A + TEXT_B, 320)
    tok.save_model(str(corpus / "module.model"))
    assert (corpus / "module.model").read_bytes() == (corpus / "m.model").read_bytes()


def test_train_from_stdin_equals_files(corpus):
    r = tessaron_run(
        "train", "-v", "320", "-o", "s", "-t", "1", stdin=(TEXT_A + TEXT_B).encode(), cwd=corpus
    )
    assert r.returncode == 0, r.stderr
    assert (corpus / "s.model").read_bytes() == (corpus / "m.model").read_bytes()


def test_train_output_prefix_folders_and_special_tokens(corpus):
    r = tessaron_run(
        "train",
        "a.txt",
        "-v",
        "300",
        "--special",
        "<|end|>",
        "--special",
        "<pad>",
        "-o",
        "new/deeper/sp.model",
        cwd=corpus,
    )
    assert r.returncode == 0, r.stderr
    assert not (corpus / "new/deeper/sp.model.model").exists()
    lines = (corpus / "new/deeper/sp.model").read_text(encoding="utf-8").splitlines()
    assert lines[2:5] == ["2", "<|end|> 298", "<pad> 299"] and len(lines) == 5 + 42
    assert (corpus / "new/deeper/sp.vocab").read_text().splitlines()[-1] == "[<pad>] 299"

    # The special token becomes its id only where allowed.
    text = "the lazy dog<|end|>the quick fox"
    plain = tessaron_run("encode", "-m", "new/deeper/sp.model", "--text", text, cwd=corpus)
    special = tessaron_run(
        "encode", "-m", "new/deeper/sp.model", "--text", text, "--allow-special", "all", cwd=corpus
    )
    named = tessaron_run(
        "encode",
        "-m",
        "new/deeper/sp.model",
        "--text",
        text,
        "--allow-special",
        "<|end|>",
        cwd=corpus,
    )
    tok = basic(corpus / "new/deeper/sp.model")
    assert plain.stdout.decode().split() == [str(i) for i in tok.encode(text)]
    expected = tok.encode("the lazy dog") + [298] + tok.encode("the quick fox")
    assert (
        special.stdout.decode().split()
        == named.stdout.decode().split()
        == [str(i) for i in expected]
    )


def test_train_takes_any_bytes_unless_told_utf8(corpus):
    (corpus / "latin1.txt").write_bytes("café crème brûlée\n".encode("latin-1") * 50)
    r = tessaron_run("train", "latin1.txt", "-v", "270", "-o", "latin", cwd=corpus)
    assert r.returncode == 0, r.stderr
    enc = tessaron_run("encode", "-m", "latin.model", "latin1.txt", cwd=corpus)
    dec = tessaron_run("decode", "-m", "latin.model", stdin=enc.stdout, cwd=corpus)
    assert dec.stdout == (corpus / "latin1.txt").read_bytes()
    r = tessaron_run("train", "latin1.txt", "--utf8", "-v", "270", "-o", "latin", cwd=corpus)
    assert r.returncode == 1
    assert r.stderr.decode() == (
        "tessaron train: error: latin1.txt: not UTF-8 text (invalid byte 0xe9 at offset 3)\n"
    )


def test_train_says_when_it_learned_fewer_rules(corpus):
    r = tessaron_run("train", "-v", "300", "-o", "short", stdin=b"aaaa", cwd=corpus)
    assert r.returncode == 0
    assert r.stderr.decode() == (
        "tessaron train: warning: learned 2 of 44 rules: no two "
        "tokens are left side by side to merge\n"
    )
    r = tessaron_run("train", "-q", "-v", "300", "-o", "short", stdin=b"aaaa", cwd=corpus)
    assert r.returncode == 0 and r.stderr == b""


@pytest.mark.parametrize("name", ["a.txt", "b.txt", *AWKWARD])
def test_round_trip_gives_the_bytes_back(corpus, name):
    data = (corpus / name).read_bytes()
    for jobs in ("1", "3"):
        enc = tessaron_run("encode", "-m", "m.model", "-j", jobs, name, cwd=corpus)
        assert enc.returncode == 0, enc.stderr
        dec = tessaron_run("decode", "-m", "m.model", stdin=enc.stdout, cwd=corpus)
        # Line by line, a missing final line feed comes back added.
        assert dec.stdout == data if data.endswith(b"\n") else data + b"\n"
        enc = tessaron_run("encode", "-m", "m.model", "--whole", "-j", jobs, name, cwd=corpus)
        assert enc.stdout.count(b"\n") == 1
        dec = tessaron_run("decode", "-m", "m.model", "--whole", stdin=enc.stdout, cwd=corpus)
        assert dec.stdout == data


def test_encode_gives_the_module_ids(corpus):
    tok = basic(corpus / "m.model")
    r = tessaron_run("encode", "-m", "m.model", "--whole", "b.txt", cwd=corpus)
    assert r.stdout.decode() == " ".join(map(str, tok.encode(TEXT_B))) + "\n"
    r = tessaron_run("encode", "-m", "m.model", "multilingual.txt", cwd=corpus)
    lines = AWKWARD["multilingual.txt"].split("\n")[:-1]
    assert r.stdout.decode() == "".join(" ".join(map(str, tok.encode(t))) + "\n" for t in lines)
    r = tessaron_run("encode", "-m", "m.model", "--text", "héllo 漢字", cwd=corpus)
    assert r.stdout.decode().split() == [str(i) for i in tok.encode("héllo 漢字")]


def test_encode_jobs_output_equals_one_job(corpus):
    files = []
    for i in range(5):  # small files and one spanning several runs of lines
        f = corpus / f"j{i}.txt"
        f.write_text((TEXT_B * 400) if i == 2 else TEXT_A[: 100 * i], encoding="utf-8")
        files.append(f.name)
    for mode in ([], ["--whole"]):
        one = tessaron_run("encode", "-m", "m.model", "-j", "1", *mode, *files, cwd=corpus)
        # 100 jobs: more than are ever encoded at once, so each run takes several threads.
        for jobs in ("3", "100"):
            many = tessaron_run("encode", "-m", "m.model", "-j", jobs, *mode, *files, cwd=corpus)
            assert one.returncode == many.returncode == 0, many.stderr
            assert many.stdout == one.stdout and len(one.stdout) > 50_000


def test_decode_display_is_the_module_display_text(corpus):
    enc = tessaron_run("encode", "-m", "m.model", "tabs_nul.txt", "crlf.txt", cwd=corpus)
    r = tessaron_run("decode", "-m", "m.model", "--display", stdin=enc.stdout, cwd=corpus)
    tok = basic(corpus / "m.model")
    expected = "".join(
        tok.decode([int(i) for i in line.split()]) + "\n"
        for line in enc.stdout.decode().splitlines()
    )
    assert r.stdout.decode() == expected and "\\u0009" in expected and "\\u000d" in expected


def test_info_summarises_and_shortens(corpus):
    r = tessaron_run("info", "m.model", "--top", "3", cwd=corpus)
    assert r.returncode == 0, r.stderr
    out = r.stdout.decode()
    assert "merge rules:    64" in out and "vocabulary:     320 tokens" in out
    assert len(out.split("longest tokens:")[1].strip().splitlines()) == 3
    r = tessaron_run("train", "-v", "300", "-o", "long", stdin=b"x" * 5000, cwd=corpus)
    out = tessaron_run("info", "long.model", "--top", "1", cwd=corpus).stdout.decode()
    assert out.splitlines()[-1].endswith(f"  5000 B  '{'x' * 58}…")


def test_info_reads_what_load_reads(tmp_path):
    # Tab and CR LF separators, a special token, a repeated pair that takes the later id.
    (tmp_path / "h.model").write_bytes(
        b"tessaron v1\r\n\\w+ \r\n1\r\n<|end|>\t9999\r\n104 105\r\n256\t33\r\n104 105\r\n258 258\n"
    )
    r = tessaron_run("info", "h.model", cwd=tmp_path)
    out = r.stdout.decode()
    assert "pattern:        '\\\\w+ '" in out and "9999  '<|end|>'" in out
    # (104, 105) now has the id 258: 256 and 257 are never built, 259 is "hihi".
    assert "vocabulary:     259 tokens (ids 0 to 9999)" in out
    assert "259     4 B  'hihi'" in out
    assert r.stderr == b""


def test_model_without_final_line_feed_loads_with_a_warning(corpus):
    data = (corpus / "m.model").read_bytes()
    (corpus / "cut.model").write_bytes(data[:-1])
    for args in (["info", "cut.model"], ["encode", "-m", "cut.model", "--text", "the dog"]):
        r = tessaron_run(*args, cwd=corpus)
        assert r.returncode == 0 and r.stdout
        assert r.stderr.decode() == (
            f"tessaron {args[0]}: warning: cut.model: the last line has "
            f"no line feed; the file may be truncated\n"
        )


MODELS = {
    "bad.model": b"x\n\n0\n",
    "empty.model": b"",
    "badrule.model": b"tessaron v1\n\n0\n104 105\n256 33\n1 2 3\n104 105\n",
    "badcount.model": b"tessaron v1\n\nmany\n",
    "fewspecial.model": b"tessaron v1\n\n3\n<a> 300\n",
    "notutf8.model": b"tessaron v1\n\n0\n104 105\n\xff 1\n",
}


@pytest.mark.parametrize(
    "args, stdin, code, message",
    [
        (
            ["encode", "-m", "m.model", "missing.txt"],
            None,
            1,
            "cannot read missing.txt: No such file or directory",
        ),
        (
            ["encode", "-m", "missing.model", "a.txt"],
            None,
            1,
            "cannot read missing.model: No such file or directory",
        ),
        (["decode", "-m", ".", "a.txt"], None, 1, "cannot read .: Is a directory"),
        (
            ["encode", "-m", "bad.model", "a.txt"],
            None,
            1,
            "bad.model:1: not a valid tessaron model: invalid version",
        ),
        (
            ["info", "empty.model"],
            None,
            1,
            "empty.model: not a valid tessaron model: missing version (the file is empty)",
        ),
        (
            ["info", "badrule.model"],
            None,
            1,
            "badrule.model:6: not a valid tessaron model: invalid merge entry",
        ),
        (
            ["info", "badcount.model"],
            None,
            1,
            "badcount.model:3: not a valid tessaron model: invalid digit found in string",
        ),
        (
            ["info", "fewspecial.model"],
            None,
            1,
            "fewspecial.model: not a valid tessaron model: "
            "not enough special tokens (the file ends after line 4)",
        ),
        (
            ["info", "notutf8.model"],
            None,
            1,
            "notutf8.model:5: not a valid tessaron model: stream did not contain valid UTF-8",
        ),
        (["decode", "-m", "m.model"], b"1 2\n3 x\n", 1, "<stdin>:2: 'x' is not a token id"),
        (["decode", "-m", "m.model"], b"-1\n", 1, "<stdin>:1: '-1' is not a token id"),
        (
            ["decode", "-m", "m.model"],
            b"18446744073709551616\n",
            1,
            "<stdin>:1: unknown token id: ",
        ),
        (
            ["decode", "-m", "m.model"],
            b"104 105\n104 99999 105\n",
            1,
            "<stdin>:2: unknown token id: 99999",
        ),
        (
            ["decode", "-m", "m.model", "--display"],
            b"104 99999 105\n",
            1,
            "<stdin>:1: unknown token id: 99999",
        ),
        (["train", "-v", "300", "-o", "x"], b"", 1, "nothing to learn from: the input is empty"),
        (
            ["train", "a.txt", "-v", "300", "-o", "a.txt/m"],
            None,
            1,
            "cannot create the folder for a.txt/m.model:",
        ),
        (["train", "a.txt", "-v", "255", "-o", "x"], None, 2, "must be at least 256, got 255"),
        (
            ["train", "a.txt", "-v", "257", "--special", "a", "--special", "b", "-o", "x"],
            None,
            2,
            "must be at least 258 with 2 special tokens",
        ),
        (
            ["train", "a.txt", "-v", "300", "--special", "a", "--special", "a", "-o", "x"],
            None,
            2,
            "argument --special: ",
        ),
        (
            ["train", "a.txt", "-v", "300", "--special", "", "-o", "x"],
            None,
            2,
            "argument --special: ",
        ),
        (["train", "a.txt", "-v", "lots", "-o", "x"], None, 2, "'lots' is not a whole number"),
        (["train", "a.txt", "-o", "x"], None, 2, "required: -v/--vocab-size"),
        (["encode", "-m", "m.model", "-j", "0", "a.txt"], None, 2, "must be at least 1"),
        (
            ["encode", "-m", "m.model", "--text", "hi", "a.txt"],
            None,
            2,
            "not allowed with argument",
        ),
        (["decode", "-m", "m.model", "--whole", "--display"], None, 2, "not allowed with argument"),
        (["frobnicate"], None, 2, "invalid choice: 'frobnicate'"),
        ([], None, 2, "required: COMMAND"),
    ],
)
def test_errors_are_one_line_with_exit_code(corpus, args, stdin, code, message):
    for name, data in MODELS.items():
        (corpus / name).write_bytes(data)
    r = tessaron_run(*args, stdin=stdin, cwd=corpus)
    err = r.stderr.decode()
    assert r.returncode == code
    assert err.count("\n") == 1 and message in err, err
    assert err.startswith(f"tessaron {args[0]}: error: " if code == 1 else "tessaron"), err


COMMANDS = [["train"], ["encode"], ["decode"], ["info"], ["demo"]]


@pytest.mark.parametrize("command", [[], *COMMANDS])
def test_help_version_and_quiet_everywhere(command):
    r = tessaron_run(*command, "--help")
    assert r.returncode == 0 and r.stdout.startswith(b"usage: tessaron")
    assert b"-q, --quiet" in r.stdout
    r = tessaron_run(*command, "--version")
    assert r.returncode == 0 and r.stdout.decode().startswith("tessaron 0.")


def on_terminal(corpus, *args):
    """Runs with standard error on a pseudo-terminal; returns what it showed."""
    try:
        leader, follower = pty.openpty()
    except OSError:
        pytest.skip("no pseudo-terminals here")
    try:
        r = tessaron_run(*args, cwd=corpus, stderr=follower)
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
    shown = on_terminal(corpus, "train", "a.txt", "b.txt", "--utf8", "-v", "300", "-o", "t")
    assert "reading  [" in shown and "100%" in shown
    assert "rules    [" in shown and "44 / 44" in shown
    assert "training on" in shown and "trained in" in shown and "wrote t.model" in shown
    shown = on_terminal(corpus, "encode", "-m", "t.model", "a.txt", "b.txt", "-o", "ids")
    assert "encoding [" in shown and "KB /" in shown
    assert on_terminal(corpus, "encode", "-q", "-m", "t.model", "a.txt", "-o", "ids") == ""


def test_demo_reports_and_saves(tmp_path):
    r = tessaron_run(
        "demo", "--out", "o", "--size-mb", "0.2", "--held-out-mb", "0.05", "-v", "300", cwd=tmp_path
    )
    assert r.returncode == 0, r.stderr
    out = r.stdout.decode()
    for piece in ("standard library source", "bytes per token", "decoded", "saved:"):
        assert piece in out
    assert (tmp_path / "o" / "stdlib.model").is_file()
    assert (tmp_path / "o" / "stdlib.vocab").is_file()
