"""Encoding and loading speed, end to end from Python (str in, list out), for this build and,
side by side in the same run, a baseline build installed in another interpreter.

    python -m bench.bench_encode [--repeat 5] [--baseline /path/to/old/venv/bin/python]

Each row is measured by two worker processes, this build's and the baseline's, taking turns
run by run, so that a neighbour on a shared machine slows both alike; the figures are medians
of wall time and of process CPU time (the steadier one while the machine is busy). Every row
also checks that both builds give the same ids, and that this one matches the round-by-round
reference on a prefix of the text.

Texts, all built deterministically from files of the machine:
- English: the King James Bible as the `bible` program of Debian's bible-kjv package prints it
  (verse references removed); without it, the prose of Python's own pydoc topics, repeated.
- Multilingual: the translated messages (Cyrillic, Han, Latin scripts) of the GNU tools every
  Debian system has, read from their gettext catalogs.
- Mixed: bench/data/mixed.txt of `bench/make_corpora.py` (made here when missing), 50 MB.
- Pathological: one byte repeated 10 MB, and two bytes alternating for 10 MB.

Models are trained by tessaron itself and kept in bench/data/ so that later runs only load
them: English to 1k, 8k and 32k tokens, multilingual to 8k, the mixed text to 32k and 100k, a
model of long runs, and a million random rules whose parts are earlier tokens.
"""

import argparse
import gettext
import hashlib
import json
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import time
from array import array

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data")

# (label, model, text): rows of encoding.
ENCODE_ROWS = [
    ("English prose, 1k model", "en-1000", "english"),
    ("English prose, 8k model", "en-8000", "english"),
    ("English prose, 32k model", "en-32000", "english"),
    ("multilingual, 8k model", "ml-8000", "multilingual"),
    ("multilingual, English 8k model", "en-8000", "multilingual"),
    ("49 MB mixed text, 32k model", "mixed-32000", "mixed"),
    ("English prose, 100k mixed model", "mixed-100000", "english"),
    ("multilingual, 100k mixed model", "mixed-100000", "multilingual"),
    ("one byte x 10 MB, 8k model", "en-8000", "one byte"),
    ("two bytes alternating 10 MB, 8k", "en-8000", "two bytes"),
    ("one byte x 10 MB, runs model", "runs-300", "one byte"),
    ("two bytes alternating, runs model", "runs-300", "two bytes"),
]
# (label, model): rows of loading.
LOAD_ROWS = [
    ("load of a 32k model", "en-32000"),
    ("load of a million rules", "million"),
]


def english_text():
    if shutil.which("bible"):
        out = subprocess.run(
            ["bible", "-f", "Gen1:1-Rev22:21"], capture_output=True, check=True, text=True
        ).stdout
        lines = [line.split(" ", 1)[1] if " " in line else line for line in out.splitlines()]
        return "\n".join(lines) + "\n"
    import pydoc_data.topics as topics

    prose = "\n".join(topics.topics[key] for key in sorted(topics.topics))
    return (prose * (4_000_000 // len(prose) + 1))[:4_000_000]


def translated_messages(languages, domains):
    """The messages of the system's tools translated into `languages`, in a fixed order."""
    parts = []
    for lang in languages:
        for domain in domains:
            path = f"/usr/share/locale/{lang}/LC_MESSAGES/{domain}.mo"
            if not os.path.exists(path):
                continue
            with open(path, "rb") as f:
                catalog = gettext.GNUTranslations(f)._catalog
            for key in sorted(k for k in catalog if isinstance(k, str) and k):
                if isinstance(catalog[key], str):
                    parts.append(catalog[key])
    return "\n".join(parts)


def multilingual_text():
    return translated_messages(
        ["ru", "uk", "zh_CN", "zh_TW", "ja", "de", "fr", "es", "pl"],
        ["coreutils", "bash", "tar", "findutils", "grep", "sed", "diffutils", "dpkg"],
    )


def mixed_text():
    path = os.path.join(DATA, "mixed.txt")
    if not os.path.exists(path):
        subprocess.run([sys.executable, os.path.join(HERE, "make_corpora.py")], check=True)
    with open(path, encoding="utf-8") as f:
        return f.read()


TEXTS = {
    "english": english_text,
    "multilingual": multilingual_text,
    "mixed": mixed_text,
    "one byte": lambda: "a" * 10_000_000,
    "two bytes": lambda: "ab" * 5_000_000,
}
# name -> (text, vocabulary size)
TRAINED = {
    "en-1000": ("english", 1000),
    "en-8000": ("english", 8000),
    "en-32000": ("english", 32000),
    "ml-8000": ("multilingual", 8000),
    "mixed-32000": ("mixed", 32000),
    "mixed-100000": ("mixed", 100000),
}


def million_rules(path):
    # Parts are single bytes more often than not, as in trained models, so tokens stay short.
    rnd = random.Random(7)

    def part(k):
        return rnd.randrange(256) if k == 0 or rnd.random() < 0.6 else 256 + rnd.randrange(k)

    lines = [f"{part(k)} {part(k)}" for k in range(1_000_000)]
    with open(path, "w", encoding="utf-8") as f:
        f.write("tessaron v1\n\n0\n" + "\n".join(lines) + "\n")


def model_path(name, text_of):
    """The model file, made by this build when missing (never by the baseline)."""
    import tessaron

    os.makedirs(DATA, exist_ok=True)
    path = os.path.join(DATA, f"{name}.model")
    if os.path.exists(path):
        return path
    if name == "million":
        million_rules(path)
    elif name == "runs-300":
        tokenizer = tessaron.BasicTokenizer()
        tokenizer.train("a" * 4096 + "ab" * 4096, 300)
        tokenizer.save_model(path)
    else:
        text_name, size = TRAINED[name]
        tokenizer = tessaron.BasicTokenizer()
        start = time.perf_counter()
        tokenizer.train(text_of(text_name), size)
        print(f"trained {name} in {time.perf_counter() - start:.1f} s", file=sys.stderr)
        tokenizer.save_model(path)
    return path


def worker():
    """Answers one JSON request a line on stdin: a single timed run, or the digest of ids."""
    import tessaron

    texts, models = {}, {}

    def text(name):
        if name not in texts:
            texts[name] = TEXTS[name]()
        return texts[name]

    def model(name):
        if name not in models:
            models[name] = tessaron.BasicTokenizer()
            models[name].load(os.path.join(DATA, f"{name}.model"))
        return models[name]

    for line in sys.stdin:
        request = json.loads(line)
        op = request["op"]
        if op == "digest":
            ids = model(request["model"]).encode(text(request["text"]))
            reply = {"digest": hashlib.sha1(array("Q", ids).tobytes()).hexdigest(), "n": len(ids)}
        elif op == "encode":
            tokenizer, data = model(request["model"]), text(request["text"])
            start, start_cpu = time.perf_counter(), time.process_time()
            tokenizer.encode(data)
            reply = {"wall": time.perf_counter() - start, "cpu": time.process_time() - start_cpu}
        elif op == "load":
            path = os.path.join(DATA, f"{request['model']}.model")
            tokenizer = tessaron.BasicTokenizer()
            start, start_cpu = time.perf_counter(), time.process_time()
            tokenizer.load(path)
            reply = {"wall": time.perf_counter() - start, "cpu": time.process_time() - start_cpu}
            del tokenizer
        elif op == "batch":
            import tessaron_tools

            if "tools" not in models:
                models["tools"] = tessaron_tools.Tokenizer.load(
                    os.path.join(DATA, f"{request['model']}.model")
                )
                data = text(request["text"])
                step = len(data) // 1000 + 1
                texts["documents"] = [data[i : i + step] for i in range(0, len(data), step)]
            tokenizer, documents = models["tools"], texts["documents"]
            start, start_cpu = time.perf_counter(), time.process_time()
            tokenizer.encode_batch(documents, threads=request["threads"])
            reply = {"wall": time.perf_counter() - start, "cpu": time.process_time() - start_cpu}
        elif op == "drop":
            texts.pop(request.get("text"), None)
            models.pop(request.get("model"), None)
            reply = {}
        else:
            reply = {"peak_mib": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024}
        print(json.dumps(reply), flush=True)


class Worker:
    def __init__(self, python):
        self.process = subprocess.Popen(
            [python, os.path.abspath(__file__), "--worker"],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            text=True,
            cwd="/",  # so that the baseline imports its own installed tessaron
        )

    def ask(self, **request):
        self.process.stdin.write(json.dumps(request) + "\n")
        self.process.stdin.flush()
        line = self.process.stdout.readline()
        if not line:
            raise SystemExit(f"worker {self.process.args[0]} stopped")
        return json.loads(line)

    def close(self):
        self.process.stdin.close()
        self.process.wait()


def timed(workers, repeat, **request):
    """Per worker: medians of wall and CPU seconds, the workers taking turns."""
    runs = [[] for _ in workers]
    for _ in range(repeat):
        for k, w in enumerate(workers):
            runs[k].append(w.ask(**request))
    return [
        (statistics.median(r["wall"] for r in rs), statistics.median(r["cpu"] for r in rs))
        for rs in runs
    ]


def parallel_rows(workers, pythons, names, repeat, text_of):
    """The second face's batches and the command line's jobs: 2 threads against 1, per build,
    the builds taking turns. Wall seconds with CPU seconds in brackets."""
    heads = "".join(f"{n + ' 1 s':>16} {n + ' 2 s':>16} {'2 vs 1':>7}" for n in names)
    print(f"{'parallel':<36} {'MB':>6} {'':>9}{heads}")

    def row(label, size, run, count):
        runs = [{1: [], 2: []} for _ in workers]
        for _ in range(count):
            for k in range(len(workers)):
                for n in (1, 2):
                    runs[k][n].append(run(k, n))
        figures = ""
        for r in runs:
            one = [statistics.median(x[i] for x in r[1]) for i in (0, 1)]
            two = [statistics.median(x[i] for x in r[2]) for i in (0, 1)]
            figures += f"{one[0]:8.3f} ({one[1]:5.2f}) {two[0]:8.3f} ({two[1]:5.2f}) "
            figures += f"{one[0] / two[0]:6.2f}x"
        print(f"{label:<36} {size / 1e6:6.2f} {'':>9}{figures}", flush=True)

    def batch(k, threads):
        request = {"op": "batch", "model": "en-8000", "text": "english", "threads": threads}
        reply = workers[k].ask(**request)
        return reply["wall"], reply["cpu"]

    row("encode_batch, 1,000 documents, 8k", len(text_of("english").encode()), batch, repeat)

    path = os.path.join(DATA, "mixed.txt")
    model = os.path.join(DATA, "mixed-32000.model")
    clis = [shutil.which("tessaron", path=os.path.dirname(p)) for p in pythons]

    def jobs(k, n):
        command = [clis[k], "encode", "-q", "-m", model, "--jobs", str(n), path]
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
        wall = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
        return wall, cpu

    # 50 MB a run: half as many runs.
    row("tessaron encode --jobs, mixed 32k", os.path.getsize(path), jobs, max(1, repeat // 2))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--prefix", type=int, default=3000, help="bytes for the reference")
    parser.add_argument("--baseline", help="a Python with the baseline build of tessaron")
    parser.add_argument("--only", help="run only the rows whose label holds this text")
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.worker:
        worker()
        return

    import tessaron
    from tests.reference.encode import encode as reference_encode
    from tests.reference.encode import merges_from_lines

    cache = {}

    def text_of(name):
        if name not in cache:
            cache[name] = TEXTS[name]()
        return cache[name]

    encode_rows = [r for r in ENCODE_ROWS if not args.only or args.only in r[0]]
    load_rows = [r for r in LOAD_ROWS if not args.only or args.only in r[0]]
    for name in {r[1] for r in encode_rows} | {r[1] for r in load_rows}:
        model_path(name, text_of)

    workers = [Worker(sys.executable)]
    if args.baseline:
        workers.append(Worker(args.baseline))
    names = ["new", "old"][: len(workers)]
    print(
        f"median of {args.repeat} runs, builds taking turns; MB/s from wall time, (cpu) from "
        "process CPU time; shared machine, expect noise"
    )
    columns = "".join(f"{n + ' MB/s':>10} {'(cpu)':>7}" for n in names)
    print(f"{'encode':<36} {'MB':>6} {'ids':>9}{columns}  same")
    for label, model, text_name in encode_rows:
        data = text_of(text_name).encode()
        digests = [w.ask(op="digest", model=model, text=text_name) for w in workers]
        times = timed(workers, args.repeat, op="encode", model=model, text=text_name)
        prefix = data[: args.prefix].decode("utf-8", errors="ignore")
        with open(os.path.join(DATA, f"{model}.model"), encoding="utf-8") as f:
            lines = f.read().split("\n")
        specials = int(lines[2])
        rules = merges_from_lines(tuple(map(int, x.split())) for x in lines[3 + specials :] if x)
        tokenizer = tessaron.BasicTokenizer()
        tokenizer.load(os.path.join(DATA, f"{model}.model"))
        same = tokenizer.encode(prefix) == reference_encode(rules, prefix.encode())
        same &= all(d == digests[0] for d in digests)
        figures = "".join(
            f"{len(data) / wall / 1e6:10.1f} {len(data) / cpu / 1e6:7.1f}" for wall, cpu in times
        )
        print(
            f"{label:<36} {len(data) / 1e6:6.2f} {digests[0]['n']:9d}{figures}  "
            f"{'yes' if same else 'NO'}",
            flush=True,
        )
        if text_name == "mixed":
            for w in workers:
                w.ask(op="drop", text="mixed")
    if not args.only or "batch" in args.only or "jobs" in args.only:
        pythons = [sys.executable] + ([args.baseline] if args.baseline else [])
        parallel_rows(workers, pythons, names, args.repeat, text_of)
    columns = "".join(f"{n + ' ms':>10} {'(cpu)':>7}" for n in names)
    print(f"{'load':<36} {'MB':>6} {'rules':>9}{columns}")
    for label, model in load_rows:
        path = os.path.join(DATA, f"{model}.model")
        times = timed(workers, args.repeat, op="load", model=model)
        with open(path, encoding="utf-8") as f:
            rules = sum(1 for _ in f) - 3
        figures = "".join(f"{wall * 1e3:10.0f} {cpu * 1e3:7.0f}" for wall, cpu in times)
        print(f"{label:<36} {os.path.getsize(path) / 1e6:6.2f} {rules:9d}{figures}", flush=True)
    peaks = [w.ask(op="peak")["peak_mib"] for w in workers]
    print("peak resident memory of the workers: " + ", ".join(f"{p:.0f} MiB" for p in peaks))
    for w in workers:
        w.close()


if __name__ == "__main__":
    main()
