"""Encoding throughput, end to end from Python (str in, list out), beside the round-by-round
reference run on a prefix of the same text.

    python bench/bench_encode.py [--repeat 5] [--prefix 3000]

Texts, all built deterministically from files of the machine:
- English: the King James Bible as the `bible` program of Debian's bible-kjv package prints it
  (verse references removed); without it, the prose of Python's own pydoc topics, repeated.
- Multilingual: the translated messages (Cyrillic, Han, Latin scripts) of the GNU tools every
  Debian system has, read from their gettext catalogs.
- Pathological: one byte repeated 10 MB, and two bytes alternating for 10 MB.

Models are trained by tessaron itself to 1k, 8k and 32k tokens and kept in bench/data/ so that
later runs only load them. The machine is shared: figures are medians and still noisy.
"""

import argparse
import gettext
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

import tessaron

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data")
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
from reference.encode import encode as reference_encode  # noqa: E402


def english_text():
    if shutil.which("bible"):
        out = subprocess.run(
            ["bible", "-f", "Gen1:1-Rev22:21"], capture_output=True, check=True, text=True
        ).stdout
        lines = [line.split(" ", 1)[1] if " " in line else line for line in out.splitlines()]
        return "kjv", "\n".join(lines) + "\n"
    import pydoc_data.topics as topics

    prose = "\n".join(topics.topics[key] for key in sorted(topics.topics))
    return "pydoc", (prose * (4_000_000 // len(prose) + 1))[:4_000_000]


def multilingual_text():
    parts = []
    for lang in ["ru", "uk", "zh_CN", "zh_TW", "ja", "de", "fr", "es", "pl"]:
        for domain in ["coreutils", "bash", "tar", "findutils", "grep", "sed", "diffutils", "dpkg"]:
            path = f"/usr/share/locale/{lang}/LC_MESSAGES/{domain}.mo"
            if not os.path.exists(path):
                continue
            with open(path, "rb") as f:
                catalog = gettext.GNUTranslations(f)._catalog
            for key in sorted(k for k in catalog if isinstance(k, str) and k):
                if isinstance(catalog[key], str):
                    parts.append(catalog[key])
    return "gettext", "\n".join(parts)


def model(name, text, vocab_size):
    os.makedirs(DATA, exist_ok=True)
    path = os.path.join(DATA, f"{name}-{vocab_size}.model")
    tokenizer = tessaron.BasicTokenizer()
    if os.path.exists(path):
        tokenizer.load(path)
        return tokenizer, 0.0
    start = time.perf_counter()
    tokenizer.train(text, vocab_size)
    seconds = time.perf_counter() - start
    tokenizer.save_model(path)
    return tokenizer, seconds


def merges_of(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    count = int(lines[2])
    merges = {}
    for k, line in enumerate(line for line in lines[3 + count :] if line):
        left, right = line.split()
        merges[(int(left), int(right))] = 256 + k
    return merges


def median_seconds(run, repeat):
    """Median wall and process-CPU seconds: on a shared machine the CPU figure is the steadier."""
    wall, cpu = [], []
    for _ in range(repeat):
        start, start_cpu = time.perf_counter(), time.process_time()
        run()
        wall.append(time.perf_counter() - start)
        cpu.append(time.process_time() - start_cpu)
    return statistics.median(wall), statistics.median(cpu)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--prefix", type=int, default=3000, help="bytes for the reference")
    args = parser.parse_args()

    en_source, english = english_text()
    ml_source, multilingual = multilingual_text()
    texts = {
        f"english ({en_source})": english,
        f"multilingual ({ml_source})": multilingual,
        "one byte x 10 MB": "a" * 10_000_000,
        "two bytes alternating 10 MB": "ab" * 5_000_000,
    }
    models = {}
    for name, text, size in [
        ("en", english, 1000),
        ("en", english, 8000),
        ("en", english, 32000),
        ("ml", multilingual, 8000),
        ("runs", "a" * 4096 + "ab" * 4096, 300),
    ]:
        tokenizer, seconds = model(name, text, size)
        models[f"{name}-{size}"] = tokenizer
        if seconds:
            print(f"trained {name}-{size} in {seconds:.1f} s")
    cases = [
        ("en-1000", f"english ({en_source})"),
        ("en-8000", f"english ({en_source})"),
        ("en-32000", f"english ({en_source})"),
        ("ml-8000", f"multilingual ({ml_source})"),
        ("en-8000", f"multilingual ({ml_source})"),
        ("en-8000", "one byte x 10 MB"),
        ("en-8000", "two bytes alternating 10 MB"),
        ("runs-300", "one byte x 10 MB"),
        ("runs-300", "two bytes alternating 10 MB"),
    ]
    print(
        f"median of {args.repeat} runs; reference on the first {args.prefix} bytes; "
        "shared machine, expect noise"
    )
    print(
        f"{'model':<9} {'text':<30} {'MB':>6} {'tokens':>9} {'encode MB/s':>12} "
        f"{'(cpu)':>7} {'reference MB/s':>15}  same"
    )
    for model_name, text_name in cases:
        tokenizer = models[model_name]
        text = texts[text_name]
        size = len(text.encode())
        ids = tokenizer.encode(text)
        seconds, cpu_seconds = median_seconds(lambda: tokenizer.encode(text), args.repeat)
        prefix = text.encode()[: args.prefix].decode("utf-8", errors="ignore")
        merges = merges_of(os.path.join(DATA, f"{model_name}.model"))
        start = time.perf_counter()
        expected = reference_encode(merges, prefix.encode())
        ref_seconds = time.perf_counter() - start
        same = tokenizer.encode(prefix) == expected
        print(
            f"{model_name:<9} {text_name:<30} {size / 1e6:6.2f} {len(ids):9d} "
            f"{size / seconds / 1e6:12.1f} {size / cpu_seconds / 1e6:7.1f} "
            f"{len(prefix.encode()) / ref_seconds / 1e6:15.4f}  "
            f"{'yes' if same else 'NO'}"
        )
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"peak resident memory of the run: {peak:.0f} MiB")


if __name__ == "__main__":
    main()
