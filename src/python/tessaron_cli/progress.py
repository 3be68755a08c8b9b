"""Progress and status lines on standard error, shown only on a terminal."""

import sys
import time
from typing import Callable, Optional


def human_count(n: float) -> str:
    return f"{n:,.0f}"


def human_time(seconds: float) -> str:
    seconds = int(seconds + 0.5)
    if seconds < 60:
        return f"{seconds} s"
    minutes, seconds = divmod(seconds, 60)
    if minutes < 60:
        return f"{minutes} min {seconds:02d} s"
    hours, minutes = divmod(minutes, 60)
    return f"{hours} h {minutes:02d} min"


def human_bytes(n: float) -> str:
    for unit in ("B", "KB", "MB", "GB"):
        if n < 1000 or unit == "GB":
            return f"{n:.0f} {unit}" if unit == "B" else f"{n:.1f} {unit}"
        n /= 1000
    raise AssertionError("unreachable")


class Reporter:
    """Status output for people: silent when standard error is piped or when asked."""

    def __init__(self, command: str, quiet: bool = False):
        self.command = command
        self.quiet = quiet
        self.stream = sys.stderr
        self.enabled = not quiet and self.stream.isatty()

    def say(self, message: str) -> None:
        if self.enabled:
            print(message, file=self.stream, flush=True)

    def warn(self, message: str) -> None:
        """Shown piped too: something the user should know about the result."""
        if not self.quiet:
            print(f"tessaron {self.command}: warning: {message}", file=self.stream, flush=True)

    def bar(
        self, label: str, total: Optional[float], unit: Callable[[float], str] = human_bytes
    ) -> "ProgressBar":
        return ProgressBar(self, label, total, unit)


class ProgressBar:
    """A one-line bar with counts, rate and time left, redrawn at most ten times a second."""

    WIDTH = 24

    def __init__(
        self, reporter: Reporter, label: str, total: Optional[float], unit: Callable[[float], str]
    ):
        self.reporter = reporter
        self.label = label
        self.total = total
        self.unit = unit
        self.done = 0.0
        self.started = time.perf_counter()
        self.drawn_at = 0.0

    def __enter__(self) -> "ProgressBar":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def advance(self, n: float) -> None:
        self.update(self.done + n)

    def update(self, done: float) -> None:
        self.done = done
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
        speed = self.done / elapsed
        rate = f"{self.unit(speed)}/s"
        if self.total:
            share = min(self.done / self.total, 1.0)
            filled = int(share * self.WIDTH)
            bar = "#" * filled + "." * (self.WIDTH - filled)
            left = (
                f", {human_time((self.total - self.done) / speed)} left"
                if 0 < self.done < self.total
                else ""
            )
            line = (
                f"{self.label} [{bar}] {share * 100:3.0f}% "
                f"{self.unit(self.done)} / {self.unit(self.total)}  {rate}{left}"
            )
        else:
            line = f"{self.label} {self.unit(self.done)}  {rate}"
        self.reporter.stream.write("\r" + line + "\x1b[K")
        self.reporter.stream.flush()
