"""Ctrl-C: held back while files are swapped in, and never stuck behind a long native call."""

import contextlib
import signal
import threading
from typing import Callable, Iterator, List, TypeVar

T = TypeVar("T")


@contextlib.contextmanager
def held_back() -> Iterator[List[int]]:
    """Ctrl-C during the block is recorded, not raised: renames happen all or none.

    Once the outputs are in place the command has done its work, so a Ctrl-C that
    arrived meanwhile is not reported as an interruption.
    """
    pending: List[int] = []
    previous = signal.signal(signal.SIGINT, lambda number, frame: pending.append(number))
    try:
        yield pending
    finally:
        signal.signal(signal.SIGINT, previous)


def look() -> None:
    """Raises KeyboardInterrupt for a Ctrl-C caught but not yet acted on; main thread only.

    Python 3.10 may miss a signal: once it is caught, any thread that switches the
    interpreter over can clear the main thread's reminder to look, and a wait that times
    out does not look by itself, so a command waiting on a quiet pipe would never stop.
    Changing the signal mask makes Python look.
    """
    signal.pthread_sigmask(signal.SIG_BLOCK, ())


class Pending:
    """`work()` started on a helper thread; `result()` waits with this thread free to take
    Ctrl-C.

    Native calls that release the interpreter lock would otherwise keep the signal
    waiting until they return. After an interruption the helper is abandoned; the
    command then leaves through `os._exit`, which does not wait for it.
    """

    def __init__(self, work: Callable[[], T]):
        self.outcome: dict = {}

        def run() -> None:
            try:
                # Ctrl-C then reaches the main thread, waking it in its wait at once; native
                # threads started from here inherit the mask.
                signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
                self.outcome["value"] = work()
            except BaseException as e:  # handed to the waiting thread
                self.outcome["error"] = e

        self.helper = threading.Thread(target=run, name="tessaron-work", daemon=True)
        self.helper.start()

    def done(self) -> bool:
        return not self.helper.is_alive()

    def result(self):
        while self.helper.is_alive():
            self.helper.join(0.05)
            look()
        if "error" in self.outcome:
            raise self.outcome["error"]
        return self.outcome["value"]
