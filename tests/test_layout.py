"""The rooms of src/ and the order among them (docs/architecture.md): an include may run
within a room or down to a lower one, never up nor across to the other face, and only the
binding rooms see Python."""

import pathlib
import re

SRC = pathlib.Path(__file__).resolve().parent.parent / "src"
# Low to high. The two faces share a level and never include each other.
LEVELS = {
    "support": 0,
    "parallel": 1,
    "tokenizer": 2,
    "persist": 3,
    "binding": 4,
    "module": 5,
    "tools_module": 5,
}
PYTHON_ROOMS = {"binding", "module", "tools_module"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.MULTILINE)


def violations(src):
    found = []
    for path in sorted(p for p in src.rglob("*") if p.suffix in (".cpp", ".hpp")):
        where = path.relative_to(src)
        room = where.parts[0]
        if room not in LEVELS:
            found.append(f"{where}: not in a known room")
            continue
        for kind, name in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if kind == "<":
                if name == "Python.h" and room not in PYTHON_ROOMS:
                    found.append(f"{where}: Python.h outside the binding")
                continue
            target = name.split("/")[0]
            if target not in LEVELS or not (src / name).exists():
                found.append(f"{where}: {name} is not a file under src/")
            elif target != room and LEVELS[target] >= LEVELS[room]:
                found.append(f"{where}: {name} is in a room above or beside it")
    return found


def test_includes_run_down_the_rooms():
    assert violations(SRC) == []


def test_the_check_sees_what_runs_up(tmp_path):
    (tmp_path / "persist").mkdir()
    (tmp_path / "binding").mkdir()
    (tmp_path / "binding" / "ref.hpp").write_text("#include <Python.h>\n")
    (tmp_path / "persist" / "w.cpp").write_text(
        '#include "binding/ref.hpp"\n#include <Python.h>\n#include "persist/gone.hpp"\n'
    )
    assert violations(tmp_path) == [
        "persist/w.cpp: binding/ref.hpp is in a room above or beside it",
        "persist/w.cpp: Python.h outside the binding",
        "persist/w.cpp: persist/gone.hpp is not a file under src/",
    ]
