"""`tessaron train --pattern`, and the other commands on a model that splits its text."""

import pytest

from reference.patterns import EXPRESSIONS
from tessaron_tools import Tokenizer
from test_cli import AWKWARD, TEXT_A, TEXT_B, tessaron_run


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    d = tmp_path_factory.mktemp("cli_patterns")
    (d / "a.txt").write_text(TEXT_A + TEXT_B, encoding="utf-8")
    (d / "m.txt").write_bytes(AWKWARD["multilingual.txt"].encode())
    return d


@pytest.mark.parametrize("pattern", ["cl100k", EXPRESSIONS["gpt2"]])
def test_train_encode_decode_info(folder, pattern):
    r = tessaron_run("train", "a.txt", "-v", "300", "--pattern", pattern, "-o", "p", cwd=folder)
    assert r.returncode == 0, r.stderr
    tok = Tokenizer.load(folder / "p.model")
    name = "cl100k" if pattern == "cl100k" else "gpt2"
    assert (folder / "p.model").read_bytes().split(b"\n")[1] == EXPRESSIONS[name].encode()
    assert tok.merges == Tokenizer.train(TEXT_A + TEXT_B, 300, pattern=name).merges

    enc = tessaron_run("encode", "-m", "p.model", "--whole", "m.txt", cwd=folder)
    assert enc.stdout.split() == [str(i).encode() for i in tok.encode(AWKWARD["multilingual.txt"])]
    dec = tessaron_run("decode", "-m", "p.model", "--whole", stdin=enc.stdout, cwd=folder)
    assert dec.stdout == (folder / "m.txt").read_bytes()
    info = tessaron_run("info", "p.model", cwd=folder).stdout.decode()
    assert f"pattern:        {EXPRESSIONS[name]!r}" in info


def test_pattern_errors_and_running_out_of_pieces(folder):
    # An unbalanced group: no engine runs it.
    r = tessaron_run("train", "a.txt", "-v", "300", "--pattern", "(a", "-o", "x", cwd=folder)
    assert r.returncode == 2 and r.stderr.count(b"\n") == 1
    assert r.stderr.startswith(b"tessaron train: error: argument --pattern: ")
    assert not (folder / "x.model").exists()
    r = tessaron_run(
        "train", "-v", "300", "--pattern", "gpt2", "-o", "s", stdin=b"ab ab", cwd=folder
    )
    assert r.returncode == 0
    assert r.stderr.decode() == (
        "tessaron train: warning: learned 2 of 44 rules: every piece is one token\n"
    )
