"""Models kept in other libraries' formats: tiktoken rank tables and Hugging Face's
tokenizer.json, read with the source's own ids and written back."""

import base64
import json
import pickle
import unicodedata

import pytest

from tessaron_tools import Tokenizer
from test_split import EDGES, random_texts, stdlib_texts

TEXT = "".join(stdlib_texts())[:300_000]
HELD_OUT = "\n".join(EDGES) + "".join(random_texts(300, seed=5)) + "".join(stdlib_texts())[-60_000:]
# The peers' Unicode tables are older than ours: against them, only characters that this
# Python's (Unicode 13) knows.
KNOWN = "".join(c for c in HELD_OUT if unicodedata.category(c) != "Cn")


# A split pattern of the kind newer models publish, run by the pattern engine.
LLAMA3 = (
    r"(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n]*"
    r"|\s*[\r\n]+|\s+(?!\S)|\s+"
)


@pytest.fixture(scope="module", params=[None, "gpt2", "cl100k", "o200k", LLAMA3])
def trained(request):
    tok = Tokenizer.train(TEXT, 1200, pattern=request.param, special_tokens=["<|end|>"])
    return request.param, tok


def same_ids(a, b, text=HELD_OUT + "<|end|>"):
    return a.encode(text, allowed_special="all") == b.encode(text, allowed_special="all")


def test_rank_file_round_trip(trained, tmp_path):
    pattern, tok = trained
    path = tmp_path / "t.tiktoken"
    tok.to_tiktoken(path)
    lines = path.read_text().splitlines()
    assert len(lines) == 256 + len(tok.merges)
    assert lines[97] == f"{base64.b64encode(b'a').decode()} 97"
    if pattern is None:
        return  # tiktoken always splits
    back = Tokenizer.from_tiktoken(path, pattern, special_tokens={"<|end|>": 1199})
    assert same_ids(back, tok)
    assert back.merges == tok.merges and back.special_tokens == tok.special_tokens
    # Its ids are those of a model file, so it saves as one again.
    assert back.to_bytes() == tok.to_bytes()


def test_tokenizer_json_round_trip(trained, tmp_path):
    _, tok = trained
    path = tmp_path / "tokenizer.json"
    tok.to_huggingface(path)
    assert path.read_text() == tok.to_huggingface_json()
    back = Tokenizer.from_huggingface(path)
    assert same_ids(back, tok)
    assert back.to_bytes() == tok.to_bytes()


def test_hugging_face_encodes_our_tokenizer_json_alike(trained, tmp_path):
    tokenizers = pytest.importorskip("tokenizers")
    _, tok = trained
    path = tmp_path / "tokenizer.json"
    tok.to_huggingface(path)
    theirs = tokenizers.Tokenizer.from_file(str(path))
    # Hugging Face finds added tokens in any text; ours when allowed.
    text = KNOWN + " <|end|>x"
    assert theirs.encode(text).ids == tok.encode(text, allowed_special="all")


def test_tiktoken_encodes_our_rank_table_alike(trained):
    tiktoken = pytest.importorskip("tiktoken")
    from reference.patterns import EXPRESSIONS

    pattern, tok = trained
    if pattern is None:
        return
    ranks = {tok.token_bytes(i): i for i in range(256 + len(tok.merges))}
    expression = EXPRESSIONS.get(pattern, pattern)
    theirs = tiktoken.Encoding("t", pat_str=expression, mergeable_ranks=ranks,
                               special_tokens={"<|end|>": 1199})  # fmt: skip
    ours = Tokenizer.from_tiktoken(ranks, pattern, special_tokens={"<|end|>": 1199})
    text = KNOWN + "<|end|>"
    assert ours.encode(text, allowed_special="all") == theirs.encode(text, allowed_special="all")


@pytest.fixture(scope="module")
def hugging_face_trained(tmp_path_factory):
    """A tokenizer.json trained by Hugging Face itself: the special token takes id 0, so the
    bytes are not at 0..255."""
    tokenizers = pytest.importorskip("tokenizers")
    from tokenizers import models, pre_tokenizers, trainers

    hf = tokenizers.Tokenizer(models.BPE())
    hf.pre_tokenizer = pre_tokenizers.ByteLevel(add_prefix_space=False)
    trainer = trainers.BpeTrainer(vocab_size=1000, special_tokens=["<|endoftext|>"],
                                  initial_alphabet=pre_tokenizers.ByteLevel.alphabet())  # fmt: skip
    hf.train_from_iterator([TEXT[:100_000]], trainer)
    path = tmp_path_factory.mktemp("hf") / "tokenizer.json"
    hf.save(str(path))
    return hf, path


def test_ids_equal_hugging_faces_for_its_own_model(hugging_face_trained, tmp_path):
    hf, path = hugging_face_trained
    tok = Tokenizer.from_huggingface(path)
    text = KNOWN + "<|endoftext|> after"
    ids = tok.encode(text, allowed_special="all")
    assert ids == hf.encode(text).ids
    assert tok.decode(ids) == text and tok.decode_bytes(ids) == text.encode()
    assert tok.special_tokens == {"<|endoftext|>": 0}
    assert len(tok) == tok.vocab_size == 1000
    assert tok.token_bytes(hf.token_to_id("Ġthe")) == b" the"
    # The rules in the file's ids: the first merge is the first pair of the file.
    first = json.loads(path.read_text())["model"]["merges"][0]
    assert tok.merges[0] == tuple(hf.token_to_id(part) for part in first)

    # Written back, Hugging Face reads the same model.
    tok.to_huggingface(tmp_path / "again.json")
    again = type(hf).from_file(str(tmp_path / "again.json"))
    assert again.encode(text).ids == hf.encode(text).ids
    # Pickling keeps the ids (through the tokenizer.json).
    assert pickle.loads(pickle.dumps(tok)).encode(text, allowed_special="all") == ids


def test_ids_of_a_model_from_elsewhere(hugging_face_trained):
    _, path = hugging_face_trained
    tok = Tokenizer.from_huggingface(path)
    # Id 0 is the special token here; bytes have other ids.
    assert tok.token_bytes(0) == b"<|endoftext|>"
    assert tok.encode("!") == [1]
    with pytest.raises(ValueError, match="^unknown token id: 1000$"):
        tok.decode([5, 1000])
    assert tok.decode_batch([[1], [5, 1]]) == ["!", tok.decode([5, 1])]
    with pytest.raises(ValueError, match="^unknown token id: 1000$"):
        tok.token_bytes(1000)
    message = "^this tokenizer's ids or special tokens do not fit a model file; save it with"
    with pytest.raises(ValueError, match=message):
        tok.to_bytes()
    with pytest.raises(ValueError, match=message):
        tok.save("never-written.model")
    assert tok.encode_batch(["a b", "!"], threads=2) == [tok.encode("a b"), [1]]
    lines = " ".join(map(str, tok.encode("a b<|endoftext|>", allowed_special="all"))) + "\n1\n"
    assert (
        tok.encode_batch_lines(["a b<|endoftext|>", "!"], allowed_special="all") == lines.encode()
    )


def published(name):
    bpe_openai = pytest.importorskip("bpe_openai")
    tiktoken = pytest.importorskip("tiktoken")
    source = bpe_openai.get_encoding(name)
    specials = {"<|endoftext|>": 100257 if name == "cl100k_base" else 199999}
    ranks = source._mergeable_ranks
    theirs = tiktoken.Encoding(name, pat_str=source._pat_str, mergeable_ranks=ranks,
                               special_tokens=specials)  # fmt: skip
    return ranks, specials, theirs


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
def test_published_tables_give_tiktokens_ids(name, tmp_path):
    ranks, specials, theirs = published(name)
    ours = Tokenizer.from_tiktoken(ranks, name.split("_")[0], special_tokens=specials)
    text = KNOWN + "<|endoftext|>"
    ids = ours.encode(text, allowed_special="all")
    assert ids == theirs.encode(text, allowed_special="all")
    assert ours.decode(ids) == text
    # The rank file written back is tiktoken's own table.
    ours.to_tiktoken(tmp_path / "back.tiktoken")
    assert Tokenizer.from_tiktoken(tmp_path / "back.tiktoken", name.split("_")[0]).encode(
        text
    ) == theirs.encode_ordinary(text)


def test_rules_that_ranks_cannot_express_are_refused(tmp_path):
    # "abc" made from "a" and "bc": ranks would merge "ab" first and make it from "ab" and "c".
    tok = Tokenizer.from_bytes(b"tessaron v1\n\n0\n97 98\n98 99\n97 257\n")
    with pytest.raises(ValueError, match="^the rules cannot be written as ranks: ranks would"):
        tok.to_tiktoken(tmp_path / "never.tiktoken")
    assert not (tmp_path / "never.tiktoken").exists()
    # Hugging Face merges by the rules' order, so the same model fits a tokenizer.json.
    back = Tokenizer.from_huggingface_json(tok.to_huggingface_json())
    assert back.merges == tok.merges
    assert back.encode("abcab bcabc") == tok.encode("abcab bcabc")


def test_rank_tables_refused(tmp_path):
    ranks = {bytes([b]): b for b in range(256)}
    with pytest.raises(ValueError, match="^the token of rank 300 cannot be made from two"):
        Tokenizer.from_tiktoken(ranks | {b"abc": 300}, "gpt2")
    with pytest.raises(ValueError, match="^the id 97 is given to two tokens$"):
        Tokenizer.from_tiktoken(ranks, "gpt2", special_tokens={"<s>": 97})
    with pytest.raises(TypeError, match="^the tokens of ranks must be bytes, not str$"):
        Tokenizer.from_tiktoken({"a": 0}, "gpt2")
    with pytest.raises(ValueError, match="^pattern cannot be run: look-behind"):
        Tokenizer.from_tiktoken(ranks, r"(?<=a)b")
    bad = tmp_path / "bad.tiktoken"
    bad.write_text("YQ== 97\nYR== 1\n")
    with pytest.raises(ValueError, match=f"^{bad}: line 2: the token is not valid base64$"):
        Tokenizer.from_tiktoken(bad, "gpt2")
    with pytest.raises(FileNotFoundError):
        Tokenizer.from_tiktoken(tmp_path / "missing.tiktoken", "gpt2")


def small_json():
    return json.loads(Tokenizer.train("abcabc abd", 260, pattern="gpt2").to_huggingface_json())


def changed(edit):
    data = small_json()
    edit(data)
    return json.dumps(data)


def split_by(expression):
    def edit(data):
        data["pre_tokenizer"] = {"type": "Sequence", "pretokenizers": [
            {"type": "Split", "pattern": {"Regex": expression}, "behavior": "Isolated"},
            {"type": "ByteLevel", "add_prefix_space": False, "use_regex": False}]}  # fmt: skip

    return edit


@pytest.mark.parametrize(
    "text, message",
    [
        ("", "line 1, column 1: the text ends where a value should be"),
        ('{"a": 1,}', "line 1, column 9: expected a key in quotes"),
        ('{"a": 1, "a": 2}', "line 1, column 10: a key given twice in one object"),
        ('\n  ["\\ud800"]', "line 2, column 5: a lone surrogate in a \\u escape"),
        ("[" * 100, "line 1, column 65: nested deeper than 64"),
        ('"\xff"', "line 1, column 2: a string that is not valid UTF-8"),
        ("[1] 2", "line 1, column 5: more text after the value"),
        (changed(lambda d: d.update(normalizer={"type": "NFC"})), "normalizer is not supported"),
        (changed(lambda d: d["model"].update(dropout=0.1)), "dropout is not supported"),
        (changed(lambda d: d["model"].update(byte_fallback=True)), "byte_fallback is not"),
        (changed(lambda d: d["model"].update(ignore_merges=True)), "ignore_merges is not"),
        (changed(lambda d: d["model"].update(end_of_word_suffix="</w>")), "end_of_word_suffix"),
        (changed(lambda d: d["pre_tokenizer"].update(add_prefix_space=True)), "add_prefix_space"),
        (changed(lambda d: d.update(pre_tokenizer=None)), "the pre-tokenizer must be ByteLevel"),
        (changed(lambda d: d.update(post_processor={"type": "TemplateProcessing"})), "post-proc"),
        (changed(lambda d: d["model"]["vocab"].pop("Ā")), "no token for the byte 0x00"),
        (changed(lambda d: d["model"]["vocab"].update(xyz=900)), "the vocabulary's id 900 is "),
        (changed(lambda d: d["model"]["merges"].append("a x")), "a merge of tokens not in the "),
        (changed(lambda d: d["model"]["merges"].append(["a"])), "a merge is neither"),
        (
            changed(lambda d: d["added_tokens"].append({"id": 9, "content": "x", "lstrip": True})),
            "added tokens with lstrip are not supported",
        ),
        (changed(split_by(r"\w+(")), "the split pattern cannot be run: missing ), unterminated "),
        # Oniguruma reads these otherwise than the engine here: Hugging Face would split
        # "a \nb" by the first at the line end, and "12345" by the second as one piece.
        (changed(split_by(r"\s+$|\S+|\s+")), "holds $ at position 3, which Hugging Face's"),
        (changed(split_by(r"\p{N}{1,3}+|\D+")), "holds a possessive {m,n}+ at position 10, "),
        (changed(split_by(r"(?m)\w+|\W")), "holds the flag m at position 2, "),
        (changed(split_by(r"\s\Z|\S+|\s")), "holds \\Z at position 2, "),
        (
            changed(lambda d: d.update(pre_tokenizer={"type": "Sequence", "pretokenizers": [
                {"type": "Split", "pattern": {"Regex": "x"}, "behavior": "Removed"},
                {"type": "ByteLevel", "add_prefix_space": False, "use_regex": False}]})),
            "Split behaviours other than Isolated are not supported",
        ),
    ],
)  # fmt: skip
def test_malformed_tokenizer_json(tmp_path, text, message):
    path = tmp_path / "tokenizer.json"
    path.write_bytes(text.encode("utf-8", "surrogateescape") if "\xff" not in text else b'"\xff"')
    with pytest.raises(ValueError) as raised:
        Tokenizer.from_huggingface(path)
    assert str(raised.value).startswith(f"{path}: ") and message in str(raised.value)
    assert "\n" not in str(raised.value)


def test_patterns_hugging_face_reads_otherwise_are_not_written():
    tok = Tokenizer.train("12345 a \nb " * 50, 300, pattern=r"\p{N}{1,3}+|\s+$|\S+|\s+")
    with pytest.raises(ValueError, match=r"^the split pattern holds a possessive \{m,n\}\+ at "):
        tok.to_huggingface_json()
    # The other formats keep the pattern as it is.
    assert Tokenizer.from_bytes(tok.to_bytes()).encode("12345 a \nb") == tok.encode("12345 a \nb")


def test_both_merge_spellings_read_alike():
    data = small_json()
    pairs = dict(
        data, model=dict(data["model"], merges=[m.split() for m in data["model"]["merges"]])
    )
    a = Tokenizer.from_huggingface_json(json.dumps(data))
    b = Tokenizer.from_huggingface_json(json.dumps(pairs).encode())
    assert a.merges == b.merges and a.encode("abcabd") == b.encode("abcabd")


def test_command_line_encodes_and_decodes_with_models_from_elsewhere(tmp_path):
    from test_cli import tessaron_run

    # Ranks that put the bytes in reverse order, so the ids are not a model file's.
    ranks = {bytes([b]): 255 - b for b in range(256)} | {b"ab": 256, b" ab": 257, b"abc": 258}
    tok = Tokenizer.from_tiktoken(ranks, "gpt2", special_tokens={"<|e|>": 300})
    tok.to_huggingface(tmp_path / "tokenizer.json")
    tok.to_tiktoken(tmp_path / "t.tiktoken")
    text = "abc ab cab\nxab\tabc\xff"
    (tmp_path / "in.txt").write_text(text, "latin-1")
    for model, pattern in [("tokenizer.json", []), ("t.tiktoken", ["--pattern", "gpt2"])]:
        done = tessaron_run("encode", "-m", model, *pattern, "--whole", "in.txt", cwd=tmp_path)
        assert done.returncode == 0, done.stderr
        ids = tok.encode(text.encode("latin-1"))
        assert done.stdout.decode().split() == [str(i) for i in ids]
        (tmp_path / "ids.txt").write_bytes(done.stdout)
        done = tessaron_run("decode", "-m", model, "ids.txt", cwd=tmp_path)
        assert done.stdout == text.encode("latin-1") + b"\n"
        # The display text of each token, as the model file face shows it.
        done = tessaron_run("decode", "-m", model, "--display", "ids.txt", cwd=tmp_path)
        assert done.stdout.decode() == "abc ab cab\\u000axab\\u0009abc\ufffd\n"

    done = tessaron_run("encode", "-m", "t.tiktoken", "--text", "a", cwd=tmp_path)
    assert done.returncode == 1
    assert "t.tiktoken: a tiktoken rank file holds no split pattern: give it with --pattern" in (
        done.stderr.decode()
    )
    done = tessaron_run("encode", "-m", "tokenizer.json", "--pattern", "gpt2", "--text", "a",
                        cwd=tmp_path)  # fmt: skip
    assert done.stderr.decode() == (
        "tessaron encode: error: tokenizer.json: --pattern is for tiktoken rank files; "
        "a tokenizer.json keeps its own\n"
    )

    (tmp_path / "bad.json").write_text('{"model": [}')
    done = tessaron_run("encode", "-m", "bad.json", "--text", "a", cwd=tmp_path)
    assert done.returncode == 1
    assert done.stderr.decode() == (
        "tessaron encode: error: bad.json: not a usable tokenizer.json: "
        "line 1, column 12: not a JSON value\n"
    )


def test_ids_far_apart_survive_both_ways(tmp_path):
    base = 2**40
    ranks = {bytes([b]): base + 7 * b for b in range(256)} | {b"ab": 2**63, b"abc": 2**64 - 1}
    tok = Tokenizer.from_tiktoken(ranks, "gpt2", special_tokens={"<s>": 5})
    assert tok.encode("abcab<s>", allowed_special="all") == [2**64 - 1, 2**63, 5]
    assert tok.decode([2**64 - 1, base + 7 * 32, 5]) == "abc <s>"
    assert tok.merges == [(base + 7 * 97, base + 7 * 98), (2**63, base + 7 * 99)]
    tok.to_tiktoken(tmp_path / "far.tiktoken")
    back = Tokenizer.from_tiktoken(tmp_path / "far.tiktoken", "gpt2")
    assert back.encode("abcab") == [2**64 - 1, 2**63]
    with pytest.raises(ValueError, match=r"^the id \d+ does not fit a tokenizer.json"):
        tok.to_huggingface(tmp_path / "never.json")


def test_escaped_and_raw_json_read_alike():
    data = small_json()
    escaped = Tokenizer.from_huggingface_json(json.dumps(data, ensure_ascii=True))
    raw = Tokenizer.from_huggingface_json(json.dumps(data, ensure_ascii=False, indent=3))
    assert escaped.merges == raw.merges
    assert escaped.encode("abd\x00\xff") == raw.encode("abd\x00\xff")
