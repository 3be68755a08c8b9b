"""The command line end to end, beside the module doing the same job in one process and,
when given, beside another build's command line in the same run.

    python -m bench.bench_cli [--repeat 5] [--baseline /path/to/old/venv/bin/python]

Each command runs as a user runs it: a fresh process, files in and out. The module rows are
`tessaron.BasicTokenizer` doing the same work on the same text inside this process, so the
difference is what the command line adds (start-up, model load, reading, writing, the ids as
text). With --baseline, each command also runs with that interpreter's `tessaron_cli`,
taking turns run by run so that a busy neighbour slows both alike; its `decode` writes
display text, ours exact bytes. Also measured: how long after Ctrl-C (SIGINT) `train` and
`encode -j 2` have exited. Figures are medians of wall time.
"""

import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import tessaron
from bench.bench_encode import english_text, multilingual_text


def timed(python, args, cwd):
    started = time.perf_counter()
    subprocess.run(
        [python, "-m", "tessaron_cli", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL
    )
    return time.perf_counter() - started


def after_ctrl_c(args, cwd, after):
    p = subprocess.Popen(
        [sys.executable, "-m", "tessaron_cli", *args], cwd=cwd, stderr=subprocess.PIPE
    )
    time.sleep(after)
    sent = time.perf_counter()
    p.send_signal(signal.SIGINT)
    p.communicate()
    return time.perf_counter() - sent, p.returncode


def row(label, seconds, size, baseline=None, against=""):
    ratio = f"{baseline / seconds:6.2f}x {against}" if baseline else ""
    print(f"  {label:<40} {seconds:8.3f} s {size / seconds / 1e6:8.1f} MB/s  {ratio}")


def compare(label, args, work, size, repeat, baseline_python, module_seconds):
    """Our command's median, as a share of the module's speed and, when given, of the
    baseline's speed on the same command line."""
    ours, theirs = [], []
    for _ in range(repeat):
        ours.append(timed(sys.executable, args, work))
        if baseline_python:
            theirs.append(timed(baseline_python, args, work))
    median = statistics.median(ours)
    row(label, median, size, module_seconds, "the module's speed")
    if baseline_python:
        baseline = statistics.median(theirs)
        row("  the baseline build", baseline, size)
        print(f"  {'':<40} this build at {baseline / median:.2f}x the baseline's speed")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--vocab-size", type=int, default=8192)
    parser.add_argument(
        "--baseline",
        metavar="PYTHON",
        help="an interpreter with another build of tessaron installed",
    )
    args = parser.parse_args()

    def median_of(work):
        return statistics.median(work() for _ in range(args.repeat))

    with tempfile.TemporaryDirectory() as work:
        for name, text in (("english", english_text()), ("multilingual", multilingual_text())):
            data = text.encode("utf-8")
            path = os.path.join(work, f"{name}.txt")
            with open(path, "wb") as f:
                f.write(data)
            print(
                f"{name}: {len(data) / 1e6:.1f} MB, {text.count(chr(10))} lines, "
                f"vocab {args.vocab_size}, median of {args.repeat}"
            )

            def module_train():
                started = time.perf_counter()
                tessaron.BasicTokenizer(2).train(text, args.vocab_size)
                return time.perf_counter() - started

            module = median_of(module_train)
            row("module: BasicTokenizer(2).train", module, len(data))
            compare(
                "tessaron train -t 2",
                ["train", path, "-v", str(args.vocab_size), "-t", "2", "-o", "m"],
                work,
                len(data),
                args.repeat,
                args.baseline,
                module,
            )

            tok = tessaron.BasicTokenizer()
            tok.load(os.path.join(work, "m.model"))
            lines = text.split("\n")

            def module_encode():
                started = time.perf_counter()
                for line in lines:
                    tok.encode(line)
                return time.perf_counter() - started

            module = median_of(module_encode)
            row("module: encode line by line", module, len(data))
            for jobs in ("1", "2"):
                compare(
                    f"tessaron encode -j {jobs}",
                    ["encode", "-m", "m.model", "-j", jobs, path, "-o", "ids"],
                    work,
                    len(data),
                    args.repeat,
                    args.baseline,
                    module,
                )
            compare(
                "tessaron encode --whole",
                ["encode", "-m", "m.model", "--whole", path, "-o", "whole.ids"],
                work,
                len(data),
                args.repeat,
                args.baseline,
                module,
            )

            ids = [tok.encode(line) for line in lines]

            def module_decode():
                started = time.perf_counter()
                for line_ids in ids:
                    tok.decode(line_ids)
                return time.perf_counter() - started

            module = median_of(module_decode)
            row("module: decode (display text) by line", module, len(data))
            compare(
                "tessaron decode",
                ["decode", "-m", "m.model", "ids", "-o", "back.txt"],
                work,
                len(data),
                args.repeat,
                args.baseline,
                module,
            )
            subprocess.run(
                [
                    sys.executable,
                    "-m",
                    "tessaron_cli",
                    "decode",
                    "-m",
                    "m.model",
                    "ids",
                    "-o",
                    "back.txt",
                ],
                cwd=work,
                check=True,
            )
            with open(os.path.join(work, "back.txt"), "rb") as f:
                assert f.read() == (data if data.endswith(b"\n") else data + b"\n")

            for label, command in (
                ("train", ["train", path, "-v", str(args.vocab_size * 4), "-t", "2", "-o", "c"]),
                ("encode -j 2", ["encode", "-m", "m.model", "-j", "2", path, "-o", "c.ids"]),
            ):
                waits = []
                for after in (0.3, 0.5, 0.8):
                    seconds, code = after_ctrl_c(command, work, after)
                    if code == 130:
                        waits.append(seconds)
                shown = ", ".join(f"{w * 1000:.0f} ms" for w in waits) or "finished first"
                print(f"  Ctrl-C to exit, {label:<25} {shown}")
            print()


if __name__ == "__main__":
    main()
