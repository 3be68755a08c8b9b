# Everything runs in .venv, made from CPython 3.10.
PYTHON ?= python3.10
VENV := .venv
BIN := $(VENV)/bin

.PHONY: install test demo bench clean

$(BIN)/python:
	$(PYTHON) -m venv $(VENV)
	$(BIN)/python -m pip install -q --upgrade pip

install: $(BIN)/python
	$(BIN)/python -m pip install -q '.[test]'

test: install
	$(BIN)/python -m pytest -q tests

demo: install
	$(BIN)/python examples/demo.py

clean:
	rm -rf build $(VENV)
