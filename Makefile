# Everything runs in .venv, made from CPython 3.10.
PYTHON ?= python3.10
VENV := .venv
BIN := $(VENV)/bin

.PHONY: install test demo bench-peers clean test-sanitize format lint

$(BIN)/python:
	$(PYTHON) -m venv $(VENV)
	$(BIN)/python -m pip install -q --upgrade pip

install: $(BIN)/python
	$(BIN)/python -m pip install -q '.[test]'

test: install
	$(BIN)/python -m pytest -q tests

demo: install
	$(BIN)/tessaron demo --out out

# The pinned formatters, installed without building the package.
CXX_SOURCES = $(shell find src fuzz -name '*.cpp' -o -name '*.hpp')

$(VENV)/.lint-tools: pyproject.toml | $(BIN)/python
	$(BIN)/python -m pip install -q --group lint
	touch $@

format: $(VENV)/.lint-tools
	$(BIN)/clang-format -i $(CXX_SOURCES)
	$(BIN)/ruff check --fix-only -q .
	$(BIN)/ruff format -q .

lint: $(VENV)/.lint-tools
	$(BIN)/clang-format --dry-run -Werror $(CXX_SOURCES)
	$(BIN)/ruff check .
	$(BIN)/ruff format --check .

# tessaron beside Hugging Face tokenizers, sentencepiece and tiktoken.
bench-peers: install
	$(BIN)/python -m pip install -q '.[bench]'
	$(BIN)/python bench/bench_peers.py

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
	TESSARON_SANITIZE=address,undefined LD_PRELOAD="$(ASAN_LIB) $(UBSAN_LIB)" ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
		UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		$(SAN_BIN)/python -m pytest -q -p no:cacheprovider tests

# Coverage-guided fuzzing with libFuzzer (clang 16, installed from Debian when missing):
# the model file reader, and the argument conversions through an embedded interpreter.
# `make fuzz` builds both targets and runs each for FUZZ_SECONDS; the seed corpora are in
# fuzz/corpus, new inputs go to build/fuzz/corpus, crashes to build/fuzz/crash-*.
FUZZ_CXX := clang++-16
FUZZ_DIR := build/fuzz
FUZZ_SECONDS ?= 600
FUZZ_FLAGS := -std=c++20 -O1 -g -Isrc -fno-omit-frame-pointer \
	-fsanitize=address,undefined -fno-sanitize-recover=all
FUZZ_CORE := $(shell find src/support src/tokenizer src/parallel src/persist -name '*.cpp' 2>/dev/null)
FUZZ_MODULE := $(wildcard src/binding/*.cpp src/module/*.cpp)
PY_HOME = $(shell $(PYTHON) -c 'import sys; print(sys.base_prefix)')
PY_INCLUDE = $(shell $(PYTHON) -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
PY_LIBDIR = $(shell $(PYTHON) -c 'import sysconfig; print(sysconfig.get_config_var("LIBDIR"))')

.PHONY: fuzz fuzz-build

$(FUZZ_DIR)/.compiler:
	command -v $(FUZZ_CXX) >/dev/null || \
		{ apt-get update -qq && apt-get install -y -qq clang-16 libclang-rt-16-dev >/dev/null; }
	mkdir -p $(FUZZ_DIR) && touch $@

$(FUZZ_DIR)/model_reader: fuzz/model_reader.cpp $(FUZZ_CORE) | $(FUZZ_DIR)/.compiler
	$(FUZZ_CXX) $(FUZZ_FLAGS) -fsanitize=fuzzer $^ -pthread -o $@

$(FUZZ_DIR)/arguments: fuzz/arguments.cpp $(FUZZ_CORE) $(FUZZ_MODULE) | $(FUZZ_DIR)/.compiler
	$(FUZZ_CXX) $(FUZZ_FLAGS) -fsanitize=fuzzer -I$(PY_INCLUDE) \
		-DTESSARON_PYTHON_HOME='"$(PY_HOME)"' -DTESSARON_FUZZ_DIR='"$(CURDIR)/fuzz"' \
		$^ -pthread -L$(PY_LIBDIR) -Wl,-rpath,$(PY_LIBDIR) -lpython3.10 -ldl -lm -lutil -o $@

fuzz-build: $(FUZZ_DIR)/model_reader $(FUZZ_DIR)/arguments

fuzz: fuzz-build
	mkdir -p $(FUZZ_DIR)/corpus/model $(FUZZ_DIR)/corpus/arguments
	ASAN_OPTIONS=detect_leaks=0 $(FUZZ_DIR)/model_reader -max_total_time=$(FUZZ_SECONDS) \
		-rss_limit_mb=8192 -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus/model fuzz/corpus/model
	ASAN_OPTIONS=detect_leaks=0 $(FUZZ_DIR)/arguments -max_total_time=$(FUZZ_SECONDS) \
		-rss_limit_mb=8192 -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus/arguments fuzz/corpus/arguments
