"""Progress and status lines on standard error, shown only on a terminal."""

import sys
import time
from typing import Optional, TextIO


def human_bytes(n: float) -> str:
    for unit in ("B", "KB", "MB", "GB"):
        if n < 1000 or unit == "GB":
            return f"{n:.0f} {unit}" if unit == "B" else f"{n:.1f} {unit}"
        n /= 1000
    raise AssertionError("unreachable")


class Reporter:
    """Status output for people: silent when standard error is piped or when asked."""

    def __init__(self, quiet: bool = False, stream: Optional[TextIO] = None):
        self.stream = stream if stream is not None else sys.stderr
        self.enabled = not quiet and self.stream.isatty()

    def say(self, message: str) -> None:
        if self.enabled:
            print(message, file=self.stream, flush=True)

    def bar(self, label: str, total: Optional[int]) -> "ProgressBar":
        return ProgressBar(self, label, total)


class ProgressBar:
    """A one-line bar with byte counts, redrawn at most ten times a second."""

    WIDTH = 24

    def __init__(self, reporter: Reporter, label: str, total: Optional[int]):
        self.reporter = reporter
        self.label = label
        self.total = total
        self.done = 0
        self.started = time.perf_counter()
        self.drawn_at = 0.0

    def __enter__(self) -> "ProgressBar":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def advance(self, n: int) -> None:
        self.done += n
        now = time.perf_counter()
        if now - self.drawn_at >= 0.1:
            self.drawn_at = now
            self._draw(now)

    def close(self) -> None:
        if self.reporter.enabled:
            self._draw(time.perf_counter())
            self.reporter.stream.write("\n")
            self.reporter.stream.flush()

    def _draw(self, now: float) -> None:
        if not self.reporter.enabled:
            return
        elapsed = max(now - self.started, 1e-9)
        rate = f"{human_bytes(self.done / elapsed)}/s"
        if self.total:
            share = min(self.done / self.total, 1.0)
            filled = int(share * self.WIDTH)
            bar = "#" * filled + "." * (self.WIDTH - filled)
            line = (
                f"{self.label} [{bar}] {share * 100:3.0f}% "
                f"{human_bytes(self.done)} / {human_bytes(self.total)}  {rate}"
            )
        else:
            line = f"{self.label} {human_bytes(self.done)}  {rate}"
        self.reporter.stream.write("\r" + line + "\x1b[K")
        self.reporter.stream.flush()
