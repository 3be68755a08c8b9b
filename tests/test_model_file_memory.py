"""One model file format in memory and on disk, through tests/drivers/model_file_checks.cpp:
the bytes of a file read from memory give the model or the error that loading the file gives,
and the bytes made in memory are those a save writes."""

import pathlib
import subprocess

import pretok_driver
from tessaron import BasicTokenizer

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEAD = b"tessaron v1\n\n"
BUFFER = 8192


def crafted():
    """Files whose lines meet the reader's buffer edges, and each kind of format error."""
    rules = b"".join(b"%d %d\n" % (i % 256, i // 256) for i in range(3000))
    long_special = b"s" * (BUFFER + 100)
    # Pad so that the CR of a CR LF is the last byte of the first buffer.
    head = HEAD + b"1\n"
    pad = b"p" * (BUFFER - len(head) - len(b" 300\r"))
    return {
        "rules across buffers": HEAD + b"0\n" + rules,
        "special longer than the buffer": HEAD + b"1\n" + long_special + b" 300\n104 105\n",
        "CR LF across the buffer edge": head + pad + b" 300\r\n104 105\r\n",
        "no line feed at the end": HEAD + b"0\n104 105",
        "empty": b"",
        "bad version": b"tessaron v2\n\n0\n",
        "invalid UTF-8 past the buffer": HEAD + b"0\n" + rules + b"1 \xff\n",
        "blank last line": HEAD + b"0\n104 105\n\n",
        "too few special tokens": HEAD + b"2\n<a> 300\n",
        "number too large": HEAD + b"18446744073709551616\n",
    }


def loaded_outcome(path):
    try:
        BasicTokenizer().load(str(path))
    except OSError as error:
        return error.args[0]
    except MemoryError:
        return "MemoryError"
    return "ok"


def test_memory_and_file_read_and_write_alike(tmp_path):
    paths = []
    for i, data in enumerate(crafted().values()):
        path = tmp_path / f"crafted-{i}.model"
        path.write_bytes(data)
        paths.append(path)
    paths += sorted((ROOT / "fuzz" / "corpus" / "model").iterdir())
    paths += sorted((ROOT / "fuzz" / "regressions" / "model").glob("*"))

    driver = pretok_driver.build("model_file_checks")
    scratch = tmp_path / "scratch.model"
    done = subprocess.run(
        [driver, str(scratch), *map(str, paths)], capture_output=True, text=True, timeout=300
    )
    assert done.returncode == 0, done.stderr[-4000:]
    outcomes = done.stdout.splitlines()
    assert outcomes == [loaded_outcome(p) for p in paths]
    assert outcomes[:4] == ["ok"] * 4 and "ok" not in outcomes[4:10]
    assert sorted(p.name for p in tmp_path.iterdir() if not p.name.startswith("crafted")) == [
        "scratch.model"
    ]
