"""The shipped type stubs against the compiled module, checked by mypy's own tools."""

import pathlib
import re
import subprocess
import sys

import tessaron


def mypy(*args, cwd=None):
    return subprocess.run(
        [sys.executable, "-m", *args], capture_output=True, text=True, cwd=cwd, timeout=300
    )


def test_stubs_installed_beside_the_module_and_as_stub_package():
    here = pathlib.Path(tessaron.__file__).parent
    beside = here / "tessaron.pyi"
    assert beside.is_file()
    assert (here / "tessaron-stubs" / "__init__.pyi").read_bytes() == beside.read_bytes()


def test_stubtest_finds_stubs_matching_the_module():
    r = mypy("mypy.stubtest", "tessaron")
    assert r.returncode == 0, r.stdout + r.stderr


def test_mypy_types_a_program_with_the_stubs(tmp_path):
    (tmp_path / "use.py").write_text(
        "import tessaron\n"
        "t = tessaron.BasicTokenizer(num_threads=2)\n"
        "reveal_type(t.encode('a'))\n"
        "t.decode('1 2')\n"
        "t.save('m.model', None)\n"
    )
    r = mypy("mypy", "--no-incremental", "use.py", cwd=tmp_path)
    assert re.search(r'Revealed type is "(builtins\.)?list\[(builtins\.)?int\]"', r.stdout)
    assert 'use.py:4: error: Argument 1 to "decode"' in r.stdout
    assert "Found 1 error" in r.stdout, r.stdout


def test_command_line_package_type_checks_against_the_stubs():
    source = pathlib.Path(__file__).resolve().parents[1] / "src" / "python" / "tessaron_cli"
    r = mypy("mypy", "--no-incremental", "--ignore-missing-imports", str(source))
    assert r.returncode == 0, r.stdout
