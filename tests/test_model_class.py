"""The model class on its own, through tests/drivers/model_checks.cpp: the training hook, what
a stopped or failed operation leaves, and one model encoding on several threads at once."""

import subprocess

import pretok_driver


def test_model_checks():
    driver = pretok_driver.build("model_checks")
    done = subprocess.run([driver], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-4000:]
