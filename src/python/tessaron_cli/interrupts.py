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


def wait_for(work: Callable[[], T]) -> T:
    """`work()` on a helper thread, with this thread left free to take Ctrl-C.

    Native calls that release the interpreter lock would otherwise keep the signal
    waiting until they return. After an interruption the helper is abandoned; the
    command then leaves through `os._exit`, which does not wait for it.
    """
    outcome: dict = {}

    def run() -> None:
        try:
            outcome["value"] = work()
        except BaseException as e:  # handed to the waiting thread
            outcome["error"] = e

    helper = threading.Thread(target=run, name="tessaron-work", daemon=True)
    helper.start()
    while helper.is_alive():
        helper.join(0.05)
    if "error" in outcome:
        raise outcome["error"]
    return outcome["value"]
