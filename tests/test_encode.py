import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tessaron
from reference.encode import MARKER, merges_from_lines
from reference.encode import encode as reference_encode


def write_model(path, pairs, specials=()):
    lines = ["tessaron v1", "", str(len(specials))]
    lines += [f"{text} {token_id}" for text, token_id in specials]
    lines += [f"{left} {right}" for left, right in pairs]
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")


def loaded(path, pairs, specials=()):
    write_model(path, pairs, specials)
    tokenizer = tessaron.BasicTokenizer()
    tokenizer.load(str(path))
    return tokenizer


@pytest.fixture(scope="module")
def model_dir(tmp_path_factory):
    return tmp_path_factory.mktemp("models")


@pytest.mark.parametrize(
    "text, expected",
    [("", []), ("a", [97]), ("hi", [104, 105]), ("é", [195, 169]), ("a\x00b", [97, 0, 98])],
)
def test_without_rules_text_is_its_bytes(text, expected):
    assert tessaron.BasicTokenizer().encode(text) == expected


@pytest.mark.parametrize(
    "pairs, text, expected",
    [
        ([(97, 97)], "aaa", [256, 97]),
        ([(97, 97)], "aaaa", [256, 256]),
        ([(97, 97)], "a", [97]),
        ([(97, 97)], "", []),
        ([(97, 98), (256, 99)], "abc", [257]),
        # (97, 98) repeated after (98, 99): it keeps the first place but takes id 258, so the
        # lower id 257 of (98, 99) applies first.
        ([(97, 98), (98, 99), (97, 98)], "abc", [97, 257]),
        # Both rules apply at once: the lower id goes first over the whole text.
        ([(98, 99), (97, 98)], "abcab", [97, 256, 257]),
        # A rule naming a later id; once 257 exists, 256 applies in a later round.
        ([(257, 99), (97, 98)], "abcab", [256, 257]),
        # Ids no rule can make, and the all-ones id, never match.
        ([(MARKER, 97), (97, MARKER), (MARKER - 1, MARKER - 1), (97, 97)], "aaa", [259, 97]),
        # A pair made during a round with a lower id than the round's rule waits for the next
        # round: merging one occurrence at a time would give [256, 97].
        ([(257, 97), (97, 97)], "aaaa", [257, 257]),
        # A cycle that cannot start from bytes: both rules are inert.
        ([(257, 97), (256, 98), (97, 97)], "aab", [258, 98]),
    ],
)
def test_hand_built_models(model_dir, pairs, text, expected):
    tokenizer = loaded(model_dir / "hand.model", pairs)
    assert tokenizer.encode(text) == expected
    assert reference_encode(merges_from_lines(pairs), text.encode()) == expected


def test_special_token_text_is_encoded_as_plain_text(model_dir):
    tokenizer = loaded(model_dir / "special.model", [(97, 98)], specials=[("ab", 1000)])
    assert tokenizer.encode("abab") == [256, 256]


def test_encode_reads_but_never_changes_the_state(model_dir):
    tokenizer = loaded(model_dir / "state.model", [(97, 98), (256, 256)])
    first = tokenizer.encode("abababx")
    assert first == [257, 256, 120]
    assert tokenizer.encode("abababx") == first
    before = model_dir / "before.model"
    after = model_dir / "after.model"
    tokenizer.save_model(str(before))
    tokenizer.encode("ab" * 100)
    tokenizer.save_model(str(after))
    assert before.read_bytes() == after.read_bytes()


def test_ids_follow_the_model_through_every_change(model_dir):
    tokenizer = tessaron.BasicTokenizer()
    tokenizer.train("ab" * 50, 257)
    assert tokenizer.encode("abab") == [256, 256]
    # A pair repeated takes the id of its last line, far past the ids of small models.
    write_model(model_dir / "repeated.model", [(97, 97)] * 70_000)
    tokenizer.load(str(model_dir / "repeated.model"))
    assert tokenizer.encode("aab") == [256 + 69_999, 98]
    with pytest.raises(OSError):
        tokenizer.load(str(model_dir / "missing.model"))
    assert tokenizer.encode("aab") == [256 + 69_999, 98]
    tokenizer.train("xyxy", 257)
    assert tokenizer.encode("xy") == [256]
    tokenizer.build_vocab()
    assert tokenizer.encode("xyxy") == [256, 256]


def test_keyword_argument():
    assert tessaron.BasicTokenizer().encode(text="ok") == [111, 107]


# Crafted models: parts may name later ids (out-of-order, cycles), ids no rule makes, and the
# all-ones id; pairs repeat, so ids move. Texts over a few letters make long merge chains.
ALPHABET = "abcé"
part_ids = st.one_of(
    st.sampled_from([97, 98, 99, 0xC3, 0xA9]),
    st.integers(256, 270),
    st.sampled_from([MARKER, MARKER - 1]),
)


@settings(max_examples=300, deadline=None)
@given(
    pairs=st.lists(st.tuples(part_ids, part_ids), max_size=14),
    text=st.text(alphabet=ALPHABET, max_size=80),
)
def test_crafted_models_match_reference(model_dir, pairs, text):
    tokenizer = loaded(model_dir / "crafted.model", pairs)
    assert tokenizer.encode(text) == reference_encode(merges_from_lines(pairs), text.encode())


@pytest.mark.parametrize("seed", range(6))
def test_dense_crafted_models_match_reference(model_dir, seed):
    # Few ids and two letters: rules feed each other, often out of order, and pairs made in a
    # round with a lower id than the round's rule are common enough to be met.
    rng = random.Random(seed)
    ids = [97, 98, 256, 257, 258, 259, 260]
    for _ in range(400):
        pairs = [(rng.choice(ids), rng.choice(ids)) for _ in range(rng.randint(1, 8))]
        tokenizer = loaded(model_dir / "dense.model", pairs)
        merges = merges_from_lines(pairs)
        for _ in range(3):
            text = "".join(rng.choice("ab") for _ in range(rng.randint(0, 40)))
            assert tokenizer.encode(text) == reference_encode(merges, text.encode()), (pairs, text)


def ordered_pairs(rng, count, alphabet):
    """Model lines whose parts are bytes or ids of earlier lines, as training makes them."""
    tokens = [ord(c) for c in alphabet]
    pairs = []
    for k in range(count):
        pairs.append((rng.choice(tokens), rng.choice(tokens)))
        tokens.append(256 + k)
    return pairs


def varied_text(rng, length, alphabet):
    pieces = []
    while sum(map(len, pieces)) < length:
        kind = rng.random()
        if kind < 0.2:
            pieces.append(rng.choice(alphabet) * rng.randint(2, 40))
        elif kind < 0.3:
            pieces.append(rng.choice(" .\n"))
        else:
            pieces.append("".join(rng.choice(alphabet) for _ in range(rng.randint(1, 12))))
    return "".join(pieces)[:length]


@pytest.mark.parametrize("seed", range(12))
def test_ordered_models_on_long_texts_match_reference(model_dir, seed):
    rng = random.Random(seed)
    alphabet = "abcde"[: rng.randint(2, 5)]
    pairs = ordered_pairs(rng, rng.randint(5, 120), alphabet)
    tokenizer = loaded(model_dir / "ordered.model", pairs)
    merges = merges_from_lines(pairs)
    for length in (1, 2, 7, 64, 700, 3000):
        text = varied_text(rng, length, alphabet)
        assert tokenizer.encode(text) == reference_encode(merges, text.encode())


@pytest.mark.parametrize("seed", [33, 48])
def test_tokens_with_long_joinable_edges_match_reference(model_dir, seed):
    # Hundreds of rules over two or three letters: many tokens have more than three parts along
    # an edge that a later rule can still join across, which the pair test handles apart.
    rng = random.Random(seed)
    alphabet = "abc"[: rng.randint(2, 3)]
    pairs = ordered_pairs(rng, rng.randint(100, 400), alphabet)
    tokenizer = loaded(model_dir / "edges.model", pairs)
    text = varied_text(rng, 3000, alphabet)
    assert tokenizer.encode(text) == reference_encode(merges_from_lines(pairs), text.encode())


@pytest.mark.parametrize("text", ["a" * 5000, "ab" * 2500, "a" * 4999 + "b"])
def test_long_runs_match_reference(model_dir, text):
    # Doubling rules for runs of a and of ab, plus a rule that ends them.
    pairs = [
        (97, 97),
        (256, 256),
        (257, 257),
        (258, 258),
        (97, 98),
        (260, 260),
        (261, 261),
        (259, 97),
        (262, 98),
    ]
    tokenizer = loaded(model_dir / "runs.model", pairs)
    assert tokenizer.encode(text) == reference_encode(merges_from_lines(pairs), text.encode())


def test_token_followed_by_every_byte_matches_reference(model_dir):
    # "ab" then each of the 256 bytes is a token: a prefix with the most children there can be.
    pairs = [(97, 98)] + [(256, b) for b in range(256)] + [(257 + ord("c"), 97)]
    tokenizer = loaded(model_dir / "wide.model", pairs)
    merges = merges_from_lines(pairs)
    text = "".join("ab" + chr(c) for c in [*range(128), 0xE9, 0x416, 0x6211, 0x1F600]) + "abca"
    assert tokenizer.encode(text) == reference_encode(merges, text.encode())


def test_search_that_gives_up_falls_back_to_merging(model_dir):
    # Tokens a..ab of every length up to 500: on a run of a the trie walk goes hundreds of
    # bytes deep at each position only to find one byte, so the search stops and the text is
    # merged instead; the ids must not tell.
    pairs = [(97, 98)] + [(97, 256 + k) for k in range(499)]
    tokenizer = loaded(model_dir / "deep.model", pairs)
    text = "a" * 5000 + "b" + "a" * 300
    assert tokenizer.encode(text) == reference_encode(merges_from_lines(pairs), text.encode())


@pytest.mark.parametrize("doublings", [13, 17])
def test_models_with_very_long_tokens_match_reference(model_dir, doublings):
    # Doublings make tokens of 8192 and of 131072 bytes: the first are searched for like any
    # other, a model with the second is merged pair by pair.
    pairs = [(97, 97)] + [(256 + k, 256 + k) for k in range(doublings - 1)]
    tokenizer = loaded(model_dir / "long.model", pairs)
    merges = merges_from_lines(pairs)
    size = 2**doublings
    for text in ["a" * (size + size // 2 + 3), "a" * (size - 1) + "b" + "a" * (size + 1)]:
        assert tokenizer.encode(text) == reference_encode(merges, text.encode())


def test_tokens_either_side_of_every_packed_length_match_reference(model_dir):
    # Tokens "x", "xa", "xaa", ... up to 300 bytes: the search keeps a short token's length
    # beside it and looks a long one up, so lengths around that limit must both find theirs.
    pairs = [(120, 97)] + [(256 + k, 97) for k in range(299)]
    tokenizer = loaded(model_dir / "chain.model", pairs)
    rng = random.Random(5)
    lengths = list(range(1, 301)) + [310, 450]
    rng.shuffle(lengths)
    text = "".join("x" + "a" * k + rng.choice(" .y") for k in lengths)
    assert tokenizer.encode(text) == reference_encode(merges_from_lines(pairs), text.encode())


def training_text():
    # Prose every Python install carries, plus Cyrillic, Han and a run, so that trained rules
    # span spaces, multi-byte characters and repeats.
    import pydoc_data.topics

    topics = pydoc_data.topics.topics
    prose = "\n".join(topics[key] for key in sorted(topics))[:30_000]
    other_scripts = " Съешь же ещё этих мягких французских булок. 我们的文字不是拉丁字母。"
    return prose + other_scripts * 20 + "a" * 300


@pytest.fixture(scope="module")
def corpus():
    return training_text()


def rules_of(tokenizer, path):
    tokenizer.save_model(str(path))
    lines = path.read_text(encoding="utf-8").split("\n")
    specials = int(lines[2])
    return merges_from_lines(
        tuple(map(int, line.split())) for line in lines[3 + specials :] if line
    )


@pytest.mark.parametrize("vocab_size", [257, 320, 700])
def test_trained_models_match_reference(model_dir, corpus, vocab_size):
    tokenizer = tessaron.BasicTokenizer()
    tokenizer.train(corpus, vocab_size)
    merges = rules_of(tokenizer, model_dir / "trained.model")
    assert len(merges) == vocab_size - 256
    rng = random.Random(vocab_size)
    texts = ["", "a", "a" * 777, corpus[:1500], corpus[-900:]]
    texts.append("Съешь же ещё 我们的 " * 9)
    for _ in range(4):
        start = rng.randrange(len(corpus))
        texts.append(corpus[start : start + rng.randint(1, 1200)])
    for text in texts:
        assert tokenizer.encode(text) == reference_encode(merges, text.encode())
