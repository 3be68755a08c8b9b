"""`tessaron demo`: train on the standard library's source and report what came of it."""

import os
import time

import tessaron
from tessaron_cli.corpus import stdlib_corpus
from tessaron_cli.outputs import print_line
from tessaron_cli.progress import human_bytes
from tessaron_cli.train import check_folder, save
from tessaron_tools import Tokenizer

EXAMPLE = "def tokenize(text: str) -> list[int]:"


def run(args) -> int:
    started = time.perf_counter()
    model_path = os.path.join(args.out, "stdlib.model")
    vocab_path = os.path.join(args.out, "stdlib.vocab")
    check_folder(model_path)
    corpus = stdlib_corpus(args.size_mb * 1e6, args.held_out_mb * 1e6)
    train_size = len(corpus.train.encode("utf-8"))
    held_size = len(corpus.held_out.encode("utf-8"))
    print_line(f"corpus:      {corpus.describe()}")
    print_line(
        f"             {human_bytes(train_size)} in {corpus.train_files} files for training, "
        f"{human_bytes(held_size)} in {corpus.held_out_files} other files held out"
    )

    print_line(f"training:    {args.vocab_size} tokens, {args.threads} threads ...")
    t0 = time.perf_counter()
    tokenizer = Tokenizer.train(corpus.train, args.vocab_size, threads=args.threads)
    seconds = time.perf_counter() - t0
    print_line(f"             {seconds:.2f} s, {human_bytes(train_size / seconds)}/s")

    save(tokenizer, model_path, vocab_path)
    print_line(
        f"saved:       {model_path} ({human_bytes(os.path.getsize(model_path))}), "
        f"{vocab_path} ({human_bytes(os.path.getsize(vocab_path))})"
    )

    t0 = time.perf_counter()
    ids = tokenizer.encode(corpus.held_out)
    seconds = time.perf_counter() - t0
    print_line(
        f"held out:    {human_bytes(held_size)} -> {len(ids):,} tokens, "
        f"{held_size / max(len(ids), 1):.2f} bytes per token "
        f"(encoded at {human_bytes(held_size / seconds)}/s)"
    )

    reloaded = tessaron.BasicTokenizer()
    reloaded.load(model_path)
    example_ids = reloaded.encode(EXAMPLE)
    pieces = [reloaded.decode([i]) for i in example_ids]
    print_line(f"example:     {EXAMPLE!r}")
    print_line(f"  ids        {example_ids}")
    print_line(f"  tokens     {' | '.join(pieces)}")
    print_line(f"  decoded    {reloaded.decode(example_ids)!r}")
    print_line(f"total:       {time.perf_counter() - started:.1f} s")
    return 0
