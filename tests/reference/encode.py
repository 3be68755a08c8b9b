"""Pure-Python model of encoding: the round-by-round application of the rules."""

MARKER = 2**64 - 1


def merges_from_lines(pairs):
    """The rules that loading a model file with these merge lines gives: line k makes id
    256 + k, and a repeated pair keeps its first position and takes the later id."""
    merges = {}
    for k, pair in enumerate(pairs):
        merges[tuple(pair)] = 256 + k
    return merges


def encode(merges: dict, data: bytes) -> list:
    """`merges` maps (left, right) -> new id in insertion order. Each round applies the rule
    with the lowest new id found anywhere (equal ids: the one inserted first) to all its
    non-overlapping occurrences, left to right."""
    order = {pair: (new_id, position) for position, (pair, new_id) in enumerate(merges.items())}
    seq = list(data)
    while len(seq) >= 2:
        best = None
        for pair in set(zip(seq, seq[1:])):
            key = order.get(pair)
            if key is not None and key[0] != MARKER and (best is None or key < best[0]):
                best = (key, pair)
        if best is None:
            break
        (new_id, _), (left, right) = best
        out = []
        i = 0
        while i < len(seq):
            if i + 1 < len(seq) and seq[i] == left and seq[i + 1] == right:
                out.append(new_id)
                i += 2
            else:
                out.append(seq[i])
                i += 1
        seq = out
    return seq
