"""The command line under faults: full devices, file-size limits, links, Ctrl-C, closed pipes.

Each case runs the command in a subprocess and checks that the previous files are exactly
as they were (or wholly replaced), that no temporary file is left, and that the failure
is one line on standard error.
"""

import os
import random
import resource
import signal
import subprocess
import sys
import threading
import time

import pytest

TEXT = "".join(f"line {i}: the quick brown fox, héllo wörld, 漢字\n" for i in range(2000))
COMMAND = [sys.executable, "-m", "tessaron_cli"]


def run(*args, cwd, stdin=None, limit=None, stdout=subprocess.PIPE):
    def limit_file_size():
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    return subprocess.run(
        [*COMMAND, *args],
        cwd=cwd,
        input=stdin,
        stdout=stdout,
        stderr=subprocess.PIPE,
        timeout=120,
        preexec_fn=limit_file_size if limit is not None else None,
    )


def snapshot(folder):
    """Every file below `folder` with its bytes."""
    found = {}
    for root, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = f.read()
    return found


@pytest.fixture
def work(tmp_path):
    (tmp_path / "a.txt").write_text(TEXT, encoding="utf-8")
    r = run("train", "a.txt", "-v", "400", "-o", "m", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    r = run("encode", "-m", "m.model", "a.txt", "-o", "a.ids", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    for name in ("old.model", "old.vocab", "out.ids", "out.txt"):
        (tmp_path / name).write_bytes(f"previous {name}\n".encode())
    return tmp_path


WRITERS = [
    (["train", "a.txt", "-v", "400", "-o", "old"], "old.vocab"),
    (["encode", "-m", "m.model", "a.txt", "-o", "out.ids"], "out.ids"),
    (["encode", "-m", "m.model", "--whole", "a.txt", "-o", "out.ids"], "out.ids"),
    (["decode", "-m", "m.model", "a.ids", "-o", "out.txt"], "out.txt"),
]


@pytest.mark.parametrize("args, failing", WRITERS)
def test_file_size_limit_keeps_the_previous_files(work, args, failing):
    before = snapshot(work)
    # The model (about 1.5 KB) fits, the listing and the other outputs do not.
    r = run(*args, cwd=work, limit=4096)
    assert r.returncode == 1
    assert (
        r.stderr.decode() == f"tessaron {args[0]}: error: cannot write {failing}: File too large\n"
    )
    assert snapshot(work) == before


def test_demo_under_a_file_size_limit(work):
    (work / "o").mkdir()
    (work / "o" / "stdlib.model").write_bytes(b"previous\n")
    before = snapshot(work)
    r = run(
        "demo",
        "--out",
        "o",
        "--size-mb",
        "0.1",
        "--held-out-mb",
        "0.01",
        "-v",
        "300",
        cwd=work,
        limit=2048,
    )
    assert r.returncode == 1 and r.stderr.decode().count("\n") == 1
    assert "cannot write o/stdlib.vocab: File too large" in r.stderr.decode()
    assert snapshot(work) == before


@pytest.mark.parametrize(
    "args",
    [
        ["encode", "-m", "m.model", "a.txt", "-o", "/dev/full"],
        ["decode", "-m", "m.model", "a.ids", "-o", "/dev/full"],
        ["info", "m.model"],
        ["encode", "-m", "m.model", "a.txt"],
        ["decode", "-m", "m.model", "a.ids"],
        ["--help"],
        ["encode", "--help"],
    ],
)
def test_full_device(work, args):
    if not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full here")
    with open("/dev/full", "wb") as full:
        r = run(*args, cwd=work, stdout=full)
    name = "/dev/full" if "-o" in args else "<stdout>"
    command = f"tessaron {args[0]}" if not args[0].startswith("-") else "tessaron"
    assert r.returncode == 1
    assert r.stderr.decode() == f"{command}: error: cannot write {name}: No space left on device\n"


def test_full_device_while_the_next_batch_encodes(work):
    # The first write fails while the second megabyte is still encoding on the pool; the
    # command must still end with its one line, not abort at the interpreter's exit.
    if not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full here")
    big_text(work / "big.txt", 4)
    for _ in range(6):
        r = run("encode", "-m", "m.model", "big.txt", "-o", "/dev/full", cwd=work)
        assert (r.returncode, r.stderr.decode()) == (
            1,
            "tessaron encode: error: cannot write /dev/full: No space left on device\n",
        )


def test_links_are_followed_and_permission_bits_kept(work):
    os.chmod(work / "out.ids", 0o640)
    os.symlink("out.ids", work / "link.ids")
    r = run("encode", "-m", "m.model", "a.txt", "-o", "link.ids", cwd=work)
    assert r.returncode == 0, r.stderr
    assert os.path.islink(work / "link.ids")
    assert (work / "out.ids").read_bytes() == (work / "a.ids").read_bytes()
    assert os.stat(work / "out.ids").st_mode & 0o777 == 0o640
    mask = os.umask(0)
    os.umask(mask)
    run("encode", "-m", "m.model", "a.txt", "-o", "fresh.ids", cwd=work)
    assert os.stat(work / "fresh.ids").st_mode & 0o777 == 0o666 & ~mask


@pytest.mark.parametrize("name", ["/dev/stdout", "/dev/fd/1"])
def test_standard_output_by_name_keeps_the_shells_file(work, name):
    # Replacing the file that /dev/stdout names would leave the shell writing to a file
    # that no longer has a name: what follows the command in the same redirection is lost.
    with open(work / "both.ids", "ab") as both:
        r = run("encode", "-m", "m.model", "a.txt", "-o", name, cwd=work, stdout=both)
        both.write(b"after\n")
    assert r.returncode == 0, r.stderr
    assert (work / "both.ids").read_bytes() == (work / "a.ids").read_bytes() + b"after\n"


def test_missing_folder_and_file_in_the_way(work):
    before = snapshot(work)
    r = run("encode", "-m", "m.model", "a.txt", "-o", "nowhere/out.ids", cwd=work)
    assert r.stderr.decode() == (
        "tessaron encode: error: cannot write nowhere/out.ids: No such file or directory\n"
    )
    r = run("encode", "-m", "m.model", "a.txt", "-o", "a.txt/out.ids", cwd=work)
    assert r.stderr.decode() == (
        "tessaron encode: error: cannot write a.txt/out.ids: Not a directory\n"
    )
    r = run("demo", "--out", "a.txt", cwd=work)
    assert r.returncode == 1 and r.stderr.decode() == (
        f"tessaron demo: error: cannot create the folder for a.txt/stdlib.model: "
        f"{work / 'a.txt'} is a file\n"
    )
    assert snapshot(work) == before


@pytest.mark.parametrize(
    "args, stdin_from",
    [
        (["encode", "-m", "m.model", "a.txt", "-o", "a.txt"], None),
        (["encode", "-m", "m.model", "a.txt", "-o", "./m.model"], None),
        (["encode", "-m", "m.model", "-o", "a.txt"], "a.txt"),
        (["decode", "-m", "m.model", "a.ids", "-o", "a.ids"], None),
        (["train", "m.model", "-v", "300", "-o", "m"], None),
        (["train", "a.txt", "m.vocab", "-v", "300", "-o", "m.model"], None),
    ],
)
def test_an_output_naming_an_input_is_refused(work, args, stdin_from):
    before = snapshot(work)
    stdin = (work / stdin_from).read_bytes() if stdin_from else None
    if stdin_from:  # standard input that is the file itself
        with open(work / stdin_from, "rb") as f:
            r = subprocess.run([*COMMAND, *args], cwd=work, stdin=f, capture_output=True)
    else:
        r = run(*args, cwd=work, stdin=stdin)
    err = r.stderr.decode()
    assert r.returncode == 1 and err.count("\n") == 1
    assert err.startswith(f"tessaron {args[0]}: error: cannot write ") and "is also an input" in err
    assert snapshot(work) == before


def test_a_closed_pipe_ends_quietly(work):
    for args in (
        ["encode", "-m", "m.model", "a.txt"],
        ["decode", "-m", "m.model", "a.ids"],
        ["info", "m.model", "--top", "1000"],
        ["--help"],
    ):
        p = subprocess.Popen(
            [*COMMAND, *args], cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE
        )
        p.stdout.read(1)
        p.stdout.close()
        assert p.stderr.read() == b""
        assert p.wait(timeout=60) in (0, 1)


def interrupt(args, cwd, after, feed=None):
    """SIGINT `after` seconds into the command, which reads `feed` from standard input a
    little at a time and never sees its end; returns (exit code, stderr, seconds to exit)."""
    p = subprocess.Popen(
        [*COMMAND, *args],
        cwd=cwd,
        stdin=subprocess.PIPE if feed is not None else None,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
    )
    if feed is not None:

        def trickle():
            try:
                for start in range(0, len(feed), 1 << 18):
                    p.stdin.write(feed[start : start + (1 << 18)])
                    p.stdin.flush()
                    time.sleep(0.05)
            except (BrokenPipeError, ValueError):
                pass  # the command has ended

        threading.Thread(target=trickle, daemon=True).start()
    time.sleep(after)
    sent = time.monotonic()
    p.send_signal(signal.SIGINT)
    try:
        code = p.wait(timeout=60)  # what it writes to stderr fits in the pipe meanwhile
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
        raise AssertionError(f"{args[0]} still ran 60 s after Ctrl-C at {after} s") from None
    seconds = time.monotonic() - sent
    err = p.stderr.read()
    if p.stdin:
        try:
            p.stdin.close()
        except BrokenPipeError:
            pass
    return code, err.decode(), seconds


def big_text(path, megabytes):
    rng = random.Random(7)
    words = [
        ("".join(rng.choice("abcdefghijklmnopqrstuvwxyzéü漢") for _ in range(rng.randint(1, 9))))
        for _ in range(5000)
    ]
    with open(path, "w", encoding="utf-8") as f:
        written = 0
        while written < megabytes << 20:
            line = " ".join(rng.choice(words) for _ in range(12)) + "\n"
            f.write(line)
            written += len(line.encode())


def check_interrupted(work, before, command, code, err, seconds):
    # How soon it ends is measured by bench/bench_cli.py; a hang fails the wait above.
    assert (code, err) == (130, f"tessaron {command}: interrupted\n")
    assert snapshot(work) == before, "an output changed or a temporary file was left"


# From 0.3 s on: the interpreter itself takes a moment to start.
MOMENTS = (0.3, 0.7, 1.2, 2.0)


def test_ctrl_c_during_training(work):
    # 4 MB runs out of pairs within the moments on a quiet machine.
    big_text(work / "big.txt", 16)
    before = snapshot(work)
    # As many rules as the text allows: seconds of training, well past the last moment.
    args = ["train", "big.txt", "-v", "10000000", "-t", "2", "-o", "old"]
    for after in MOMENTS:
        check_interrupted(work, before, "train", *interrupt(args, work, after))


def test_ctrl_c_during_encoding(work):
    big_text(work / "big.txt", 4)
    feed = (work / "big.txt").read_bytes()
    before = snapshot(work)
    for args in (
        ["encode", "-m", "m.model", "-j", "2", "-o", "out.ids"],
        ["encode", "-m", "m.model", "-j", "2", "--whole", "-o", "out.ids"],
        ["train", "-v", "300", "-o", "old"],
    ):
        for after in MOMENTS:
            check_interrupted(work, before, args[0], *interrupt(args, work, after, feed))


def test_ctrl_c_near_the_end_changes_all_outputs_or_none(work):
    # Whatever the moment, the pair is old or new together, and nothing is left behind.
    big_text(work / "big.txt", 16)
    before = snapshot(work)
    args = ["train", "big.txt", "-v", "3000", "-o", "old"]
    # The moments follow how long the whole command takes on this machine, so that some
    # fall inside training and some at the saves, however fast or busy the machine is.
    start = time.monotonic()
    assert run(*args, cwd=work).returncode == 0
    took = time.monotonic() - start
    for name in ("old.model", "old.vocab"):
        (work / name).write_bytes(before[name])
    outcomes = set()
    for after in sorted({max(0.3, took * f) for f in (0.35, 0.6, 0.8, 0.9, 0.97, 1.03, 1.1)}):
        code, err, _ = interrupt(args, work, after)
        now = snapshot(work)
        assert set(now) == set(before), "a temporary file was left"
        if code == 130:
            assert err == "tessaron train: interrupted\n" and now == before
        elif code == -signal.SIGINT and now == before:
            pass  # before Python took the signal over: a busy machine starts slowly
        elif code == -signal.SIGINT:
            # after Python let the signal go, while the interpreter shut down
            for name in ("old.model", "old.vocab"):
                assert now[name] != before[name]
                (work / name).write_bytes(before[name])
        else:
            assert (code, err) == (0, "")
            assert now["old.model"] != before["old.model"]
            assert now["old.vocab"] != before["old.vocab"]
            for name in ("old.model", "old.vocab"):
                (work / name).write_bytes(before[name])
        outcomes.add(code)
    assert 130 in outcomes
