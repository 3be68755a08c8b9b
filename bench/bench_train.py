"""Training benchmark: wall seconds, CPU seconds (every thread of the process) and peak
memory of BasicTokenizer.train, one thread and two side by side, beside the peers on the
same text. On a busy machine the wall times stretch with the load; the CPU times less so.

Each measured run happens in a fresh interpreter: it loads the corpus, notes its resident
memory, resets the kernel's peak-memory mark (/proc/self/clear_refs), trains, and reads
the peak back (VmHWM). Peak memory is that peak minus the memory before training, so the
interpreter and the loaded text are not counted; the UTF-8 copy that Python keeps for a
non-ASCII str is. Medians of --repeat runs are printed.

--baseline DIR puts an older build of the module (a directory holding its tessaron*.so)
beside this one, measured in the same run. When the bench extra is installed, Hugging Face
tokenizers (byte-level BPE on lines) and sentencepiece (BPE, 2 threads) train on the same
text; both count only inside words, an easier job.

Beside it, the naive recount-everything algorithm (the pure-Python reference in
tests/reference/train.py) and train itself learn the same merges from a small prefix of
the prose corpus.

Make the corpora first: python -m bench.make_corpora
Run: python -m bench.bench_train [--repeat 3] [--vocab 8192 32768] [--baseline DIR]
"""

import argparse
import importlib.util
import json
import os
import pathlib
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent

PEAK = r"""
import json, resource, sys, time

def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    return None

def measure(run):
    before = status("VmRSS")
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    start = time.perf_counter()
    cpu = time.process_time()
    run()
    seconds = time.perf_counter() - start
    cpu = time.process_time() - cpu
    peak = status("VmHWM") or resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    print(json.dumps({"seconds": seconds, "cpu": cpu, "peak": peak - before}))
"""

JOBS = {
    "tessaron": PEAK
    + r"""
from tessaron import BasicTokenizer
path, vocab_size, threads = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with open(path, encoding="utf-8") as f:
    text = f.read()
tok = BasicTokenizer(threads)
measure(lambda: tok.train(text, vocab_size))
""",
    "tokenizers": PEAK
    + r"""
from tokenizers import Tokenizer, decoders, models, pre_tokenizers, trainers
path, vocab_size, threads = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with open(path, encoding="utf-8") as f:
    lines = f.read().splitlines(keepends=True)
tok = Tokenizer(models.BPE())
tok.pre_tokenizer = pre_tokenizers.ByteLevel(add_prefix_space=False, use_regex=False)
tok.decoder = decoders.ByteLevel()
trainer = trainers.BpeTrainer(vocab_size=vocab_size, min_frequency=0, show_progress=False,
                              initial_alphabet=pre_tokenizers.ByteLevel.alphabet())
measure(lambda: tok.train_from_iterator(lines, trainer=trainer))
""",
    "sentencepiece": PEAK
    + r"""
import os, tempfile
import sentencepiece as spm
path, vocab_size, threads = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
prefix = os.path.join(tempfile.mkdtemp(), "sp")
measure(lambda: spm.SentencePieceTrainer.train(
    input=path, model_prefix=prefix, model_type="bpe", vocab_size=vocab_size,
    byte_fallback=True, character_coverage=1.0, split_by_whitespace=False,
    split_by_unicode_script=False, split_by_number=False, split_digits=False,
    max_sentence_length=1 << 24, input_sentence_size=0, normalization_rule_name="identity",
    remove_extra_whitespaces=False, add_dummy_prefix=False, allow_whitespace_only_pieces=True,
    hard_vocab_limit=False, num_threads=threads, minloglevel=2))
""",
}


def measure(job, path, vocab_size, threads, module_dir=None):
    env = dict(os.environ)
    if module_dir:
        env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, env.get("PYTHONPATH")]))
    result = subprocess.run(
        [sys.executable, "-c", JOBS[job], str(path), str(vocab_size), str(threads)],
        capture_output=True,
        text=True,
        check=True,
        env=env,
    )
    return json.loads(result.stdout.splitlines()[-1])


def medians(runs):
    return (
        statistics.median(r["seconds"] for r in runs),
        statistics.median(r["cpu"] for r in runs),
        statistics.median(r["peak"] for r in runs),
    )


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
    parser.add_argument("--vocab", nargs="+", type=int, default=[8192, 32768])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--baseline", help="directory holding an older tessaron*.so")
    parser.add_argument("--no-peers", action="store_true")
    parser.add_argument("--naive-prefix", type=int, default=50_000)
    parser.add_argument("--naive-vocab", type=int, default=512)
    args = parser.parse_args()

    missing = [str(p) for p in args.corpora if not p.exists()]
    if missing:
        sys.exit(f"missing corpora {missing}: run python -m bench.make_corpora first")
    builds = [("this build", None)]
    if args.baseline:
        builds.append(("baseline", args.baseline))
    peers = (
        []
        if args.no_peers
        else [p for p in ("tokenizers", "sentencepiece") if importlib.util.find_spec(p)]
    )

    print(
        f"{'corpus':<8} {'MB':>5} {'vocab':>6} {'build':<26} {'1 thr s':>8} {'2 thr s':>8} "
        f"{'x':>5} {'1 thr cpu':>9} {'2 thr cpu':>9} {'B/byte 1':>9} {'B/byte 2':>9}"
    )
    for path in args.corpora:
        size = path.stat().st_size
        for vocab_size in args.vocab:
            lines = {}
            for _ in range(args.repeat):
                # Interleaved, so that a busy machine slows every build alike.
                for label, module_dir in builds:
                    for threads in (1, 2):
                        lines.setdefault((label, threads), []).append(
                            measure("tessaron", path, vocab_size, threads, module_dir)
                        )
                for peer in peers:
                    lines.setdefault((peer, 2), []).append(measure(peer, path, vocab_size, 2))
            for label, _ in builds:
                s1, c1, p1 = medians(lines[(label, 1)])
                s2, c2, p2 = medians(lines[(label, 2)])
                print(
                    f"{path.stem:<8} {size / 1e6:>5.1f} {vocab_size:>6} {label:<26} "
                    f"{s1:>8.3f} {s2:>8.3f} {s1 / s2:>5.2f} {c1:>9.3f} {c2:>9.3f} "
                    f"{p1 / size:>9.2f} {p2 / size:>9.2f}",
                    flush=True,
                )
            for peer in peers:
                s2, c2, p2 = medians(lines[(peer, 2)])
                print(
                    f"{path.stem:<8} {size / 1e6:>5.1f} {vocab_size:>6} "
                    f"{peer + ' (pre-split)':<26} {'':>8} {s2:>8.3f} {'':>5} {'':>9} "
                    f"{c2:>9.3f} {'':>9} {p2 / size:>9.2f}",
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
