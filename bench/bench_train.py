"""Training benchmark: wall seconds, MB/s and peak memory of BasicTokenizer.train.

Each measured run happens in a fresh interpreter: it loads the corpus, notes its resident
memory, resets the kernel's peak-memory mark (/proc/self/clear_refs), trains, and reads
the peak back (VmHWM). Peak memory is that peak minus the memory before training, so the
interpreter and the loaded text are not counted; the UTF-8 copy that Python keeps for a
non-ASCII str is. Medians of --repeat runs are printed.

Beside it, in the same run, the naive recount-everything algorithm (the pure-Python
reference in tests/reference/train.py) and train itself learn the same merges from a
small prefix of the prose corpus.

Make the corpora first: python -m bench.make_corpora
Run: python -m bench.bench_train [--repeat 3] [--vocab 1024 8192 32768] [--threads 1 2]
"""

import argparse
import json
import pathlib
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent

RUN_ONE = r"""
import json, resource, sys, time
from tessaron import BasicTokenizer

def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    return None

path, vocab_size, num_threads = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with open(path, encoding="utf-8") as f:
    text = f.read()
tok = BasicTokenizer(num_threads)
before = status("VmRSS")
try:
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    method = "VmHWM"
except OSError:
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    method = "ru_maxrss"
start = time.perf_counter()
tok.train(text, vocab_size)
seconds = time.perf_counter() - start
peak = status("VmHWM") if method == "VmHWM" else (
    resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024)
merges = 0
while True:
    try:
        tok.decode([256 + merges])
    except OSError:
        break
    merges += 1
print(json.dumps({"seconds": seconds, "peak": peak - before, "merges": merges,
                  "method": method}))
"""


def measure(path, vocab_size, num_threads):
    result = subprocess.run(
        [sys.executable, "-c", RUN_ONE, str(path), str(vocab_size), str(num_threads)],
        capture_output=True,
        text=True,
        check=True,
    )
    return json.loads(result.stdout)


def naive_beside(prose, prefix_bytes, vocab_size):
    from tessaron import BasicTokenizer
    from tests.reference.train import train as naive_train

    prefix = prose.encode("utf-8")[:prefix_bytes].decode("utf-8", errors="ignore")
    start = time.perf_counter()
    merges, _ = naive_train(prefix, vocab_size)
    naive_seconds = time.perf_counter() - start
    tok = BasicTokenizer(1)
    start = time.perf_counter()
    tok.train(prefix, vocab_size)
    ours = time.perf_counter() - start
    return len(prefix.encode("utf-8")), len(merges), naive_seconds, ours


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "--corpora",
        nargs="+",
        type=pathlib.Path,
        default=[HERE / "data" / "prose.txt", HERE / "data" / "mixed.txt"],
    )
    parser.add_argument("--vocab", nargs="+", type=int, default=[1024, 8192, 32768])
    parser.add_argument("--threads", nargs="+", type=int, default=[1, 2])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--naive-prefix", type=int, default=50_000)
    parser.add_argument("--naive-vocab", type=int, default=512)
    args = parser.parse_args()

    missing = [str(p) for p in args.corpora if not p.exists()]
    if missing:
        sys.exit(f"missing corpora {missing}: run python -m bench.make_corpora first")

    print(
        f"{'corpus':<10} {'MB':>6} {'vocab':>6} {'thr':>3} {'merges':>6} "
        f"{'median s':>9} {'MB/s':>7} {'peak MB':>8} {'B/byte':>7}"
    )
    for path in args.corpora:
        size = path.stat().st_size
        for vocab_size in args.vocab:
            for num_threads in args.threads:
                runs = [measure(path, vocab_size, num_threads) for _ in range(args.repeat)]
                seconds = statistics.median(r["seconds"] for r in runs)
                peak = statistics.median(r["peak"] for r in runs)
                print(
                    f"{path.stem:<10} {size / 1e6:>6.1f} {vocab_size:>6} {num_threads:>3} "
                    f"{runs[0]['merges']:>6} {seconds:>9.3f} {size / 1e6 / seconds:>7.1f} "
                    f"{peak / 1e6:>8.1f} {peak / size:>7.2f}",
                    flush=True,
                )

    prose = args.corpora[0].read_text(encoding="utf-8")
    nbytes, merges, naive_seconds, ours = naive_beside(prose, args.naive_prefix, args.naive_vocab)
    print(
        f"\nbaseline: naive recount (pure Python reference) on the first {nbytes:,} bytes "
        f"of {args.corpora[0].stem}, {merges} merges: {naive_seconds:.3f} s; "
        f"train on the same: {ours:.4f} s"
    )


if __name__ == "__main__":
    main()
