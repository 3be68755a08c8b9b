"""tiktoken's encoding of a piece: the whole piece when it is a token, else its bytes merged
by the rank of the joined bytes, the lowest first and the leftmost among equals."""


def encode_piece(ranks, piece):
    if piece in ranks:
        return [ranks[piece]]
    parts = [piece[i : i + 1] for i in range(len(piece))]
    while len(parts) > 1:
        joined = [ranks.get(a + b) for a, b in zip(parts, parts[1:])]
        best = (
            min((r, k) for k, r in enumerate(joined) if r is not None)
            if any(r is not None for r in joined)
            else None
        )
        if best is None:
            break
        k = best[1]
        parts[k : k + 2] = [parts[k] + parts[k + 1]]
    return [ranks[p] for p in parts]
