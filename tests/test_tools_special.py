"""Special tokens: added at training, recognised only where allowed, kept in the model file."""

import pytest

from reference.train import train as reference_train
from tessaron_tools import Tokenizer

TEXT = "".join(f"hello world {i}<|end|>hello there {i * 7}<|end|>" for i in range(40))
SPECIALS = ["<|end|>", "<|pad|>"]


@pytest.fixture(scope="module")
def tok():
    return Tokenizer.train(TEXT, 300, special_tokens=SPECIALS)


def test_specials_take_the_ids_after_the_rules(tok):
    merges, _ = reference_train(TEXT, 298)
    assert tok.merges == merges
    assert tok.special_tokens == {"<|end|>": 298, "<|pad|>": 299}
    assert len(tok) == tok.vocab_size == 300
    assert tok.token_bytes(299) == b"<|pad|>"
    assert tok.to_bytes().startswith(b"tessaron v1\n\n2\n<|end|> 298\n<|pad|> 299\n")
    assert Tokenizer.from_bytes(tok.to_bytes()).special_tokens == tok.special_tokens


def test_specials_only_where_allowed(tok):
    text = "hi<|end|>there<|pad|>"
    plain = tok.encode(text)
    assert 298 not in plain and 299 not in plain
    assert tok.decode(plain) == text

    everything = tok.encode(text, allowed_special="all")
    assert everything == tok.encode("hi") + [298] + tok.encode("there") + [299]
    assert tok.encode(text, allowed_special={"<|pad|>"}) == tok.encode("hi<|end|>there") + [299]
    assert tok.encode(text, allowed_special=["<|end|>"]) == (
        tok.encode("hi") + [298] + tok.encode("there<|pad|>")
    )
    assert tok.encode(text, allowed_special=()) == plain
    assert tok.decode(everything) == text
    assert tok.encode(text.encode(), allowed_special="all") == everything


def test_adjacent_and_overlapping_specials():
    tok = Tokenizer.train("x", 259, special_tokens=["<a>", "<a><b>", "b"])
    ids = tok.special_tokens
    # The longest token wins where several start at one place; then the scan goes on after it.
    assert tok.encode("<a><b><a>b", allowed_special="all") == [ids["<a><b>"], ids["<a>"], ids["b"]]
    assert tok.encode("<a><b>", allowed_special={"<a>", "b"}) == [ids["<a>"], 60, ids["b"], 62]
    assert tok.encode("", allowed_special="all") == []


def test_special_tokens_in_batches(tok):
    texts = ["a<|end|>b", "<|end|>", "", "no specials"]
    assert tok.encode_batch(texts, allowed_special="all") == [
        tok.encode(t, allowed_special="all") for t in texts
    ]


@pytest.mark.parametrize(
    "specials, exc, message",
    [
        ([""], ValueError, "empty"),
        (["<x>", "<x>"], ValueError, "twice"),
        (["<a b>"], ValueError, "white space"),
        (["<a\nb>"], ValueError, "white space"),
        (["<a\u3000b>"], ValueError, "white space"),
        ("<x>", TypeError, None),
        ([b"<x>"], TypeError, None),
        (["\ud800"], UnicodeEncodeError, None),
    ],
)
def test_bad_special_tokens(specials, exc, message):
    with pytest.raises(exc) as info:
        Tokenizer.train("abc", 300, special_tokens=specials)
    if message:
        assert message in str(info.value)


def test_room_for_the_specials():
    with pytest.raises(ValueError, match="at least 258"):
        Tokenizer.train("abc", 257, special_tokens=["<a>", "<b>"])
    tok = Tokenizer.train("abcabc", 258, special_tokens=["<a>", "<b>"])
    assert tok.merges == [] and tok.special_tokens == {"<a>": 256, "<b>": 257}


@pytest.mark.parametrize(
    "allowed, exc",
    [({"<|nope|>"}, ValueError), ("<|end|>", TypeError), (5, TypeError), ([5], TypeError)],
)
def test_bad_allowed_special(tok, allowed, exc):
    with pytest.raises(exc):
        tok.encode("x", allowed_special=allowed)
