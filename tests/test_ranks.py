"""Models from tiktoken rank tables: rules derived from the ranks, ids that are the ranks."""

import base64
import unicodedata

import pytest
import regex

import pretok_driver
from reference.patterns import EXPRESSIONS
from reference.rank_encode import encode_piece
from test_split import EDGES, random_texts, stdlib_texts


def write_ranks(path, ranks):
    lines = [f"{base64.b64encode(token).decode()} {rank}" for token, rank in ranks.items()]
    path.write_text("\n".join(lines) + "\n")
    return path


def reference(ranks, name, text):
    pieces = regex.findall(EXPRESSIONS[name], text)
    return [r for piece in pieces for r in encode_piece(ranks, piece.encode())]


def corpus():
    text = "\n".join(EDGES) + "".join(random_texts(1000, seed=21))
    text += "".join(stdlib_texts())[:100_000]
    # tiktoken's Unicode tables are older than ours: characters it does not know as letters,
    # marks or numbers split differently there.
    return "".join(c for c in text if unicodedata.category(c) != "Cn")


@pytest.mark.parametrize("table", ["cl100k_base", "o200k_base"])
def test_published_tables_give_tiktokens_ids(driver, tmp_path, table):
    # The bench extra ships the tables (no download) and tiktoken.
    bpe_openai = pytest.importorskip("bpe_openai")
    tiktoken = pytest.importorskip("tiktoken")
    source = bpe_openai.get_encoding(table)
    ranks = source._mergeable_ranks
    path = write_ranks(tmp_path / "t.tiktoken", ranks)
    encoding = tiktoken.Encoding(table, pat_str=source._pat_str, mergeable_ranks=ranks,
                                 special_tokens={})  # fmt: skip
    name = table.split("_")[0]
    text = corpus()
    assert pretok_driver.encode_by_ranks(driver, name, path, text) == encoding.encode_ordinary(text)


@pytest.mark.parametrize(
    "content, message",
    [
        ("", "no tokens"),
        ("YQ==\n", "line 1: expected a base64 token, a space and a rank"),
        ("YQ== 1 2\n", "line 1: expected a base64 token, a space and a rank"),
        ("Y*== 1\n", "line 1: the token is not valid base64"),
        ("YR== 1\n", "line 1: the token is not valid base64"),
        ("YQ== -1\n", "line 1: the rank is not a number below 2**64"),
        ("YQ== 18446744073709551616\n", "line 1: the rank is not a number below 2**64"),
        ("YQ== 97\n\nYg==\n", "line 3: expected a base64 token, a space and a rank"),
        ("YQ== 97\nYg== 98\nYQ== 99\n", "a token is given twice (rank 99)"),
    ],
)
def test_malformed_rank_files(driver, tmp_path, content, message):
    path = tmp_path / "bad.tiktoken"
    path.write_text(content)
    with pytest.raises(ValueError, match=f"^{regex.escape(message)}$"):
        pretok_driver.encode_by_ranks(driver, "gpt2", path, "a")


def bytes_table():
    return {bytes([b]): b for b in range(256)}


def test_tables_without_a_rule_for_a_token(driver, tmp_path):
    ranks = bytes_table()
    del ranks[b"\x07"]
    with pytest.raises(ValueError, match="^no token for the byte 0x07$"):
        pretok_driver.encode_by_ranks(driver, "gpt2", write_ranks(tmp_path / "a", ranks), "a")
    # "abc" without "ab" or "bc": tiktoken reaches it only as a whole piece.
    ranks = bytes_table() | {b"abc": 300}
    with pytest.raises(ValueError, match="^the token of rank 300 cannot be made from two"):
        pretok_driver.encode_by_ranks(driver, "gpt2", write_ranks(tmp_path / "b", ranks), "abc")
    ranks = bytes_table() | {b"ab": 97}
    with pytest.raises(ValueError, match="^rank 97 is given twice$"):
        pretok_driver.encode_by_ranks(driver, "gpt2", write_ranks(tmp_path / "c", ranks), "a")


def test_small_table(driver, tmp_path):
    ranks = bytes_table() | {b"ab": 1000, b" a": 1001, b"abc": 1002, b" ab": 1003}
    path = write_ranks(tmp_path / "small.tiktoken", ranks)
    text = "abc ab cab abcabc  ab"
    assert pretok_driver.encode_by_ranks(driver, "gpt2", path, text) == reference(
        ranks, "gpt2", text
    )


def test_ranks_far_apart_survive(driver, tmp_path):
    ranks = {bytes([b]): 2**64 - 1 - 256 + b for b in range(256)} | {b"ab": 2**64 - 1}
    path = write_ranks(tmp_path / "far.tiktoken", ranks)
    assert pretok_driver.encode_by_ranks(driver, "gpt2", path, "ab") == [2**64 - 1]
