"""Makes the training benchmark corpora in bench/data/, deterministically.

prose.txt  English prose: the King James Bible from Debian's bible-kjv package
           (`apt-get install bible-kjv`), about 4.3 MB. Without it, the comment text of
           the running interpreter's standard library stands in.
mixed.txt  At least 50 MB of mixed text: the prose, then the standard library's Python
           sources in path order (code, comments, docstrings, some non-ASCII test data),
           then C and C++ headers from /usr/include in path order. Which headers exist
           depends on the machine's development packages; the sizes are printed.

Run: python -m bench.make_corpora [--mixed-bytes N]
"""

import argparse
import itertools
import pathlib
import shutil
import subprocess
import sysconfig

DATA = pathlib.Path(__file__).resolve().parent / "data"
PROSE_BYTES = 4_400_000


def stdlib_sources():
    root = pathlib.Path(sysconfig.get_paths()["stdlib"])
    for path in sorted(root.rglob("*.py")):
        if "site-packages" in path.parts:
            continue
        yield path.read_bytes().decode("utf-8", errors="replace")


def system_headers():
    for path in sorted(pathlib.Path("/usr/include").rglob("*")):
        if path.is_file() and not path.is_symlink():
            yield path.read_bytes().decode("utf-8", errors="replace")


def bible_text():
    if shutil.which("bible") is None:
        return None
    result = subprocess.run(["bible", "-l0", "gen1:1-rev22:21"], capture_output=True, check=True)
    return result.stdout.decode("utf-8", errors="replace")


def comment_prose():
    lines = []
    size = 0
    for source in stdlib_sources():
        for line in source.splitlines():
            line = line.strip()
            if line.startswith("# ") and len(line) > 20:
                lines.append(line[2:])
                size += len(line) - 1
        if size >= PROSE_BYTES:
            break
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mixed-bytes", type=int, default=50_000_000)
    args = parser.parse_args()
    DATA.mkdir(parents=True, exist_ok=True)

    prose = bible_text()
    source = "bible-kjv"
    if prose is None:
        prose, source = comment_prose(), "standard library comments"
    (DATA / "prose.txt").write_text(prose, encoding="utf-8")

    parts = [prose]
    size = len(prose.encode("utf-8"))
    for text in itertools.chain(stdlib_sources(), system_headers()):
        if size >= args.mixed_bytes:
            break
        parts.append(text)
        size += len(text.encode("utf-8"))
    mixed = "".join(parts)
    (DATA / "mixed.txt").write_text(mixed, encoding="utf-8")
    print(f"prose.txt: {len(prose.encode('utf-8')):,} bytes ({source})")
    print(f"mixed.txt: {len(mixed.encode('utf-8')):,} bytes")


if __name__ == "__main__":
    main()
