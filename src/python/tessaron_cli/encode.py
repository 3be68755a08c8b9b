"""`tessaron encode`: bytes to token ids, one output line per input line or per input.

Inputs are read in runs of whole lines. Up to `--jobs` runs are encoded at once, each on a
thread of its own with `encode_lines`, while this thread reads the runs ahead and writes the
ids of the runs done; results are written in input order, so the output does not depend on
the number of threads.
"""

import collections
import functools
import sys
import threading
from typing import Callable, Deque, Iterator, List, Tuple, Union

from tessaron_cli.errors import CliError
from tessaron_cli.inputs import WAKE_SECONDS, Source, require_utf8, sources, total_size
from tessaron_cli.interrupts import Pending, look
from tessaron_cli.model import load_model
from tessaron_cli.outputs import STDOUT, Output, refuse_inputs_as_outputs, replacing
from tessaron_cli.progress import Reporter

# Small enough that the runs in flight keep every thread busy to the end of a file of a few
# megabytes, large enough that a run costs nothing beside encoding it.
RUN_BYTES = 1 << 20
# Runs encoded at once, at most: past that, a run takes several threads, so that what is held
# in flight stays bounded however many jobs are asked for.
MOST_IN_FLIGHT = 64


def in_flight_and_threads(jobs: int) -> Tuple[int, int]:
    runs = min(jobs, MOST_IN_FLIGHT)
    return runs, -(-jobs // runs)


def batches(
    args, srcs: List[Source], tokenizer, threads: int
) -> Iterator[Tuple[Callable[[], bytes], int]]:
    """(work giving the ids of a run, bytes the run came from) in output order."""
    special = allowed(args)

    def lines_of(texts: List[Union[str, bytes]]) -> Callable[[], bytes]:
        return functools.partial(
            tokenizer.encode_batch_lines, texts, threads=threads, allowed_special=special
        )

    if args.text is not None:
        yield lines_of([args.text]), 0
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
                yield lines_of(held), size
                held, size = [], 0
        if held:
            yield lines_of(held), size
        return
    for source in srcs:
        offset = 0
        for run in source.line_runs(RUN_BYTES):
            if args.utf8:
                require_utf8(run, source, offset)
            offset += len(run)
            work = functools.partial(
                tokenizer.encode_lines, run, threads=threads, allowed_special=special
            )
            yield work, len(run)


def allowed(args) -> Union[str, Tuple[str, ...]]:
    return "all" if "all" in args.allow_special else tuple(args.allow_special)


def run(args) -> int:
    # Results on the same terminal would tear the bar apart.
    reporter = Reporter(
        "encode", args.quiet or (args.output in (None, STDOUT) and sys.stdout.isatty())
    )
    srcs = sources(args.files) if args.text is None else []
    refuse_inputs_as_outputs([args.output], [args.model, *(s.path for s in srcs)])
    tokenizer = load_model(args.model, reporter.warn, args.pattern)
    for token in args.allow_special:
        if token != "all" and token not in tokenizer.special_tokens:
            raise CliError(f"{args.model} has no special token {token!r}")
    with (
        replacing([args.output]) as (out,),
        reporter.bar("encoding", total_size(srcs) if srcs else None) as bar,
    ):
        most, threads = in_flight_and_threads(args.jobs)
        # A thread is taken for each run and given back as soon as the run is encoded, so a
        # run that ends before an older one frees its thread at once.
        free = threading.Semaphore(most)
        in_flight: Deque[Tuple[Pending, int]] = collections.deque()
        try:
            for work, size in batches(args, srcs, tokenizer, threads):
                while not free.acquire(timeout=WAKE_SECONDS):
                    look()  # Ctrl-C is taken between waits
                in_flight.append((Pending(giving_back(free, work)), size))
                # Runs done are written in order; at most twice as many as the threads
                # wait for an older one.
                while in_flight and (in_flight[0][0].done() or len(in_flight) > 2 * most):
                    done, done_size = in_flight.popleft()
                    write(out, bar, done.result(), done_size)
            while in_flight:
                done, done_size = in_flight.popleft()
                write(out, bar, done.result(), done_size)
        except Exception:
            # Runs still encoding when the command fails must end before the interpreter
            # does: a thread coming back to a finished interpreter is stopped by force, which
            # the native code under it does not survive.
            for pending, _ in in_flight:
                pending.helper.join()
            raise
    return 0


def giving_back(free: threading.Semaphore, work: Callable[[], bytes]) -> Callable[[], bytes]:
    def run() -> bytes:
        try:
            return work()
        finally:
            free.release()

    return run


def write(out: Output, bar, ids: bytes, size: int) -> None:
    out.write(ids)
    bar.advance(size)
