"""The vocabulary listing, save(), and how the four file methods bind and fail."""

import errno
import os

import pytest

from reference.model_file import read_model, vocab_listing
from reference.vocab import render_token
from tessaron import BasicTokenizer

HEAD = b"tessaron v1\n\n"


def test_new_tokenizer_lists_nothing(listing):
    assert listing(BasicTokenizer()) == b""


def test_single_bytes_after_build_vocab(listing):
    tok = BasicTokenizer()
    tok.build_vocab()
    lines = listing(tok).split(b"\n")
    assert lines.pop() == b""
    assert len(lines) == 256
    assert lines[65] == b"[A] 65"
    assert lines[10] == b"[\\u000a] 10"
    assert lines[93] == b"[]] 93"
    assert lines[91] == b"[[] 91"
    assert lines[92] == b"[\\] 92"
    assert lines[128] == "[\ufffd] 128".encode()
    assert lines[0x85] == "[\ufffd] 133".encode()
    assert lines == [f"[{render_token(bytes([b]))}] {b}".encode() for b in range(256)]


@pytest.mark.parametrize(
    "model, tail",
    [
        # Merged lines show both parts; T is rendered on its own, so a split character differs.
        (
            HEAD + b"1\na\x01] 1000\n104 105\n256 33\n195 169\n226 130\n258 257\n",
            [
                b"[h][i] -> [hi] 256",
                b"[hi][!] -> [hi!] 257",
                "[\ufffd][\ufffd] -> [é] 258".encode(),
                "[\ufffd][\ufffd] -> [\ufffd] 259".encode(),
                "[é][hi!] -> [éhi!] 260".encode(),
                b"[a\\u0001]] 1000",
            ],
        ),
        # A special token on a rule's id is still shown as that rule's result.
        (HEAD + b"1\nXY 256\n104 105\n", [b"[h][i] -> [XY] 256"]),
        # A rule whose part has no entry: its id gets an entry only from the special token.
        (HEAD + b"1\nzz 256\n999 97\n", [b"[zz] 256"]),
        # A rule built on an id that only a later rule defines gets no entry at all.
        (HEAD + b"0\n257 97\n98 99\n", [b"[b][c] -> [bc] 257"]),
        # Ids far apart are listed in ascending order, whether near the rules' ids or not.
        (
            HEAD + b"3\nzz 18446744073709551614\nyy 1099511627776\nxx 300\n104 105\n",
            [b"[h][i] -> [hi] 256", b"[xx] 300", b"[yy] 1099511627776"]
            + [b"[zz] 18446744073709551614"],
        ),
    ],
)
def test_merged_and_plain_lines(listing, loaded, model, tail):
    tok = loaded(model)
    data = listing(tok)
    assert data.split(b"\n")[256:-1] == tail
    parsed = read_model(model)
    assert data == vocab_listing(parsed.vocab(), parsed.merges)


def test_listing_crosses_the_buffer_many_times(listing, loaded):
    rules = "".join(f"{i % 256} {255 - i % 256}\n" for i in range(2000))
    special = "w" * 9000
    model = f"tessaron v1\n\n1\n{special} 5000\n{rules}".encode()
    tok = loaded(model)
    parsed = read_model(model)
    assert listing(tok) == vocab_listing(parsed.vocab(), parsed.merges)


def test_save_writes_both_files_or_only_the_model(tmp_path, listing, loaded):
    tok = loaded(HEAD + b"1\n<s> 300\n104 105\n")
    model, vocab = tmp_path / "m.model", tmp_path / "m.vocab"
    assert tok.save(str(model), str(vocab)) is None
    assert model.read_bytes() == HEAD + b"1\n<s> 300\n104 105\n"
    assert vocab.read_bytes() == listing(tok)
    model.unlink()
    vocab.unlink()
    assert tok.save(model_file_path=str(model), vocab_file_path=None) is None
    assert model.exists() and not vocab.exists()


def test_save_stops_at_the_first_failure(tmp_path, loaded):
    tok = loaded(HEAD + b"0\n104 105\n")
    vocab = tmp_path / "m.vocab"
    with pytest.raises(FileNotFoundError):
        tok.save(str(tmp_path / "missing" / "m.model"), str(vocab))
    assert not vocab.exists()

    model = tmp_path / "m.model"
    with pytest.raises(IsADirectoryError) as info:
        tok.save(str(model), str(tmp_path))
    assert info.value.args == (f"{os.strerror(errno.EISDIR)} (os error {errno.EISDIR})",)
    assert model.read_bytes() == HEAD + b"0\n104 105\n"


WRITERS = {
    "save_model": lambda tok, path: tok.save_model(path),
    "save_vocab": lambda tok, path: tok.save_vocab(path),
    "save": lambda tok, path: tok.save(path, None),
    "save listing": lambda tok, path: tok.save(os.devnull, path),
}
CALLS = {**WRITERS, "load": lambda tok, path: tok.load(path)}


@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
def test_operating_system_failures_keep_their_kind(tmp_path, call):
    tok = BasicTokenizer()
    tok.build_vocab()
    for path, exc, code in [
        (tmp_path / "missing" / "x", FileNotFoundError, errno.ENOENT),
        (tmp_path, IsADirectoryError, errno.EISDIR),
        (tmp_path / "file" / "x", NotADirectoryError, errno.ENOTDIR),
    ]:
        (tmp_path / "file").touch()
        with pytest.raises(exc) as info:
            call(tok, str(path))
        assert type(info.value) is exc
        assert info.value.args == (f"{os.strerror(code)} (os error {code})",)
        assert info.value.errno is None
    assert tok.decode([104]) == "h"


@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
def test_a_nul_in_the_path_names_no_file(tmp_path, call):
    tok = BasicTokenizer()
    target = tmp_path / "a"
    with pytest.raises(OSError) as info:
        call(tok, str(target) + "\0b")
    assert type(info.value) is OSError
    assert info.value.args == ("file name contained an unexpected NUL byte",)
    assert not target.exists()


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
@pytest.mark.parametrize("call", WRITERS.values(), ids=WRITERS.keys())
def test_full_device(call):
    tok = BasicTokenizer()
    tok.build_vocab()
    with pytest.raises(OSError) as info:
        call(tok, "/dev/full")
    assert type(info.value) is OSError
    assert info.value.args == ("No space left on device (os error 28)",)
    assert tok.decode([104]) == "h"


def _as_unprivileged(action):
    """Runs `action` in a child that has given up root; returns what it reports."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        try:
            os.setgid(65534)
            os.setuid(65534)
            result = action()
        except BaseException as error:  # the child reports everything and never returns
            result = f"{type(error).__name__}: {error}"
        os.write(write_end, result.encode())
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        report = pipe.read().decode()
    os.waitpid(pid, 0)
    return report


@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
def test_permission_denied(tmp_path, call):
    locked = tmp_path / "locked"
    locked.mkdir()
    (locked / "x").write_bytes(HEAD + b"0\n")
    locked.chmod(0o700)
    tok = BasicTokenizer()
    message = f"{os.strerror(errno.EACCES)} (os error {errno.EACCES})"
    if os.geteuid() != 0:
        locked.chmod(0)
        try:
            with pytest.raises(PermissionError) as info:
                call(tok, str(locked / "x"))
            assert info.value.args == (message,)
        finally:
            locked.chmod(0o700)
        return

    # Root passes every permission check, so a child drops to 'nobody' first.
    def attempt():
        try:
            call(tok, str(locked / "x"))
        except PermissionError as error:
            return f"PermissionError: {error.args}"
        return "no error"

    assert _as_unprivileged(attempt) == f"PermissionError: {(message,)}"


class CallsBack:
    """A sequence whose first item runs `action` before it is read."""

    def __init__(self, action):
        self.action = action

    def __len__(self):
        return 1

    def __getitem__(self, i):
        if i == 0:
            self.action()
            return 104
        raise IndexError


def test_load_is_exclusive_and_saves_are_shared(tmp_path, listing):
    tok = BasicTokenizer()
    tok.build_vocab()
    model = tmp_path / "m.model"
    tok.save_model(str(model))
    seen = []

    def inside_decode():
        tok.save(str(tmp_path / "inner.model"), str(tmp_path / "inner.vocab"))
        seen.append((tmp_path / "inner.vocab").read_bytes() == listing(tok))
        with pytest.raises(RuntimeError) as info:
            tok.load(str(model))
        seen.append(str(info.value))

    assert tok.decode(CallsBack(inside_decode)) == "h"
    assert seen == [True, "Already borrowed"]
