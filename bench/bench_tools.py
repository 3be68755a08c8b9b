"""The second face beside the first, in one run: training (lock released, with and without a
progress callback), encoding one by one and in batches on 1 and 2 threads, and how soon
Ctrl-C stops a training run.

    python -m bench.bench_tools [--repeat 5] [--vocab-size 8192]

The English text is the one of bench_encode.py. The machine is shared: figures are medians
and still noisy.
"""

import argparse
import os
import signal
import statistics
import subprocess
import sys
import time

from bench.bench_encode import english_text
from tessaron import BasicTokenizer
from tessaron_tools import Tokenizer


def median_seconds(call, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


INTERRUPTED = r"""
import os, sys, time
from tessaron_tools import Tokenizer
said = []
def progress(done, wanted):
    if done and not said:
        said.append(1)
        print("training", flush=True)
try:
    Tokenizer.train(os.urandom(1 << 21) * 4, 10**9, progress=progress)
except KeyboardInterrupt:
    print(time.monotonic(), flush=True)
"""


def interrupt_latency():
    """Seconds from SIGINT to KeyboardInterrupt in a training child, once merging."""
    child = subprocess.Popen([sys.executable, "-c", INTERRUPTED], stdout=subprocess.PIPE, text=True)
    child.stdout.readline()
    time.sleep(1.0)
    sent = time.monotonic()
    os.kill(child.pid, signal.SIGINT)
    caught = float(child.stdout.readline())
    child.wait()
    return caught - sent


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--vocab-size", type=int, default=8192)
    args = parser.parse_args()
    text = english_text()
    mb = len(text.encode()) / 1e6
    print(f"English text, {mb:.1f} MB; medians of {args.repeat}; the machine is shared\n")

    def basic_train():
        BasicTokenizer(1).train(text, args.vocab_size)

    rows = [
        ("BasicTokenizer(1).train", basic_train),
        ("Tokenizer.train", lambda: Tokenizer.train(text, args.vocab_size)),
        (
            "Tokenizer.train, progress",
            lambda: Tokenizer.train(text, args.vocab_size, progress=lambda d, w: None),
        ),
    ]
    print(f"training to {args.vocab_size}")
    for label, call in rows:
        seconds = median_seconds(call, args.repeat)
        print(f"  {label:34} {seconds:6.2f} s  {mb / seconds:6.1f} MB/s")

    tok = Tokenizer.train(text, args.vocab_size)
    basic = BasicTokenizer()
    basic.train(text, args.vocab_size)
    # Documents of about 4 KB, cut at line ends.
    documents, start = [], 0
    while start < len(text):
        end = text.find("\n", start + 4000)
        end = len(text) if end < 0 else end + 1
        documents.append(text[start:end])
        start = end
    assert tok.encode_batch(documents[:50]) == [basic.encode(d) for d in documents[:50]]
    rows = [
        ("BasicTokenizer.encode, one by one", lambda: [basic.encode(d) for d in documents]),
        ("Tokenizer.encode, one by one", lambda: [tok.encode(d) for d in documents]),
        ("Tokenizer.encode_batch, 1 thread", lambda: tok.encode_batch(documents, threads=1)),
        ("Tokenizer.encode_batch, 2 threads", lambda: tok.encode_batch(documents, threads=2)),
    ]
    print(f"\nencoding {len(documents)} documents of about 4 KB")
    for label, call in rows:
        seconds = median_seconds(call, args.repeat)
        print(f"  {label:34} {seconds:6.3f} s  {mb / seconds:6.1f} MB/s")

    latencies = [interrupt_latency() for _ in range(args.repeat)]
    median = statistics.median(latencies)
    print(f"\nCtrl-C to KeyboardInterrupt while training: median {median:.3f} s,", end=" ")
    print(f"longest {max(latencies):.3f} s")


if __name__ == "__main__":
    main()
