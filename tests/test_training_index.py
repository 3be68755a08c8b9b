"""The structures training keeps its index in, through tests/drivers/training_index_checks.cpp:
the occurrence lists written several bytes at a time, and the pair table with its filter."""

import subprocess

import pretok_driver


def test_training_index_checks():
    driver = pretok_driver.build("training_index_checks")
    done = subprocess.run([driver], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-4000:]
