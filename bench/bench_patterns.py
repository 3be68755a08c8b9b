"""Tokenizers with a split pattern, beside tiktoken and Hugging Face, through the Python face.

    pip install '.[bench]'  &&  python -m bench.bench_patterns [--repeat 5]

Rows, medians of --repeat runs, the peers in the same run:
- encode (str in, list out, one thread) with the cl100k_base and o200k_base tables and patterns
  that bpe-openai ships, English and multilingual, against tiktoken's encode_ordinary; each run
  with a freshly loaded tokenizer, so the text is never one it has seen; ids compared;
- encode_batch of 64 KB chunks on 1 and 2 threads, against tiktoken's encode_ordinary_batch,
  with a fresh tokenizer each run and with one that has encoded the batch before ("warm"); the
  1- and 2-thread calls take turns call by call within a process, so that the machine's drift
  does not enter their ratio, the ratio of the medians (with the lists freed, as the other rows;
  in brackets that of the call alone). A process keeps a state of its own for all its calls
  (where its memory lies, as pyperf finds), so each row samples --batch-processes processes (5),
  the builds and the peer taking turns process by process, each process with its share of 3 x
  --repeat pairs and of BATCH_SECONDS (and more pairs until its share of the time has passed, so
  that a fast build is sampled over as long a stretch of the drift as a slow peer); the medians
  are over all the processes' calls, and the range of the processes' own ratios is shown too;
- train with "gpt2" to 8k, English and multilingual, 1 and 2 threads, against Hugging Face's
  byte-level BPE trainer (each in its own process: its thread count is fixed at start);
- compression: bytes per token on held-out text (the last tenth of each text), for our model
  and Hugging Face's, trained to the same size on the same text;
- with --gigabyte FOLDER: `tessaron train --pattern gpt2` to 32k on 1 GB of text files (the
  system's sources, headers, documentation and translations, made in FOLDER when missing)
  under /usr/bin/time -v: seconds and peak memory.
--baseline DIR times another build's tessaron_tools (e.g. `pip install --target DIR` of an
older checkout) beside this one; builds without Tokenizer.from_tiktoken get the table's rules
through tests/drivers/pretok_driver.cpp (built here with CMake).
"""

import argparse
import base64
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

from bench.bench_encode import english_text, translated_messages

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CHUNK = 64 << 10
LANGUAGES = ["ru", "uk", "bg", "zh_CN", "zh_TW", "ja", "ko", "de", "fr", "es", "pl", "cs", "el"]
DOMAINS = ["coreutils", "bash", "tar", "findutils", "grep", "sed", "diffutils", "dpkg", "apt"]


def multilingual_text():
    """The translated messages of the system's tools, in a fixed order: about 5 MB."""
    return translated_messages(LANGUAGES, DOMAINS)


TEXTS = {"English": english_text, "multilingual": multilingual_text}


def median_seconds(run, repeat, prepare=lambda: None):
    """Medians of wall and of CPU seconds: on a busy machine the CPU time of one thread is the
    steadier figure."""
    wall, cpu = [], []
    for _ in range(repeat):
        state = prepare()
        t, c = time.perf_counter(), time.process_time()
        run(state)
        wall.append(time.perf_counter() - t)
        cpu.append(time.process_time() - c)
    return {"seconds": statistics.median(wall), "cpu": statistics.median(cpu)}


def chunks_of(text):
    data = text.encode()
    return [data[i : i + CHUNK].decode("utf-8", "ignore") for i in range(0, len(data), CHUNK)]


def maker(table, folder):
    """A function making a fresh tokenizer of the table, and per id of ours tiktoken's id (None
    when they are the same)."""
    from tessaron_tools import Tokenizer

    encoding, ranks = tiktoken_encoding(table)
    if hasattr(Tokenizer, "from_tiktoken"):
        make = lambda: Tokenizer.from_tiktoken(ranks, encoding._pat_str)  # noqa: E731
        rank_of = None
    else:  # an earlier build: the model of the table's rules, ids mapped here
        model_path, rank_of = model_of_table(table, folder)
        make = lambda: Tokenizer.load(model_path)  # noqa: E731

    def fresh():
        # A tokenizer makes its ids' Python ints at its first list, once: not timed.
        tok = make()
        tok.encode(" ")
        return tok

    return fresh, rank_of


def child_encode(job, table, text_path):
    """Seconds of one thread encoding the text in this process (a fresh tokenizer each run), and
    whether the ids are tiktoken's."""
    with open(text_path, encoding="utf-8") as f:
        text = f.read()
    encoding, _ = tiktoken_encoding(table)
    if job == "tiktoken":
        seconds = median_seconds(lambda _: encoding.encode_ordinary(text), REPEAT)
        same = True
    else:
        fresh, rank_of = maker(table, os.path.dirname(text_path))
        seconds = median_seconds(lambda tok: tok.encode(text), REPEAT, fresh)
        ids = fresh().encode(text)
        if rank_of is not None:
            ids = [rank_of[i] for i in ids]
        same = ids == encoding.encode_ordinary(text)
    print(json.dumps({**seconds, "same": same}))


def child_batch(job, table, text_path, warm):
    """Seconds of this process's 1- and 2-thread batch calls taking turns, which goes first
    alternating; `warm` calls reuse one tokenizer that has encoded the batch before, the others a
    fresh one each."""
    with open(text_path, encoding="utf-8") as f:
        chunks = chunks_of(f.read())
    if job == "tiktoken":
        encoding, _ = tiktoken_encoding(table)
        prepare = lambda: None  # noqa: E731

        def call(_, threads):
            return encoding.encode_ordinary_batch(chunks, num_threads=threads)

    else:
        fresh, _ = maker(table, os.path.dirname(text_path))
        prepare = fresh
        if warm:
            tok = fresh()
            tok.encode_batch(chunks, threads=2)
            prepare = lambda: tok  # noqa: E731

        def call(tok, threads):
            return tok.encode_batch(chunks, threads=threads)

    # The lists are freed inside the timing, as a caller that drops them pays it too; the call
    # alone is timed as well.
    times = {threads: {"seconds": [], "cpu": [], "call": []} for threads in (1, 2)}
    start = time.perf_counter()
    pairs = -(-3 * REPEAT // BATCH_PROCESSES)
    k = 0
    while k < pairs or time.perf_counter() - start < BATCH_SECONDS / BATCH_PROCESSES:
        for threads in (1, 2) if k % 2 == 0 else (2, 1):
            state = prepare()
            t, c = time.perf_counter(), time.process_time()
            lists = call(state, threads)
            call_seconds = time.perf_counter() - t
            del lists
            times[threads]["seconds"].append(time.perf_counter() - t)
            times[threads]["cpu"].append(time.process_time() - c)
            times[threads]["call"].append(call_seconds)
        k += 1
    print(json.dumps(times))


def pooled_batch(processes):
    """Medians over the calls of all `processes` (as child_batch gives them), and the range of
    the processes' own ratios of 1- to 2-thread wall time."""
    pooled = {
        str(threads): {
            what: statistics.median(t for p in processes for t in p[str(threads)][what])
            for what in ("seconds", "cpu", "call")
        }
        for threads in (1, 2)
    }
    ratios = [
        statistics.median(p["1"]["seconds"]) / statistics.median(p["2"]["seconds"])
        for p in processes
    ]
    return {**pooled, "ratios": (min(ratios), max(ratios))}


def tiktoken_encoding(table):
    import bpe_openai
    import tiktoken

    source = bpe_openai.get_encoding(table)
    ranks = source._mergeable_ranks
    encoding = tiktoken.Encoding(
        table, pat_str=source._pat_str, mergeable_ranks=ranks, special_tokens={}
    )
    return encoding, ranks


def model_of_table(table, folder):
    """A model file of the table's rules and pattern, and per id of ours, tiktoken's id: for
    builds without Tokenizer.from_tiktoken."""
    from tests import pretok_driver

    _, ranks = tiktoken_encoding(table)
    rank_path = os.path.join(folder, f"{table}.tiktoken")
    with open(rank_path, "w") as f:
        for token, rank in ranks.items():
            f.write(f"{base64.b64encode(token).decode()} {rank}\n")
    model_path = os.path.join(folder, f"{table}.model")
    command = [pretok_driver.build(), "model-of-ranks", table.split("_")[0], rank_path, model_path]
    done = subprocess.run(command, capture_output=True, check=True)
    return model_path, [int(x) for x in done.stdout.split()]


def run_child(job, *args, baseline=None, threads=1):
    env = dict(
        os.environ,
        RAYON_NUM_THREADS=str(threads),
        BENCH_REPEAT=str(REPEAT),
        BENCH_BATCH_PROCESSES=str(BATCH_PROCESSES),
    )
    if baseline:
        env["PYTHONPATH"] = baseline
    command = [sys.executable, "-m", "bench.bench_patterns", "--child", job, *map(str, args)]
    done = subprocess.run(command, capture_output=True, text=True, env=env, cwd=ROOT)
    if done.returncode != 0:
        raise RuntimeError(done.stderr)
    return json.loads(done.stdout)


def encode_rows(texts, baseline, folder, single):
    print(
        "\nencode, str in, list out (one text: a freshly made tokenizer each run, which has "
        "never seen the text)"
    )
    text_paths = {}
    for name, text in texts.items():
        text_paths[name] = os.path.join(folder, f"{name}.txt")
        with open(text_paths[name], "w", encoding="utf-8") as f:
            f.write(text)
    builds = [("tessaron", None)] + ([("before", baseline)] if baseline else [])
    for table in ("cl100k_base", "o200k_base"):
        for name in texts if single else ():
            mb = len(texts[name].encode()) / 1e6
            got = {
                label: run_child("encode-tessaron", table, text_paths[name], baseline=where)
                for label, where in builds
            }
            peer = got["tiktoken"] = run_child("encode-tiktoken", table, text_paths[name])
            figures = "   ".join(f"{k} {mb / v['cpu']:6.1f} MB/s" for k, v in got.items())
            ratio = peer["cpu"] / got["tessaron"]["cpu"]
            same = "" if got["tessaron"]["same"] else "   IDS DIFFER"
            print(
                f"  {table:12} {name:13} {'one text, CPU':32} {figures}   {ratio:4.1f}x tiktoken"
                f"{same}"
            )
        batch_rows(table, text_paths["English"], len(texts["English"].encode()) / 1e6, builds)


def batch_rows(table, text_path, mb, builds):
    # Batches with a fresh tokenizer each call, then with one that has seen the batch (the
    # peer has nothing to warm: its figures of the fresh rows are shown again). The builds and
    # the peer take turns process by process.
    peer = None
    for warm in (False, True):
        jobs = [(label, "batch-tessaron", where) for label, where in builds]
        if peer is None:
            jobs.append(("tiktoken", "batch-tiktoken", None))
        runs = {label: [] for label, _, _ in jobs}
        for _ in range(BATCH_PROCESSES):
            for label, job, where in jobs:
                runs[label].append(run_child(job, table, text_path, int(warm), baseline=where))
        got = {label: pooled_batch(processes) for label, processes in runs.items()}
        peer = got.setdefault("tiktoken", peer)
        state = "warm" if warm else "fresh"
        for threads in ("1", "2"):
            what = f"batch 64 KB, {threads} thr, {state}, wall"
            figures = "   ".join(
                f"{k} {mb / v[threads]['seconds']:6.1f} MB/s" for k, v in got.items()
            )
            ratio = peer[threads]["seconds"] / got["tessaron"][threads]["seconds"]
            print(f"  {table:12} {'English':13} {what:32} {figures}   {ratio:4.1f}x tiktoken")
        # What the second thread costs beyond its share of the work: its CPU time above one
        # thread's, and the wall-time ratio, the figure a busy machine distorts (then that of
        # the call alone, without freeing the lists, and the range of the processes' own
        # ratios).
        extra = "   ".join(
            f"{k} CPU {100 * (v['2']['cpu'] / v['1']['cpu'] - 1):+5.1f} %, "
            f"{v['1']['seconds'] / v['2']['seconds']:4.2f}x wall "
            f"({v['1']['call'] / v['2']['call']:4.2f}x; processes "
            f"{v['ratios'][0]:4.2f}-{v['ratios'][1]:4.2f})"
            for k, v in got.items()
        )
        load = f"load average {os.getloadavg()[0]:.1f}"
        print(f"  {table:12} {'':13} {'2 threads against 1, ' + state:32} {extra}   ({load})")


# ---- training, each run in its own process ----


def child_train(job, text_path, held_out_path, vocab_size, threads):
    with open(text_path, encoding="utf-8") as f:
        text = f.read()
    with open(held_out_path, encoding="utf-8") as f:
        held_out = f.read()
    if job == "tessaron":
        from tessaron_tools import Tokenizer

        t = time.perf_counter()
        tok = Tokenizer.train(text, vocab_size, threads=threads, pattern="gpt2")
        seconds = time.perf_counter() - t
        size = len(tok)
        tokens = len(tok.encode(held_out))
    else:
        from bench.bench_pretok import hf_byte_level

        tok, trainer = hf_byte_level(vocab_size)
        t = time.perf_counter()
        tok.train_from_iterator([text], trainer=trainer)
        seconds = time.perf_counter() - t
        size = tok.get_vocab_size()
        tokens = len(tok.encode(held_out).ids)
    print(json.dumps({"seconds": seconds, "size": size, "tokens": tokens}))


def train_rows(texts, vocab_size, repeat, folder):
    print(f'\ntrain with "gpt2" to {vocab_size} (the first nine tenths of each text), and '
          "compression on the last tenth")  # fmt: skip
    for name, text in texts.items():
        cut = len(text) * 9 // 10
        text_path = os.path.join(folder, "train.txt")
        held_out_path = os.path.join(folder, "held_out.txt")
        with open(text_path, "w", encoding="utf-8") as f:
            f.write(text[:cut])
        with open(held_out_path, "w", encoding="utf-8") as f:
            f.write(text[cut:])
        train_mb = len(text[:cut].encode()) / 1e6
        held_bytes = len(text[cut:].encode())
        last = {}
        for threads in (1, 2):
            line = []
            for job in ("tessaron", "huggingface"):
                runs = [
                    run_child(
                        "train-" + job,
                        text_path,
                        held_out_path,
                        vocab_size,
                        threads,
                        threads=threads,
                    )  # fmt: skip
                    for _ in range(repeat)
                ]
                seconds = statistics.median(r["seconds"] for r in runs)
                last[job] = runs[-1]
                line.append(f"{job} {seconds:6.2f} s")
            print(f"  {name:13} {train_mb:.1f} MB, {threads} thread(s): " + "   ".join(line))
        ours, peer = last["tessaron"], last["huggingface"]
        ours_bpt = held_bytes / ours["tokens"]
        peer_bpt = held_bytes / peer["tokens"]
        print(
            f"  {name:13} compression: tessaron {ours_bpt:.3f} bytes/token "
            f"({ours['size']} ids), Hugging Face {peer_bpt:.3f} ({peer['size']} ids), "
            f"tessaron {100 * (ours_bpt / peer_bpt - 1):+.2f} %"
        )


GIGABYTE = 1 << 30
TEXT_SUFFIXES = {".py", ".h", ".hpp", ".c", ".txt", ".rst", ".html", ".md", ".mo", ".pyi"}
TEXT_ROOTS = ["/usr/include", "/usr/share/doc", "/usr/share/locale", "/usr/lib", "/root/.pyenv"]


def gigabyte_files(folder):
    """Ten files of text from the system, 1 GiB in all (repeated from the start if the system
    holds less)."""
    os.makedirs(folder, exist_ok=True)
    paths = [os.path.join(folder, f"part{k}.txt") for k in range(10)]
    if all(os.path.exists(p) for p in paths) and sum(map(os.path.getsize, paths)) == GIGABYTE:
        return paths
    sources = []
    for root in TEXT_ROOTS:
        for here, dirs, files in os.walk(root):
            dirs.sort()
            sources += [
                os.path.join(here, f)
                for f in sorted(files)
                if os.path.splitext(f)[1] in TEXT_SUFFIXES
            ]
    written, k = 0, 0
    part = open(paths[0], "wb")
    while written < GIGABYTE:
        for source in sources:
            try:
                with open(source, "rb") as f:
                    data = f.read()
            except OSError:
                continue
            while data and written < GIGABYTE:
                room = (k + 1) * GIGABYTE // 10 - written
                part.write(data[:room])
                written += min(room, len(data))
                data = data[room:]
                if written == (k + 1) * GIGABYTE // 10 and k < 9:
                    part.close()
                    k += 1
                    part = open(paths[k], "wb")
            if written >= GIGABYTE:
                break
    part.close()
    return paths


def gigabyte_row(folder, threads):
    paths = gigabyte_files(folder)
    out = os.path.join(folder, "out", "gb")
    command = ["/usr/bin/time", "-v", sys.executable, "-m", "tessaron_cli", "train", "-q"]
    command += ["--pattern", "gpt2", "-v", "32768", "-t", str(threads), "-o", out, *paths]
    load = os.getloadavg()[0]
    done = subprocess.run(command, capture_output=True, text=True)
    facts = dict(line.strip().split(": ", 1) for line in done.stderr.splitlines() if ": " in line)
    peak_gb = int(facts["Maximum resident set size (kbytes)"]) / (1 << 20)
    print(
        f"\ntessaron train --pattern gpt2 -v 32768 -t {threads}, 1 GiB in 10 files "
        f"(load average {load:.1f} before): exit {done.returncode}, "
        f"{facts['Elapsed (wall clock) time (h:mm:ss or m:ss)']} wall, "
        f"{float(facts['User time (seconds)']):.1f} s user, peak {peak_gb:.2f} GiB"
    )


# Runs of each timing in the children: --repeat, handed down.
REPEAT = int(os.environ.get("BENCH_REPEAT", "5"))
# The shortest stretch over which the batch rows' calls take turns, shared out among the
# processes of a row.
BATCH_SECONDS = 10
# The processes each batch row samples: --batch-processes, handed down.
BATCH_PROCESSES = int(os.environ.get("BENCH_BATCH_PROCESSES", "5"))

JOBS = {
    "encode-tessaron": lambda a: child_encode("tessaron", a[0], a[1]),
    "encode-tiktoken": lambda a: child_encode("tiktoken", a[0], a[1]),
    "batch-tessaron": lambda a: child_batch("tessaron", a[0], a[1], a[2] == "1"),
    "batch-tiktoken": lambda a: child_batch("tiktoken", a[0], a[1], a[2] == "1"),
    "train-tessaron": lambda a: child_train("tessaron", a[0], a[1], int(a[2]), int(a[3])),
    "train-huggingface": lambda a: child_train("huggingface", a[0], a[1], int(a[2]), int(a[3])),
}


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--child":
        JOBS[sys.argv[2]](sys.argv[3:])
        return
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--repeat", type=int, default=5)
    p.add_argument("--vocab-size", type=int, default=8192)
    p.add_argument(
        "--batch-processes",
        type=int,
        default=5,
        help="processes each batch row samples, the calls of all pooled (default 5)",
    )
    p.add_argument(
        "--skip",
        choices=["encode", "single", "train"],
        action="append",
        default=[],
        help="leave out a group of rows: all encoding, the one-text rows, or training",
    )
    p.add_argument("--gigabyte", metavar="FOLDER", help="also the 1 GiB training run, files here")
    p.add_argument(
        "--baseline",
        help="a folder holding another build's tessaron_tools, timed beside this one",
    )
    args = p.parse_args()
    global REPEAT, BATCH_PROCESSES
    REPEAT = args.repeat
    BATCH_PROCESSES = max(1, args.batch_processes)
    texts = {name: make() for name, make in TEXTS.items()}
    for name, text in texts.items():
        print(f"{name}: {len(text.encode()) / 1e6:.1f} MB")
    print(f"medians of {args.repeat}; load average now {os.getloadavg()[0]:.1f}")
    with tempfile.TemporaryDirectory() as folder:
        if "encode" not in args.skip:
            encode_rows(texts, args.baseline, folder, "single" not in args.skip)
        if "train" not in args.skip:
            train_rows(texts, args.vocab_size, args.repeat, folder)
    if args.gigabyte:
        gigabyte_row(args.gigabyte, 2)


if __name__ == "__main__":
    main()
