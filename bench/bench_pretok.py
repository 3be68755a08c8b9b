"""Splitting, training and encoding with a split pattern, beside the peers, on one text.

    pip install '.[bench]'  &&  python -m bench.bench_pretok [--text FILE] [--repeat 5]

The core is timed inside tests/drivers/pretok_driver.cpp (built here with CMake), without a
Python surface: bytes in, token numbers out. The peers are timed in this process as their
users call them: regex.findall (str in, list of str out; beside the scanners and the pattern
engine, which runs any other pattern), tiktoken's encode_ordinary (str in,
list out) with the cl100k and o200k tables that bpe-openai ships, and Hugging Face's
byte-level BPE trainer with the GPT-2 split. Medians of --repeat runs, all in the same run.
"""

import argparse
import base64
import os
import pathlib
import statistics
import subprocess
import tempfile
import time

from tests import pretok_driver
from tests.reference.patterns import EXPRESSIONS

HERE = pathlib.Path(__file__).resolve().parent
WORDS = r"\w+|\s+|[^\w\s]+"


def median_seconds(run, repeat):
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        run()
        times.append(time.perf_counter() - t)
    return statistics.median(times)


def core_seconds(driver, args, data, repeat):
    command = [driver, *args, str(repeat)]
    out = subprocess.run(command, input=data, capture_output=True, check=True).stdout
    return float(out)


def write_ranks(ranks, folder):
    path = pathlib.Path(folder) / "ranks.tiktoken"
    lines = [f"{base64.b64encode(token).decode()} {rank}" for token, rank in ranks.items()]
    path.write_text("\n".join(lines) + "\n")
    return path


def hf_byte_level(vocab_size):
    """Hugging Face's byte-level BPE with GPT-2's split, and its trainer to vocab_size."""
    from tokenizers import Tokenizer, decoders, models, pre_tokenizers, trainers

    tok = Tokenizer(models.BPE())
    tok.pre_tokenizer = pre_tokenizers.ByteLevel(add_prefix_space=False, use_regex=True)
    tok.decoder = decoders.ByteLevel()
    trainer = trainers.BpeTrainer(
        vocab_size=vocab_size,
        min_frequency=0,
        show_progress=False,
        initial_alphabet=pre_tokenizers.ByteLevel.alphabet(),
    )
    return tok, trainer


def hf_train_seconds(text, vocab_size, threads):
    os.environ["RAYON_NUM_THREADS"] = str(threads)
    tok, trainer = hf_byte_level(vocab_size)
    t = time.perf_counter()
    tok.train_from_iterator([text], trainer=trainer)
    return time.perf_counter() - t


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--text", default=str(HERE / "data" / "prose.txt"))
    p.add_argument("--repeat", type=int, default=5)
    p.add_argument("--vocab-size", type=int, default=8192)
    args = p.parse_args()
    data = pathlib.Path(args.text).read_bytes()
    text = data.decode("utf-8", errors="replace")
    data = text.encode()
    mb = len(data) / 1e6
    driver = pretok_driver.build()
    print(f"text: {args.text}, {mb:.1f} MB; medians of {args.repeat}")

    import regex

    for name, expression in EXPRESSIONS.items():
        ours = core_seconds(driver, ["time-split", name], data, args.repeat)
        pattern = regex.compile(expression)
        peer = median_seconds(lambda: pattern.findall(text), max(1, args.repeat // 2))
        print(
            f"split {name:7} tessaron {mb / ours:7.1f} MB/s   regex.findall {mb / peer:6.1f} MB/s"
        )

    # The pattern engine beside the scanners on their own patterns (an outer group keeps a
    # pattern off its scanner), and on a simple pattern without one.
    for name, expression in [*EXPRESSIONS.items(), ("words", WORDS)]:
        grouped = f"(?:{expression})" if name in EXPRESSIONS else expression
        engine = core_seconds(driver, ["time-split", grouped], data, args.repeat)
        scanner = ""
        if name in EXPRESSIONS:
            ours = core_seconds(driver, ["time-split", name], data, args.repeat)
            scanner = f"scanner {mb / ours:7.1f} MB/s   "
        pattern = regex.compile(expression)
        peer = median_seconds(lambda: pattern.findall(text), max(1, args.repeat // 2))
        print(
            f"split {name:7} engine {mb / engine:6.1f} MB/s   {scanner}"
            f"regex.findall {mb / peer:6.1f} MB/s"
        )

    try:
        import bpe_openai
        import tiktoken
    except ImportError:
        print("encode: needs the bench extra (tiktoken, bpe-openai)")
    else:
        with tempfile.TemporaryDirectory() as folder:
            for table in ["cl100k_base", "o200k_base"]:
                source = bpe_openai.get_encoding(table)
                ranks = source._mergeable_ranks
                path = write_ranks(ranks, folder)
                name = table.split("_")[0]
                ours = core_seconds(driver, ["time-ranks", name, str(path)], data, args.repeat)
                encoding = tiktoken.Encoding(
                    table, pat_str=source._pat_str, mergeable_ranks=ranks, special_tokens={}
                )
                peer = median_seconds(lambda: encoding.encode_ordinary(text), args.repeat)
                print(
                    f"encode {table:12} tessaron core {mb / ours:6.1f} MB/s   "
                    f"tiktoken {mb / peer:5.1f} MB/s   ({peer / ours:.1f}x)"
                )

    merges = args.vocab_size - 256
    for threads in (1, 2):
        ours = core_seconds(driver, ["time-train", "gpt2", str(merges), str(threads)], data,
                            args.repeat)  # fmt: skip
        try:
            peer = statistics.median(
                hf_train_seconds(text, args.vocab_size, threads) for _ in range(args.repeat)
            )
            peer_text = f"Hugging Face {peer:.2f} s"
        except ImportError:
            peer_text = "Hugging Face: needs the bench extra"
        print(f"train gpt2 to {args.vocab_size}, {threads} thread(s): tessaron {ours:.2f} s   "
              f"{peer_text}")  # fmt: skip


if __name__ == "__main__":
    main()
