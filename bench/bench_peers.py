"""tessaron beside the tokenizer libraries people know, on the same corpus.

    pip install '.[bench]'  &&  python -m bench.bench_peers [--size-mb 4] [--vocab-size 8192]

Every measurement runs in a fresh subprocess (peak RSS is that process's own); times are
medians of --repeat runs. Training: same text, same vocabulary size, same thread count
(num_threads for tessaron and sentencepiece, RAYON_NUM_THREADS for tessaron's pool and for
Hugging Face tokenizers). Encoding: the held-out text with tessaron's own trained model,
in each peer that can take it. Where a peer cannot do exactly the same job, the table
says what it did instead.
Then the rows with split patterns of bench/bench_patterns.py: tiktoken's tables, batches on
1 and 2 threads, training with "gpt2" and compression beside Hugging Face's.
"""

import argparse
import hashlib
import json
import os
import resource
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "out")

# A GPT-2 style split, for the run where tiktoken pre-tokenizes as it normally does.
GPT_PATTERN = r"""'(?:[sdmt]|ll|ve|re)| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+"""


def path(name):
    return os.path.join(OUT, name)


def read(name):
    with open(path(name), encoding="utf-8") as f:
        return f.read()


def rss_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def digest(ids):
    return hashlib.sha256(" ".join(map(str, ids)).encode()).hexdigest()[:16]


# ---- what a child process runs: each returns (seconds, extra facts) ----


def model_tokens(model_path):
    """id -> bytes of every token, and (left, right) -> id of every rule."""
    from tests.reference.model_file import read_model

    with open(model_path, "rb") as f:
        model = read_model(f.read())
    return model.vocab(), model.merges


def byte_level_maps():
    """Hugging Face's byte-level alphabet: every byte as one printable character."""
    printable = (
        list(range(ord("!"), ord("~") + 1))
        + list(range(ord("¡"), ord("¬") + 1))
        + list(range(ord("®"), ord("ÿ") + 1))
    )
    chars, extra = {}, 0
    for b in range(256):
        if b in printable:
            chars[b] = chr(b)
        else:
            chars[b] = chr(256 + extra)
            extra += 1
    return chars


def hf_byte_level(tokenizer):
    from tokenizers import decoders, pre_tokenizers

    tokenizer.pre_tokenizer = pre_tokenizers.ByteLevel(add_prefix_space=False, use_regex=False)
    tokenizer.decoder = decoders.ByteLevel()
    return tokenizer


def hf_train(items, vocab_size):
    from tokenizers import Tokenizer, models, pre_tokenizers, trainers

    tok = hf_byte_level(Tokenizer(models.BPE()))
    trainer = trainers.BpeTrainer(
        vocab_size=vocab_size,
        min_frequency=0,
        show_progress=False,
        initial_alphabet=pre_tokenizers.ByteLevel.alphabet(),
    )
    t = time.perf_counter()
    tok.train_from_iterator(items, trainer=trainer)
    return time.perf_counter() - t, tok


def shared_bytes(count):
    return f"; {count} tokens share their bytes with another, which it cannot hold" if count else ""


def job_train_tessaron(a):
    import tessaron

    text = read(a.input)
    tok = tessaron.BasicTokenizer(a.threads)
    t = time.perf_counter()
    tok.train(text, a.vocab_size)
    seconds = time.perf_counter() - t
    if a.save:
        tok.save_model(path(a.save))
    return seconds, {}


def job_train_hf(a):
    text = read(a.input)
    if a.variant == "lines":
        seconds, tok = hf_train(text.splitlines(keepends=True), a.vocab_size)
    else:
        seconds, tok = hf_train([text], a.vocab_size)
    if a.save:
        tok.save(path(a.save))
    return seconds, {"vocab": tok.get_vocab_size()}


def job_train_sentencepiece(a):
    import sentencepiece as spm

    t = time.perf_counter()
    spm.SentencePieceTrainer.train(
        input=path(a.input),
        model_prefix=path(a.save),
        model_type="bpe",
        vocab_size=a.vocab_size,
        byte_fallback=True,
        character_coverage=1.0,
        split_by_whitespace=False,
        split_by_unicode_script=False,
        split_by_number=False,
        split_digits=False,
        max_sentence_length=1 << 24,
        input_sentence_size=0,
        normalization_rule_name="identity",
        remove_extra_whitespaces=False,
        add_dummy_prefix=False,
        allow_whitespace_only_pieces=True,
        hard_vocab_limit=False,
        num_threads=a.threads,
        minloglevel=2,
    )
    return time.perf_counter() - t, {}


def job_encode_tessaron(a):
    import tessaron

    tok = tessaron.BasicTokenizer()
    tok.load(path(a.model))
    text = read(a.input)
    t = time.perf_counter()
    ids = tok.encode(text)
    return time.perf_counter() - t, {"tokens": len(ids), "ids": digest(ids)}


def job_encode_hf_ours(a):
    """Our merges in a Hugging Face BPE model: the same rules applied the same way."""
    from tokenizers import Tokenizer, models

    tokens, merges = model_tokens(path(a.model))
    chars = byte_level_maps()
    as_text = {i: "".join(chars[b] for b in data) for i, data in tokens.items()}
    vocab = {s: i for i, s in as_text.items()}
    pairs = [
        (as_text[left], as_text[right])
        for (left, right), _ in sorted(merges.items(), key=lambda kv: kv[1])
    ]
    tok = hf_byte_level(Tokenizer(models.BPE(vocab=vocab, merges=pairs)))
    text = read(a.input)
    t = time.perf_counter()
    ids = tok.encode(text, add_special_tokens=False).ids
    seconds = time.perf_counter() - t
    return seconds, {
        "tokens": len(ids),
        "ids": digest(ids),
        "note": shared_bytes(len(as_text) - len(vocab)),
    }


def job_encode_tiktoken(a):
    import tiktoken

    tokens, _ = model_tokens(path(a.model))
    ranks = {data: i for i, data in tokens.items()}
    pattern = r"[\s\S]+" if a.variant == "whole" else GPT_PATTERN
    enc = tiktoken.Encoding(
        name="tessaron", pat_str=pattern, mergeable_ranks=ranks, special_tokens={}
    )
    text = read(a.input)
    t = time.perf_counter()
    ids = enc.encode_ordinary(text)
    seconds = time.perf_counter() - t
    return seconds, {
        "tokens": len(ids),
        "ids": digest(ids),
        "note": shared_bytes(len(tokens) - len(ranks)),
    }


def job_encode_own(a):
    """A peer encoding with the model it trained itself: its compression, its speed."""
    text = read(a.input)
    if a.variant == "sentencepiece":
        import sentencepiece as spm

        sp = spm.SentencePieceProcessor(model_file=path(a.model))
        t = time.perf_counter()
        ids = sp.encode(text)
    else:
        from tokenizers import Tokenizer

        tok = Tokenizer.from_file(path(a.model))
        t = time.perf_counter()
        ids = tok.encode(text, add_special_tokens=False).ids
    return time.perf_counter() - t, {"tokens": len(ids)}


JOBS = {
    "train-tessaron": job_train_tessaron,
    "train-hf": job_train_hf,
    "train-sentencepiece": job_train_sentencepiece,
    "encode-tessaron": job_encode_tessaron,
    "encode-hf-ours": job_encode_hf_ours,
    "encode-tiktoken": job_encode_tiktoken,
    "encode-own": job_encode_own,
}


def child(a):
    base = rss_mb()
    seconds, facts = JOBS[a.job](a)
    print(json.dumps({"seconds": seconds, "peak_mb": rss_mb(), "base_mb": base, **facts}))


# ---- the parent: prepare the corpus, run every job in its own process, print ----


class Runner:
    def __init__(self, args):
        self.args = args
        self.env = dict(
            os.environ, RAYON_NUM_THREADS=str(args.threads), TOKENIZERS_PARALLELISM="true"
        )

    def run(self, job, repeat=None, **options):
        flags = [f"--{k.replace('_', '-')}={v}" for k, v in options.items()]
        results = []
        for _ in range(repeat or self.args.repeat):
            r = subprocess.run(
                [
                    sys.executable,
                    "-m",
                    "bench.bench_peers",
                    "--child",
                    job,
                    f"--threads={self.args.threads}",
                    f"--vocab-size={self.args.vocab_size}",
                    *flags,
                ],
                capture_output=True,
                text=True,
                env=self.env,
                timeout=self.args.timeout,
                # As a module from the repository's root, so that it finds the tests' reader.
                cwd=os.path.dirname(HERE),
            )
            if r.returncode != 0:
                return {"error": (r.stderr.strip().splitlines() or ["failed"])[-1]}
            results.append(json.loads(r.stdout.strip().splitlines()[-1]))
        out = dict(results[-1])
        out["seconds"] = statistics.median(x["seconds"] for x in results)
        out["peak_mb"] = max(x["peak_mb"] for x in results)
        return out


def prepare(args):
    from tessaron_cli.corpus import stdlib_corpus

    os.makedirs(OUT, exist_ok=True)
    corpus = stdlib_corpus(int(args.size_mb * 1e6), int(args.held_out_mb * 1e6))
    pieces = {
        "train.txt": corpus.train,
        "held_out.txt": corpus.held_out,
        "train_prefix.txt": cut(corpus.train, args.exact_prefix_kb * 1000),
    }
    for name, text in pieces.items():
        with open(path(name), "w", encoding="utf-8", newline="") as f:
            f.write(text)
    return corpus, {n: len(t.encode()) for n, t in pieces.items()}


def cut(text, size):
    data = text.encode()[:size]
    return data.decode("utf-8", "ignore")


def row(label, result, size, ours=None, note=""):
    if "error" in result:
        print(f"  {label:<46} failed: {result['error']}")
        return
    s = result["seconds"]
    if ours and "error" not in ours:
        ratio = (
            f"{result['seconds'] / ours['seconds']:7.1f}x"
            f" {result['peak_mb'] / ours['peak_mb']:7.1f}x"
        )
    else:
        ratio = f"{'-':>8} {'-':>8}"
    tokens = f"{size / result['tokens']:5.2f} B/tok" if result.get("tokens") else " " * 11
    print(
        f"  {label:<46} {s:8.3f} s {size / s / 1e6:8.2f} MB/s {result['peak_mb']:8.0f} MB"
        f"  {ratio}  {tokens}  {note}"
    )


def same_rules(model_name, hf_name):
    """How many learned rules the two models share, as byte strings: ties may differ."""
    try:
        tokens, merges = model_tokens(path(model_name))
        with open(path(hf_name), encoding="utf-8") as f:
            hf = json.load(f)["model"]["merges"]
    except (OSError, KeyError, ValueError):
        return "rules not compared"
    back = {c: b for b, c in byte_level_maps().items()}
    ours = {(tokens[left], tokens[right]) for left, right in merges}
    theirs = set()
    for merge in hf:
        left, right = merge.split(" ") if isinstance(merge, str) else merge
        theirs.add((bytes(back[c] for c in left), bytes(back[c] for c in right)))
    return f"{len(ours & theirs)} of {len(ours)} rules the same"


def per_byte(result, size):
    if "error" in result:
        return ""
    grown = (result["peak_mb"] - result["base_mb"]) * 1024 * 1024
    return f"{grown / size:.1f} bytes of memory per input byte above the process's start"


def parent(args):
    corpus, sizes = prepare(args)
    r = Runner(args)
    train, held = sizes["train.txt"], sizes["held_out.txt"]
    prefix = sizes["train_prefix.txt"]
    print(f"corpus: {corpus.describe()}")
    print(
        f"train {train / 1e6:.2f} MB, held out {held / 1e6:.2f} MB, vocab {args.vocab_size}, "
        f"{args.threads} threads, median of {args.repeat}; peak RSS per process; "
        "time x, RSS x = the peer's over tessaron's (above 1: tessaron is faster, smaller)"
    )
    header = (
        f"  {'':<46} {'time':>10} {'rate':>13} {'peak RSS':>11}  {'time x':>8}"
        f" {'RSS x':>8}"
        f"  {'bytes/token':>11}"
    )

    print("\ntraining")
    print(header)
    ours = r.run("train-tessaron", input="train.txt", save="tessaron.model")
    row("tessaron", ours, train, note=per_byte(ours, train))
    hf = r.run("train-hf", input="train.txt", variant="lines", save="hf.json")
    row(
        "tokenizers BPE, byte-level, line by line",
        hf,
        train,
        ours,
        "not identical: pairs across line breaks are not counted",
    )
    sp = r.run("train-sentencepiece", input="train.txt", save="sp")
    row(
        "sentencepiece BPE",
        sp,
        train,
        ours,
        "not identical: characters not bytes, lines as sentences, own scoring",
    )
    ours_p = r.run("train-tessaron", input="train_prefix.txt", save="prefix.model")
    row(f"tessaron on the first {prefix // 1000} KB", ours_p, prefix)
    hf_p = r.run(
        "train-hf", input="train_prefix.txt", variant="whole", save="prefix.json", repeat=1
    )
    row(
        f"tokenizers, whole text as one word, {prefix // 1000} KB",
        hf_p,
        prefix,
        ours_p,
        f"the same job, {same_rules('prefix.model', 'prefix.json')}; "
        "cost grows with merges x text, so only a prefix",
    )

    print("\nencoding the held-out text with tessaron's model")
    print(header)
    ours = r.run("encode-tessaron", model="tessaron.model", input="held_out.txt")
    row("tessaron", ours, held, None)
    hf = r.run("encode-hf-ours", model="tessaron.model", input="held_out.txt")
    same = "identical ids" if hf.get("ids") == ours.get("ids") else "DIFFERENT ids"
    row(
        "tokenizers BPE with tessaron's merges",
        hf,
        held,
        ours,
        f"the same job: {same}{hf.get('note', '')}",
    )
    tk = r.run("encode-tiktoken", model="tessaron.model", input="held_out.txt", variant="whole")
    same = "identical ids" if tk.get("ids") == ours.get("ids") else "DIFFERENT ids"
    row(
        "tiktoken, tessaron's ranks, text as one piece",
        tk,
        held,
        ours,
        f"nearly the same job (merges by joined bytes): {same}{tk.get('note', '')}",
    )
    tk = r.run("encode-tiktoken", model="tessaron.model", input="held_out.txt", variant="gpt")
    row(
        "tiktoken, tessaron's ranks, GPT-2 split",
        tk,
        held,
        ours,
        "not identical: pre-split into words, no merge crosses a split",
    )

    print("\nencoding the held-out text with each peer's own model (compression)")
    print(header)
    row("tessaron", ours, held)
    row(
        "tokenizers (trained line by line)",
        r.run("encode-own", model="hf.json", input="held_out.txt", variant="hf"),
        held,
        ours,
    )
    row(
        "sentencepiece",
        r.run("encode-own", model="sp.model", input="held_out.txt", variant="sentencepiece"),
        held,
        ours,
    )

    # With split patterns: tiktoken's tables, batches, training beside Hugging Face's.
    print("\nwith split patterns (bench/bench_patterns.py)", flush=True)
    command = [sys.executable, "-m", "bench.bench_patterns", "--repeat", str(args.repeat)]
    subprocess.run(command, check=True, cwd=os.path.dirname(HERE))


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--size-mb", type=float, default=4.0, help="training text (default 4)")
    p.add_argument("--held-out-mb", type=float, default=3.0, help="held-out text (default 3)")
    p.add_argument("--vocab-size", type=int, default=8192)
    p.add_argument("--threads", type=int, default=2)
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument(
        "--exact-prefix-kb",
        type=int,
        default=64,
        help="training text for the peer whose identical job is quadratic (default 64)",
    )
    p.add_argument("--timeout", type=float, default=900, help="per run, seconds")
    p.add_argument("--child", dest="job", choices=sorted(JOBS), help=argparse.SUPPRESS)
    for name in ("input", "model", "save", "variant"):
        p.add_argument(f"--{name}", help=argparse.SUPPRESS)
    args = p.parse_args()
    if args.job:
        child(args)
    else:
        parent(args)


if __name__ == "__main__":
    main()
