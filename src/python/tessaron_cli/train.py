"""`tessaron train`: learn a model from files and save it with its listing."""

import os
import time
from typing import List, Optional, Sequence, Union

import tessaron
from tessaron_cli.errors import EXIT_USAGE, CliError, file_error
from tessaron_cli.inputs import Source, require_utf8, sources, total_size
from tessaron_cli.outputs import Output, refuse_inputs_as_outputs, replacing
from tessaron_cli.progress import Reporter, human_bytes, human_count
from tessaron_tools import Tokenizer

MODEL_SUFFIX = ".model"


def output_paths(prefix: str):
    if prefix.endswith(MODEL_SUFFIX):
        prefix = prefix[: -len(MODEL_SUFFIX)]
    return prefix + MODEL_SUFFIX, prefix + ".vocab"


def check_folder(path: str) -> None:
    """Fails now, not after a long training, when the folder for `path` cannot be made."""
    folder = os.path.dirname(os.path.abspath(path))
    while not os.path.lexists(folder):
        folder = os.path.dirname(folder)
    if not os.path.isdir(folder):
        raise CliError(f"cannot create the folder for {path}: {folder} is a file")


def make_folder(path: str) -> None:
    folder = os.path.dirname(path)
    if folder:
        try:
            os.makedirs(folder, exist_ok=True)
        except OSError as e:
            raise file_error("create the folder", folder, e) from None


def save(tokenizer: Tokenizer, model_path: str, vocab_path: str) -> None:
    """The model and its listing, replacing both or neither."""
    make_folder(model_path)
    with replacing([model_path, vocab_path]) as (model, listing):
        model.write(tokenizer.to_bytes())
        model.flush()
        save_listing(model, listing)


def save_listing(model: Output, listing: Output) -> None:
    # The listing renders tokens as the other face does, so that face writes it.
    renderer = tessaron.BasicTokenizer()
    renderer.load(model.temp or model.target)
    listing.write_with(renderer.save_vocab)


def check_special_tokens(special: Sequence[str]) -> None:
    """Before reading the input: the face says which tokens a model file can hold."""
    try:
        Tokenizer.train(b"", 256 + len(special), special_tokens=special)
    except ValueError as e:
        raise CliError(f"argument --special: {e}", EXIT_USAGE) from None


def check_pattern(pattern: Optional[str]) -> None:
    """Before reading the input, as the special tokens are."""
    try:
        Tokenizer.train(b"", 256, pattern=pattern)
    except ValueError as e:
        raise CliError(f"argument --pattern: {e}", EXIT_USAGE) from None


def learned_fewer(learned: int, wanted: int, pattern: Optional[str]) -> str:
    why = "every piece is one token" if pattern else "no two tokens are left side by side to merge"
    return f"learned {learned:,} of {wanted:,} rules: {why}"


def run(args) -> int:
    reporter = Reporter("train", args.quiet)
    model_path, vocab_path = output_paths(args.output)
    srcs = sources(args.files)
    refuse_inputs_as_outputs([model_path, vocab_path], [s.path for s in srcs])
    check_folder(model_path)
    check_special_tokens(args.special)
    check_pattern(args.pattern)

    size = total_size(srcs)
    if size is not None and not args.utf8:
        # Regular files: the core reads them itself, with no copy in Python.
        text: Union[bytes, List[str]] = [s.path for s in srcs]
    else:
        text = read_all(srcs, args.utf8, reporter)
        size = len(text)
    if size == 0:
        raise CliError("nothing to learn from: the input is empty")

    tokenizer = train(text, size, args, reporter)
    save(tokenizer, model_path, vocab_path)
    reporter.say(f"wrote {model_path} and {vocab_path}")
    return 0


def read_all(srcs: List[Source], utf8: bool, reporter: Reporter) -> bytes:
    with reporter.bar("reading ", total_size(srcs)) as bar:
        parts = []
        for source in srcs:
            data = source.read_all(bar)
            if utf8:
                require_utf8(data, source)
            parts.append(data)
    return b"".join(parts)


def train(text: Union[bytes, List[str]], size: int, args, reporter: Reporter) -> Tokenizer:
    """From the bytes, or from the files named in a list."""
    wanted = args.vocab_size - 256 - len(args.special)
    reporter.say(
        f"training on {human_bytes(size)} to {args.vocab_size:,} tokens "
        f"with {args.threads} thread{'s' if args.threads != 1 else ''}"
        + (f", split by {args.pattern!r}" if args.pattern else "")
    )
    started = time.perf_counter()
    with reporter.bar("rules   ", wanted, human_count) as bar:
        options = dict(
            threads=args.threads,
            special_tokens=tuple(args.special),
            pattern=args.pattern,
            progress=lambda done, total: bar.update(done),
        )
        if isinstance(text, list):
            try:
                tokenizer = Tokenizer.train_files(text, args.vocab_size, **options)
            except OSError as e:
                raise file_error("read", e.filename or "an input", e) from None
        else:
            tokenizer = Tokenizer.train(text, args.vocab_size, **options)
    seconds = time.perf_counter() - started
    reporter.say(f"trained in {seconds:.2f} s ({human_bytes(size / max(seconds, 1e-9))}/s)")
    learned = len(tokenizer.merges)
    if learned < wanted:
        reporter.warn(learned_fewer(learned, wanted, args.pattern))
    return tokenizer
