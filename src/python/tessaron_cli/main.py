"""Entry point of the `tessaron` command."""

import argparse
import os
import sys
from typing import List, Optional

from tessaron_cli.errors import EXIT_FAILURE, EXIT_INTERRUPTED, EXIT_USAGE, CliError
from tessaron_cli.outputs import flush_stdout, stdout_failed

MAX_U64 = 2**64 - 1
ALL = float("inf")
COMMANDS = ("train", "encode", "decode", "info", "demo")


class Parser(argparse.ArgumentParser):
    """Usage errors as one line and exit code 2."""

    def error(self, message: str):  # type: ignore[override]
        self.exit(EXIT_USAGE, f"{self.prog}: error: {message} (see --help)\n")


class Version(argparse.Action):
    """Looks the version up only when asked: the lookup costs more than the rest of startup."""

    def __call__(self, parser, namespace, values, option_string=None):
        import importlib.metadata

        sys.stdout.write(f"tessaron {importlib.metadata.version('tessaron')}\n")
        parser.exit()


def bounded_int(low: int, high: int = MAX_U64):
    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{text!r} is not a whole number") from None
        if value < low:
            raise argparse.ArgumentTypeError(f"must be at least {low}, got {value}")
        if value > high:
            raise argparse.ArgumentTypeError(f"must be at most {high}, got {value}")
        return value

    return parse


def default_threads() -> int:
    if hasattr(os, "sched_getaffinity"):
        return len(os.sched_getaffinity(0))
    return os.cpu_count() or 1


def build_parser() -> argparse.ArgumentParser:
    common = Parser(add_help=False)
    common.add_argument(
        "-q", "--quiet", action="store_true", help="print nothing but results and errors"
    )
    common.add_argument("--version", action=Version, nargs=0, help="show the version and exit")
    parser = Parser(
        prog="tessaron",
        parents=[common],
        description="Train, apply and inspect byte-level BPE tokenizers.",
        epilog="Exit status: 0 on success, 1 when a file or model cannot be used, "
        "2 for a bad command line, 130 when interrupted. Progress goes to "
        "standard error on a terminal.",
    )
    commands = parser.add_subparsers(
        dest="command", metavar="COMMAND", required=True, parser_class=Parser
    )

    train = commands.add_parser(
        "train",
        parents=[common],
        help="learn a model from files",
        description="Learn merge rules from the bytes of the FILEs, concatenated in order "
        "(standard input when none or '-'), and write PREFIX.model and "
        "PREFIX.vocab, replacing both or neither.",
    )
    train.add_argument("files", nargs="*", metavar="FILE", help="files of any content")
    train.add_argument(
        "-v",
        "--vocab-size",
        type=bounded_int(256),
        required=True,
        metavar="N",
        help="tokens wanted: the 256 single bytes, the rules and the special tokens",
    )
    train.add_argument(
        "-o",
        "--output",
        required=True,
        metavar="PREFIX",
        help="write PREFIX.model and PREFIX.vocab (a trailing .model is "
        "dropped; missing folders are made)",
    )
    train.add_argument(
        "-t",
        "--threads",
        type=bounded_int(1, 65535),
        default=default_threads(),
        metavar="T",
        help="training threads (default: the usable CPUs); the model does not depend on it",
    )
    train.add_argument(
        "--special",
        action="append",
        default=[],
        metavar="TOKEN",
        help="a special token, given the next id after the rules (repeatable, in order)",
    )
    train.add_argument(
        "--pattern",
        metavar="NAME|EXPR",
        help="split the text into pieces first and learn rules only inside them: gpt2, cl100k, "
        "o200k or a regular expression; the model keeps it and encoding splits the same way",
    )
    train.add_argument("--utf8", action="store_true", help="refuse input that is not UTF-8 text")

    encode = commands.add_parser(
        "encode",
        parents=[common],
        help="turn text into token ids",
        description="Encode each line of the FILEs (standard input when none or '-') into "
        "one output line of space-separated token ids; a line ends at a line "
        "feed, which is not encoded. With --whole, each FILE as one text into "
        "one output line.",
    )
    source = encode.add_mutually_exclusive_group()
    source.add_argument("files", nargs="*", default=[], metavar="FILE", help="files of any content")
    source.add_argument("--text", help="encode this text instead of files")
    encode.add_argument(
        "-m",
        "--model",
        required=True,
        help="model file, Hugging Face tokenizer.json or tiktoken rank file (with --pattern)",
    )
    encode.add_argument(
        "--pattern",
        metavar="NAME|EXPR",
        help="the split pattern of a tiktoken rank file: gpt2, cl100k, o200k or a regular "
        "expression (the other files keep their own)",
    )
    encode.add_argument(
        "-w",
        "--whole",
        action="store_true",
        help="encode each input as one text instead of line by line",
    )
    encode.add_argument(
        "-j",
        "--jobs",
        type=bounded_int(1, 1024),
        default=default_threads(),
        metavar="N",
        help="encoding threads (default: the usable CPUs); the output is the same",
    )
    encode.add_argument(
        "--allow-special",
        action="append",
        default=[],
        metavar="TOKEN",
        help="encode this special token (repeatable), or 'all' of them, "
        "as its id where it appears in the text",
    )
    encode.add_argument("--utf8", action="store_true", help="refuse input that is not UTF-8 text")
    encode.add_argument(
        "-o", "--output", metavar="FILE", help="write here, replacing the file only when done"
    )

    decode = commands.add_parser(
        "decode",
        parents=[common],
        help="turn token ids into text",
        description="Decode each line of space-separated token ids of the FILEs (standard "
        "input when none or '-') into the exact bytes they stand for, followed "
        "by a line feed; so 'encode F | decode' gives F back.",
    )
    decode.add_argument("files", nargs="*", metavar="FILE", help="files of token ids")
    decode.add_argument(
        "-m",
        "--model",
        required=True,
        help="model file, Hugging Face tokenizer.json or tiktoken rank file",
    )
    decode.add_argument(
        "--pattern",
        metavar="NAME|EXPR",
        help="accepted for a tiktoken rank file; decoding does not split",
    )
    form = decode.add_mutually_exclusive_group()
    form.add_argument(
        "-w",
        "--whole",
        action="store_true",
        help="add no line feeds: the inverse of 'encode --whole'",
    )
    form.add_argument(
        "--display",
        action="store_true",
        help="display text instead of bytes: each token decoded on its own, "
        "control characters shown as \\uXXXX, one line per line of ids",
    )
    decode.add_argument(
        "-o", "--output", metavar="FILE", help="write here, replacing the file only when done"
    )

    info = commands.add_parser(
        "info",
        parents=[common],
        help="summarise a model file",
        description="Show a model file's rules, special tokens and longest tokens.",
    )
    info.add_argument("model", help="model file")
    info.add_argument(
        "--top",
        type=bounded_int(0, 10_000),
        default=10,
        metavar="N",
        help="how many of the longest tokens to list (default 10)",
    )

    demo = commands.add_parser(
        "demo",
        parents=[common],
        help="train on the Python standard library's source and report",
        description="Train on the source of the running Python's standard library (nothing "
        "to download), save the model and listing, and report size, speed and "
        "compression on held-out files.",
    )
    demo.add_argument(
        "--out",
        default="out",
        metavar="DIR",
        help="folder for stdlib.model and stdlib.vocab (default out)",
    )
    demo.add_argument(
        "--size-mb",
        type=float,
        default=ALL,
        metavar="MB",
        help="at most this much training text, in MB (default: all of it)",
    )
    demo.add_argument(
        "--held-out-mb",
        type=float,
        default=ALL,
        metavar="MB",
        help="at most this much held-out text, in MB (default: all of it; "
        "every tenth file is held out)",
    )
    demo.add_argument(
        "-v",
        "--vocab-size",
        type=bounded_int(256),
        default=16384,
        metavar="N",
        help="tokens wanted (default 16384)",
    )
    demo.add_argument(
        "-t",
        "--threads",
        type=bounded_int(1, 65535),
        default=default_threads(),
        metavar="T",
        help="training threads (default: the usable CPUs)",
    )
    return parser


def check(parser: argparse.ArgumentParser, args: argparse.Namespace) -> None:
    """What argparse cannot say about the arguments taken together."""
    if args.command == "train":
        if args.vocab_size < 256 + len(args.special):
            parser.error(
                f"argument -v/--vocab-size: must be at least {256 + len(args.special)}"
                f" with {len(args.special)} special tokens"
            )


def main(argv: Optional[List[str]] = None) -> int:
    for stream in (sys.stdout, sys.stderr):
        stream.reconfigure(encoding="utf-8")  # type: ignore[union-attr]
    argv = sys.argv[1:] if argv is None else argv
    command = f"tessaron {argv[0]}" if argv and argv[0] in COMMANDS else "tessaron"
    try:
        parser = build_parser()
        try:
            args = parser.parse_args(argv)
            check(parser, args)
        except SystemExit as e:  # --help, --version and usage errors
            flush_stdout()
            return e.code if isinstance(e.code, int) else EXIT_USAGE
        except BrokenPipeError:
            raise
        except OSError as e:  # --help or --version into a full device
            raise stdout_failed(e) from None
        command = f"tessaron {args.command}"
        from tessaron_cli import decode, demo, encode, info, train

        run = dict(zip(COMMANDS, (train, encode, decode, info, demo)))[args.command].run
        code = run(args)
        flush_stdout()
        return code
    except CliError as e:
        print(f"{command}: error: {e}", file=sys.stderr)
        return e.code
    except MemoryError:
        print(f"{command}: error: out of memory", file=sys.stderr)
        return EXIT_FAILURE
    except BrokenPipeError:
        # The reader went away (`| head`): stop quietly, and keep Python from
        # complaining again when it flushes standard output at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_FAILURE
    except KeyboardInterrupt:
        print(f"{command}: interrupted", file=sys.stderr, flush=True)
        # Work abandoned on helper threads must not hold the exit up.
        os._exit(EXIT_INTERRUPTED)
