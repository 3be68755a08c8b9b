"""Encoding with a split pattern: each piece as the whole-text encoding gives it alone."""

import random

import pytest
import regex

import pretok_driver
import tessaron
from reference.patterns import EXPRESSIONS
from test_split import EDGES, random_texts, stdlib_texts

NAMES = list(EXPRESSIONS)


def write_model(path, pattern, pairs):
    lines = ["tessaron v1", pattern, "0"] + [f"{left} {right}" for left, right in pairs]
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")
    return path


def piece_by_piece(model_path, name, text):
    tokenizer = tessaron.BasicTokenizer()
    tokenizer.load(str(model_path))
    return [i for piece in regex.findall(EXPRESSIONS[name], text) for i in tokenizer.encode(piece)]


def corpus():
    return (
        "\n".join(EDGES) + "".join(random_texts(500, seed=11)) + "".join(stdlib_texts())[:300_000]
    )


@pytest.mark.parametrize("name", NAMES)
def test_models_trained_with_the_pattern(driver, tmp_path, name):
    text = corpus()
    rules = pretok_driver.train(driver, name, text, 3000)
    model = write_model(tmp_path / "m.model", EXPRESSIONS[name], rules)
    assert pretok_driver.encode(driver, name, model, text) == piece_by_piece(model, name, text)


@pytest.mark.parametrize("name", NAMES)
def test_models_trained_without_a_pattern(driver, tmp_path, name):
    # Tokens then cross the pieces' edges, which the pieces must not.
    text = corpus()
    tokenizer = tessaron.BasicTokenizer()
    tokenizer.train(text[:100_000], 1500)
    model = tmp_path / "m.model"
    tokenizer.save_model(str(model))
    assert pretok_driver.encode(driver, name, model, text) == piece_by_piece(model, name, text)


def test_crafted_models_out_of_order(driver, tmp_path):
    # Repeated pairs move ids, so rules apply in rounds rather than one at a time.
    rng = random.Random(3)
    ids = [97, 98, 32, 256, 257, 258, 259, 260]
    for _ in range(60):
        pairs = [(rng.choice(ids), rng.choice(ids)) for _ in range(rng.randint(1, 8))]
        model = write_model(tmp_path / "c.model", "", pairs)
        text = "".join(rng.choice(["a", "b", " ", "ab", "ba "]) for _ in range(200))
        assert pretok_driver.encode(driver, "gpt2", model, text) == piece_by_piece(
            model, "gpt2", text
        ), pairs


def test_a_million_letters_is_one_piece(driver, tmp_path):
    rng = random.Random(1)
    text = "".join(rng.choice("abcdefgh") for _ in range(1_000_000))
    rules = pretok_driver.train(driver, "o200k", text[:50_000] + " " + text[:20], 400)
    model = write_model(tmp_path / "m.model", EXPRESSIONS["o200k"], rules)
    tokenizer = tessaron.BasicTokenizer()
    tokenizer.load(str(model))
    assert pretok_driver.encode(driver, "o200k", model, text) == tokenizer.encode(text)


def test_characters_beside_rules_that_join_their_bytes_outward(driver, tmp_path):
    # Ordered rules over a few two- and three-byte characters, drawn from the bytes of random
    # three-character strings: some join a character's bytes, some join its first or last byte
    # to a space, a letter or another character's byte before the character itself is whole,
    # which a merge must not skip.
    rng = random.Random(7)
    letters, spaces = ["п", "р", "П", "é", "中", "文", "a"], [" ", "\n"]
    alphabet = letters + spaces
    for _ in range(40):
        ids = {bytes([b]): b for c in alphabet for b in c.encode()}
        pairs = []
        for _ in range(rng.randint(5, 200)):
            s = "".join(rng.choice(alphabet) for _ in range(3)).encode()
            i = rng.randrange(len(s) - 1)
            j = rng.randrange(i + 1, len(s))
            k = rng.randrange(j + 1, len(s) + 1)
            left, right = s[i:j], s[j:k]
            if left in ids and right in ids and left + right not in ids:
                pairs.append((ids[left], ids[right]))
                ids[left + right] = 255 + len(pairs)
        model = write_model(tmp_path / "c.model", EXPRESSIONS["o200k"], pairs)
        # Words up to 40 characters: pieces past the short merge's reach in bytes, some in tokens.
        words = ["".join(rng.choices(letters, k=rng.randint(1, 40))) for _ in range(60)]
        text = "".join(w + rng.choice(spaces) for w in words)
        text += "".join(rng.choice(alphabet) for _ in range(400))
        assert pretok_driver.encode(driver, "o200k", model, text) == piece_by_piece(
            model, "o200k", text
        ), pairs
