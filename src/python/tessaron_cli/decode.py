"""`tessaron decode`: lines of token ids back to display text."""

from tessaron_cli.errors import CliError
from tessaron_cli.inputs import read_text, sources, split_lines
from tessaron_cli.model import load_tokenizer
from tessaron_cli.output import open_output

MAX_ID = 2**64 - 1


def run(args) -> int:
    tokenizer = load_tokenizer(args.model)
    with open_output(args.output) as out:
        for source in sources(args.files):
            for number, line in enumerate(split_lines(read_text(source)), 1):
                where = f"{source.name}:{number}"
                ids = []
                for word in line.split():
                    if not (word.isascii() and word.isdigit()) or int(word) > MAX_ID:
                        raise CliError(f"{where}: {word!r} is not a token id")
                    ids.append(int(word))
                try:
                    out.write(tokenizer.decode(ids) + "\n")
                except OSError as e:
                    raise CliError(f"{where}: {e}") from None
    return 0
