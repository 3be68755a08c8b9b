"""Where results go: standard output, or files that are replaced whole or not at all.

A regular file (or a path that does not exist yet) is written to a new file in the same
folder, flushed to disk, and renamed over the target only when every byte is written, so
a failure or Ctrl-C leaves the previous file as it was. A symbolic link is followed and
the file it names is replaced, keeping its permission bits. Anything else (a device such
as /dev/null, a FIFO) cannot be replaced and is written in place.
"""

import contextlib
import os
import stat
import sys
import tempfile
from typing import BinaryIO, Callable, Dict, Iterable, Iterator, List, Optional, Tuple

from tessaron_cli.errors import CliError, file_error, reason
from tessaron_cli.interrupts import held_back

STDOUT = "-"


def stdout_failed(error: OSError) -> CliError:
    # Nothing more can go there, and Python would try again at exit.
    os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
    return CliError(f"cannot write <stdout>: {reason(error)}")


def print_line(text: str) -> None:
    """A line of results on standard output, shown at once."""
    try:
        print(text, flush=True)
    except BrokenPipeError:
        raise
    except OSError as e:  # a full or failing device
        raise stdout_failed(e) from None


def flush_stdout() -> None:
    try:
        sys.stdout.flush()
    except BrokenPipeError:
        raise
    except OSError as e:
        raise stdout_failed(e) from None


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


class Output:
    """A binary stream for results; `commit` makes them visible, `discard` drops them."""

    def __init__(self, path: Optional[str]):
        self.name = "<stdout>" if path in (None, STDOUT) else str(path)
        self.temp: Optional[str] = None
        self.target = ""
        self.stream: BinaryIO
        if path in (None, STDOUT):
            self.stream = sys.stdout.buffer
            return
        if _through_proc(str(path)):
            # /dev/stdout, /dev/fd/N: the open file behind the name is written, whatever
            # it is, so that a shell's redirection keeps its file.
            self.target = str(path)
            try:
                self.stream = open(self.target, "wb")
            except OSError as e:
                raise file_error("write", self.name, e) from None
            return
        self.target = os.path.realpath(path)
        try:
            self._open()
        except OSError as e:
            raise file_error("write", self.name, e) from None

    def _open(self) -> None:
        try:
            st: Optional[os.stat_result] = os.stat(self.target)
        except FileNotFoundError:
            st = None
        if st is not None and stat.S_ISDIR(st.st_mode):
            raise IsADirectoryError(21, "Is a directory")
        if st is not None and not stat.S_ISREG(st.st_mode):
            self.stream = open(self.target, "wb")
            return
        if st is not None and not os.access(self.target, os.W_OK):
            raise PermissionError(13, "Permission denied")  # a read-only file stays read-only
        folder, base = os.path.split(self.target)
        fd, self.temp = tempfile.mkstemp(prefix=f".{base}.", suffix=".tmp", dir=folder)
        try:
            os.fchmod(fd, stat.S_IMODE(st.st_mode) if st else 0o666 & ~_umask())
            if st is not None and (st.st_uid, st.st_gid) != (os.geteuid(), os.getegid()):
                try:
                    os.fchown(fd, st.st_uid, st.st_gid)
                except PermissionError:
                    pass  # only the superuser may give a file away; the bits still hold
            self.stream = os.fdopen(fd, "wb")
        except BaseException:
            os.close(fd)
            os.unlink(self.temp)
            raise

    def write(self, data: bytes) -> None:
        try:
            self.stream.write(data)
        except BrokenPipeError:
            raise
        except OSError as e:
            raise self._failed(e) from None

    def write_with(self, writer: Callable[[str], None]) -> None:
        """For writers that take a path: they write where this output's bytes go."""
        self.stream.close()
        try:
            writer(self.temp or self.target)
            if self.temp is not None:
                self.stream = open(self.temp, "rb")  # held for the flush to disk
        except OSError as e:
            raise self._failed(e) from None

    def _failed(self, error: OSError) -> CliError:
        if self.stream is sys.stdout.buffer:
            return stdout_failed(error)
        return file_error("write", self.name, error)

    def flush(self) -> None:
        """Everything written reaches the file (and the disk, for a new file)."""
        try:
            self.stream.flush()
            if self.temp is not None:
                os.fsync(self.stream.fileno())
        except BrokenPipeError:
            raise
        except OSError as e:
            raise self._failed(e) from None

    def swap_in(self) -> None:
        if self.temp is None:
            if self.stream is not sys.stdout.buffer:
                self.stream.close()
            return
        self.stream.close()
        try:
            os.replace(self.temp, self.target)
        except OSError as e:
            raise file_error("write", self.name, e) from None
        self.temp = None
        _sync_folder(os.path.dirname(self.target))

    def discard(self) -> None:
        """Drops what was written to a new file; safe to call more than once."""
        with held_back():
            if self.temp is not None:
                self.stream.close()
                try:
                    os.unlink(self.temp)
                except OSError:
                    pass  # the folder went away: nothing is left to tidy
                self.temp = None
            elif self.target:
                try:
                    self.stream.close()
                except OSError:
                    pass  # in place on a device: the failure being reported says enough


def _through_proc(path: str) -> bool:
    """Whether the name reaches its file through a link in /proc, as /dev/stdout does."""
    name = os.path.abspath(path)
    for _ in range(40):  # the kernel's own limit on a chain of links
        if os.path.realpath(os.path.dirname(name)).startswith("/proc/"):
            return True
        try:
            target = os.readlink(name)
        except OSError:
            return False
        name = os.path.normpath(os.path.join(os.path.dirname(name), target))
    return False


def _sync_folder(folder: str) -> None:
    # The rename itself lasts only once the folder's entry is on disk.
    try:
        fd = os.open(folder or ".", os.O_RDONLY)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass  # some file systems refuse to sync a folder; the rename is done
    finally:
        os.close(fd)


@contextlib.contextmanager
def replacing(paths: Iterable[Optional[str]]) -> Iterator[List[Output]]:
    """Outputs that are all swapped in when the block ends normally, and all dropped
    otherwise. A failure while flushing leaves every previous file as it was."""
    outputs: List[Output] = []
    try:
        for path in paths:
            outputs.append(Output(path))
        yield outputs
        for output in outputs:
            output.flush()
        with held_back():
            for output in outputs:
                output.swap_in()
    finally:
        for output in outputs:
            output.discard()


def refuse_inputs_as_outputs(outputs: Iterable[Optional[str]], inputs: Iterable[str]) -> None:
    """An output that is one of the inputs would be read after being replaced: refuse it
    before anything is read or written."""
    seen: Dict[Tuple[int, int], str] = {}
    for path in inputs:
        key = _identity(path)
        if key is not None:
            seen[key] = path
    for output in outputs:
        if output is None or output == STDOUT:
            continue
        key = _identity(output)
        if key is not None and key in seen:
            same = seen[key]
            raise CliError(
                f"cannot write {output}: it is also an input"
                + (
                    ""
                    if same == output
                    else " (standard input)"
                    if same == STDOUT
                    else f" ({same})"
                )
            )


def _identity(path: str) -> Optional[Tuple[int, int]]:
    try:
        st = os.fstat(0) if path == STDOUT else os.stat(path)
    except OSError:
        return None  # reading or writing it will report the problem
    return (st.st_dev, st.st_ino) if stat.S_ISREG(st.st_mode) else None
