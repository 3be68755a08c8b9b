"""The pieces a split pattern cuts a text into, by Python's `regex` module: each non-empty
whole match (groups do not matter), and each stretch no match covers, which findall drops."""

import regex


def pieces(expression, text, timeout=None):
    out, at = [], 0
    for match in regex.finditer(expression, text, timeout=timeout):
        if match.end() == match.start():
            continue
        if match.start() > at:
            out.append(text[at : match.start()])
        out.append(match.group(0))
        at = match.end()
    if at < len(text):
        out.append(text[at:])
    return out
