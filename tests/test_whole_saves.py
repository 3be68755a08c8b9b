"""Saves replace a file whole or not at all: faults injected in a child process leave the
previous file exactly as it was and no temporary file behind; links, permission bits,
devices and pipes behave as a plain write would."""

import os
import pathlib
import shutil
import stat
import subprocess
import sys
import tempfile
import threading

import pytest

from tessaron import BasicTokenizer
from test_vocab_listing import _as_unprivileged

HEAD = b"tessaron v1\n\n"
OLD_MODEL = HEAD + b"1\n<old> 300\n104 105\n"
# Some 60 KB of model file and 150 KB of listing: far beyond the limits set below.
BIG_MODEL = HEAD + b"0\n" + b"".join(b"%d %d\n" % (i % 256, i // 256) for i in range(6000))
TOO_LARGE = f"{os.strerror(27)} (os error 27)"

CHILD = """
import resource, sys
from tessaron import BasicTokenizer
model, limit, method, *paths = sys.argv[1:]
tok = BasicTokenizer()
tok.load(model)
resource.setrlimit(resource.RLIMIT_FSIZE, (int(limit), resource.RLIM_INFINITY))
try:
    getattr(tok, method)(*paths)
except OSError as error:
    print(type(error).__name__, error.args[0])
"""


def save_limited(tmp_path, limit, method, *paths):
    """Loads BIG_MODEL in a child that may write files of at most `limit` bytes."""
    source = tmp_path / "source" / "big.model"
    source.parent.mkdir(exist_ok=True)
    source.write_bytes(BIG_MODEL)
    done = subprocess.run(
        [sys.executable, "-c", CHILD, str(source), str(limit), method, *map(str, paths)],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert done.returncode == 0, done.stderr
    return done.stdout.strip()


def names(folder):
    return sorted(p.name for p in folder.iterdir())


@pytest.fixture
def old_files(tmp_path):
    folder = tmp_path / "out"
    folder.mkdir()
    model, vocab = folder / "m.model", folder / "m.vocab"
    model.write_bytes(OLD_MODEL)
    vocab.write_bytes(b"[old] 300\n")
    return model, vocab


@pytest.mark.parametrize(
    "method, which",
    [("save_model", [0]), ("save_vocab", [1]), ("save", [0, 1])],
)
def test_a_file_size_limit_leaves_the_previous_files(tmp_path, old_files, method, which):
    paths = [old_files[i] for i in which]
    assert save_limited(tmp_path, 20_000, method, *paths) == f"OSError {TOO_LARGE}"
    assert old_files[0].read_bytes() == OLD_MODEL
    assert old_files[1].read_bytes() == b"[old] 300\n"
    assert names(old_files[0].parent) == ["m.model", "m.vocab"]


def test_save_keeps_the_new_model_when_only_the_listing_fails(tmp_path, old_files):
    model, vocab = old_files
    assert save_limited(tmp_path, 100_000, "save", model, vocab) == f"OSError {TOO_LARGE}"
    assert model.read_bytes() == BIG_MODEL
    assert vocab.read_bytes() == b"[old] 300\n"
    assert names(model.parent) == ["m.model", "m.vocab"]


TOOLS_CHILD = """
import resource, sys
from tessaron_tools import Tokenizer
model, limit, target = sys.argv[1:]
tok = Tokenizer.load(model)
resource.setrlimit(resource.RLIMIT_FSIZE, (int(limit), resource.RLIM_INFINITY))
try:
    tok.save(target)
except OSError as error:
    print(type(error).__name__, error.errno, error.filename == target)
"""


def test_the_second_face_saves_whole_too(tmp_path, old_files):
    model = old_files[0]
    source = tmp_path / "big.model"
    source.write_bytes(BIG_MODEL)
    done = subprocess.run(
        [sys.executable, "-c", TOOLS_CHILD, str(source), "20000", str(model)],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["OSError", "27", "True"]
    assert model.read_bytes() == OLD_MODEL
    assert names(model.parent) == ["m.model", "m.vocab"]


def test_a_new_name_is_not_created_by_a_failed_save(tmp_path):
    folder = tmp_path / "out"
    folder.mkdir()
    assert save_limited(tmp_path, 20_000, "save_model", folder / "m.model") == (
        f"OSError {TOO_LARGE}"
    )
    assert names(folder) == []


def loaded(tmp_path, data=BIG_MODEL):
    path = tmp_path / "in.model"
    path.write_bytes(data)
    tok = BasicTokenizer()
    tok.load(str(path))
    path.unlink()
    return tok


def test_links_are_followed_and_the_named_file_replaced(tmp_path):
    tok = loaded(tmp_path)
    here, there = tmp_path / "here", tmp_path / "there"
    here.mkdir()
    there.mkdir()
    (there / "real.model").write_bytes(OLD_MODEL)
    (there / "real.model").chmod(0o640)
    (here / "link.model").symlink_to("../there/real.model")
    (here / "chain.model").symlink_to("link.model")
    (here / "dangling.model").symlink_to("../there/new.model")

    tok.save_model(str(here / "chain.model"))
    tok.save_model(str(here / "dangling.model"))

    assert (here / "chain.model").is_symlink() and (here / "link.model").is_symlink()
    assert (there / "real.model").read_bytes() == BIG_MODEL
    assert stat.S_IMODE((there / "real.model").stat().st_mode) == 0o640
    assert (there / "new.model").read_bytes() == BIG_MODEL
    assert names(here) == ["chain.model", "dangling.model", "link.model"]
    assert names(there) == ["new.model", "real.model"]


def test_permission_bits_are_kept_and_new_files_follow_the_umask(tmp_path):
    tok = loaded(tmp_path)
    kept = tmp_path / "kept.model"
    kept.write_bytes(OLD_MODEL)
    kept.chmod(0o751)
    tok.save_model(str(kept))
    assert stat.S_IMODE(kept.stat().st_mode) == 0o751

    old_mask = os.umask(0o027)
    try:
        tok.save_vocab(str(tmp_path / "new.vocab"))
    finally:
        os.umask(old_mask)
    assert stat.S_IMODE((tmp_path / "new.vocab").stat().st_mode) == 0o640


def test_a_pipe_is_written_in_place(tmp_path):
    tok = loaded(tmp_path)
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    received = []
    reader = threading.Thread(target=lambda: received.append(fifo.read_bytes()))
    reader.start()
    tok.save_model(str(fifo))
    reader.join(timeout=30)
    assert received == [BIG_MODEL]
    assert stat.S_ISFIFO(fifo.stat().st_mode)
    assert names(tmp_path) == ["pipe"]


def test_standard_output_is_written_in_place(tmp_path):
    source = tmp_path / "in.model"
    source.write_bytes(BIG_MODEL)
    script = "import sys, tessaron; t = tessaron.BasicTokenizer(); t.load(sys.argv[1]);"
    script += " t.save_model('/dev/stdout')"
    done = subprocess.run(
        [sys.executable, "-c", script, str(source)], capture_output=True, timeout=60
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout == BIG_MODEL


@pytest.fixture
def public_folder():
    """A folder that 'nobody' can reach, for the checks that must run unprivileged."""
    folder = pathlib.Path(tempfile.mkdtemp(prefix="tessaron-"))
    folder.chmod(0o755)
    yield folder
    shutil.rmtree(folder)


def test_replacing_does_not_get_round_a_read_only_file(tmp_path, public_folder):
    open_folder = public_folder / "open"
    open_folder.mkdir()
    open_folder.chmod(0o777)
    target = open_folder / "m.model"
    target.write_bytes(OLD_MODEL)
    target.chmod(0o444)
    tok = loaded(tmp_path)
    message = f"{os.strerror(13)} (os error 13)"

    def attempt():
        try:
            tok.save_model(str(target))
        except PermissionError as error:
            return f"PermissionError: {error.args[0]}"
        return "saved"

    report = attempt() if os.geteuid() != 0 else _as_unprivileged(attempt)
    assert report == f"PermissionError: {message}"
    assert target.read_bytes() == OLD_MODEL
    assert names(open_folder) == ["m.model"]


@pytest.mark.skipif(os.geteuid() != 0, reason="needs a file the folder's owner lets others write")
def test_a_folder_without_new_names_still_lets_its_writable_files_be_saved(tmp_path, public_folder):
    target = public_folder / "shared.model"
    target.write_bytes(OLD_MODEL)
    target.chmod(0o666)
    tok = loaded(tmp_path)

    def attempt():
        tok.save_model(str(target))
        return "saved"

    assert _as_unprivileged(attempt) == "saved"
    assert target.read_bytes() == BIG_MODEL
    assert names(public_folder) == ["shared.model"]
