"""The pattern engine (any split pattern other than the three with scanners) against Python's
`regex` module: whole matches, and the text no match covers kept as pieces of its own."""

import random
import subprocess

import pytest

import pretok_driver
from reference.patterns import EXPRESSIONS, TIKTOKEN_GPT2
from reference.pieces import pieces
from test_split import EDGES, random_texts, stdlib_texts

# Patterns people split with, as their libraries write them.
PUBLISHED = {
    "tiktoken gpt2": TIKTOKEN_GPT2,
    "llama3": r"""(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}|"""
    r""" ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+""",
    "qwen2": r"""(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}|"""
    r""" ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+""",
    "words": r"\w+|\s+|[^\w\s]+",
    "digits only": r"\d+",
    "lines": r"(?m)^.*$",
    "lazy": r"\S+?\b|\s{2,}?",
    "anchored": r"\A\s*\w|\w+\s*\z|\w+$|\b\w",
    "case": r"(?i)[a-f]+|'S|\p{Lu}+|[^\p{Ll}\s]+",
    "escapes": r"[\x41-\x5a\u00e9\U0001F600\101\t\r\n]+|\.{2,3}|[\]\[\-^]+|\u3000",
    "ahead": r"[^\s]+(?=\s)|\s+(?!\S)|\d++|x?+y|\p{N}{1,3}+|a{2}+",
    "alternatives": r"(?:ab|a)(?:bc|c)?|b*c|(a)|(?#note)[^abc]",
    "dot": r"(?s).{1,4}|.",
}

# The three patterns with scanners, made to run on the engine by an outer group.
THROUGH_ENGINE = {name: f"(?:{expression})" for name, expression in EXPRESSIONS.items()}


def check(driver, expression, texts, timeout=None):
    got = pretok_driver.split(driver, expression, texts)
    for text, cut in zip(texts, got):
        want = [p.encode() for p in pieces(expression, text, timeout)]
        assert cut == want, (expression, text)


@pytest.mark.parametrize("name", list(PUBLISHED) + list(THROUGH_ENGINE))
def test_patterns_on_edges_and_random_unicode(driver, name):
    expression = PUBLISHED.get(name) or THROUGH_ENGINE[name]
    check(driver, expression, EDGES + random_texts(3000, seed=len(name)))


@pytest.mark.parametrize("name", list(THROUGH_ENGINE))
def test_engine_equals_the_scanners_on_a_corpus(driver, name):
    texts = stdlib_texts()[:60]
    assert pretok_driver.split(driver, THROUGH_ENGINE[name], texts) == pretok_driver.split(
        driver, name, texts
    )


def random_pattern(rng, depth=0):
    """A pattern from the grammar the engine supports, where its pieces must equal regex's."""
    singles = ["a", "b", "A", " ", "'", "1", "é", "ſ", "K", r"\n", r"\r", r"\t", "."]
    singles += [r"\s", r"\S", r"\d", r"\w", r"\W", r"\p{L}", r"\p{Lu}", r"\p{N}", r"\P{L}"]
    in_class = ["a", "b", "z", "A", "é", "ſ", " ", "'", "1", r"\s", r"\d", r"\p{Ll}", r"\n"]

    def single():
        if rng.random() < 0.3:
            items = "".join(
                rng.choice(["a-f", "A-Z", "0-9"] + in_class) for _ in range(rng.randint(1, 3))
            )
            return f"[{rng.choice(['', '^'])}{items}]"
        return rng.choice(singles)

    def atom():
        roll = rng.random()
        if depth < 3 and roll < 0.2:
            opener = rng.choice(["(?:", "(", "(?i:", "(?s:"])
            return opener + random_pattern(rng, depth + 1) + ")", False
        if roll < 0.27:
            return rng.choice(["^", "$", r"\A", r"\z", r"\b", r"\B"]), None
        if roll < 0.33:
            return f"(?{rng.choice('=!')}{single()})", None
        return single(), True

    def term():
        text, one_char = atom()
        if one_char is None or rng.random() < 0.5:
            return text
        quantifier = rng.choice(["*", "+", "?", "{2}", "{1,3}", "{2,}", "{,2}"])
        modifier = rng.choice(["", "", "?"] + (["+"] if one_char else []))
        return text + quantifier + modifier

    branches = ["".join(term() for _ in range(rng.randint(1, 3))) for _ in range(rng.randint(1, 3))]
    return "|".join(branches)


def test_ignoring_case_as_regex_does(driver):
    # `regex`'s relation is neither symmetric nor transitive for the dotted and dotless i.
    texts = ["iIıİ ix Ix ıx İx", "KkK ſsS 'S 'ſ", "ǄǅǆDž ΣσςΐΰϐβẞßΩωΩ"]
    for expression in (r"(?i)i", r"(?i)I", r"(?i)ı|İ", r"(?i)[h-j]+|[^i]", r"(?i)σ|ß|ω|k|ǅ|β"):
        check(driver, expression, texts)


def test_random_patterns(driver):
    rng = random.Random(16)
    texts = EDGES[:12] + random_texts(150, seed=5) + ["aAbB 'ſ'S Kk\u212a\n1é\u0301\n"]
    checked = 0
    while checked < 250:
        expression = random_pattern(rng)
        if rng.random() < 0.2:
            expression = "(?i)" + expression
        try:
            check(driver, expression, texts, timeout=2)
        except subprocess.CalledProcessError as refused:
            # The one construct `regex` runs and the engine refuses.
            assert b"can match the empty string" in refused.stderr, expression
            continue
        except TimeoutError:
            continue  # `regex` backtracks catastrophically; the engine cannot
        checked += 1


def test_ill_formed_utf8_reads_as_a_replacement_character(driver):
    rng = random.Random(3)
    bad = [b"\xff", b"\x80", b"\xe2\x82", b"\xf0\x9f\x98", b"\xed\xa0\x80"]
    texts = []
    for text in random_texts(500, seed=4):
        data = text.encode()
        cut = rng.randint(0, len(data))
        texts.append(data[:cut] + rng.choice(bad) + data[cut:])
    for expression in (PUBLISHED["words"], r"\W+|[^\W\d]+|\b", r"[^\ufffd]+"):
        got = pretok_driver.split(driver, expression, texts)
        for data, cut in zip(texts, got):
            assert b"".join(cut) == data
            decoded = data.decode(errors="replace")
            want = pieces(expression, decoded)
            # Each replacement character stands for its own ill-formed bytes.
            assert [p.decode(errors="replace") for p in cut] == want, data


def test_braced_hex_escape(driver):
    # Not `regex` syntax, but that of the engines Hugging Face and Rust patterns are written for.
    assert pretok_driver.split(driver, r"[\x{41}-\x{5A}]+|\x{1F600}", ["aBC😀"]) == [
        [b"a", b"BC", "😀".encode()]
    ]


def test_no_catastrophic_backtracking(driver):
    text = "a" * 50_000
    for expression in (r"(?:a|a)*b", r"(a+)+b", r"(?:a+)+$b", r"(?:a|aa)*c"):
        assert pretok_driver.split(driver, expression, [text]) == [[text.encode()]]


REFUSED = {
    r"(?<=a)b": "look-behind is not supported at position 0",
    r"x(?<!a)b": "look-behind is not supported at position 1",
    r"(a)\1": "back-references are not supported at position 3",
    r"(?P<n>a)(?P=n)": "back-references are not supported",
    r"(?>ab)": "atomic groups are not supported",
    r"(?:ab)++": "possessive quantifier is supported only after one character",
    r"(?=ab)": "look-ahead is supported only over one character",
    r"\N{DIGIT ONE}": "named characters",
    r"(?x)a b": "the flag 'x' is not supported",
    r"a(?i)b": "inline flags are supported only at the start",
    r"\p{Greek}": "unknown or unsupported property",
    r"[[:alpha:]]": "POSIX classes are not supported",
    r"(?(1)a|b)": "conditional groups are not supported",
    r"a{100001}": "repeat count too big",
    r"(?:a{1000}){1000}": "too large",
    r"[\w]{60000}": "too large",
    r"(ab": "missing ), unterminated subpattern at position 0",
    r"ab)": "unbalanced parenthesis at position 2",
    r"é[a": "unterminated character set at position 1",
    r"*a": "nothing to repeat at position 0",
    r"a**": "multiple repeat at position 2",
    r"^*": "nothing to repeat",
    r"\q": r"bad or unsupported escape \q",
    r"[z-a]": "bad character range",
    r"a{3,2}": "min repeat greater than max repeat",
    r"\x4": r"incomplete escape \x",
    "(" * 300 + "a" + ")" * 300: "groups nested too deeply",
    r"(?:a*|b)+": "repeating what can match the empty string is not supported at position 8",
    r"(?:\b|a){2}": "repeating what can match the empty string",
}


def test_refused_constructs_name_what_and_where(driver):
    for expression, message in REFUSED.items():
        done = subprocess.run([driver, "split", expression], input=b"", capture_output=True)
        assert done.returncode == 5, expression
        assert message in done.stderr.decode(), (expression, done.stderr)


def test_automaton_bounds_fall_back_to_the_vm(driver):
    # Far more states than the automaton keeps, and more kinds of character than it tells
    # apart: the searches it gives up are the VM's, with the same pieces.
    rng = random.Random(9)
    check(driver, r"[ab]*a[ab]{12}|\s", ["".join(rng.choice("ab") for _ in range(30_000)) + " a"])
    letters = "".join(chr(0x100 + i) for i in range(400))
    text = "".join(rng.choice(letters + "x ") for _ in range(5000))
    check(driver, "|".join(letters) + r"|x+", [text])
