"""Entry point of the `tessaron` command."""

import argparse
import os
import sys
from typing import List, Optional

from tessaron_cli.errors import EXIT_FAILURE, EXIT_USAGE, CliError

MAX_U64 = 2**64 - 1
ALL = float("inf")


class Parser(argparse.ArgumentParser):
    """Usage errors as one line and exit code 2."""

    def error(self, message: str):  # type: ignore[override]
        self.exit(EXIT_USAGE, f"{self.prog}: error: {message} (see --help)\n")


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
    return (
        len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else (os.cpu_count() or 1)
    )


def build_parser() -> argparse.ArgumentParser:
    parser = Parser(
        prog="tessaron",
        description="Train, apply and inspect byte-level BPE tokenizers.",
        epilog="Exit status: 0 on success, 1 when a file or model cannot be used, "
        "2 for a bad command line. Progress goes to standard error on a terminal.",
    )
    commands = parser.add_subparsers(
        dest="command", metavar="COMMAND", required=True, parser_class=Parser
    )

    train = commands.add_parser(
        "train",
        help="learn a model from text files",
        description="Learn merge rules from the concatenated text of FILEs (standard input "
        "when none or '-') and write PREFIX.model and PREFIX.vocab.",
    )
    train.add_argument("files", nargs="*", metavar="FILE", help="UTF-8 text files")
    train.add_argument(
        "-v",
        "--vocab-size",
        type=bounded_int(256),
        required=True,
        metavar="N",
        help="tokens wanted, at least 256 (the single bytes)",
    )
    train.add_argument(
        "-o",
        "--output",
        required=True,
        metavar="PREFIX",
        help="write PREFIX.model and PREFIX.vocab",
    )
    train.add_argument(
        "-t",
        "--threads",
        type=bounded_int(1, 65535),
        default=default_threads(),
        metavar="T",
        help="pair-counting threads (default: the usable CPUs); the model does not depend on it",
    )
    train.add_argument("-q", "--quiet", action="store_true", help="no progress output")

    encode = commands.add_parser(
        "encode",
        help="turn text into token ids",
        description="Encode each line of the FILEs (standard input when none or '-') into "
        "one output line of space-separated token ids; with --whole, each "
        "FILE as one text into one output line.",
    )
    encode.add_argument("files", nargs="*", metavar="FILE", help="UTF-8 text files")
    encode.add_argument("-m", "--model", required=True, help="model file")
    encode.add_argument(
        "-w",
        "--whole",
        action="store_true",
        help="encode each input as one text instead of line by line",
    )
    encode.add_argument("--text", help="encode this text instead of files")
    encode.add_argument(
        "-j",
        "--jobs",
        type=bounded_int(1, 1024),
        default=1,
        metavar="N",
        help="worker processes (default 1); the output is the same",
    )
    encode.add_argument("-o", "--output", metavar="FILE", help="write here, not to stdout")
    encode.add_argument("-q", "--quiet", action="store_true", help="no progress output")

    decode = commands.add_parser(
        "decode",
        help="turn token ids into text",
        description="Decode each line of space-separated token ids of the FILEs (standard "
        "input when none or '-') into one line of display text. Control "
        "characters are shown escaped as \\uXXXX, so each result is one line.",
    )
    decode.add_argument("files", nargs="*", metavar="FILE", help="files of token ids")
    decode.add_argument("-m", "--model", required=True, help="model file")
    decode.add_argument("-o", "--output", metavar="FILE", help="write here, not to stdout")

    info = commands.add_parser(
        "info",
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
        help="train on the Python standard library's source and report",
        description="Train on the source of the running Python's standard library (nothing "
        "to download), save the model and listing, and report size, speed and "
        "compression on held-out files.",
    )
    demo.add_argument(
        "--out",
        default="out",
        metavar="DIR",
        help="where to save stdlib.model and stdlib.vocab (default out)",
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
        help="pair-counting threads (default: the usable CPUs)",
    )
    return parser


def main(argv: Optional[List[str]] = None) -> int:
    for stream in (sys.stdout, sys.stderr):
        stream.reconfigure(encoding="utf-8")  # type: ignore[union-attr]
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.command == "encode" and args.text is not None and args.files:
        parser.error("argument --text: not allowed with FILE arguments")
    from tessaron_cli import decode, demo, encode, info, train

    command = {"train": train, "encode": encode, "decode": decode, "info": info, "demo": demo}[
        args.command
    ]
    try:
        return command.run(args)
    except CliError as e:
        print(f"tessaron {args.command}: error: {e}", file=sys.stderr)
        return e.code
    except KeyboardInterrupt:
        print(f"tessaron {args.command}: interrupted", file=sys.stderr)
        return 130
    except BrokenPipeError:
        # The reader went away (`| head`): stop quietly, and keep Python from
        # complaining again when it flushes stdout at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_FAILURE
