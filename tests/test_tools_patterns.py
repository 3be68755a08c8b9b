"""The second face with a split pattern: training inside pieces, the pattern kept in the model
file, encoding piece by piece; the first face loads the same file and ignores the pattern."""

import pytest
import regex

import tessaron
from reference import split_train
from reference.patterns import EXPRESSIONS
from reference.pieces import pieces
from tessaron_tools import Tokenizer
from test_split import EDGES, random_texts

NAMES = list(EXPRESSIONS)
TEXT = "\n".join(EDGES) + "".join(random_texts(400, seed=8)) + "It's the end. " * 30


def piece_by_piece(tok, name, text, tmp_path):
    """The first face's encoding of each piece, from the same model file."""
    path = tmp_path / "m.model"
    tok.save(path)
    basic = tessaron.BasicTokenizer()
    basic.load(str(path))
    return [i for piece in regex.findall(EXPRESSIONS[name], text) for i in basic.encode(piece)]


@pytest.mark.parametrize("name", NAMES)
def test_train_encode_and_file(name, tmp_path):
    tok = Tokenizer.train(TEXT, 256 + 200, pattern=name)
    assert tok.merges == split_train.train(EXPRESSIONS[name], TEXT, 200)
    assert tok.to_bytes().split(b"\n")[1] == EXPRESSIONS[name].encode()
    ids = tok.encode(TEXT)
    assert ids == piece_by_piece(tok, name, TEXT, tmp_path)
    assert tok.decode(ids) == TEXT
    again = Tokenizer.from_bytes(tok.to_bytes())
    assert again.encode(TEXT) == ids
    assert Tokenizer.train(TEXT, 256 + 200, pattern=EXPRESSIONS[name]).merges == tok.merges
    assert tok.encode_batch([TEXT, "", TEXT[:500]], threads=2) == [ids, [], tok.encode(TEXT[:500])]


def test_first_face_ignores_the_pattern(tmp_path):
    tok = Tokenizer.train(TEXT, 600, pattern="gpt2")
    path = tmp_path / "m.model"
    tok.save(path)
    basic = tessaron.BasicTokenizer()
    basic.load(str(path))
    text = "the end. the end."
    assert basic.encode(text) == Tokenizer.from_bytes(
        tok.to_bytes().replace(EXPRESSIONS["gpt2"].encode(), b"")
    ).encode(text)


def test_stops_when_pieces_run_out_and_special_tokens_follow():
    tok = Tokenizer.train("ab ab ab", 1000, pattern="gpt2", special_tokens=["<|end|>"])
    assert tok.merges == [(97, 98), (32, 256)]
    assert tok.special_tokens == {"<|end|>": 258}
    assert tok.encode("ab<|end|> ab", allowed_special="all") == [256, 258, 257]


def test_train_files_with_a_pattern(tmp_path):
    (tmp_path / "a.txt").write_text(TEXT[:3000])
    (tmp_path / "b.txt").write_text(TEXT[3000:])
    tok = Tokenizer.train_files([tmp_path / "a.txt", tmp_path / "b.txt"], 400, pattern="o200k")
    assert tok.merges == Tokenizer.train(TEXT, 400, pattern="o200k").merges


WORDS = r"\w+|\s+|[^\w\s]+"


@pytest.mark.parametrize("expression", [WORDS, r"(?i)[a-z]+|\d"])
def test_any_other_pattern_trains_and_encodes_by_the_engine(expression, tmp_path):
    # The second pattern leaves text that no match covers: it stays, as pieces of its own.
    tok = Tokenizer.train(TEXT, 256 + 150, pattern=expression)
    assert tok.merges == split_train.train(expression, TEXT, 150)
    ids = tok.encode(TEXT)
    assert tok.decode(ids) == TEXT
    path = tmp_path / "m.model"
    tok.save(path)
    basic = tessaron.BasicTokenizer()
    basic.load(str(path))
    assert ids == [i for piece in pieces(expression, TEXT) for i in basic.encode(piece)]
    again = Tokenizer.load(path)
    assert again.encode(TEXT) == ids
    assert again.encode_batch([TEXT[:99], TEXT], threads=2) == [tok.encode(TEXT[:99]), ids]
    (tmp_path / "a.txt").write_text(TEXT, encoding="utf-8")
    assert (
        Tokenizer.train_files([tmp_path / "a.txt"], 256 + 150, pattern=expression, threads=2).merges
        == tok.merges
    )


def test_patterns_the_engine_cannot_run_are_refused(tmp_path):
    with pytest.raises(ValueError, match=r"look-behind is not supported at position 0"):
        Tokenizer.train("abc", 300, pattern=r"(?<=a)b")
    with pytest.raises(TypeError):
        Tokenizer.train("abc", 300, pattern=b"gpt2")
    # The model file keeps the pattern on one line.
    for bad in ("", "a\nb", "a\r"):
        with pytest.raises(ValueError, match="on one line"):
            Tokenizer.train("abc", 300, pattern=bad)
    # A stored pattern this face cannot run would give other ids than the model's: refused.
    data = Tokenizer.train("abc", 260, pattern=WORDS).to_bytes().replace(WORDS.encode(), rb"(a)\1")
    with pytest.raises(ValueError, match=r"^line 2: the model's pattern cannot be run: back-ref"):
        Tokenizer.from_bytes(data)
    path = tmp_path / "bad.model"
    path.write_bytes(data)
    with pytest.raises(ValueError, match=r"bad\.model:2: the model's pattern cannot be run"):
        Tokenizer.load(path)
    basic = tessaron.BasicTokenizer()
    basic.load(str(path))
    assert basic.decode(basic.encode("abc")) == "abc"
