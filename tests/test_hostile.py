"""Hostile inputs end in their expected result or error. The suite runs them small;
TESSARON_HEAVY=1 runs them at full size, each in its own interpreter, and prints time and
peak memory (the same figures as `python tests/hostile.py`)."""

import os

import pytest

import hostile

HEAVY = os.environ.get("TESSARON_HEAVY") == "1"


@pytest.mark.parametrize("case", hostile.CASES.values(), ids=hostile.CASES.keys())
def test_small(case, tmp_path):
    try:
        case(0.01, str(tmp_path))
    except NotImplementedError as missing:
        pytest.skip(f"no {missing}")


@pytest.mark.skipif(not HEAVY, reason="full-size hostile inputs: set TESSARON_HEAVY=1")
@pytest.mark.parametrize("name", hostile.CASES.keys())
def test_full_size(name):
    try:
        seconds, peak, calls = hostile.run_alone(name)
    except NotImplementedError as missing:
        pytest.skip(f"no {missing}")
    print(f"\n{name}: {seconds:.2f} s, {peak:.0f} MiB peak RSS, calls {calls}")
