"""`tessaron info`: a summary of a model file."""

import os

from tessaron_cli.model import read_model
from tessaron_cli.progress import human_bytes


def show(data: bytes) -> str:
    """A token's bytes for a person: the text where it is UTF-8, escapes elsewhere."""
    return repr(data.decode("utf-8", "backslashreplace"))


def run(args) -> int:
    model = read_model(args.model)
    ids = sorted(model.tokens)
    merged = [i for i in ids if i >= 256 and i not in model.special_tokens.values()]
    print(f"model:          {args.model} ({human_bytes(os.path.getsize(args.model))})")
    print(f"pattern:        {model.pattern!r}" if model.pattern else "pattern:        (none)")
    print(f"merge rules:    {len(model.merges)}")
    print(f"special tokens: {len(model.special_tokens)}")
    for text, token_id in model.special_tokens.items():
        print(f"  {token_id:>8}  {text!r}")
    print(f"vocabulary:     {len(ids)} tokens (ids {ids[0]} to {ids[-1]})")
    if merged:
        lengths = [len(model.tokens[i]) for i in merged]
        print(
            f"token length:   mean {sum(lengths) / len(lengths):.2f} bytes, "
            f"longest {max(lengths)} bytes (merged tokens)"
        )
        print("longest tokens:")
        longest = sorted(merged, key=lambda i: (-len(model.tokens[i]), i))[: args.top]
        for i in longest:
            print(f"  {i:>8}  {len(model.tokens[i]):>4} B  {show(model.tokens[i])}")
    return 0
