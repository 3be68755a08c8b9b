"""How much of a text a per-call cache of word chunks could encode by look-up, measured on the
ids this build gives (no timing).

    python -m bench.bench_chunks [--chars 1500000]

A chunk starts at a token boundary and runs 16 bytes, cut after its last space (past its
first three bytes). A cache keyed by chunk holds the tokens the text had there the first
time, up to the chunk's end; where the chunk comes back, those tokens are right only when the
encoding has them again. Rows print, per model and text:
- how often a space has a token boundary just before it, and just after it;
- look-ups per token, the share of look-ups that find the chunk, the share of those whose
  tokens are right, and the share of the text's bytes such right tokens cover.
The last figure bounds what the cache can save: the search still does the rest.
"""

import argparse
import os

from bench.bench_encode import DATA, TEXTS

ROWS = [
    ("en-8000", "english"),
    ("en-32000", "english"),
    ("mixed-100000", "english"),
    ("mixed-32000", "mixed"),
    ("ml-8000", "multilingual"),
    ("mixed-100000", "multilingual"),
]
WIDTH = 16


def token_lengths(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    lengths = [1] * 256
    for line in lines[3 + int(lines[2]) :]:
        if line:
            left, right = map(int, line.split())
            lengths.append(lengths[left] + lengths[right])
    return lengths


def row(tokenizer, lengths, data):
    ids = tokenizer.encode(data.decode())
    starts, at = [], 0
    for i in ids:
        starts.append(at)
        at += lengths[i]
    starts.append(at)
    boundary = bytearray(at + 1)
    for s in starts:
        boundary[s] = 1
    spaces = [i for i in range(1, len(data)) if data[i] == 32]
    before = sum(boundary[i] for i in spaces) / max(len(spaces), 1)
    after = sum(boundary[i + 1] for i in spaces) / max(len(spaces), 1)

    cache, lookups, hits, right, covered = {}, 0, 0, 0, 0
    j, learning_until = 0, -1
    while j < len(ids):
        p = starts[j]
        if p < learning_until:
            j += 1
            continue
        end = min(p + WIDTH, len(data))
        cut = data.rfind(b" ", p + 3, end)
        end = cut + 1 if cut >= 0 else end
        key = data[p:end]
        lookups += 1
        tokens = cache.get(key)
        if tokens is None:
            k = j
            while k < len(ids) and starts[k + 1] <= end:
                k += 1
            cache[key] = ids[j:k]
            learning_until = end
        else:
            hits += 1
            if tokens and ids[j : j + len(tokens)] == tokens:
                right += 1
                covered += sum(lengths[t] for t in tokens)
                j += len(tokens)
                continue
        j += 1
    return before, after, lookups / len(ids), hits / lookups, right / max(hits, 1), covered / at


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--chars", type=int, default=1_500_000, help="of each text")
    args = parser.parse_args()
    import tessaron

    texts = {}
    print(f"{'model':<14}{'text':<14}{'space: cut before':>18}{'after':>7}", end="")
    print(f"{'look-ups/token':>16}{'found':>7}{'right':>7}{'bytes covered':>15}")
    for model, text in ROWS:
        if text not in texts:
            texts[text] = TEXTS[text]()[: args.chars].encode()
        path = os.path.join(DATA, f"{model}.model")
        tokenizer = tessaron.BasicTokenizer()
        tokenizer.load(path)
        figures = row(tokenizer, token_lengths(path), texts[text])
        print(f"{model:<14}{text:<14}{figures[0]:>18.1%}{figures[1]:>7.1%}", end="")
        print(f"{figures[2]:>16.2f}{figures[3]:>7.1%}{figures[4]:>7.1%}{figures[5]:>15.1%}")


if __name__ == "__main__":
    main()
