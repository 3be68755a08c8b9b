"""Loading a model for the commands, and reading a model file's contents in Python."""

import re
from dataclasses import dataclass, field
from typing import Dict, Tuple

import tessaron
from tessaron_cli.errors import CliError, describe_os_error

# The field separators of special-token and merge lines: Unicode White_Space.
_FIELD_SEPARATOR = re.compile(
    "[\u0009-\u000d\u0020\u0085\u00a0\u1680\u2000-\u200a\u2028\u2029\u202f\u205f\u3000]+"
)


def load_tokenizer(path: str) -> "tessaron.BasicTokenizer":
    tokenizer = tessaron.BasicTokenizer()
    try:
        tokenizer.load(path)
    except FileNotFoundError:
        raise CliError(f"{path}: no such file") from None
    except IsADirectoryError:
        raise CliError(f"{path}: is a directory") from None
    except OSError as e:
        if type(e) is OSError:  # the reader's own format errors
            raise CliError(f"{path}: not a valid tessaron model: {e}") from None
        raise CliError(f"{path}: {describe_os_error(e)}") from None
    return tokenizer


@dataclass
class ModelContents:
    pattern: str
    special_tokens: Dict[str, int] = field(default_factory=dict)
    merges: Dict[Tuple[int, int], int] = field(default_factory=dict)
    tokens: Dict[int, bytes] = field(default_factory=dict)


def read_model(path: str) -> ModelContents:
    """The pattern, special tokens, rules and token bytes of a model file.

    The file is checked by loading it first, so the errors are the module's own;
    the token bytes are built the way loading builds them.
    """
    load_tokenizer(path)
    with open(path, "rb") as f:
        lines = [line.decode("utf-8") for line in f.read().split(b"\n")]
    if lines[-1] == "":
        lines.pop()
    lines = [line[:-1] if line.endswith("\r") else line for line in lines]
    model = ModelContents(pattern=lines[1])
    count = int(lines[2])
    for line in lines[3 : 3 + count]:
        text, token_id = _FIELD_SEPARATOR.split(line.strip(_FIELD_SEPARATOR_CHARS))
        model.special_tokens[text] = int(token_id)
    for k, line in enumerate(lines[3 + count :]):
        left, right = _FIELD_SEPARATOR.split(line.strip(_FIELD_SEPARATOR_CHARS))
        model.merges[(int(left), int(right))] = 256 + k

    model.tokens = {b: bytes([b]) for b in range(256)}
    for (left, right), new_id in model.merges.items():
        if left in model.tokens and right in model.tokens:
            model.tokens[new_id] = model.tokens[left] + model.tokens[right]
    for text, token_id in model.special_tokens.items():
        model.tokens[token_id] = text.encode("utf-8")
    return model


_FIELD_SEPARATOR_CHARS = "".join(
    chr(c)
    for c in [
        *range(0x09, 0x0E),
        0x20,
        0x85,
        0xA0,
        0x1680,
        *range(0x2000, 0x200B),
        0x2028,
        0x2029,
        0x202F,
        0x205F,
        0x3000,
    ]
)
