# Everything runs in .venv, made from CPython 3.10.
PYTHON ?= python3.10
VENV := .venv
BIN := $(VENV)/bin

.PHONY: install test demo bench clean test-sanitize

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
	rm -rf build $(VENV) $(SAN_VENV)

# The whole suite against a build with AddressSanitizer and UndefinedBehaviorSanitizer.
SAN_VENV := .venv-sanitize
SAN_BIN := $(SAN_VENV)/bin
ASAN_LIB = $(shell g++ -print-file-name=libasan.so)
UBSAN_LIB = $(shell g++ -print-file-name=libubsan.so)

$(SAN_BIN)/python:
	$(PYTHON) -m venv $(SAN_VENV)
	$(SAN_BIN)/python -m pip install -q --upgrade pip

test-sanitize: $(SAN_BIN)/python
	$(SAN_BIN)/python -m pip install -q '.[test]' \
		--config-settings=cmake.define.TESSARON_SANITIZE=address,undefined \
		--config-settings=build-dir=build/sanitize
	LD_PRELOAD="$(ASAN_LIB) $(UBSAN_LIB)" ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
		UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		$(SAN_BIN)/python -m pytest -q -p no:cacheprovider tests
