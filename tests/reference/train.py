"""Naive byte-pair training: recount every pair after every merge.

The tie-break among equally frequent pairs is the smallest pair (left id first)."""

from collections import Counter


def merge_pair(ids, pair, new_id):
    """Left-to-right, non-overlapping replacement of `pair` by `new_id`."""
    out = []
    i = 0
    while i < len(ids):
        if i + 1 < len(ids) and ids[i] == pair[0] and ids[i + 1] == pair[1]:
            out.append(new_id)
            i += 2
        else:
            out.append(ids[i])
            i += 1
    return out


def train(text, vocab_size):
    """Returns (merges, vocab): the learned pairs in order and id -> bytes."""
    assert vocab_size >= 256
    data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
    ids = list(data)
    vocab = {b: bytes([b]) for b in range(256)}
    merges = []
    for i in range(vocab_size - 256):
        if len(ids) < 2:
            break
        counts = Counter(zip(ids, ids[1:]))
        best = max(counts.items(), key=lambda item: (item[1], (-item[0][0], -item[0][1])))[0]
        new_id = 256 + i
        ids = merge_pair(ids, best, new_id)
        merges.append(best)
        vocab[new_id] = vocab[best[0]] + vocab[best[1]]
    return merges, vocab
