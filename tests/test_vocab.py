"""Rendering of token bytes and the vocabulary builder, seen through decode."""

import random

import pytest

from reference.vocab import render_token
from tessaron import BasicTokenizer


def load_model(tmp_path, merges=(), specials=()):
    lines = ["tessaron v1", "", str(len(specials))]
    lines += [f"{text} {token_id}" for text, token_id in specials]
    lines += [f"{left} {right}" for left, right in merges]
    path = tmp_path / "m.model"
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")
    tok = BasicTokenizer()
    tok.load(str(path))
    return tok


def chains(tokens):
    """Rules that build each byte string left to right, and the id each one ends on."""
    ids, ends = {}, []
    for token in tokens:
        left = token[0]
        for b in token[1:]:
            left = ids.setdefault((left, b), 256 + len(ids))
        ends.append(left)
    return list(ids), ends


LISTED = [
    (b"\x41", "A"),
    (b"\x0a", "\\u000a"),
    (b"\x7f", "\\u007f"),
    (b"\xc2\x85", "\\u0085"),
    (b"\xc3\xa9", "\u00e9"),
    (b"\xc3", "\ufffd"),
    (b"\xe2\x82", "\ufffd"),
    (b"\xc0\x80", "\ufffd\ufffd"),
    (b"\x5c", "\\"),
    (b"\xed\xa0\x80", "\ufffd\ufffd\ufffd"),  # a surrogate is three ill-formed bytes
    (b"\xf4\x90\x80\x80", "\ufffd" * 4),  # above U+10FFFF
    (b"\xf0\x9f\x98\x80!", "\U0001f600!"),
    (b"\xe2\x82\xac\x80", "\u20ac\ufffd"),
    (b"\xc2\x9f\xc2\xa0", "\\u009f\u00a0"),
]


def test_render_of_listed_byte_patterns(tmp_path):
    merges, ends = chains([b for b, _ in LISTED if len(b) > 1])
    tok = load_model(tmp_path, merges)
    expected = iter(text for b, text in LISTED if len(b) > 1)
    for end in ends:
        assert tok.decode([end]) == next(expected)
    for b, text in LISTED:
        assert render_token(b) == text
        if len(b) == 1:
            assert tok.decode([b[0]]) == text


def test_render_matches_reference_on_random_bytes(tmp_path):
    rng = random.Random(7)
    alphabet = [
        0x00,
        0x1F,
        0x20,
        0x41,
        0x7F,
        0x80,
        0x85,
        0x9F,
        0xBF,
        0xC0,
        0xC2,
        0xDF,
        0xE0,
        0xE1,
        0xED,
        0xEF,
        0xF0,
        0xF4,
        0xF5,
        0xFF,
    ]
    tokens = [bytes(rng.choice(alphabet) for _ in range(rng.randint(2, 9))) for _ in range(400)]
    merges, ends = chains(tokens)
    tok = load_model(tmp_path, merges)
    assert [tok.decode([e]) for e in ends] == [render_token(t) for t in tokens]


def test_builder_never_removes_and_sees_earlier_entries(tmp_path):
    # The first rule names the id of the second: only a second build resolves it.
    tok = load_model(tmp_path, [(257, 97), (98, 99)])
    assert tok.decode([257]) == "bc"
    with pytest.raises(OSError, match="invalid token ID: 256"):
        tok.decode([256])
    tok.build_vocab()
    assert tok.decode([256]) == "bca"
    tok.build_vocab()
    assert tok.decode([256, 257]) == "bcabc"


def test_special_tokens_overwrite_and_feed_later_builds(tmp_path):
    # A special token on a byte id and on a rule's part; a rule built on a special id.
    tok = load_model(tmp_path, [(104, 105), (300, 33)], [("<s>", 104), ("X\x01", 300)])
    assert tok.decode([104]) == "<s>"
    assert tok.decode([256]) == "hi"  # rules run before special tokens
    with pytest.raises(OSError):
        tok.decode([257])  # its left part was not known yet
    tok.build_vocab()
    assert tok.decode([257]) == "X\\u0001!"
    assert tok.decode([104]) == "<s>"


def test_trained_vocab_is_stable_under_rebuild():
    tok = BasicTokenizer()
    tok.train("the quick brown fox jumps over the lazy dog " * 20, 300)
    before = [tok.decode([i]) for i in range(300)]
    tok.build_vocab()
    tok.build_vocab()
    assert [tok.decode([i]) for i in range(300)] == before
