"""The shipped type stubs against the compiled module, checked by mypy's own tools."""

import pathlib
import re
import subprocess
import sys

import pytest

import tessaron
import tessaron_tools


def mypy(*args, cwd=None):
    return subprocess.run(
        [sys.executable, "-m", *args], capture_output=True, text=True, cwd=cwd, timeout=300
    )


MODULES = [tessaron, tessaron_tools]


@pytest.mark.parametrize("module", MODULES, ids=lambda m: m.__name__)
def test_stubs_installed_beside_the_module_and_as_stub_package(module):
    here = pathlib.Path(module.__file__).parent
    beside = here / f"{module.__name__}.pyi"
    assert beside.is_file()
    stub_package = here / f"{module.__name__}-stubs" / "__init__.pyi"
    assert stub_package.read_bytes() == beside.read_bytes()


@pytest.mark.parametrize("module", MODULES, ids=lambda m: m.__name__)
def test_stubtest_finds_stubs_matching_the_module(module):
    r = mypy("mypy.stubtest", module.__name__)
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


def test_mypy_types_a_program_with_the_second_face(tmp_path):
    (tmp_path / "use.py").write_text(
        "import pathlib\n"
        "from tessaron_tools import Tokenizer\n"
        "t = Tokenizer.train(b'abc', 300, special_tokens=['<s>'], progress=print)\n"
        "reveal_type(t.encode_batch(['a', b'b'], threads=2))\n"
        "t.save(pathlib.Path('m.model'))\n"
        "t.decode_bytes('1 2')\n"
    )
    r = mypy("mypy", "--no-incremental", "use.py", cwd=tmp_path)
    assert re.search(
        r'Revealed type is "(builtins\.)?list\[(builtins\.)?list\[(builtins\.)?int\]\]"', r.stdout
    ), r.stdout
    assert 'use.py:6: error: Argument 1 to "decode_bytes"' in r.stdout
    assert "Found 1 error" in r.stdout, r.stdout


def test_command_line_package_type_checks_against_the_stubs():
    source = pathlib.Path(__file__).resolve().parents[1] / "src" / "python" / "tessaron_cli"
    plugin = source.parent / "tessaron_dask.py"
    r = mypy("mypy", "--no-incremental", "--ignore-missing-imports", str(source), str(plugin))
    assert r.returncode == 0, r.stdout
