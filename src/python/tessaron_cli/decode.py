"""`tessaron decode`: lines of token ids back to the bytes they stand for."""

from typing import List

import tessaron
from tessaron_cli.errors import CliError
from tessaron_cli.inputs import sources
from tessaron_cli.lines import LINE_FEED, split_lines
from tessaron_cli.model import load_model
from tessaron_cli.outputs import refuse_inputs_as_outputs, replacing
from tessaron_cli.progress import Reporter

MAX_ID = 2**64 - 1
RUN_BYTES = 1 << 20


def parse_ids(line: bytes, where: str) -> List[int]:
    ids = []
    for word in line.split():
        if not word.isdigit() or int(word) > MAX_ID:
            shown = word.decode("utf-8", "backslashreplace")
            raise CliError(f"{where}: {shown!r} is not a token id")
        ids.append(int(word))
    return ids


def display_tokenizer(path: str) -> "tessaron.BasicTokenizer":
    """The display text is the other face's own, so it loads the file itself."""
    tokenizer = tessaron.BasicTokenizer()
    try:
        tokenizer.load(path)
    except OSError as e:  # the file changed since it was read a moment ago
        raise CliError(f"{path}: {e}") from None
    return tokenizer


def run(args) -> int:
    reporter = Reporter("decode", args.quiet)
    srcs = sources(args.files)
    refuse_inputs_as_outputs([args.output], [args.model, *(s.path for s in srcs)])
    tokenizer = load_model(args.model, reporter.warn)
    display = display_tokenizer(args.model) if args.display else None
    end = b"" if args.whole else LINE_FEED
    with replacing([args.output]) as (out,):
        for source in srcs:
            number = 0
            for run in source.line_runs(RUN_BYTES):
                pieces = []
                for line in split_lines(run):
                    number += 1
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
