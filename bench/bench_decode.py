"""Decoding throughput, end to end from Python (list in, str out), beside two pure-Python
decoders run in the same process on the same ids: one that keeps every token's rendering in a
dict (the best a Python caller can do), and one that renders each token on every call.

    python -m bench.bench_decode [--repeat 7] [--vocab 8192]

The text is the English text of bench_encode.py; the model is trained (or loaded from
bench/data/) the same way. Figures are medians; the machine may be shared.
"""

import argparse
import os
import statistics
import time

from bench.bench_encode import english_text, model
from tests.reference.vocab import render_token

HERE = os.path.dirname(os.path.abspath(__file__))


def median(run, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def token_bytes(tokenizer, vocab_size):
    """Each token's bytes, recovered through the model file's rules."""
    path = os.path.join(HERE, "data", "decode-bench.model")
    tokenizer.save_model(path)
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    count = int(lines[2])
    table = {b: bytes([b]) for b in range(256)}
    for k, line in enumerate(line for line in lines[3 + count :] if line):
        left, right = map(int, line.split())
        table[256 + k] = table[left] + table[right]
    os.remove(path)
    return table


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--vocab", type=int, default=8192)
    args = parser.parse_args()

    name, text = english_text()
    tokenizer, _ = model(f"en-{name}", text, args.vocab)
    ids = tokenizer.encode(text)
    table = token_bytes(tokenizer, args.vocab)
    rendered = {i: render_token(b) for i, b in table.items()}
    out_bytes = len(tokenizer.decode(ids).encode("utf-8"))
    assert tokenizer.decode(ids) == "".join(map(rendered.__getitem__, ids))

    ours = median(lambda: tokenizer.decode(ids), args.repeat)
    cached = median(lambda: "".join(map(rendered.__getitem__, ids)), args.repeat)
    prefix = ids[: len(ids) // 20]
    per_call = median(lambda: "".join(render_token(table[i]) for i in prefix), 3)
    per_call_full = per_call * len(ids) / len(prefix)

    print(f"{len(ids):,} ids of a {args.vocab} model, {out_bytes / 1e6:.1f} MB of text out")
    print(f"{'decoder':<36}{'seconds':>10}{'M ids/s':>10}{'MB/s':>10}")
    for label, seconds in [
        ("tessaron decode", ours),
        ("Python, renderings kept in a dict", cached),
        ("Python, rendering every call (est.)", per_call_full),
    ]:
        print(
            f"{label:<36}{seconds:>10.4f}{len(ids) / seconds / 1e6:>10.1f}"
            f"{out_bytes / seconds / 1e6:>10.1f}"
        )


if __name__ == "__main__":
    main()
