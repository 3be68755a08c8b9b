"""`tessaron train`: learn a model from text files and save it with its listing."""

import time

import tessaron
from tessaron_cli.errors import CliError, describe_os_error
from tessaron_cli.inputs import read_text, sources, total_size
from tessaron_cli.progress import Reporter, human_bytes


def run(args) -> int:
    reporter = Reporter(args.quiet)
    srcs = sources(args.files)
    with reporter.bar("reading ", total_size(srcs)) as bar:
        text = "".join(read_text(s, bar) for s in srcs)
    size = len(text.encode("utf-8"))

    tokenizer = tessaron.BasicTokenizer(args.threads)
    reporter.say(
        f"training on {human_bytes(size)} to {args.vocab_size} tokens "
        f"with {args.threads} thread{'s' if args.threads != 1 else ''} ..."
    )
    started = time.perf_counter()
    tokenizer.train(text, args.vocab_size)
    seconds = time.perf_counter() - started
    reporter.say(f"trained in {seconds:.2f} s ({human_bytes(size / max(seconds, 1e-9))}/s)")

    model_path, vocab_path = args.output + ".model", args.output + ".vocab"
    save(tokenizer, model_path, vocab_path)
    reporter.say(f"wrote {model_path} and {vocab_path}")
    return 0


def save(tokenizer, model_path: str, vocab_path: str) -> None:
    # What save() does, one file at a time, so that an error names its file.
    for write, path in ((tokenizer.save_model, model_path), (tokenizer.save_vocab, vocab_path)):
        try:
            write(path)
        except OSError as e:
            raise CliError(f"cannot write {path}: {describe_os_error(e)}") from None
