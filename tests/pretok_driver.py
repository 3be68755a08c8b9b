"""Builds the drivers in tests/drivers with CMake, and runs pretok_driver.cpp: the splitting
core without the Python face."""

import os
import pathlib
import struct
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "drivers"


def build(target="pretok_driver"):
    """The path of a driver in tests/drivers, built (again) with CMake; sanitizers as
    TESSARON_SANITIZE says."""
    sanitize = os.environ.get("TESSARON_SANITIZE", "")
    build_dir = BUILD / (sanitize.replace(",", "-") or "plain")
    configure = [
        "cmake", "-S", str(ROOT), "-B", str(build_dir), "-DTESSARON_DRIVERS=ON",
        "-DCMAKE_BUILD_TYPE=Release", f"-DPython_EXECUTABLE={sys.executable}",
        f"-DTESSARON_SANITIZE={sanitize}",
        f"-DTESSARON_WERROR={os.environ.get('TESSARON_WERROR', 'OFF')}",
    ]  # fmt: skip
    for command in (configure, ["cmake", "--build", str(build_dir), "--target", target]):
        result = subprocess.run(command, capture_output=True, text=True)
        if result.returncode != 0:
            raise RuntimeError(f"{' '.join(command)} failed:\n{result.stdout}{result.stderr}")
    return build_dir / target


def expression(driver, name):
    return subprocess.run([driver, "expression", name], capture_output=True, check=True).stdout


def split(driver, pattern, texts):
    """The pieces of each text (str or bytes) as bytes, one list per text."""
    encoded = [t.encode() if isinstance(t, str) else t for t in texts]
    stdin = b"".join(struct.pack("<I", len(t)) + t for t in encoded)
    out = subprocess.run(
        [driver, "split", pattern], input=stdin, capture_output=True, check=True
    ).stdout
    result, offset = [], 0
    for text in encoded:
        (count,) = struct.unpack_from("<I", out, offset)
        lengths = struct.unpack_from(f"<{count}I", out, offset + 4)
        offset += 4 + 4 * count
        pieces, begin = [], 0
        for length in lengths:
            pieces.append(text[begin : begin + length])
            begin += length
        result.append(pieces)
    assert offset == len(out)
    return result


def train(driver, pattern, text, merges, threads=1):
    """The rules learned, as (left, right) pairs in learning order."""
    data = text.encode() if isinstance(text, str) else text
    command = [driver, "train", pattern, str(merges), str(threads)]
    out = subprocess.run(command, input=data, capture_output=True, check=True).stdout
    return [tuple(map(int, line.split())) for line in out.decode().splitlines()]


def encode(driver, pattern, model_path, text):
    """The ids of a text split by a pattern, as the model file encodes each piece."""
    data = text.encode() if isinstance(text, str) else text
    command = [driver, "encode", pattern, str(model_path)]
    out = subprocess.run(command, input=data, capture_output=True, check=True).stdout
    return [int(line) for line in out.split()]


def encode_by_ranks(driver, pattern, rank_path, text):
    """The ranks of a text split by a pattern, by rules derived from a tiktoken rank file;
    the reason as a ValueError when the file is refused."""
    data = text.encode() if isinstance(text, str) else text
    command = [driver, "ranks", pattern, str(rank_path)]
    done = subprocess.run(command, input=data, capture_output=True)
    if done.returncode == 4:
        raise ValueError(done.stderr.decode().strip())
    assert done.returncode == 0, done.stderr
    return [int(line) for line in done.stdout.split()]
