"""Training's progress callback, and stopping it: Ctrl-C or an exception from the callback."""

import os
import signal
import subprocess
import sys
import textwrap
import threading

import pytest

from tessaron_tools import Tokenizer


def test_progress_ends_with_the_rules_learned():
    calls = []
    tok = Tokenizer.train(
        "abcabcabd" * 50,
        300,
        special_tokens=["<s>"],
        progress=lambda done, wanted: calls.append((done, wanted)),
    )
    assert calls and calls[-1] == (len(tok.merges), 43)
    assert all(wanted == 43 for _, wanted in calls)
    assert [done for done, _ in calls] == sorted(done for done, _ in calls)
    assert len(tok.merges) < 43  # the text ran out of pairs, and the last call says so


def test_progress_runs_on_the_calling_thread():
    threads = set()
    Tokenizer.train(
        "abc" * 100,
        260,
        threads=2,
        progress=lambda done, wanted: threads.add(threading.get_ident()),
    )
    assert threads == {threading.get_ident()}


class Stop(Exception):
    pass


def test_an_exception_from_progress_stops_training():
    def progress(done, wanted):
        raise Stop(done)

    with pytest.raises(Stop):
        Tokenizer.train("abcabc" * 10, 300, progress=progress)
    with pytest.raises(Stop):
        Tokenizer.train_files([__file__], 300, progress=progress)


INTERRUPTED = textwrap.dedent(
    """
    import os, sys, time
    from tessaron_tools import Tokenizer

    text = os.urandom(1 << 21) * 3
    said = []
    last = [0]

    def progress(done, wanted):
        last[0] = done
        if done and not said:
            said.append(time.monotonic())
            print("training", flush=True)

    if sys.argv[1] == "quiet":
        print("training", flush=True)
        progress = None
    try:
        Tokenizer.train(text, 10**9, progress=progress)
    except KeyboardInterrupt:
        print("interrupted", last[0], flush=True)
    else:
        print("finished", flush=True)
    """
)


@pytest.mark.parametrize("mode", ["progress", "quiet"])
def test_ctrl_c_stops_training(mode):
    child = subprocess.Popen(
        [sys.executable, "-c", INTERRUPTED, mode], stdout=subprocess.PIPE, text=True
    )
    try:
        assert child.stdout.readline() == "training\n"
        if mode == "quiet":
            # Past the start, into the merges.
            threading.Event().wait(1.0)
        os.kill(child.pid, signal.SIGINT)
        out, _ = child.communicate(timeout=120)
    finally:
        child.kill()
    words = out.split()
    assert words[0] == "interrupted", out
    assert child.returncode == 0
    if mode == "progress":
        # Stopped long before the text ran out of pairs.
        assert 0 < int(words[1]) < 5_000_000


READING = textwrap.dedent(
    """
    import sys
    from tessaron_tools import Tokenizer

    print("reading", flush=True)
    try:
        Tokenizer.train_files([sys.argv[1]], 300)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
    else:
        print("finished", flush=True)
    """
)


def test_ctrl_c_stops_reading_a_pipe_that_never_ends(tmp_path):
    fifo = tmp_path / "endless"
    os.mkfifo(fifo)
    child = subprocess.Popen(
        [sys.executable, "-c", READING, str(fifo)], stdout=subprocess.PIPE, text=True
    )
    try:
        with open(fifo, "wb") as writer:
            writer.write(b"some text, then nothing more")
            writer.flush()
            assert child.stdout.readline() == "reading\n"
            # The child now waits in read() for more.
            threading.Event().wait(0.5)
            os.kill(child.pid, signal.SIGINT)
            out, _ = child.communicate(timeout=60)
    finally:
        child.kill()
    assert out == "interrupted\n"
