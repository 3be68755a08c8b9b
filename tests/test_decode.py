"""Decoding: lookups, escapes, argument forms and failures."""

import pytest

from reference.vocab import render_token
from tessaron import BasicTokenizer


@pytest.fixture
def tok():
    t = BasicTokenizer()
    t.build_vocab()
    return t


def test_new_tokenizer_knows_no_ids():
    tok = BasicTokenizer()
    assert tok.decode([]) == ""
    with pytest.raises(OSError) as info:
        tok.decode([104])
    assert type(info.value) is OSError
    assert info.value.args == ("invalid token ID: 104",)
    assert info.value.errno is None


def test_every_byte_renders_like_the_reference(tok):
    assert tok.decode(range(256)) == "".join(render_token(bytes([b])) for b in range(256))


@pytest.mark.parametrize(
    "ids, text",
    [
        ([104, 105], "hi"),
        ([10], "\\u000a"),
        ([9], "\\u0009"),
        ([127], "\\u007f"),
        ([0x5C], "\\"),
        ([195, 169], "\ufffd\ufffd"),
        ((104, 105), "hi"),
        (b"hi", "hi"),
        (bytearray(b"hi"), "hi"),
        (range(104, 106), "hi"),
    ],
)
def test_decode_results(tok, ids, text):
    assert tok.decode(ids) == text


@pytest.mark.parametrize(
    "ids, message",
    [
        ([256], "invalid token ID: 256"),
        ([104, 99999, 105], "invalid token ID: 99999"),
        ([2**64 - 1, 5000], "invalid token ID: 18446744073709551615"),
    ],
)
def test_first_unknown_id_is_reported(tok, ids, message):
    with pytest.raises(OSError) as info:
        tok.decode(ids)
    assert type(info.value) is OSError and str(info.value) == message


def test_list_mutated_during_conversion_matches_iteration(tok):
    ids = [104]

    class Grow:
        def __index__(self):
            ids.append(105)
            return 104

    ids[0] = Grow()
    assert tok.decode(ids) == "hi"


def test_build_vocab_is_idempotent_on_bytes(tok):
    before = tok.decode(range(256))
    tok.build_vocab()
    assert tok.decode(range(256)) == before
    with pytest.raises(OSError):
        tok.decode([256])
