"""A few seconds of each fuzz target, and every kept finding replayed. The targets are
built by `make fuzz-build` (clang); without them these tests skip."""

import os
import shutil
import subprocess

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TARGETS = ["model_reader", "rank_file", "huggingface_file", "split_pattern", "arguments"]
CORPUS = {
    "model_reader": "model",
    "rank_file": "ranks",
    "huggingface_file": "huggingface",
    "split_pattern": "pattern",
    "arguments": "arguments",
}


def binary(target):
    path = os.path.join(ROOT, "build", "fuzz", target)
    if not os.access(path, os.X_OK):
        pytest.skip(f"fuzz target {target} not built (make fuzz-build)")
    return path


def run(target, *args, timeout=120):
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
    env.pop("LD_PRELOAD", None)  # the targets carry their own sanitizer runtime
    return subprocess.run(
        [binary(target), "-rss_limit_mb=8192", *args],
        env=env,
        capture_output=True,
        text=True,
        timeout=timeout,
    )


@pytest.mark.parametrize("target", TARGETS)
def test_smoke_run(target, tmp_path):
    corpus = tmp_path / "corpus"
    shutil.copytree(os.path.join(ROOT, "fuzz", "corpus", CORPUS[target]), corpus)
    done = run(target, "-max_total_time=4", f"-artifact_prefix={tmp_path}/", str(corpus))
    assert done.returncode == 0, done.stderr[-4000:]
    assert "Done" in done.stderr


@pytest.mark.parametrize("target", TARGETS)
def test_kept_findings_replay(target):
    directory = os.path.join(ROOT, "fuzz", "regressions", CORPUS[target])
    seeds = os.path.join(ROOT, "fuzz", "corpus", CORPUS[target])
    inputs = [
        os.path.join(d, name)
        for d in (directory, seeds)
        if os.path.isdir(d)
        for name in sorted(os.listdir(d))
    ]
    done = run(target, *inputs)
    assert done.returncode == 0, done.stderr[-4000:]
