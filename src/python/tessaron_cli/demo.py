"""`tessaron demo`: train on the standard library's source and report what came of it."""

import os
import time

import tessaron
from tessaron_cli.corpus import stdlib_corpus
from tessaron_cli.progress import human_bytes
from tessaron_cli.train import save

EXAMPLE = "def tokenize(text: str) -> list[int]:"


def run(args) -> int:
    started = time.perf_counter()
    corpus = stdlib_corpus(args.size_mb * 1e6, args.held_out_mb * 1e6)
    train_size = len(corpus.train.encode("utf-8"))
    held_size = len(corpus.held_out.encode("utf-8"))
    print(f"corpus:      {corpus.describe()}")
    print(
        f"             {human_bytes(train_size)} in {corpus.train_files} files for training, "
        f"{human_bytes(held_size)} in {corpus.held_out_files} other files held out"
    )

    tokenizer = tessaron.BasicTokenizer(args.threads)
    print(f"training:    {args.vocab_size} tokens, num_threads={args.threads} ...", flush=True)
    t0 = time.perf_counter()
    tokenizer.train(corpus.train, args.vocab_size)
    seconds = time.perf_counter() - t0
    print(f"             {seconds:.2f} s, {human_bytes(train_size / seconds)}/s")

    os.makedirs(args.out, exist_ok=True)
    model_path = os.path.join(args.out, "stdlib.model")
    vocab_path = os.path.join(args.out, "stdlib.vocab")
    save(tokenizer, model_path, vocab_path)
    print(
        f"saved:       {model_path} ({human_bytes(os.path.getsize(model_path))}), "
        f"{vocab_path} ({human_bytes(os.path.getsize(vocab_path))})"
    )

    t0 = time.perf_counter()
    ids = tokenizer.encode(corpus.held_out)
    seconds = time.perf_counter() - t0
    print(
        f"held out:    {human_bytes(held_size)} -> {len(ids):,} tokens, "
        f"{held_size / max(len(ids), 1):.2f} bytes per token "
        f"(encoded at {human_bytes(held_size / seconds)}/s)"
    )

    reloaded = tessaron.BasicTokenizer()
    reloaded.load(model_path)
    example_ids = reloaded.encode(EXAMPLE)
    pieces = [reloaded.decode([i]) for i in example_ids]
    print(f"example:     {EXAMPLE!r}")
    print(f"  ids        {example_ids}")
    print(f"  tokens     {' | '.join(pieces)}")
    print(f"  decoded    {reloaded.decode(example_ids)!r}")
    print(f"total:       {time.perf_counter() - started:.1f} s")
    return 0
