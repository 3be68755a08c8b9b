"""`tessaron encode`: bytes to token ids, one output line per input line or per input.

Inputs are read in runs of whole lines and each run is encoded with `encode_batch_lines` on
`--jobs` threads, while this thread reads the next run and writes the ids of the previous
one; results are written in input order, so the output does not depend on the number of
threads.
"""

import functools
import sys
from typing import Iterator, List, Optional, Tuple, Union

from tessaron_cli.errors import CliError
from tessaron_cli.inputs import Source, require_utf8, sources, total_size
from tessaron_cli.interrupts import Pending
from tessaron_cli.lines import split_lines
from tessaron_cli.model import load_model
from tessaron_cli.outputs import STDOUT, Output, refuse_inputs_as_outputs, replacing
from tessaron_cli.progress import Reporter

# Large enough to keep every thread busy, small enough to overlap reading, encoding and
# writing on inputs of a few megabytes.
RUN_BYTES = 1 << 20


def batches(args, srcs: List[Source]) -> Iterator[Tuple[List[Union[str, bytes]], int]]:
    """(texts, bytes they came from) in output order."""
    if args.text is not None:
        yield [args.text], 0
        return
    if args.whole:
        held: List[Union[str, bytes]] = []
        size = 0
        for source in srcs:
            data = source.read_all()
            if args.utf8:
                require_utf8(data, source)
            held.append(data)
            size += len(data)
            if size >= RUN_BYTES:
                yield held, size
                held, size = [], 0
        if held:
            yield held, size
        return
    for source in srcs:
        offset = 0
        for run in source.line_runs(RUN_BYTES):
            if args.utf8:
                require_utf8(run, source, offset)
            offset += len(run)
            yield list(split_lines(run)), len(run)


def allowed(args) -> Union[str, Tuple[str, ...]]:
    return "all" if "all" in args.allow_special else tuple(args.allow_special)


def run(args) -> int:
    # Results on the same terminal would tear the bar apart.
    reporter = Reporter(
        "encode", args.quiet or (args.output in (None, STDOUT) and sys.stdout.isatty())
    )
    srcs = sources(args.files) if args.text is None else []
    refuse_inputs_as_outputs([args.output], [args.model, *(s.path for s in srcs)])
    tokenizer = load_model(args.model, reporter.warn)
    special = allowed(args)
    for token in args.allow_special:
        if token != "all" and token not in tokenizer.special_tokens:
            raise CliError(f"{args.model} has no special token {token!r}")
    with (
        replacing([args.output]) as (out,),
        reporter.bar("encoding", total_size(srcs) if srcs else None) as bar,
    ):
        previous: Optional[Tuple[Pending, int]] = None
        encoding: Optional[Pending] = None
        try:
            for texts, size in batches(args, srcs):
                encoding = Pending(
                    functools.partial(
                        tokenizer.encode_batch_lines,
                        texts,
                        threads=args.jobs,
                        allowed_special=special,
                    )
                )
                if previous is not None:
                    write(out, bar, *previous)
                previous = encoding, size
            if previous is not None:
                write(out, bar, *previous)
        except Exception:
            # A batch still encoding when the command fails must end before the interpreter
            # does: a thread coming back to a finished interpreter is stopped by force, which
            # the native code under it does not survive.
            if encoding is not None:
                encoding.helper.join()
            raise
    return 0


def write(out: Output, bar, encoding: Pending, size: int) -> None:
    out.write(encoding.result())
    bar.advance(size)
