"""`tessaron info`: a summary of a model file."""

import os
from typing import Dict

from tessaron_cli.model import load_model
from tessaron_cli.outputs import print_line
from tessaron_cli.progress import Reporter, human_bytes

# Long tokens are cut to this many characters of their quoted form.
SHOWN = 60


def show(data: bytes) -> str:
    """A token's bytes for a person: the text where it is UTF-8, escapes elsewhere."""
    text = repr(data.decode("utf-8", "backslashreplace"))
    return text if len(text) <= SHOWN else text[: SHOWN - 1] + "…"


def run(args) -> int:
    reporter = Reporter("info", args.quiet)
    tokenizer = load_model(args.model, reporter.warn)
    special = tokenizer.special_tokens
    rules = len(tokenizer.merges)
    tokens: Dict[int, bytes] = {}
    for token_id in [*range(256 + rules), *special.values()]:
        try:
            tokens[token_id] = tokenizer.token_bytes(token_id)
        except ValueError:
            pass  # a rule whose parts a hand-made file never built
    ids = sorted(tokens)
    special_ids = set(special.values())
    merged = [i for i in ids if i >= 256 and i not in special_ids]
    lines = [
        f"model:          {args.model} ({human_bytes(os.path.getsize(args.model))})",
        f"pattern:        {tokenizer.pattern!r}" if tokenizer.pattern else "pattern:        (none)",
        f"merge rules:    {rules}",
        f"special tokens: {len(special)}",
    ]
    lines += [
        f"  {token_id:>8}  {show(text.encode('utf-8'))}" for text, token_id in special.items()
    ]
    lines.append(f"vocabulary:     {len(ids)} tokens (ids {ids[0]} to {ids[-1]})")
    if merged:
        lengths = [len(tokens[i]) for i in merged]
        lines.append(
            f"token length:   mean {sum(lengths) / len(lengths):.2f} bytes, "
            f"longest {max(lengths)} bytes (merged tokens)"
        )
        lines.append("longest tokens:")
        longest = sorted(merged, key=lambda i: (-len(tokens[i]), i))[: args.top]
        lines += [f"  {i:>8}  {len(tokens[i]):>4} B  {show(tokens[i])}" for i in longest]
    print_line("\n".join(lines))
    return 0
