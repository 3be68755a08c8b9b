"""Loading a model file for the commands: read once, parsed once by the extension."""

import re
from typing import Callable, Optional, Tuple

from tessaron_cli.errors import CliError
from tessaron_cli.inputs import Source
from tessaron_cli.interrupts import Pending
from tessaron_cli.lines import LINE_FEED
from tessaron_tools import Tokenizer

# The first line of a tiktoken rank file: a token in base64, a space and its rank.
_RANK_LINE = re.compile(rb"[A-Za-z0-9+/]+=*[ ][0-9]+\r?\n?")


def load_model(
    path: str, warn: Callable[[str], None], pattern: Optional[str] = None, need_pattern=True
) -> Tokenizer:
    """The tokenizer of a model file, of a Hugging Face tokenizer.json (a file whose text
    opens with '{', which no model file does) or of a tiktoken rank file, which holds no
    split pattern: `pattern` gives it, and without `need_pattern` any will do."""
    data = Source(path).read_all()
    if data.lstrip()[:1] == b"{":
        kind = "a tokenizer.json"
    elif _RANK_LINE.fullmatch(data[: data.find(LINE_FEED) + 1 or len(data)]):
        kind = "a tiktoken rank file"
    else:
        kind = "a model file"
    if pattern is not None and kind != "a tiktoken rank file":
        raise CliError(f"{path}: --pattern is for tiktoken rank files; {kind} keeps its own")
    if kind == "a tokenizer.json":
        try:
            return Pending(lambda: Tokenizer.from_huggingface_json(data)).result()
        except ValueError as e:
            raise CliError(f"{path}: not a usable tokenizer.json: {e}") from None
    if kind == "a model file":
        return _model_of(path, data, warn)
    if pattern is None:
        if need_pattern:
            raise CliError(
                f"{path}: a tiktoken rank file holds no split pattern: give it with --pattern "
                "(gpt2, cl100k, o200k or a regular expression)"
            )
        pattern = "gpt2"  # decoding does not split
    if path == "-":
        raise CliError("a tiktoken rank file is read from a file, not standard input")
    try:
        return Pending(lambda: Tokenizer.from_tiktoken(path, pattern)).result()
    except ValueError as e:
        text = str(e)
        raise CliError(text if text.startswith(f"{path}:") else f"{path}: {text}") from None


def read_model(path: str, warn: Callable[[str], None]) -> Tuple[Tokenizer, bytes]:
    """The tokenizer of a model file and the file's bytes."""
    data = Source(path).read_all()
    return _model_of(path, data, warn), data


def _model_of(path: str, data: bytes, warn: Callable[[str], None]) -> Tokenizer:
    try:
        # A large model takes seconds to load: Ctrl-C must not wait for it.
        tokenizer = Pending(lambda: Tokenizer.from_bytes(data)).result()
    except ValueError as e:
        line, end = _where(data, str(e))
        raise CliError(f"{path}{line}: not a valid tessaron model: {e}{end}") from None
    except MemoryError:
        raise CliError(
            f"{path}: not loaded: its tokens would need more memory than one model may take"
        ) from None
    if data and not data.endswith(LINE_FEED):
        warn(f"{path}: the last line has no line feed; the file may be truncated")
    return tokenizer


def _where(data: bytes, message: str) -> Tuple[str, str]:
    """Where in the file the reader failed, found by reading prefixes of it.

    The reader goes line by line and stops at the first fault, so a fault on line k
    shows in every prefix that holds line k and in none that stops before it, and
    whatever follows line k does not change it. A missing line shows where the file
    ends instead, and anything appended changes it.
    """
    starts = [0]
    end = data.find(LINE_FEED)
    while end >= 0:
        starts.append(end + 1)
        end = data.find(LINE_FEED, end + 1)
    if starts[-1] != len(data):
        starts.append(len(data))
    lines = len(starts) - 1

    low, high = 0, lines  # the first `high` lines already fail with the message
    while low < high:
        middle = (low + high) // 2
        if _error_of(data[: starts[middle]]) == message:
            high = middle
        else:
            low = middle + 1
    prefix = data[: starts[high]]
    if (
        high
        and _error_of(prefix + (b"" if prefix.endswith(LINE_FEED) else LINE_FEED) + b"x\n")
        == message
    ):
        return f":{high}", ""
    return "", f" (the file ends after line {lines})" if lines else " (the file is empty)"


def _error_of(data: bytes) -> Optional[str]:
    try:
        Tokenizer.from_bytes(data)
    except ValueError as e:
        return str(e)
    except MemoryError:
        return None
    return None
