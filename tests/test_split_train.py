"""Training inside the pieces of a split pattern, against a naive trainer."""

import pathlib
import sysconfig

import pytest

import pretok_driver
from reference import split_train
from reference.patterns import EXPRESSIONS
from test_split import EDGES, random_texts

NAMES = list(EXPRESSIONS)


def sample_text():
    return (
        "\n".join(EDGES)
        + "".join(random_texts(300, seed=5))
        + ("The quick brown fox jumps over the lazy dog. " * 20)
    )


@pytest.mark.parametrize("name", NAMES)
@pytest.mark.parametrize("threads", [1, 2])
def test_rules_equal_the_naive_trainer(driver, name, threads):
    text = sample_text()
    want = split_train.train(EXPRESSIONS[name], text, 150)
    assert pretok_driver.train(driver, name, text, 150, threads) == want


def test_runs_and_ties(driver):
    # x x x x in one piece: the pair counts 3 but merges twice, then (256, 256).
    assert pretok_driver.train(driver, "gpt2", "xxxx", 10) == [(120, 120), (256, 256)]
    # Every pair counts once: the smallest wins, left id first.
    assert pretok_driver.train(driver, "gpt2", "dc ba", 1) == [(32, 98)]


def test_stops_when_every_piece_is_one_token(driver):
    # Pieces "ab" (x3) and " ab" (x2): two rules, however many are asked for.
    assert pretok_driver.train(driver, "gpt2", "ab ab ab", 1000) == [(97, 98), (32, 256)]
    assert pretok_driver.train(driver, "gpt2", "a\nb\nc", 1000) == []
    assert pretok_driver.train(driver, "cl100k", "", 1000) == []


def test_threads_cut_a_large_text_where_it_splits_anyway(driver):
    root = pathlib.Path(sysconfig.get_paths()["stdlib"])
    text = b"".join(p.read_bytes() for p in sorted(root.glob("*.py"))[:60])
    for name in NAMES:
        one = pretok_driver.train(driver, name, text, 2000, threads=1)
        assert len(one) == 2000
        assert pretok_driver.train(driver, name, text, 2000, threads=2) == one
