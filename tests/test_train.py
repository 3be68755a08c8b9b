"""Training: exact merges against the naive reference, the worked examples, the state it
leaves, failures, and the worker pool's threads (checked in subprocesses)."""

import collections
import json
import os
import random
import subprocess
import sys
import textwrap

import pytest

from reference.model_file import read_model
from reference.train import train as reference_train
from reference.vocab import render_token
from tessaron import BasicTokenizer


def learned_tokens(tok):
    """Display text of ids 256, 257, ... up to the first id without a vocabulary entry."""
    tokens = []
    while True:
        try:
            tokens.append(tok.decode([256 + len(tokens)]))
        except OSError:
            return tokens


def saved_model(tok, tmp_path):
    path = tmp_path / "trained.model"
    tok.save_model(str(path))
    return read_model(path.read_bytes())


def expected_tokens(text, vocab_size):
    merges, vocab = reference_train(text, vocab_size)
    return [render_token(vocab[256 + i]) for i in range(len(merges))]


def make_text(kind, rng):
    n = rng.randint(0, 3000)
    if kind == "run":
        return "a" * n
    if kind == "runs":
        return "".join(rng.choice("ab") * rng.randint(1, 40) for _ in range(n // 20))
    if kind == "alternation":
        return ("ab" * n)[:n] + "a" * rng.randint(0, 9)
    if kind == "small-alphabet":
        return "".join(rng.choice("abc") for _ in range(n))
    if kind == "long-two-letters":
        # Long enough that the pair index is compacted several times.
        return "".join(rng.choice("ab") for _ in range(15000))
    if kind == "large-alphabet":
        return "".join(chr(rng.randrange(32, 0x800)) for _ in range(n // 2))
    if kind == "utf8-words":
        words = ["é", "été", "日本", "語", "the", "über", " ", "\n", "ß"]
        return "".join(rng.choice(words) for _ in range(n // 3))
    return " ".join(rng.choice(["the", "cat", "sat", "on", "a", "mat."]) for _ in range(n // 4))


KINDS = [
    "run",
    "runs",
    "alternation",
    "small-alphabet",
    "long-two-letters",
    "large-alphabet",
    "utf8-words",
    "prose",
]
CASES = [(kind, seed) for kind in KINDS for seed in range(3)]


@pytest.mark.parametrize("kind, seed", CASES)
def test_merges_match_the_naive_reference_for_every_thread_count(kind, seed, tmp_path):
    rng = random.Random(f"{kind}-{seed}")
    text = make_text(kind, rng)
    vocab_size = 256 + rng.randint(1, 600)
    merges, vocab = reference_train(text, vocab_size)
    for num_threads in range(9):
        tok = BasicTokenizer(num_threads)
        assert tok.train(text, vocab_size) is None
        assert list(saved_model(tok, tmp_path).merges) == merges, num_threads
    # The learned tokens decode to their bytes' display text.
    assert learned_tokens(tok) == [render_token(vocab[256 + i]) for i in range(len(merges))]


def test_chunked_first_count_for_every_chunk_size():
    # Chunk sizes down to one id, with and without a shorter last chunk.
    rng = random.Random(7)
    for length in range(2, 14):
        for _ in range(3):
            text = "".join(rng.choice("abcab") for _ in range(length))
            expected = expected_tokens(text, 300)
            for num_threads in range(2, length + 1):
                tok = BasicTokenizer(num_threads)
                tok.train(text, 300)
                assert learned_tokens(tok) == expected, (text, num_threads)


def worst_cases(size):
    rng = random.Random(size)
    random_bytes = bytes(rng.randrange(256) for _ in range(size)).decode("latin-1")
    return {
        "one byte repeated": "a" * size,
        "two bytes alternating": "ab" * (size // 2) + "a",
        "random bytes": random_bytes,
        # Every occurrence of the first pairs in the last quarter: the threads' stretches of
        # a step all start inside runs of overlapping occurrences.
        "occurrences bunched at the end": random_bytes[: size * 3 // 4]
        + "a" * (size // 8)
        + "ab" * (size // 16),
        "words": " ".join(
            rng.choice(["the", "cat", "sat", "on", "a", "mat."]) for _ in range(size // 4)
        ),
    }


MERGES_ON_THE_POOL = """
    import json, sys
    from tessaron import BasicTokenizer
    texts, vocab_size = json.loads(sys.stdin.read())
    out = {}
    for name, text in texts.items():
        for num_threads in range(1, 9):
            tok = BasicTokenizer(num_threads)
            tok.train(text, vocab_size)
            tokens = []
            while True:
                try:
                    tokens.append(tok.decode([256 + len(tokens)]))
                except OSError:
                    break
            out[f"{name} {num_threads}"] = tokens
    print(json.dumps(out))
"""


def test_text_over_a_mib_learns_the_same_on_every_thread_count():
    # Over a MiB the sequence is copied from the text in one part per thread. Random letters
    # leave many pairs with nearly equal counts, so a slot copied wrong reorders the merges.
    rng = random.Random(11)
    text = "".join(rng.choices("abcd", k=1_300_001))
    learned = []
    for num_threads in (1, 2, 3):
        tok = BasicTokenizer(num_threads)
        tok.train(text, 2000)
        learned.append(learned_tokens(tok))
    assert len(learned[0]) == 2000 - 256
    assert learned[1] == learned[0]
    assert learned[2] == learned[0]


def test_one_thread_counts_the_byte_pairs_across_setup_blocks():
    # One thread counts the byte pairs while it sizes their lists, block by block of 16 MiB
    # (1 KiB in the pool-steps build). A pair lost or counted twice where blocks meet fails
    # the index's own check; over random letters, a pair counted under another's key changes
    # which comes first.
    letters = random.Random(13).randbytes((1 << 24) + 4099).translate(bytes(b"abcd" * 64))
    counts = collections.Counter(zip(letters, letters[1:]))
    first = max(counts, key=lambda pair: (counts[pair], -pair[0], -pair[1]))
    tok = BasicTokenizer(1)
    tok.train(letters.decode("ascii"), 257)
    assert learned_tokens(tok) == [bytes(first).decode("ascii")]


@pytest.mark.parametrize("pool_size", [1, 2, 3, 4])
def test_merge_steps_on_pools_of_every_size(pool_size):
    # Long enough that the first steps have the occurrences that send them to the pool.
    texts = worst_cases(40_000)
    vocab_size = 290
    env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    env["RAYON_NUM_THREADS"] = str(pool_size)
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(MERGES_ON_THE_POOL)],
        input=json.dumps([texts, vocab_size]),
        env=env,
        capture_output=True,
        text=True,
        timeout=300,
        check=True,
    )
    learned = json.loads(result.stdout)
    for name, text in texts.items():
        expected = expected_tokens(text, vocab_size)
        for num_threads in range(1, 9):
            assert learned[f"{name} {num_threads}"] == expected, (name, num_threads)


def test_long_training_that_compacts_the_occurrence_lists():
    # Enough merges on a two-letter text that mostly stale lists are dropped from the index;
    # on words of many letters, the byte pairs' lists are mostly stale when the first
    # compaction comes, and one thread rewrites them from the sequence. On fewer words that
    # frees enough room alone, and the other lists keep their stale positions, which the
    # steps that later walk them skip.
    rng = random.Random(11)
    two_letters = "".join(rng.choice("ab") for _ in range(60_000))
    texts = [(two_letters, 1256)]
    for different_words in (300, 200):
        words = [
            "".join(rng.choices("abcdefghijklmnopqrstuvwxyz", k=rng.randint(2, 8)))
            for _ in range(different_words)
        ]
        texts.append((" ".join(rng.choice(words) for _ in range(3_300)), 600))
    for text, vocab_size in texts:
        expected = expected_tokens(text, vocab_size)
        for num_threads in (1, 3):
            tok = BasicTokenizer(num_threads)
            tok.train(text, vocab_size)
            assert learned_tokens(tok) == expected, num_threads


def test_pairs_formed_rarely_that_later_come_first():
    # Strings repeated 4 to 13 times among rare ASCII pairs: the pairs their merges form are
    # too rare to be indexed when formed, yet they soon occur as often as the best pair left.
    for seed in range(3):
        rng = random.Random(seed)
        noise = [chr(rng.randrange(128)) for _ in range(20_000)]
        for repeats in range(4, 14):
            word = "".join(rng.choices("abcdefghijklmnopqrstuvwxyz", k=rng.randint(6, 12)))
            for _ in range(repeats):
                noise[rng.randrange(len(noise))] = word
        text = "".join(noise)
        expected = expected_tokens(text, 330)
        for num_threads in (1, 3):
            tok = BasicTokenizer(num_threads)
            tok.train(text, 330)
            assert learned_tokens(tok) == expected, (seed, num_threads)


def test_tokens_of_every_length_side_by_side():
    # Words of 1 to 24 letters repeated in random order: the learned tokens grow through every
    # length, and tokens of different lengths stand next to each other on both sides.
    rng = random.Random(5)
    words = ["".join(chr(97 + (k + i) % 26) for i in range(k)) for k in range(1, 25)]
    text = "".join(rng.choice(words) for _ in range(1500)) + "z" * 300
    expected = expected_tokens(text, 700)
    for num_threads in (1, 2, 5):
        tok = BasicTokenizer(num_threads)
        tok.train(text, 700)
        assert learned_tokens(tok) == expected, num_threads


@pytest.mark.parametrize(
    "text, vocab_size, tokens",
    [
        ("aaaa", 300, ["aa", "aaaa"]),
        ("aaa", 300, ["aa", "aaa"]),
        ("abab", 257, ["ab"]),
        ("é", 300, ["é"]),
        # Equal counts: the smallest pair wins, left id first.
        ("abcd", 257, ["ab"]),
        ("dcba", 257, ["ba"]),
        ("ab", 2**64 - 1, ["ab"]),
        ("", 300, []),
    ],
)
@pytest.mark.parametrize("num_threads", [1, 2, 4])
def test_worked_examples(text, vocab_size, tokens, num_threads):
    tok = BasicTokenizer(num_threads)
    tok.train(text, vocab_size)
    assert learned_tokens(tok) == tokens


def test_short_text_with_many_threads_trains_like_one_thread():
    # Six ids and four threads: the sequence gets shorter than num_threads half-way.
    for num_threads in (1, 4):
        tok = BasicTokenizer(num_threads)
        tok.train("abcdef", 300)
        assert learned_tokens(tok) == ["ab", "cd", "ef", "abcd", "abcdef"]


def test_vocab_size_below_256_changes_nothing():
    tok = BasicTokenizer()
    tok.train("hello hello", 258)
    before = learned_tokens(tok)
    with pytest.raises(BaseException) as info:
        tok.train("abc", 255)
    assert type(info.value).__name__ == "PanicException"
    assert not isinstance(info.value, Exception)
    assert info.value.args == ("vocab_size must be at least 256",)
    assert learned_tokens(tok) == before
    tok.train("abab", 257)
    assert learned_tokens(tok) == ["ab"]


@pytest.mark.parametrize("num_threads", [0, 1, 2])
def test_vocab_size_256_gives_the_byte_tokens(num_threads):
    tok = BasicTokenizer(num_threads)
    tok.train("hello world", 256)
    assert tok.decode(range(256)) == "".join(render_token(bytes([b])) for b in range(256))
    assert learned_tokens(tok) == []


def test_training_again_starts_from_an_empty_model(tmp_path):
    fresh = BasicTokenizer()
    fresh.train("the cat sat", 270)
    tok = BasicTokenizer()
    tok.train("zzzz yyyy xxxx wwww " * 50, 300)
    tok.train("the cat sat", 270)
    assert saved_model(tok, tmp_path).merges == saved_model(fresh, tmp_path).merges
    assert learned_tokens(tok) == learned_tokens(fresh)


def test_training_a_loaded_model_keeps_only_its_pattern(tmp_path):
    path = tmp_path / "old.model"
    path.write_bytes(b"tessaron v1\n\\w+\n1\n<s> 300\n104 105\n256 33\n")
    tok = BasicTokenizer()
    tok.load(str(path))
    tok.train("abab", 257)
    model = saved_model(tok, tmp_path)
    assert model.pattern == "\\w+"
    assert model.special_tokens == {}
    assert list(model.merges) == [(97, 98)]
    with pytest.raises(OSError):
        tok.decode([300])


def test_train_holds_the_tokenizer_exclusively():
    tok = BasicTokenizer()

    class Size:
        def __index__(self):
            tok.decode([])
            return 300

    with pytest.raises(RuntimeError) as info:
        tok.train("abab", Size())
    assert str(info.value) == "Already mutably borrowed"


def run_python(code, env_updates=(), timeout=120):
    env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    env.update(env_updates)
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=env,
        capture_output=True,
        text=True,
        timeout=timeout,
    )
    assert result.returncode == 0, result.stderr
    return result.stdout.strip()


THREADS_AFTER_TRAINING = """
    import os
    from tessaron import BasicTokenizer
    before = len(os.listdir("/proc/self/task"))
    BasicTokenizer({num_threads}).train({text!r}, {vocab_size})
    print(len(os.listdir("/proc/self/task")) - before)
"""

CPUS = len(os.sched_getaffinity(0))


@pytest.mark.parametrize(
    "env, num_threads, workers",
    [
        ({"RAYON_NUM_THREADS": "2"}, 4, 2),
        ({"RAYON_NUM_THREADS": "3"}, 2, 3),
        ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "3"}, 2, CPUS),
        ({}, 2, CPUS),
        ({"RAYON_RS_NUM_CPUS": "3"}, 2, 3),
        ({"RAYON_NUM_THREADS": "two", "RAYON_RS_NUM_CPUS": "5"}, 2, 5),
        ({"RAYON_NUM_THREADS": "2"}, 1, 0),
        ({"RAYON_NUM_THREADS": "2"}, 0, 0),
    ],
)
def test_pool_size(env, num_threads, workers):
    code = THREADS_AFTER_TRAINING.format(
        num_threads=num_threads, text="hello " * 1000, vocab_size=300
    )
    assert run_python(code, env) == str(workers)


@pytest.mark.parametrize(
    "text, num_threads, vocab_size",
    [("abc", 8, 300), ("hello", 2, 256)],
)
def test_no_pool_without_a_chunked_count(text, num_threads, vocab_size):
    code = THREADS_AFTER_TRAINING.format(num_threads=num_threads, text=text, vocab_size=vocab_size)
    assert run_python(code, {"RAYON_NUM_THREADS": "2"}) == "0"


def test_pool_is_shared_by_all_tokenizers():
    code = """
        import os
        from tessaron import BasicTokenizer
        for n in (2, 4, 8, 2):
            BasicTokenizer(n).train("hello world " * 500, 300)
        print(len(os.listdir("/proc/self/task")))
    """
    assert run_python(code, {"RAYON_NUM_THREADS": "3"}) == "4"


def test_forked_child_can_train_with_the_pool():
    code = """
        import os
        from tessaron import BasicTokenizer
        text = "hello world " * 2000
        parent = BasicTokenizer(2)
        parent.train(text, 265)
        pid = os.fork()
        if pid == 0:
            child = BasicTokenizer(2)
            child.train(text, 265)
            same = child.decode(range(256, 265)) == parent.decode(range(256, 265))
            os._exit(0 if same else 3)
        _, status = os.waitpid(pid, 0)
        print(os.waitstatus_to_exitcode(status))
    """
    assert run_python(code, {"RAYON_NUM_THREADS": "2"}, timeout=60) == "0"


@pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="the sanitizer's own memory does not fit the address-space limit",
)
def test_pool_that_cannot_start_fails_every_chunked_count():
    # Under a small address-space limit the workers' stacks cannot all be mapped.
    code = """
        import resource
        from tessaron import BasicTokenizer
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        tok = BasicTokenizer(2)
        messages = []
        for _ in range(2):
            try:
                tok.train("hello world", 300)
            except BaseException as failure:
                messages.append(str(failure))
        prefix = "The global thread pool has not been initialized.: "
        print(len(messages), all(m.startswith(prefix) and len(m) > len(prefix)
                                 for m in messages))
        # The failed call left the byte tokens and no rules; one thread still trains.
        print(tok.decode([104, 105]), end=" ")
        try:
            tok.decode([256])
        except OSError:
            print("no-rules")
        BasicTokenizer(1).train("hello world", 300)
    """
    out = run_python(code, {"RAYON_NUM_THREADS": "65535"})
    assert out.splitlines() == ["2 True", "hi no-rules"]
