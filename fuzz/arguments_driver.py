"""Turns fuzz input into calls of BasicTokenizer with odd arguments.

Each call must return or raise one of the documented exceptions; anything else (a
SystemError, a wrong type, a crash) is a finding. File methods only ever see paths
inside a private directory, or paths that must fail before a file is touched.
"""

import os
import tempfile

import tessaron

BasicTokenizer = tessaron.BasicTokenizer
WORKDIR = tempfile.mkdtemp(prefix="tessaron-fuzz-")
NAMES = [
    "text",
    "vocab_size",
    "ids",
    "file_path",
    "vocab_file_path",
    "model_file_path",
    "num_threads",
    "txt",
    "",
    "\udcff",
]
METHODS = ["train", "encode", "decode", "save_model", "save_vocab", "save", "load", "build_vocab"]
PATH_METHODS = {"save_model", "save_vocab", "save", "load"}


class Stop(Exception):
    """Raised on purpose by the hostile objects below."""


class Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def byte(self):
        if self.pos >= len(self.data):
            return 0
        self.pos += 1
        return self.data[self.pos - 1]

    def chunk(self):
        n = self.byte() % 48
        piece = self.data[self.pos : self.pos + n]
        self.pos += n
        return piece

    def more(self):
        return self.pos < len(self.data)


class Index:
    """An int stand-in whose __index__ may raise or call back into the tokenizer."""

    def __init__(self, value, action):
        self.value, self.action = value, action

    def __index__(self):
        if self.action is not None:
            self.action()
        return self.value


class Seq:
    """A sequence with a lying or failing __len__ and a hostile iteration."""

    def __init__(self, items, length, action):
        self.items, self.length, self.action = items, length, action

    def __len__(self):
        if self.length is None:
            raise Stop("len")
        return self.length

    def __getitem__(self, i):
        if self.action is not None and i == len(self.items) // 2:
            self.action()
        return self.items[i]


class Text(str):
    pass


class Number(int):
    pass


def value(r, tok, depth=0):
    tag = r.byte() % 20
    if tag == 0:
        return r.byte()
    if tag == 1:
        return int.from_bytes(r.data[r.pos : r.pos + 9], "little", signed=True) + (r.byte() - 128)
    if tag == 2:
        return (1 << 64) - 1 - r.byte() % 3 if r.byte() % 2 else 1 << 64
    if tag == 3:
        return bool(r.byte() % 2)
    if tag in (4, 5):
        return r.chunk().decode("utf-8", "surrogateescape")
    if tag == 6:
        return r.chunk()
    if tag == 7:
        return bytearray(r.chunk())
    if tag in (8, 9) and depth < 3:
        items = [value(r, tok, depth + 1) for _ in range(r.byte() % 6)]
        return items if tag == 8 else tuple(items)
    if tag == 10:
        return None
    if tag == 11:
        return r.byte() / 7
    if tag == 12:
        return Index(value(r, tok, depth + 1) if depth < 3 else 1, action(r, tok))
    if tag == 13 and depth < 3:
        items = [value(r, tok, depth + 1) for _ in range(r.byte() % 6)]
        length = r.byte()
        return Seq(items, None if length == 255 else length, action(r, tok))
    if tag == 14:
        return range(r.byte() % 300)
    if tag == 15:
        return {r.byte(): r.byte()} if r.byte() % 2 else {r.byte()}
    if tag == 16:
        return Text(r.chunk().decode("utf-8", "replace"))
    if tag == 17:
        return Number(r.byte())
    if tag == 18:
        return list(r.chunk())
    return object()


def action(r, tok):
    kind = r.byte() % 5
    if kind == 0:
        return None
    if kind == 1:

        def fail():
            raise Stop("index")

        return fail
    name = METHODS[r.byte() % len(METHODS)]
    args = {
        "train": ("aab", 257),
        "encode": ("ab",),
        "decode": ([97],),
        "save_model": (os.path.join(WORKDIR, "re.model"),),
        "save_vocab": (os.path.join(WORKDIR, "re.vocab"),),
        "save": (os.path.join(WORKDIR, "re.model"), None),
        "load": (os.path.join(WORKDIR, "re.model"),),
        "build_vocab": (),
    }[name]
    method = getattr(tok, name, None)
    return (lambda: method(*args)) if method is not None else None


def safe_path(arg, r):
    """Keeps paths that fail before any file is touched; maps the rest into WORKDIR."""
    if isinstance(arg, str):
        try:
            arg.encode()
        except UnicodeEncodeError:
            return arg
        if "\0" in arg:
            return arg
        return os.path.join(WORKDIR, "f%d" % (r.byte() % 4))
    return arg


def call(r, tok):
    name = METHODS[r.byte() % len(METHODS)]
    method = getattr(tok, name, None)
    if method is None:
        return
    args = [value(r, tok) for _ in range(r.byte() % 4)]
    kwargs = {NAMES[r.byte() % len(NAMES)]: value(r, tok) for _ in range(r.byte() % 3)}
    if name in PATH_METHODS:
        args = [safe_path(a, r) for a in args]
        kwargs = {k: safe_path(v, r) for k, v in kwargs.items()}
    try:
        method(*args, **kwargs)
    except (TypeError, OverflowError, UnicodeEncodeError, RuntimeError, OSError, Stop):
        pass
    except BaseException as error:  # only the internal-failure type may pass besides these
        if type(error).__name__ != "PanicException":
            raise


def one(data):
    r = Reader(data)
    if r.byte() % 4 == 0:
        with open(os.path.join(WORKDIR, "f%d" % (r.byte() % 4)), "wb") as f:
            f.write(b"tessaron v1\n\n" + r.chunk())
    try:
        tok = BasicTokenizer(*([value(r, tok=None)] if r.byte() % 2 else []))
    except (TypeError, OverflowError, Stop):
        return
    while r.more():
        call(r, tok)
