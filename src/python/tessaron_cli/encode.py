"""`tessaron encode`: text to token ids, one output line per input line or per input.

Work is cut into tasks (a run of lines, or one whole input) that run in order on this
process or on a pool of worker processes; each worker loads the model once. Results are
written in task order, so the output does not depend on the number of jobs.
"""

import collections
import concurrent.futures
import sys
from typing import Iterator, Optional, Tuple

from tessaron_cli.errors import CliError
from tessaron_cli.inputs import (
    decode_utf8,
    line_batches,
    read_bytes,
    sources,
    split_lines,
    total_size,
)
from tessaron_cli.model import load_tokenizer
from tessaron_cli.output import open_output
from tessaron_cli.progress import Reporter

# Large enough to amortise sending a task to a worker, small enough to keep both busy.
BATCH_BYTES = 256 * 1024

_worker_tokenizer = None


def encode_task(tokenizer, text: str, whole: bool) -> str:
    pieces = [text] if whole else split_lines(text)
    return "".join(" ".join(map(str, tokenizer.encode(p))) + "\n" for p in pieces)


def _init_worker(model_path: str) -> None:
    global _worker_tokenizer
    _worker_tokenizer = load_tokenizer(model_path)


def _worker_encode(text: str, whole: bool) -> str:
    return encode_task(_worker_tokenizer, text, whole)


def tasks(args) -> Iterator[Tuple[str, int]]:
    """(text, input bytes) in output order."""
    if args.text is not None:
        try:
            yield args.text, len(args.text.encode("utf-8"))
        except UnicodeEncodeError:
            raise CliError("--text: not valid UTF-8") from None
        return
    for source in sources(args.files):
        data = read_bytes(source)
        if args.whole:
            yield decode_utf8(data, source), len(data)
        else:
            yield from line_batches(data, source, BATCH_BYTES)


def run(args) -> int:
    tokenizer = load_tokenizer(args.model)
    # Results on the same terminal would tear the bar apart.
    reporter = Reporter(args.quiet or (args.output in (None, "-") and sys.stdout.isatty()))
    total: Optional[int] = None
    if args.text is None:
        total = total_size(sources(args.files))
    with open_output(args.output) as out, reporter.bar("encoding", total) as bar:
        if args.jobs <= 1:
            for text, size in tasks(args):
                out.write(encode_task(tokenizer, text, args.whole))
                bar.advance(size)
        else:
            for result, size in _pooled(args):
                out.write(result)
                bar.advance(size)
    return 0


def _pooled(args) -> Iterator[Tuple[str, int]]:
    # A bounded window of tasks in flight keeps memory flat on large inputs.
    window = 2 * args.jobs
    with concurrent.futures.ProcessPoolExecutor(
        max_workers=args.jobs, initializer=_init_worker, initargs=(args.model,)
    ) as pool:
        pending: collections.deque = collections.deque()
        for text, size in tasks(args):
            pending.append((pool.submit(_worker_encode, text, args.whole), size))
            if len(pending) >= window:
                future, done_size = pending.popleft()
                yield future.result(), done_size
        while pending:
            future, done_size = pending.popleft()
            yield future.result(), done_size
