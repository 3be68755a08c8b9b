"""Reading input files (or standard input) as UTF-8 text, with sizes for progress bars."""

import os
import sys
from dataclasses import dataclass
from typing import Iterator, List, Optional

from tessaron_cli.errors import CliError, describe_os_error

STDIN = "-"
READ_CHUNK = 1 << 20


@dataclass(frozen=True)
class Source:
    path: str

    @property
    def name(self) -> str:
        return "<stdin>" if self.path == STDIN else self.path

    def size(self) -> Optional[int]:
        """Size in bytes, or None for standard input and other streams."""
        if self.path == STDIN:
            return None
        try:
            st = os.stat(self.path)
        except OSError:
            return None  # reading it reports the error
        return st.st_size if os.path.isfile(self.path) else None


def sources(paths: List[str]) -> List[Source]:
    return [Source(p) for p in (paths or [STDIN])]


def total_size(srcs: List[Source]) -> Optional[int]:
    sizes = [s.size() for s in srcs]
    return None if any(s is None for s in sizes) else sum(sizes)  # type: ignore[arg-type]


def read_bytes(source: Source, progress=None) -> bytes:
    """The whole input; advances `progress` by the bytes read."""
    try:
        if source.path == STDIN:
            stream = sys.stdin.buffer
            return _read_all(stream, progress)
        with open(source.path, "rb") as stream:
            return _read_all(stream, progress)
    except FileNotFoundError:
        raise CliError(f"{source.name}: no such file") from None
    except IsADirectoryError:
        raise CliError(f"{source.name}: is a directory") from None
    except OSError as e:
        raise CliError(f"{source.name}: {describe_os_error(e)}") from None


def _read_all(stream, progress) -> bytes:
    parts: List[bytes] = []
    while True:
        chunk = stream.read(READ_CHUNK)
        if not chunk:
            return b"".join(parts)
        parts.append(chunk)
        if progress is not None:
            progress.advance(len(chunk))


def decode_utf8(data: bytes, source: Source, offset: int = 0) -> str:
    """UTF-8 text of `data`; `offset` places `data` within its input for the message."""
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise CliError(
            f"{source.name}: not UTF-8 text (invalid byte 0x{data[e.start]:02x} "
            f"at offset {offset + e.start})"
        ) from None


def read_text(source: Source, progress=None) -> str:
    return decode_utf8(read_bytes(source, progress), source)


def line_batches(data: bytes, source: Source, batch_bytes: int) -> Iterator[tuple]:
    """Runs of whole lines of about `batch_bytes` each, as (text, byte size).

    A line ends at a line feed, which is not part of it; a final line feed ends the
    last line rather than starting an empty one. Cutting at line feeds never splits
    a UTF-8 character.
    """
    start = 0
    end = len(data)
    while start < end:
        cut = data.find(b"\n", min(start + batch_bytes, end) - 1)
        stop = end if cut < 0 else cut + 1
        yield decode_utf8(data[start:stop], source, start), stop - start
        start = stop


def split_lines(text: str) -> List[str]:
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return lines
