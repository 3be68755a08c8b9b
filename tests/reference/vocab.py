"""Pure-Python model of the vocabulary: rendering and the vocabulary builder."""


def render_token(token: bytes) -> str:
    text = token.decode("utf-8", errors="replace")
    out = []
    for ch in text:
        cp = ord(ch)
        if cp < 0x20 or 0x7F <= cp <= 0x9F:
            out.append("\\u%04x" % cp)
        else:
            out.append(ch)
    return "".join(out)


def build_vocab(vocab: dict, merges: list, special_tokens: list) -> dict:
    """Updates `vocab` (id -> bytes) in place and returns it; nothing is ever removed.

    `merges` is [((left, right), new_id), ...] and `special_tokens` [(text, id), ...], both in
    insertion order.
    """
    for b in range(256):
        vocab[b] = bytes([b])
    for (left, right), new_id in merges:
        if left in vocab and right in vocab:
            vocab[new_id] = vocab[left] + vocab[right]
    for text, token_id in special_tokens:
        vocab[token_id] = text.encode()
    return vocab


def decode(vocab: dict, ids) -> str:
    return "".join(render_token(vocab[i]) for i in ids)
