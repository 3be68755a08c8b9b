"""What a line is, for `tessaron encode` and for the cluster recipe alike."""

from typing import List

# A line ends at a line feed, which is not part of it; a final line feed ends the last
# line rather than starting an empty one. A carriage return stays in the line, so that
# decoding the ids and adding the line feeds back gives the input byte for byte.
LINE_FEED = b"\n"


def split_lines(data: bytes) -> List[bytes]:
    lines = data.split(LINE_FEED)
    if lines[-1] == b"":
        lines.pop()
    return lines


def strip_line_end(line: str) -> str:
    """A line as read by a line reader that keeps the line feed."""
    return line[:-1] if line.endswith("\n") else line
