"""A default corpus every installation has: the Python standard library's own source."""

import os
import sys
import sysconfig
from dataclasses import dataclass
from typing import List

# Every tenth file is held out for measuring compression on text training did not see.
HELD_OUT_EVERY = 10


@dataclass
class Corpus:
    train: str
    held_out: str
    train_files: int
    held_out_files: int
    root: str

    def describe(self) -> str:
        return f"Python {sys.version.split()[0]} standard library source in {self.root}"


def stdlib_files(root: str) -> List[str]:
    found: List[str] = []
    for directory, subdirs, files in os.walk(root):
        subdirs[:] = sorted(d for d in subdirs if d not in ("site-packages", "__pycache__"))
        found.extend(os.path.join(directory, f) for f in sorted(files) if f.endswith(".py"))
    return found


def stdlib_corpus(train_bytes: float, held_out_bytes: float) -> Corpus:
    """About `train_bytes` of training text and `held_out_bytes` of held-out text, the same
    on every run with the same interpreter. Files that are not UTF-8 are skipped."""
    root = sysconfig.get_paths()["stdlib"]
    train: List[str] = []
    held_out: List[str] = []
    sizes = [0, 0]
    limits = [train_bytes, held_out_bytes]
    for index, path in enumerate(stdlib_files(root)):
        side = 1 if index % HELD_OUT_EVERY == HELD_OUT_EVERY - 1 else 0
        if sizes[side] >= limits[side]:
            if sizes[1 - side] >= limits[1 - side]:
                break
            continue
        with open(path, "rb") as f:
            data = f.read()
        try:
            text = data.decode("utf-8")
        except UnicodeDecodeError:
            continue
        (held_out if side else train).append(text)
        sizes[side] += len(data)
    return Corpus("".join(train), "".join(held_out), len(train), len(held_out), root)
