"""tessaron_tools.Tokenizer: making one, looking in, exact round trips, files, pickling."""

import copy
import errno
import pathlib
import pickle
import shutil
import subprocess

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tessaron
import tessaron_tools
from reference.encode import encode as reference_encode
from reference.train import train as reference_train
from tessaron_tools import Tokenizer

CORPUS = "the cat sat on the mat; the dog sat on the log. café, naïve, 東京, 東京!\n" * 40


@pytest.fixture(scope="module")
def tok():
    return Tokenizer.train(CORPUS, 400)


def test_module_exports_one_class():
    assert tessaron_tools.__all__ == ["Tokenizer"]
    assert Tokenizer.__module__ == "tessaron_tools"
    assert Tokenizer.__text_signature__ == "()"
    assert "tessaron_tools" not in tessaron.__dict__ and tessaron.__all__ == ["BasicTokenizer"]
    with pytest.raises(TypeError):
        type("Sub", (Tokenizer,), {})


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm from binutils")
@pytest.mark.parametrize("module", [tessaron, tessaron_tools], ids=lambda m: m.__name__)
def test_each_extension_exports_only_its_entry(module):
    out = subprocess.run(
        ["nm", "-D", "--defined-only", module.__file__], capture_output=True, text=True, check=True
    ).stdout
    exported = [line.split()[-1] for line in out.splitlines() if line.split()[1] in "TDBVW"]
    assert exported == [f"PyInit_{module.__name__}"]


def test_new_tokenizer_is_the_256_bytes():
    tok = Tokenizer()
    assert len(tok) == tok.vocab_size == 256
    assert tok.merges == [] and tok.special_tokens == {}
    assert [tok.token_bytes(i) for i in range(256)] == [bytes([i]) for i in range(256)]
    assert tok.encode("hé") == [104, 195, 169]
    assert repr(tok) == "<tessaron_tools.Tokenizer vocab_size=256>"
    with pytest.raises(TypeError):
        Tokenizer(1)


def test_training_learns_the_reference_rules(tok):
    merges, vocab = reference_train(CORPUS, 400)
    assert tok.merges == merges
    assert len(tok) == tok.vocab_size == 256 + len(merges)
    assert [tok.token_bytes(256 + i) for i in range(len(merges))] == [
        vocab[256 + i] for i in range(len(merges))
    ]
    assert repr(tok) == f"<tessaron_tools.Tokenizer vocab_size={len(tok)}>"


@pytest.mark.parametrize(
    "text", [CORPUS.encode(), bytearray(CORPUS.encode()), memoryview(CORPUS.encode())]
)
def test_bytes_like_train_on_their_bytes(tok, text):
    assert Tokenizer.train(text, 400).merges == tok.merges


def test_training_stops_when_pairs_run_out():
    tok = Tokenizer.train("aaaa", 1000)
    assert tok.merges == [(97, 97), (256, 256)]
    assert len(tok) == 258


def test_encode_matches_the_reference(tok):
    rules = {pair: 256 + i for i, pair in enumerate(tok.merges)}
    for text in ["", "a", "the cat", CORPUS[:500], "東京 café\r\n\t\x00"]:
        assert tok.encode(text) == reference_encode(rules, text.encode())
        assert tok.encode(text.encode()) == tok.encode(text)


@settings(max_examples=150, deadline=None)
@given(st.binary(max_size=300))
def test_bytes_round_trip_exactly(tok, data):
    ids = tok.encode(data)
    assert tok.decode_bytes(ids) == data
    assert tok.decode(ids, errors="surrogateescape") == data.decode("utf-8", "surrogateescape")


@settings(max_examples=150, deadline=None)
@given(st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=200))
def test_text_round_trips_exactly(tok, text):
    assert tok.decode(tok.encode(text)) == text


def test_decode_joins_before_decoding(tok):
    ids = tok.encode("é")
    pieces = [tok.decode([i]) for i in ids]
    assert tok.decode(ids) == "é"
    assert tok.decode([195]) == "\ufffd" and tok.decode([195], errors="ignore") == ""
    with pytest.raises(UnicodeDecodeError):
        tok.decode([195], errors="strict")
    assert len(pieces) >= 1


def test_decode_batch_decodes_each_sequence_alike(tok):
    texts = ["naïve café\r\n", "", "東京", "é" * 3]
    batch = tok.encode_batch(texts)
    assert tok.decode_batch(batch) == texts
    assert tok.decode_batch(tuple(ids) for ids in batch) == texts
    # Each sequence is joined on its own: a character cut between two sequences stays cut.
    cut = tok.encode("é".encode()[:1]), tok.encode("é".encode()[1:])
    assert tok.decode_batch(cut) == ["\ufffd", "\ufffd"]
    assert tok.decode_batch(cut, errors="ignore") == ["", ""]
    with pytest.raises(UnicodeDecodeError):
        tok.decode_batch([[104], cut[0]], errors="strict")
    with pytest.raises(TypeError, match="^batch must be an iterable of id sequences, not of ids$"):
        tok.decode_batch([104, 105])
    with pytest.raises(ValueError, match="^unknown token id: 1000000$"):
        tok.decode_batch([[104], [1_000_000]])


@pytest.mark.parametrize("ids", [[104, 105], (104, 105), b"hi", range(104, 106), iter([104, 105])])
def test_ids_in_any_iterable(ids):
    assert Tokenizer().decode_bytes(ids) == b"hi"


@pytest.mark.parametrize("call", ["token_bytes", "decode_bytes", "decode"])
@pytest.mark.parametrize("bad", [256, 2**64 - 1, 2**64, -1, 10**30])
def test_unknown_ids_are_value_errors_naming_the_first(call, bad):
    tok = Tokenizer()
    with pytest.raises(ValueError) as info:
        if call == "token_bytes":
            tok.token_bytes(bad)
        else:
            getattr(tok, call)([104, bad, 300])
    assert str(info.value) == f"unknown token id: {bad}"


@pytest.mark.parametrize("ids", ["104", 104, [1.5], [None]])
def test_ids_of_the_wrong_type(ids):
    with pytest.raises(TypeError):
        Tokenizer().decode_bytes(ids)


@pytest.mark.parametrize("text", [5, None, ["a"], memoryview(b"abcd")[::2]])
def test_encode_refuses_what_is_not_text(text):
    with pytest.raises((TypeError, BufferError)):
        Tokenizer().encode(text)


def test_lone_surrogate_is_refused():
    with pytest.raises(UnicodeEncodeError):
        Tokenizer().encode("a\ud800")


def test_model_bytes_equal_the_file_and_load_back(tok, tmp_path):
    data = tok.to_bytes()
    tok.save(tmp_path / "m.model")
    assert (tmp_path / "m.model").read_bytes() == data
    tok.save(str(tmp_path / "s.model"))
    for again in [
        Tokenizer.load(tmp_path / "m.model"),
        Tokenizer.load(str(tmp_path / "s.model")),
        Tokenizer.from_bytes(data),
        Tokenizer.from_bytes(bytearray(data)),
        Tokenizer.from_bytes(memoryview(data)),
    ]:
        assert again.to_bytes() == data
        assert again.merges == tok.merges
        assert again.encode(CORPUS) == tok.encode(CORPUS)
    assert Tokenizer().to_bytes() == b"tessaron v1\n\n0\n"


def test_pickle_and_copies(tok):
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        again = pickle.loads(pickle.dumps(tok, protocol))
        assert type(again) is Tokenizer and again is not tok
        assert again.to_bytes() == tok.to_bytes()
    for again in [copy.copy(tok), copy.deepcopy(tok), copy.deepcopy([tok])[0]]:
        assert again.to_bytes() == tok.to_bytes()
        assert again.encode("the cat") == tok.encode("the cat")


def test_file_errors_carry_errno_and_filename(tmp_path):
    missing = tmp_path / "nowhere" / "m.model"
    with pytest.raises(FileNotFoundError) as info:
        Tokenizer.load(missing)
    assert info.value.errno == errno.ENOENT and info.value.filename == str(missing)
    with pytest.raises(FileNotFoundError) as info:
        Tokenizer().save(missing)
    assert info.value.errno == errno.ENOENT and info.value.filename == str(missing)
    with pytest.raises(IsADirectoryError) as info:
        Tokenizer.load(tmp_path)
    assert info.value.filename == str(tmp_path)
    with pytest.raises(FileNotFoundError) as info:
        Tokenizer.train_files([tmp_path / "absent.txt"], 300)
    assert info.value.filename == str(tmp_path / "absent.txt")


def test_paths_are_str_or_path_like(tmp_path):
    with pytest.raises(TypeError):
        Tokenizer.load(5)
    with pytest.raises(TypeError):
        Tokenizer().save(None)
    with pytest.raises(ValueError):
        Tokenizer().save(str(tmp_path / "a\0b"))


@pytest.mark.parametrize(
    "data, message",
    [
        (b"", "missing version"),
        (b"x\n", "invalid version"),
        (b"tessaron v1\n\n0\n1\n", "invalid merge entry"),
        (b"tessaron v1\n\n0\n1 x\n", "invalid digit found in string"),
    ],
)
def test_malformed_models_are_value_errors(tmp_path, data, message):
    with pytest.raises(ValueError) as info:
        Tokenizer.from_bytes(data)
    assert message in str(info.value)
    path = tmp_path / "bad.model"
    path.write_bytes(data)
    with pytest.raises(ValueError) as info:
        Tokenizer.load(path)
    assert message in str(info.value) and str(path) in str(info.value)


def test_train_argument_errors():
    with pytest.raises(ValueError, match="at least 256"):
        Tokenizer.train("abc", 255)
    with pytest.raises(OverflowError):
        Tokenizer.train("abc", -1)
    with pytest.raises(TypeError):
        Tokenizer.train("abc", "300")
    with pytest.raises(TypeError):
        Tokenizer.train("abc", 300, 1)
    with pytest.raises(ValueError, match="threads"):
        Tokenizer.train("abc", 300, threads=0)
    with pytest.raises(TypeError):
        Tokenizer.train("abc", 300, progress=5)
    with pytest.raises(TypeError):
        Tokenizer.train_files("corpus.txt", 300)


def test_train_files_concatenates_in_order(tmp_path):
    parts = [b"hello hello ", b"\xff\xfe not utf-8 \x00", b"", "東京 hello".encode()]
    paths = []
    for i, part in enumerate(parts):
        paths.append(tmp_path / f"{i}.txt")
        paths[-1].write_bytes(part)
    joined = b"".join(parts)
    from_files = Tokenizer.train_files([paths[0], str(paths[1]), paths[2], paths[3]], 300)
    assert from_files.merges == Tokenizer.train(joined, 300).merges
    assert from_files.merges == reference_train(joined, 300)[0]
    assert Tokenizer.train_files(iter(paths), 300).merges == from_files.merges
    assert Tokenizer.train_files([], 300).merges == []


def test_threads_do_not_change_the_rules():
    text = CORPUS * 5
    assert Tokenizer.train(text, 500, threads=2).merges == Tokenizer.train(text, 500).merges


def test_help_shows_docstrings():
    assert "vocab_size" in Tokenizer.train.__doc__
    assert Tokenizer.encode.__text_signature__ == "($self, text, *, allowed_special=())"
    assert Tokenizer.decode.__text_signature__ == "($self, ids, errors='replace')"
    assert Tokenizer.vocab_size.__doc__


def test_independent_of_the_location(tmp_path, monkeypatch, tok):
    monkeypatch.chdir(tmp_path)
    tok.save("rel.model")
    assert Tokenizer.load(pathlib.Path("rel.model")).to_bytes() == tok.to_bytes()


class Hostile:
    """Raises from every protocol a conversion might use."""

    def __index__(self):
        raise RuntimeError("index")

    def __iter__(self):
        raise RuntimeError("iter")

    def __fspath__(self):
        raise RuntimeError("fspath")

    def __len__(self):
        raise RuntimeError("len")


def endless():
    while True:
        yield 2**70


ODD = [
    None,
    -1,
    0,
    2**80,
    "",
    "all",
    b"",
    bytearray(b"x"),
    [],
    [None],
    ["\ud800"],
    {},
    {1: 2},
    1.5,
    float("nan"),
    object(),
    Hostile(),
    [Hostile()],
    iter([1, Hostile()]),
    endless(),
    memoryview(b"abcd")[::2],
]


@pytest.mark.parametrize("odd", ODD, ids=range(len(ODD)))
def test_odd_arguments_raise_ordinary_exceptions(tok, odd, tmp_path):
    calls = [
        lambda: Tokenizer.train(odd, 260),
        lambda: Tokenizer.train("abc", odd),
        lambda: Tokenizer.train("abc", 260, threads=odd),
        lambda: Tokenizer.train("abc", 260, special_tokens=odd),
        lambda: Tokenizer.train("abc", 260, progress=odd),
        lambda: Tokenizer.train_files(odd, 260),
        lambda: Tokenizer.load(odd),
        lambda: Tokenizer.from_bytes(odd),
        lambda: tok.token_bytes(odd),
        lambda: tok.encode(odd),
        lambda: tok.encode("x<|s|>", allowed_special=odd),
        lambda: tok.encode_batch(odd),
        lambda: tok.encode_batch(["x"], threads=odd),
        lambda: tok.decode_bytes(odd),
        lambda: tok.decode([104], errors=odd),
        lambda: tok.decode(odd),
        lambda: tok.decode_batch(odd),
        lambda: tok.decode_batch([odd]),
        lambda: tok.decode_batch([[104]], errors=odd),
    ]
    for call in calls:
        try:
            call()
        except Exception:
            pass
