"""The hand-written splitters against the `regex` module running the same patterns."""

import codecs
import functools
import pathlib
import random
import sysconfig
import unicodedata

import pytest
import regex

import pretok_driver
from reference.patterns import EXPRESSIONS, TIKTOKEN_GPT2

NAMES = list(EXPRESSIONS)


def expected(name, texts):
    pattern = regex.compile(EXPRESSIONS[name])
    return [[p.encode() for p in pattern.findall(t)] for t in texts]


def check(driver, name, texts):
    got = pretok_driver.split(driver, name, texts)
    for text, pieces, want in zip(texts, got, expected(name, texts)):
        assert pieces == want, repr(text)


def test_expressions_are_the_published_ones(driver):
    for name, expression in EXPRESSIONS.items():
        assert pretok_driver.expression(driver, name).decode() == expression
        # The stored expression finds the same scanner again.
        assert pretok_driver.split(driver, expression, ["a b"]) == [[b"a", b" b"]]
    assert pretok_driver.split(driver, TIKTOKEN_GPT2, ["a  b"]) == [[b"a", b" ", b" b"]]
    # Where the peers are installed (the bench extra), their own texts, read offline.
    openai_public = pytest.importorskip("tiktoken_ext.openai_public")
    assert openai_public.r50k_pat_str == TIKTOKEN_GPT2
    bpe_openai = pytest.importorskip("bpe_openai")
    assert bpe_openai.get_encoding("cl100k_base")._pat_str == EXPRESSIONS["cl100k"]
    assert bpe_openai.get_encoding("o200k_base")._pat_str == EXPRESSIONS["o200k"]


EDGES = [
    "",
    " ",
    "a",
    "Hello, world!",
    "  leading and trailing  ",
    "tabs\tand\u00a0no-break\u3000spaces",
    "line\nbreaks\r\nand\r\r\n\n  \n  indented\n\t\n",
    "trailing newline then spaces\n  ",
    "trailing spaces then newline  \n",
    "it's I'M we'Re they'VE you'll He'LL 'd 'D 'ſ 'ſx 'Ss ' s '",
    "don't'sdon't''s'''ll",
    "12345678901 1 22 333 4444 ١٢٣٤٥ ½² ⅻ",
    "x1y22z333",
    "CamelCaseWords and ALLCAPS and ǅungla ʰmod",
    "e\u0301 a\u0301\u0302b \u0301\u0301 x \u20dd!",
    "!!!\n\n/// ///\n/ ?? ..\r\n",
    "path/to/file.txt, https://example.com/a/b?c=d",
    "中文字符串没有空格。日本語のテキスト、カタカナ。한국어 텍스트",
    "Русский текст, Ελληνικά, עברית, العربية",
    "emoji 😀👍🏽 and flags 🇩🇪",
    "\u0085\u1680\u2028\u2029\u202f\u205f\u180e\u200b\ufeff",
    "\x1c\x1d\x1e\x1f\x0b\x0c",
    " \n",
    "\n ",
    "a \n b",
    " 'll",
    "''s",
    "A'S B'ſ",
    "".join(map(chr, range(128))),
    " ".join(map(chr, range(128))),
]


@pytest.mark.parametrize("name", NAMES)
def test_hand_picked_edges(driver, name):
    check(driver, name, EDGES)


def ascii_runs():
    """Runs of ASCII letters, digits and punctuation of every length up to 20 (read eight bytes
    at a time), after each optional first character, ended by ASCII and by longer characters
    that may or may not continue them."""
    runs = ["a", "A", "Ab", "aB", "ABc", "7", ".", "/", "'"]
    ends = ["", " ", "a", "Z", "1", "!", "/", "\n", "\r\n", "'s", "'ſ", "\u0301", "é", "É",
            "ǅ", "ʰ", "中", "٣", "²", "…", "\u00a0", "\u2028", "😀", "\x00"]  # fmt: skip
    return [
        first + (run * 20)[:length] + end
        for run in runs
        for length in range(1, 21)
        for first in ("", " ", ".", "\t", "\n", "x")
        for end in ends
    ]


@pytest.mark.parametrize("name", NAMES)
def test_ascii_runs_and_what_ends_them(driver, name):
    check(driver, name, ascii_runs())


def late_code_points():
    """Letters, marks and numbers assigned after the interpreter's own Unicode version."""
    unassigned = "".join(chr(c) for c in range(0x110000) if unicodedata.category(chr(c)) == "Cn")
    return regex.findall(r"[\p{L}\p{M}\p{N}]", unassigned)


@functools.cache
def pools():
    white_space = [chr(c) for c in range(0x3100) if regex.match(r"\s", chr(c))]
    return [
        white_space,
        ["\r", "\n", "\r\n", " ", " ", " "],
        list("abcxyzABCXYZ") + ["the", "The", "THE"],
        ["'", "'s", "'S", "'ſ", "'t", "'re", "'RE", "'Ve", "'m", "'ll", "'lL", "'d", "'x"],
        list("0123456789") + ["٣", "७", "²", "½", "Ⅻ", "𝟙"],
        ["\u0301", "\u0308", "\u0903", "\u20dd", "\u093f", "\U000e0100"],
        list("中文字符日本語のカタカナ한국어") + ["\U00020000", "\U00031350"],
        list("Ǆǅǆʰʲˆ々〻ĀāΣσςЖж"),
        list('!"#$%&()*+,-./:;<=>?@[\\]^_`{|}~') + ["//", "/", "…", "—", "«", "»"],
        ["😀", "👍🏽", "\u200d", "\ufeff", "\ue000", "\U0010ffff", "\u0378", "\x00", "\x7f"],
        late_code_points(),
    ]


def random_texts(count, seed):
    rng = random.Random(seed)
    groups = pools()
    texts = []
    for _ in range(count):
        chosen = rng.sample(groups, rng.randint(1, 4))
        texts.append("".join(rng.choice(rng.choice(chosen)) for _ in range(rng.randint(1, 30))))
    return texts


@pytest.mark.parametrize("name", NAMES)
def test_random_unicode(driver, name):
    check(driver, name, random_texts(20_000, seed=NAMES.index(name)))


def stdlib_texts():
    """Sources of the standard library, multilingual test data included."""
    root = pathlib.Path(sysconfig.get_paths()["stdlib"])
    texts, size = [], 0
    for path in sorted(root.glob("test/test_*.py")):
        text = path.read_bytes().decode("utf-8", errors="replace")
        if not text.isascii() or size < 2_000_000:
            texts.append(text)
            size += len(text)
    return texts


@pytest.mark.parametrize("name", NAMES)
def test_source_corpus(driver, name):
    check(driver, name, stdlib_texts())


def pieces_with_replacement(name, data):
    """The pieces of bytes that are not all UTF-8, as `regex` splits the text decoded with
    replacement characters, each replacement standing for its ill-formed bytes."""
    spans = []

    def record(error):
        spans.append(error.end - error.start)
        return "\ufffd", error.end

    codecs.register_error("tessaron-test-record", record)
    text = data.decode("utf-8", errors="tessaron-test-record")
    lengths = iter(spans)
    widths = [next(lengths) if c == "\ufffd" else len(c.encode()) for c in text]
    pieces, at, index = [], 0, 0
    for piece in regex.findall(EXPRESSIONS[name], text):
        width = sum(widths[index : index + len(piece)])
        pieces.append(data[at : at + width])
        at, index = at + width, index + len(piece)
    return pieces


@pytest.mark.parametrize("name", NAMES)
def test_ill_formed_utf8_counts_as_a_symbol(driver, name):
    rng = random.Random(7)
    bad = [b"\xff", b"\x80", b"\xc3", b"\xe2\x82", b"\xf0\x9f\x98", b"\xed\xa0\x80", b"\xc0\xaf"]
    texts = []
    for text in random_texts(3000, seed=99):
        data = text.encode()
        cut = rng.randint(0, len(data))
        texts.append(data[:cut] + rng.choice(bad) + data[cut:])
    texts.append(b"\xe2\x82\xac\xe2\x82")
    # Overlong, surrogate and cut sequences against letters of two and three bytes, and such
    # letters cut by the end of the text.
    for seq in bad + [b"\xe0\x80\x80", b"\xc1\xbf", b"\xe1\x80", b"\xef\xbf", b"\xdf"]:
        for word in ("слово", "Слово", "汉字", "ab"):
            data = word.encode()
            texts += [data + seq + data, seq + data, data + seq, b" " + seq + b"x" + data[:-1]]
    got = pretok_driver.split(driver, name, texts)
    for data, pieces in zip(texts, got):
        assert b"".join(pieces) == data
        assert pieces == pieces_with_replacement(name, data), data
