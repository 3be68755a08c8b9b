"""The worker pool's hand-off through tests/drivers/pool_checks.cpp, at pool sizes 1 to 4:
every index of every run done before the run returns, and failures reach the caller."""

import os
import subprocess

import pytest

import pretok_driver


@pytest.mark.parametrize("pool_size", [1, 2, 3, 4])
def test_pool_runs_finish_every_index(pool_size):
    driver = pretok_driver.build("pool_checks")
    env = dict(os.environ, RAYON_NUM_THREADS=str(pool_size))
    done = subprocess.run([driver], capture_output=True, text=True, timeout=300, env=env)
    assert done.returncode == 0, done.stderr[-4000:]
