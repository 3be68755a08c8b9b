"""Reading input files (or standard input) as bytes, with sizes for progress bars."""

import contextlib
import os
import select
import stat
import sys
from dataclasses import dataclass
from typing import BinaryIO, Callable, Iterator, List, Optional

from tessaron_cli.errors import CliError, file_error
from tessaron_cli.interrupts import look
from tessaron_cli.lines import LINE_FEED

STDIN = "-"
READ_CHUNK = 1 << 20
# How long a read from a pipe or terminal may block before a pending Ctrl-C is looked at.
WAKE_SECONDS = 0.1


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
        return st.st_size if stat.S_ISREG(st.st_mode) else None

    @contextlib.contextmanager
    def _opened(self) -> Iterator[BinaryIO]:
        if self.path == STDIN:
            yield sys.stdin.buffer
            return
        try:
            stream = open(self.path, "rb")
        except OSError as e:
            raise file_error("read", self.name, e) from None
        with stream:
            yield stream

    def _chunks(self, progress) -> Iterator[bytes]:
        with self._opened() as stream:
            read = _waking_reader(stream)
            while True:
                try:
                    chunk = read()
                except OSError as e:
                    raise file_error("read", self.name, e) from None
                if not chunk:
                    return
                if progress is not None:
                    progress.advance(len(chunk))
                yield chunk

    def read_all(self, progress=None) -> bytes:
        return b"".join(self._chunks(progress))

    def line_runs(self, run_bytes: int, progress=None) -> Iterator[bytes]:
        """The input in runs of whole lines of about `run_bytes` each (the last run may
        lack its final line feed)."""
        pending: List[bytes] = []
        held = 0
        for chunk in self._chunks(progress):
            pending.append(chunk)
            held += len(chunk)
            if held < run_bytes:
                continue
            data = b"".join(pending)
            cut = data.rfind(LINE_FEED) + 1
            if cut == 0:  # one long line so far
                pending, held = [data], len(data)
                continue
            yield data[:cut]
            pending, held = [data[cut:]], len(data) - cut
        rest = b"".join(pending)
        if rest:
            yield rest


def sources(paths: List[str]) -> List[Source]:
    return [Source(p) for p in (paths or [STDIN])]


def total_size(srcs: List[Source]) -> Optional[int]:
    total = 0
    for source in srcs:
        size = source.size()
        if size is None:
            return None
        total += size
    return total


def require_utf8(data: bytes, source: Source, offset: int = 0) -> None:
    """For --utf8: `offset` places `data` within its input for the message."""
    try:
        data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise CliError(
            f"{source.name}: not UTF-8 text (invalid byte 0x{data[e.start]:02x} "
            f"at offset {offset + e.start})"
        ) from None


def _waking_reader(stream: BinaryIO) -> Callable[[], bytes]:
    """Reads chunks of `stream`; one from a pipe or terminal never blocks for long.

    A Ctrl-C that lands just before a blocking read would otherwise wait for the next
    byte of input, which may never come: Python only looks at signals between reads.
    """
    try:
        fd = stream.fileno()
        regular = stat.S_ISREG(os.fstat(fd).st_mode)
    except (OSError, ValueError):
        regular = True
    if regular:
        return lambda: stream.read(READ_CHUNK)

    def read() -> bytes:
        while not select.select([fd], [], [], WAKE_SECONDS)[0]:
            look()
        return os.read(fd, READ_CHUNK)

    return read
