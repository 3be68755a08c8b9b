"""Training's peak memory above the text, in a fresh interpreter (not in the build where every
merge step runs on the pool: its tiny index blocks take memory of their own)."""

import os
import subprocess
import sys
import textwrap

import pytest

needs_plain_heap = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="the sanitizer keeps freed memory and pads every block",
)


def peak_per_input_byte(num_threads, vocab_size):
    """Peak above the text, per byte of 1 MB of Zipf-distributed words."""
    code = f"""
        import random
        from tessaron import BasicTokenizer
        def status(field):
            with open("/proc/self/status") as f:
                for line in f:
                    if line.startswith(field + ":"):
                        return int(line.split()[1]) * 1024
        rng = random.Random(7)
        letters = "etaoinshrdlucmfwypvbgkjqxz"
        words = ["".join(rng.choice(letters[: rng.randint(5, 26)])
                         for _ in range(rng.randint(1, 9))) for _ in range(5000)]
        weights = [1 / (i + 1) for i in range(len(words))]
        text = " ".join(rng.choices(words, weights, k=1_000_000 // 6))
        tok = BasicTokenizer({num_threads})
        before = status("VmRSS")
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        tok.train(text, {vocab_size})
        print((status("VmHWM") - before) / len(text))
    """
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )
    assert result.returncode == 0, result.stderr
    return float(result.stdout)


@needs_plain_heap
@pytest.mark.parametrize("num_threads", [1, 2])
def test_peak_memory_per_input_byte(num_threads):
    # Arrays sized for every byte pair, or freed blocks that the heap keeps resident, each put
    # the peak well above this bound.
    assert peak_per_input_byte(num_threads, 2000) <= 9


@needs_plain_heap
def test_peak_memory_of_a_long_run():
    # Late in a run the records of the pairs formed grow while the occurrence lists are at
    # their largest; unless the records take their room from the lists' slack, this peaks
    # near 8.4.
    assert peak_per_input_byte(1, 8000) <= 8
