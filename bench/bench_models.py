"""Using existing models: loading the published cl100k and o200k tables and encoding with
them, beside tiktoken (and Hugging Face tokenizers for tokenizer.json) in the same run.

    pip install '.[bench]'  &&  python -m bench.bench_models [--repeat 5]

Rank tables come from the bpe-openai package (nothing is downloaded). Every row is the median
of --repeat runs (Hugging Face's encode: one run), wall and CPU seconds of this process;
encoding is one thread, str in, list out, the texts of bench_encode (English prose,
multilingual messages). A row also says whether the ids were identical to tiktoken's.
--baseline DIR times another build's from_tiktoken (e.g. `pip install --target DIR` of an
older checkout, or a folder holding its .so files) in a child process beside this one's.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

from bench.bench_encode import english_text, multilingual_text


def timed(run, repeat):
    walls, cpus, result = [], [], None
    for _ in range(repeat):
        w, c = time.perf_counter(), time.process_time()
        result = run()
        walls.append(time.perf_counter() - w)
        cpus.append(time.process_time() - c)
    return statistics.median(walls), statistics.median(cpus), result


def child_load(name, rank_path, repeat):
    """Seconds of from_tiktoken from the dict and from the rank file, in this process."""
    import bpe_openai

    from tessaron_tools import Tokenizer

    source = bpe_openai.get_encoding(name)
    ranks, pattern = source._mergeable_ranks, name.split("_")[0]
    rows = {
        "dict": timed(lambda: Tokenizer.from_tiktoken(ranks, pattern), repeat)[:2],
        "rank file": timed(lambda: Tokenizer.from_tiktoken(rank_path, pattern), repeat)[:2],
    }
    print(json.dumps(rows))


def baseline_load(baseline, name, rank_path, repeat):
    env = dict(os.environ, PYTHONPATH=baseline)
    command = [sys.executable, "-m", "bench.bench_models", "--child-load", name, rank_path]
    command += [str(repeat)]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    done = subprocess.run(command, capture_output=True, text=True, env=env, cwd=root)
    if done.returncode != 0:
        raise RuntimeError(done.stderr)
    return json.loads(done.stdout)


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--child-load":
        child_load(sys.argv[2], sys.argv[3], int(sys.argv[4]))
        return
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--repeat", type=int, default=5)
    p.add_argument("--baseline", help="a folder holding another build's tessaron_tools")
    args = p.parse_args()

    import bpe_openai
    import tiktoken
    import tokenizers

    from tessaron_tools import Tokenizer

    texts = {"English": english_text(), "multilingual": multilingual_text()}
    print(f"{'job':58} {'wall s':>8} {'cpu s':>8} {'MB/s cpu':>9}  ids")
    folder = tempfile.mkdtemp()
    for name in ["cl100k_base", "o200k_base"]:
        source = bpe_openai.get_encoding(name)
        ranks, pattern = source._mergeable_ranks, name.split("_")[0]

        def row(job, seconds, size=None, same=""):
            wall, cpu = seconds
            rate = f"{size / 1e6 / cpu:9.1f}" if size else " " * 9
            print(f"{name + ': ' + job:58} {wall:8.3f} {cpu:8.3f} {rate}  {same}", flush=True)

        w, c, ours = timed(lambda: Tokenizer.from_tiktoken(ranks, pattern), args.repeat)
        row("tessaron from_tiktoken(dict)", (w, c))
        w, c, theirs = timed(
            lambda: tiktoken.Encoding(
                name, pat_str=source._pat_str, mergeable_ranks=ranks, special_tokens={}
            ),
            args.repeat,
        )
        row("tiktoken Encoding(dict)", (w, c))
        rank_path = os.path.join(folder, f"{name}.tiktoken")
        ours.to_tiktoken(rank_path)
        w, c, _ = timed(lambda: Tokenizer.from_tiktoken(rank_path, pattern), args.repeat)
        row("tessaron from_tiktoken(rank file)", (w, c))
        if args.baseline:
            before = baseline_load(args.baseline, name, rank_path, args.repeat)
            for source_kind, seconds in before.items():
                row(f"baseline from_tiktoken({source_kind})", seconds)
        json_path = os.path.join(folder, f"{name}.json")
        ours.to_huggingface(json_path)
        w, c, _ = timed(lambda: Tokenizer.from_huggingface(json_path), args.repeat)
        row("tessaron from_huggingface(tokenizer.json)", (w, c))
        w, c, hf = timed(lambda: tokenizers.Tokenizer.from_file(json_path), args.repeat)
        row("Hugging Face Tokenizer.from_file(tokenizer.json)", (w, c))

        for label, text in texts.items():
            size = len(text.encode())
            # Once before timing: tessaron's piece cache and tiktoken's are per call, so the
            # text is still unseen in every timed call.
            want = theirs.encode_ordinary(text)
            w, c, got = timed(lambda: ours.encode(text), args.repeat)
            row(f"tessaron encode, {label}", (w, c), size, "identical" if got == want else "DIFFER")
            w, c, _ = timed(lambda: theirs.encode_ordinary(text), args.repeat)
            row(f"tiktoken encode_ordinary, {label}", (w, c), size)
            # Slow enough that one run says it.
            w, c, got = timed(lambda: hf.encode(text, add_special_tokens=False).ids, 1)
            same = "identical" if got == want else "DIFFER"
            row(f"Hugging Face encode (our tokenizer.json), {label}", (w, c), size, same)


if __name__ == "__main__":
    main()
