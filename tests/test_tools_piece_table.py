"""The table of pieces a pattern model keeps for its life: every token's bytes from the start,
merged pieces learned by any call on any thread, up to its cap; none of it may change an id."""

import random
import threading

import pytest
import regex

import tessaron
from reference.patterns import EXPRESSIONS
from tessaron_tools import Tokenizer

GPT2 = EXPRESSIONS["gpt2"]


def model_bytes(pairs, pattern=GPT2):
    lines = ["tessaron v1", pattern, "0"] + [f"{left} {right}" for left, right in pairs]
    return ("\n".join(lines) + "\n").encode()


def reference(tmp_path, data, text):
    """The first face's encoding of each piece of the same model."""
    path = tmp_path / "m.model"
    path.write_bytes(data)
    basic = tessaron.BasicTokenizer()
    basic.load(str(path))
    return [i for piece in regex.findall(GPT2, text) for i in basic.encode(piece)]


def test_a_token_whose_bytes_encode_otherwise(tmp_path):
    # 258 is "abc", but "abc" alone becomes "ab" "c": the rule making "bc" comes too late.
    data = model_bytes([(97, 98), (98, 99), (97, 257)])
    tok = Tokenizer.from_bytes(data)
    for text in ["abc", " abc abcabc", "bc abc"]:
        assert tok.encode(text) == reference(tmp_path, data, text)
    assert tok.encode("abc") == [256, 99]


def test_many_tokens_whose_bytes_encode_otherwise_among_long_ones(tmp_path):
    # Groups of short tokens and, between them, tokens too long to merge side by side: each
    # token's bytes must get their own encoding, not the token's or a neighbour's.
    letters = [chr(c) for c in range(ord("a"), ord("z") + 1)] + list("ABCDEFGHIJKLMNOP")
    rng = random.Random(11)
    triples, taken = [], set()
    while len(triples) < 150:
        x, y, z = (rng.choice(letters) for _ in range(3))
        if (x, y) not in taken and (y, z) not in taken and (x, y) != (y, z):
            taken |= {(x, y), (y, z)}
            triples.append((x, y, z))
    pairs = []

    def rule(left, right):
        pairs.append((left, right))
        return 255 + len(pairs)

    for x, y, _ in triples:
        rule(ord(x), ord(y))
    joined = {(y, z): rule(ord(y), ord(z)) for _, y, z in triples}
    # "xyz" is a token that encodes as "xy" "z"; among them, runs of "Q" of 2 to 64 bytes.
    q = {1: ord("Q")}
    for k, (x, y, z) in enumerate(triples):
        rule(ord(x), joined[y, z])
        if k % 20 == 7 and len(q) < 7:
            n = 2 ** len(q)
            q[n] = rule(q[n // 2], q[n // 2])
    q[40] = rule(q[32], q[8])
    data = model_bytes(pairs)
    tok = Tokenizer.from_bytes(data)
    text = "\n".join(["".join(t) for t in triples] + ["Q" * n for n in q])
    assert tok.encode(text) == reference(tmp_path, data, text)


def distinct_words(count, seed):
    rng = random.Random(seed)
    words = set()
    while len(words) < count:
        words.add(" " + "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(7)))
    return sorted(words)


def test_learning_past_the_cap_across_calls_and_threads(tmp_path):
    # More distinct pieces than the table learns (131,072), in several calls and threads.
    rng = random.Random(5)
    words = distinct_words(140_000, seed=5)
    training = "".join(rng.choice(words[:3000]) for _ in range(40_000))
    tok = Tokenizer.train(training, 1000, pattern="gpt2")
    data = tok.to_bytes()
    text = "".join(words)
    expected = reference(tmp_path, data, text)
    assert tok.encode(text) == expected
    assert tok.encode(text) == expected  # now partly from what the first call learned

    fresh = Tokenizer.from_bytes(data)
    chunks = ["".join(words[i : i + 5000]) for i in range(0, len(words), 5000)]
    got = fresh.encode_batch(chunks + chunks[::-1], threads=4)
    assert [i for ids in got[: len(chunks)] for i in ids] == expected
    assert got[len(chunks) :] == got[: len(chunks)][::-1]


def test_threads_learning_at_once_agree_with_one():
    rng = random.Random(9)
    words = distinct_words(30_000, seed=9)
    tok = Tokenizer.train("".join(rng.choice(words) for _ in range(20_000)), 2000, pattern="o200k")
    # Texts over 64 KB release the interpreter lock, so the threads encode at once.
    texts = ["".join(rng.choice(words) for _ in range(12_000)) for _ in range(6)]
    alone = [Tokenizer.from_bytes(tok.to_bytes()).encode(t) for t in texts]
    results = [None] * len(texts)

    def work(k):
        results[k] = tok.encode(texts[k])

    threads = [threading.Thread(target=work, args=(k,)) for k in range(len(texts))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == alone


def gpt2_model_of(rng, words, count, vocab_size):
    """The bytes of a "gpt2"-split model trained on `count` words drawn from `words`."""
    text = "".join(rng.choice(words) for _ in range(count))
    return Tokenizer.train(text, vocab_size, pattern="gpt2").to_bytes()


def test_pieces_set_aside_come_back_in_order(tmp_path):
    # Pieces not met before wait in groups, in the output's gaps: a group's misses repeat near
    # and far, lie between single bytes, tokens and pieces met before, and some are too long
    # for the short merger (over 32 bytes) or for the table (over 64).
    rng = random.Random(12)
    words = distinct_words(3000, seed=12)
    data = gpt2_model_of(rng, words[:300], 5000, 800)
    letters = "abcdefghijklmnopqrstuvwxyz"
    long_pieces = [" " + "".join(rng.choice(letters) for _ in range(n)) for n in (33, 40, 65, 90)]
    items = []
    for _ in range(30_000):
        kind = rng.random()
        if kind < 0.4:
            items.append(rng.choice(words))
        elif kind < 0.6:
            items.append(items[-rng.randint(1, min(len(items), 80))] if items else " x")
        elif kind < 0.75:
            items.append(rng.choice(",.;!?"))
        elif kind < 0.85:
            items.append(rng.choice(long_pieces) + rng.choice(letters))
        else:
            items.append(rng.choice(words[:300]))
    text = "".join(items)
    expected = reference(tmp_path, data, text)
    fresh = Tokenizer.from_bytes(data)
    assert fresh.encode(text) == expected
    assert fresh.encode(text) == expected
    chunks = [text[i : i + 20_000] for i in range(0, len(text), 20_000)]
    got = Tokenizer.from_bytes(data).encode_batch(chunks, threads=2)
    assert got == [reference(tmp_path, data, chunk) for chunk in chunks]


@pytest.mark.parametrize("threads", [2, 4, 8])
def test_threads_of_a_batch_learn_the_pieces_they_meet(threads):
    # A fresh tokenizer's batch: pieces short and long, of one token and of many, that several
    # threads meet at once, each learning into the model's table what another may then find
    # there, or meet in the same moment and learn a second time.
    rng = random.Random(21)
    words = distinct_words(20_000, seed=21)
    data = gpt2_model_of(rng, words[:500], 8000, 700)
    letters = "abcdefghijklmnopqrstuvwxyz"
    long_words = [
        " " + "".join(rng.choice(letters) for _ in range(rng.randint(8, 80))) for _ in range(3000)
    ]
    common = words[:200] + long_words[:200]
    texts = []
    for _ in range(40):
        parts = [rng.choice(common) for _ in range(1500)]
        parts += [rng.choice(words) for _ in range(300)] + [
            rng.choice(long_words) for _ in range(300)
        ]
        rng.shuffle(parts)
        texts.append("".join(parts))
    expected = [Tokenizer.from_bytes(data).encode(t) for t in texts]
    assert Tokenizer.from_bytes(data).encode_batch(texts, threads=threads) == expected
    lines = "".join(" ".join(map(str, ids)) + "\n" for ids in expected).encode()
    assert Tokenizer.from_bytes(data).encode_batch_lines(texts, threads=threads) == lines


def test_short_texts_one_call_at_a_time_on_two_models(tmp_path):
    # Each call takes the cache of pieces an earlier call left: only ever one of its own
    # model's, however the calls of two models interleave, and still right once it is full.
    rng = random.Random(31)
    words = distinct_words(3000, seed=31)
    models = [gpt2_model_of(rng, words[k * 1500 : (k + 1) * 1500], 6000, 600) for k in (0, 1)]
    toks = [Tokenizer.from_bytes(data) for data in models]
    texts = ["".join(rng.choice(words) for _ in range(rng.randint(1, 40))) for _ in range(60)]
    expected = [
        [Tokenizer.from_bytes(data).encode_batch([text])[0] for data in models] for text in texts
    ]
    assert expected[0] == [reference(tmp_path, data, texts[0]) for data in models]
    assert any(a != b for a, b in expected)
    for text, ids in zip(texts, expected):
        assert [tok.encode(text) for tok in toks] == ids
    # Past what one cache holds (65,536 pieces), then short texts again.
    many = distinct_words(70_000, seed=32)
    toks[0].encode("".join(many))
    for text, ids in zip(texts[:10], expected):
        assert toks[0].encode(text) == ids[0]
    last = "".join(many[-20:])
    assert toks[0].encode(last) == reference(tmp_path, models[0], last)
