"""Training and batch encoding on several threads give what one thread gives, at pool sizes 1
to 4 (tests/drivers/thread_checks.cpp); `make test-threads` runs this and the pool's own checks
under ThreadSanitizer."""

import os
import subprocess

import pytest

import pretok_driver


@pytest.mark.parametrize("pool_size", [1, 2, 4])
def test_threads_agree_with_one_thread(pool_size):
    driver = pretok_driver.build("thread_checks")
    env = dict(os.environ, RAYON_NUM_THREADS=str(pool_size))
    done = subprocess.run([driver], capture_output=True, text=True, timeout=900, env=env)
    assert done.returncode == 0, done.stderr[-4000:]
