"""Pure-Python model of the model file and the vocabulary listing."""

from .vocab import build_vocab, render_token

MARKER = "tessaron v1"
U64_MAX = 2**64 - 1

# Unicode White_Space, exactly (str.split would also split at U+001C..U+001F).
WHITE_SPACE = frozenset(
    [chr(c) for c in range(0x09, 0x0E)]
    + [" ", "\x85", "\xa0", "\u1680"]
    + [chr(c) for c in range(0x2000, 0x200B)]
    + ["\u2028", "\u2029", "\u202f", "\u205f", "\u3000"]
)


class ModelFileError(Exception):
    """A format error; its only argument is the message the tokenizer raises."""


class Model:
    """pattern, special tokens and rules, as insertion-ordered dicts."""

    def __init__(self, pattern="", special_tokens=None, merges=None):
        self.pattern = pattern
        self.special_tokens = dict(special_tokens or {})
        self.merges = dict(merges or {})

    def vocab(self):
        return build_vocab({}, list(self.merges.items()), list(self.special_tokens.items()))


def write_model(model: Model) -> bytes:
    lines = [MARKER, model.pattern, str(len(model.special_tokens))]
    lines += [f"{text} {token_id}" for text, token_id in model.special_tokens.items()]
    lines += [f"{left} {right}" for left, right in model.merges]
    return "".join(line + "\n" for line in lines).encode()


def split_lines(data: bytes):
    """Yields each line as text; a line that is not UTF-8 raises when it is reached."""
    pos = 0
    while pos < len(data):
        end = data.find(b"\n", pos)
        if end < 0:
            raw, pos = data[pos:], len(data)
        else:
            raw, pos = data[pos:end], end + 1
            if raw.endswith(b"\r"):
                raw = raw[:-1]
        try:
            yield raw.decode("utf-8")
        except UnicodeDecodeError:
            raise ModelFileError("stream did not contain valid UTF-8") from None


def split_fields(line: str):
    fields, current = [], []
    for ch in line:
        if ch in WHITE_SPACE:
            if current:
                fields.append("".join(current))
                current = []
        else:
            current.append(ch)
    if current:
        fields.append("".join(current))
    return fields


def parse_number(text: str) -> int:
    if text == "":
        raise ModelFileError("cannot parse integer from empty string")
    digits = text[1:] if text.startswith("+") else text
    if digits == "":
        raise ModelFileError("invalid digit found in string")
    value = 0
    for ch in digits:
        if ch not in "0123456789":
            raise ModelFileError("invalid digit found in string")
        value = value * 10 + int(ch)
        if value > U64_MAX:
            # The first fault from the left decides, so a later bad digit does not count.
            raise ModelFileError("number too large to fit in target type")
    return value


def read_model(data: bytes) -> Model:
    lines = split_lines(data)

    def next_line(missing):
        line = next(lines, None)
        if line is None and missing is not None:
            raise ModelFileError(missing)
        return line

    if next_line("missing version") != MARKER:
        raise ModelFileError("invalid version")
    model = Model(pattern=next_line("missing pattern"))
    count = parse_number(next_line("missing number of special tokens"))
    for _ in range(count):
        fields = split_fields(next_line("not enough special tokens"))
        if len(fields) != 2:
            raise ModelFileError("invalid special token entry")
        model.special_tokens[fields[0]] = parse_number(fields[1])
    next_id = 256
    while (line := next_line(None)) is not None:
        fields = split_fields(line)
        if len(fields) != 2:
            raise ModelFileError("invalid merge entry")
        pair = (parse_number(fields[0]), parse_number(fields[1]))
        model.merges[pair] = next_id
        next_id += 1
    return model


def vocab_listing(vocab: dict, merges: dict) -> bytes:
    """`merges` maps (left, right) -> new id in insertion order."""
    rule_of = {}
    for pair, new_id in merges.items():
        rule_of[new_id] = pair
    out = []
    for token_id in sorted(vocab):
        token = render_token(vocab[token_id])
        pair = rule_of.get(token_id)
        if pair is not None and pair[0] in vocab and pair[1] in vocab:
            left, right = render_token(vocab[pair[0]]), render_token(vocab[pair[1]])
            out.append(f"[{left}][{right}] -> [{token}] {token_id}\n")
        else:
            out.append(f"[{token}] {token_id}\n")
    return "".join(out).encode()
