"""The command line end to end, beside the module doing the same job in one process.

    python bench/bench_cli.py [--repeat 5]

Each command runs as a user runs it (a fresh process, files in and out); the baseline is
`tessaron.BasicTokenizer` doing the same work on the same text inside this process, so the
difference is what the command line adds: start-up, reading, writing, formatting ids. Also
measured: how long after Ctrl-C (SIGINT) `train` and `encode -j 2` have exited.
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
from bench_encode import english_text, multilingual_text

COMMAND = [sys.executable, "-m", "tessaron_cli"]


def timed(args, cwd):
    started = time.perf_counter()
    subprocess.run([*COMMAND, *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - started


def median_of(repeat, work):
    return statistics.median(work() for _ in range(repeat))


def after_ctrl_c(args, cwd, after):
    p = subprocess.Popen([*COMMAND, *args], cwd=cwd, stderr=subprocess.PIPE)
    time.sleep(after)
    sent = time.perf_counter()
    p.send_signal(signal.SIGINT)
    p.communicate()
    return time.perf_counter() - sent, p.returncode


def row(label, seconds, size, baseline=None):
    rate = f"{size / seconds / 1e6:8.1f} MB/s"
    ratio = f"{seconds / baseline:6.2f}x the module" if baseline else ""
    print(f"  {label:<44} {seconds:8.3f} s {rate}  {ratio}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--vocab-size", type=int, default=8192)
    args = parser.parse_args()

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

            base = median_of(args.repeat, module_train)
            row("module: BasicTokenizer(2).train", base, len(data))
            cli = median_of(
                args.repeat,
                lambda: timed(
                    ["train", path, "-v", str(args.vocab_size), "-t", "2", "-o", "m"], work
                ),
            )
            row("tessaron train -t 2", cli, len(data), base)

            tok = tessaron.BasicTokenizer()
            tok.load(os.path.join(work, "m.model"))
            lines = text.split("\n")

            def module_encode():
                started = time.perf_counter()
                for line in lines:
                    tok.encode(line)
                return time.perf_counter() - started

            base = median_of(args.repeat, module_encode)
            row("module: encode line by line", base, len(data))
            for jobs in ("1", "2"):
                cli = median_of(
                    args.repeat,
                    lambda: timed(["encode", "-m", "m.model", "-j", jobs, path, "-o", "ids"], work),
                )
                row(f"tessaron encode -j {jobs}", cli, len(data), base)
            cli = median_of(
                args.repeat,
                lambda: timed(
                    ["encode", "-m", "m.model", "--whole", path, "-o", "whole.ids"], work
                ),
            )
            row("tessaron encode --whole", cli, len(data), base)

            ids = [tok.encode(line) for line in lines]

            def module_decode():
                started = time.perf_counter()
                for line_ids in ids:
                    tok.decode(line_ids)
                return time.perf_counter() - started

            base = median_of(args.repeat, module_decode)
            row("module: decode (display text) line by line", base, len(data))
            cli = median_of(
                args.repeat,
                lambda: timed(["decode", "-m", "m.model", "ids", "-o", "back.txt"], work),
            )
            row("tessaron decode (exact bytes)", cli, len(data), base)
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
                print(f"  Ctrl-C to exit, {label:<31} {shown}")
            print()


if __name__ == "__main__":
    main()
