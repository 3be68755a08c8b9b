"""The threads kept for batches, through tests/drivers/standby_checks.cpp: bodies done before a
run returns, threads taken again and ending past the number kept, callers at once, fork()."""

import subprocess

import pretok_driver


def test_standby_threads():
    driver = pretok_driver.build("standby_checks")
    done = subprocess.run([driver], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-4000:]
