"""`tessaron info`: a summary of a model file."""

from typing import Dict

from tessaron_cli.lines import LINE_FEED
from tessaron_cli.model import read_model
from tessaron_cli.outputs import print_line
from tessaron_cli.progress import Reporter, human_bytes

# Long tokens are cut to this many characters of their quoted form.
SHOWN = 60


def show(data: bytes) -> str:
    """A token's bytes for a person: the text where it is UTF-8, escapes elsewhere."""
    text = repr(data.decode("utf-8", "backslashreplace"))
    return text if len(text) <= SHOWN else text[: SHOWN - 1] + "…"


def pattern_line(data: bytes) -> str:
    """The pattern as the file holds it (the model was read without error)."""
    line = data.split(LINE_FEED, 2)[1]
    return line[:-1].decode("utf-8") if line.endswith(b"\r") else line.decode("utf-8")


def vocabulary(tokenizer) -> Dict[int, bytes]:
    """Every id with its bytes. Rule ids are probed upwards until every entry is found:
    a hand-made file can repeat a pair, which leaves ids that no rule holds."""
    tokens = {i: tokenizer.token_bytes(i) for i in range(256)}
    for token_id in tokenizer.special_tokens.values():
        tokens[token_id] = tokenizer.token_bytes(token_id)
    token_id = 256
    while len(tokens) < tokenizer.vocab_size:
        if token_id not in tokens:
            try:
                tokens[token_id] = tokenizer.token_bytes(token_id)
            except ValueError:
                pass  # an id no rule holds, or a rule whose parts were never built
        token_id += 1
    return tokens


def run(args) -> int:
    reporter = Reporter("info", args.quiet)
    tokenizer, data = read_model(args.model, reporter.warn)
    special = tokenizer.special_tokens
    tokens = vocabulary(tokenizer)
    ids = sorted(tokens)
    special_ids = set(special.values())
    merged = [i for i in ids if i >= 256 and i not in special_ids]
    pattern = pattern_line(data)
    lines = [
        f"model:          {args.model} ({human_bytes(len(data))})",
        f"pattern:        {pattern!r}" if pattern else "pattern:        (none)",
        f"merge rules:    {len(tokenizer.merges)}",
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
