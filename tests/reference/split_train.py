"""Naive byte-pair training inside the pieces of a split pattern: recount every pair of every
distinct piece, weighted by its count, after every merge; the smallest pair wins ties."""

from collections import Counter

from reference.pieces import pieces
from reference.train import merge_pair


def train(expression, text, merges_wanted):
    words = Counter(tuple(p.encode()) for p in pieces(expression, text))
    merges = []
    for i in range(merges_wanted):
        counts = Counter()
        for word, count in words.items():
            for pair in zip(word, word[1:]):
                counts[pair] += count
        if not counts:
            break
        best = max(counts.items(), key=lambda item: (item[1], (-item[0][0], -item[0][1])))[0]
        merges.append(best)
        merged = Counter()
        for word, count in words.items():
            merged[tuple(merge_pair(list(word), best, 256 + i))] += count
        words = merged
    return merges
