"""Where results go: standard output or a named file."""

import contextlib
import sys
from typing import Iterator, Optional, TextIO

from tessaron_cli.errors import CliError, describe_os_error


@contextlib.contextmanager
def open_output(path: Optional[str]) -> Iterator[TextIO]:
    if path is None or path == "-":
        yield sys.stdout
        sys.stdout.flush()
        return
    try:
        stream = open(path, "w", encoding="utf-8", newline="\n")
    except OSError as e:
        raise CliError(f"{path}: {describe_os_error(e)}") from None
    with stream:
        yield stream
