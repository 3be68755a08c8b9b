"""`tessaron decode`: lines of token ids back to the bytes they stand for."""

import re
from typing import Dict, List

from tessaron_cli.errors import CliError
from tessaron_cli.inputs import sources
from tessaron_cli.lines import LINE_FEED, split_lines
from tessaron_cli.model import load_model
from tessaron_cli.outputs import refuse_inputs_as_outputs, replacing
from tessaron_cli.progress import Reporter
from tessaron_tools import Tokenizer

RUN_BYTES = 1 << 20


# A run of only digits and the white space that bytes.split() splits at needs no
# word-by-word check: ids too large for any token are the tokenizer's to refuse.
_ONLY_IDS = re.compile(rb"[0-9 \t\n\r\x0b\x0c]*")


def parse_ids(line: bytes, where: str) -> List[int]:
    ids = []
    for word in line.split():
        if not word.isdigit():
            shown = word.decode("utf-8", "backslashreplace")
            raise CliError(f"{where}: {shown!r} is not a token id")
        ids.append(int(word))
    return ids


def display_text(token: bytes) -> str:
    """A token as `tessaron.BasicTokenizer.decode` shows it: bytes that are not UTF-8 as
    U+FFFD, control characters as \\uXXXX."""
    return "".join(
        f"\\u{ord(c):04x}" if c < " " or "\x7f" <= c <= "\x9f" else c
        for c in token.decode("utf-8", "replace")
    )


class Display:
    """Display text of ids, each token's made once: for every kind of model the command
    reads, in the ids of the model's source."""

    def __init__(self, tokenizer: Tokenizer):
        self._tokenizer = tokenizer
        self._shown: Dict[int, str] = {}

    def decode(self, ids: List[int]) -> str:
        shown = self._shown
        for i in ids:
            if i not in shown:
                shown[i] = display_text(self._tokenizer.token_bytes(i))
        return "".join([shown[i] for i in ids])


def run(args) -> int:
    reporter = Reporter("decode", args.quiet)
    srcs = sources(args.files)
    refuse_inputs_as_outputs([args.output], [args.model, *(s.path for s in srcs)])
    tokenizer = load_model(args.model, reporter.warn, args.pattern, need_pattern=False)
    display = Display(tokenizer) if args.display else None
    end = b"" if args.whole else LINE_FEED
    with replacing([args.output]) as (out,):
        for source in srcs:
            number = 0
            for run in source.line_runs(RUN_BYTES):
                plain = _ONLY_IDS.fullmatch(run) is not None
                pieces = []
                for line in split_lines(run):
                    number += 1
                    if plain:
                        ids = list(map(int, line.split()))
                    else:
                        ids = parse_ids(line, f"{source.name}:{number}")
                    try:
                        if display is not None:
                            pieces.append(display.decode(ids).encode("utf-8"))
                        else:
                            pieces.append(tokenizer.decode_bytes(ids))
                    except (ValueError, OSError) as e:
                        raise CliError(f"{source.name}:{number}: {e}") from None
                    pieces.append(end)
                out.write(b"".join(pieces))
    return 0
