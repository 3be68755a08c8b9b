"""Model file and listing speed: tessaron beside the pure-Python reference, same files, same run.

Usage: python -m bench.bench_persist [rules]   (default 200000 rules)
Prints the median of 5 runs per operation; timings on a shared machine are noisy.
"""

import os
import random
import resource
import statistics
import sys
import tempfile
import time

from tessaron import BasicTokenizer
from tests.reference.model_file import read_model, vocab_listing, write_model


def median_seconds(action, runs=5):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    rules = int(sys.argv[1]) if len(sys.argv) > 1 else 200_000
    rnd = random.Random(7)

    # Parts are single bytes more often than not, as in trained models, so tokens stay short.
    def part(k):
        return rnd.randrange(256) if k == 0 or rnd.random() < 0.6 else 256 + rnd.randrange(k)

    lines = [f"{part(k)} {part(k)}" for k in range(rules)]
    data = ("tessaron v1\n\n1\n<|endoftext|> 100257\n" + "\n".join(lines) + "\n").encode()
    with tempfile.TemporaryDirectory() as tmp:
        model_path = os.path.join(tmp, "m.model")
        out_path = os.path.join(tmp, "out.model")
        vocab_path = os.path.join(tmp, "out.vocab")
        with open(model_path, "wb") as f:
            f.write(data)
        tok = BasicTokenizer()
        tok.load(model_path)
        tok.save_vocab(vocab_path)
        listing_size = os.path.getsize(vocab_path)
        model = read_model(data)
        vocab = model.vocab()

        rows = [
            (
                "load",
                len(data),
                lambda: tok.load(model_path),
                lambda: read_model(open(model_path, "rb").read()).vocab(),
            ),
            (
                "save_model",
                len(data),
                lambda: tok.save_model(out_path),
                lambda: open(out_path, "wb").write(write_model(model)),
            ),
            (
                "save_vocab",
                listing_size,
                lambda: tok.save_vocab(vocab_path),
                lambda: open(vocab_path, "wb").write(vocab_listing(vocab, model.merges)),
            ),
        ]
        print(
            f"{rules} rules, model file {len(data) / 1e6:.2f} MB, "
            f"listing {listing_size / 1e6:.2f} MB"
        )
        print(f"{'operation':<12}{'tessaron s':>12}{'MB/s':>9}{'reference s':>13}{'MB/s':>9}")
        for name, size, ours, baseline in rows:
            t_ours, t_base = median_seconds(ours), median_seconds(baseline)
            print(
                f"{name:<12}{t_ours:>12.4f}{size / t_ours / 1e6:>9.1f}"
                f"{t_base:>13.4f}{size / t_base / 1e6:>9.1f}"
            )
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"peak RSS of the whole run: {peak:.0f} MiB")


if __name__ == "__main__":
    main()
