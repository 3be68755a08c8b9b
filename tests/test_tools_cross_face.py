"""Both faces over one model: the same rules, the same ids, the same model file bytes."""

import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from reference.encode import MARKER
from tessaron import BasicTokenizer
from tessaron_tools import Tokenizer

TEXTS = [
    "",
    "a",
    "hello world, hello tokenizer",
    "Ünïcödé ñ 東京都 🙂🙂 \t\r\n\x00\x7f",
    "aaaaaaaaaaaaaaaaaaaaab" * 7,
]


def basic_from_file(path):
    tok = BasicTokenizer()
    tok.load(str(path))
    return tok


def saved_by_basic(tok, path):
    tok.save_model(str(path))
    return path.read_bytes()


def assert_same(basic, tools, texts, tmp_path):
    for text in texts:
        assert tools.encode(text) == basic.encode(text), text
    assert tools.to_bytes() == saved_by_basic(basic, tmp_path / "basic.model")


def corpus(seed, size):
    rng = random.Random(seed)
    words = ["the", "cat", "東京", "café", " ", "\n", "ab", "ba", "x" * 5, "🙂"]
    return "".join(rng.choice(words) for _ in range(size))


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("vocab_size", [256, 260, 600])
def test_trained_models_agree(tmp_path, seed, vocab_size):
    text = corpus(seed, 3000)
    basic = BasicTokenizer(1)
    basic.train(text, vocab_size)
    tools = Tokenizer.train(text, vocab_size)
    assert_same(basic, tools, TEXTS + [text, corpus(seed + 100, 500)], tmp_path)


def test_files_from_either_face_load_in_the_other(tmp_path):
    text = corpus(7, 4000)
    basic = BasicTokenizer()
    basic.train(text, 500)
    basic.save_model(str(tmp_path / "b.model"))
    tools = Tokenizer.load(tmp_path / "b.model")
    assert_same(basic, tools, TEXTS + [text], tmp_path)
    tools.save(tmp_path / "t.model")
    assert_same(basic_from_file(tmp_path / "t.model"), tools, TEXTS, tmp_path)


CRAFTED = [
    # Rules out of order, a repeated pair, ids no rule makes, the all-ones id.
    (b"tessaron v1\n\n0\n98 99\n97 98\n97 98\n257 97\n", "abcabcaabb"),
    (f"tessaron v1\n\n0\n{MARKER} 97\n97 {MARKER}\n97 97\n".encode(), "aaaaa"),
    # Special tokens with any ids, one of them the largest id there is.
    (f"tessaron v1\n\n2\n<s> {MARKER}\n<e>\t256\n104 105\n".encode(), "hi<s>hi<e>"),
    # A pattern line, CR LF line ends, a last line without its line feed.
    (b"tessaron v1\r\n\\p{L}+ x\r\n0\r\n104 105\r\n256 33", "hi! hi!"),
]


@pytest.mark.parametrize("data, text", CRAFTED)
def test_crafted_models_agree(tmp_path, data, text):
    path = tmp_path / "crafted.model"
    path.write_bytes(data)
    basic = basic_from_file(path)
    for tools in [Tokenizer.load(path), Tokenizer.from_bytes(data)]:
        assert_same(basic, tools, TEXTS + [text], tmp_path)


def test_special_token_ids_survive_a_round_trip(tmp_path):
    data = f"tessaron v1\n\n2\n<s> {MARKER}\n<e> 256\n".encode()
    tok = Tokenizer.from_bytes(data)
    assert tok.special_tokens == {"<s>": MARKER, "<e>": 256}
    assert tok.encode("<s>x<e>", allowed_special="all") == [MARKER, 120, 256]
    assert tok.decode_bytes([MARKER, 256]) == b"<s><e>"
    assert tok.to_bytes() == data
    assert (
        pytest.importorskip("pickle").loads(pytest.importorskip("pickle").dumps(tok)).special_tokens
        == tok.special_tokens
    )


@settings(max_examples=40, deadline=None)
@given(
    st.lists(st.tuples(st.integers(0, 270), st.integers(0, 270)), max_size=20),
    st.binary(max_size=60),
)
def test_random_rule_lists_agree(tmp_path_factory, pairs, data):
    model = b"tessaron v1\n\n0\n" + b"".join(b"%d %d\n" % pair for pair in pairs)
    path = tmp_path_factory.mktemp("random") / "r.model"
    path.write_bytes(model)
    basic = basic_from_file(path)
    tools = Tokenizer.from_bytes(model)
    text = data.decode("utf-8", "replace")
    assert tools.encode(text) == basic.encode(text)
    assert tools.to_bytes() == saved_by_basic(basic, path)
