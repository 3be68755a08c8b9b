# Everything runs in .venv, made from CPython 3.10.
PYTHON ?= python3.10
VENV := .venv
BIN := $(VENV)/bin
# CI sets TESSARON_WERROR=ON: warnings fail the build there, not on a developer's compiler.
TESSARON_WERROR ?= OFF
WERROR_SETTING = --config-settings=cmake.define.TESSARON_WERROR=$(TESSARON_WERROR)

.PHONY: install test demo bench-peers clean test-sanitize test-pool-steps test-threads format lint

$(BIN)/python:
	$(PYTHON) -m venv $(VENV)
	$(BIN)/python -m pip install -q --upgrade pip

# What a wheel is built from; folders too, so that a removed file counts as a change.
PACKAGE_INPUTS = $(shell find src -name __pycache__ -prune -o \( -type f -o -type d \) -print) \
	CMakeLists.txt pyproject.toml

# Each install happens only when the package's inputs changed since the last one.
$(VENV)/.installed: $(PACKAGE_INPUTS) | $(BIN)/python
	$(BIN)/python -m pip install -q . $(WERROR_SETTING)
	touch $@

$(VENV)/.installed-test: $(PACKAGE_INPUTS) | $(BIN)/python
	$(BIN)/python -m pip install -q '.[test,distributed]' $(WERROR_SETTING)
	touch $@ $(VENV)/.installed

install: $(VENV)/.installed-test

test: $(VENV)/.installed-test
	$(BIN)/python -m pytest -q tests

# The demo needs the package alone, not the test tools.
demo: $(VENV)/.installed
	$(BIN)/tessaron demo --out out

# The pinned formatters, installed without building the package.
CXX_SOURCES = $(shell find src fuzz tests bench -name '*.cpp' -o -name '*.hpp')

$(VENV)/.lint-tools: pyproject.toml | $(BIN)/python
	$(BIN)/python -m pip install -q --group lint
	touch $@

format: $(VENV)/.lint-tools
	@$(BIN)/clang-format -i $(CXX_SOURCES)
	$(BIN)/ruff check --fix-only -q .
	$(BIN)/ruff format -q .

lint: $(VENV)/.lint-tools
	@echo "clang-format --dry-run -Werror over the C++ sources"
	@$(BIN)/clang-format --dry-run -Werror $(CXX_SOURCES)
	$(BIN)/ruff check -q .
	$(BIN)/ruff format --check -q .

# tessaron beside Hugging Face tokenizers, sentencepiece and tiktoken.
bench-peers: install
	$(BIN)/python -m pip install -q '.[bench]'
	$(BIN)/python -m bench.bench_peers

clean:
	rm -rf build $(VENV) $(SAN_VENV) $(STEPS_VENV)

# The training tests against a build in which every merge step runs on the worker pool,
# however few occurrences it has, and texts of a few KiB are indexed in chunks, so that small
# texts cross the stretch and chunk boundaries; in which tokens of 7 bytes and more keep their
# length in the training sequence's long form; and in which every text trains with the 64-bit
# positions of texts over 4 GiB.
STEPS_VENV := .venv-pool-steps

$(STEPS_VENV)/bin/python:
	$(PYTHON) -m venv $(STEPS_VENV)
	$(STEPS_VENV)/bin/python -m pip install -q --upgrade pip

test-pool-steps: $(STEPS_VENV)/bin/python
	$(STEPS_VENV)/bin/python -m pip install -q '.[test]' \
		--config-settings=cmake.define.TESSARON_PARALLEL_MERGE_MIN=1 \
		--config-settings=cmake.define.TESSARON_LONG_TOKEN_MIN=7 \
		--config-settings=cmake.define.TESSARON_NARROW_POSITIONS_MAX=0 \
		--config-settings=cmake.define.TESSARON_SETUP_BLOCK=1024 \
		--config-settings=build-dir=build/pool-steps
	$(STEPS_VENV)/bin/python -m pytest -q -p no:cacheprovider tests/test_train.py

# The worker pool's hand-off, and training and batches on several threads, under
# ThreadSanitizer: a race fails the run even where the results agree.
test-threads: $(VENV)/.installed-test
	TESSARON_SANITIZE=thread TSAN_OPTIONS=halt_on_error=1 \
		$(BIN)/python -m pytest -q -p no:cacheprovider tests/test_worker_pool.py \
		tests/test_standby_threads.py tests/test_thread_checks.py

# The whole suite against a build with AddressSanitizer and UndefinedBehaviorSanitizer.
SAN_VENV := .venv-sanitize
SAN_BIN := $(SAN_VENV)/bin
ASAN_LIB = $(shell g++ -print-file-name=libasan.so)
UBSAN_LIB = $(shell g++ -print-file-name=libubsan.so)

$(SAN_BIN)/python:
	$(PYTHON) -m venv $(SAN_VENV)
	$(SAN_BIN)/python -m pip install -q --upgrade pip

test-sanitize: $(SAN_BIN)/python
	$(SAN_BIN)/python -m pip install -q '.[test]' $(WERROR_SETTING) \
		--config-settings=cmake.define.TESSARON_SANITIZE=address,undefined \
		--config-settings=build-dir=build/sanitize
	TESSARON_SANITIZE=address,undefined LD_PRELOAD="$(ASAN_LIB) $(UBSAN_LIB)" ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
		UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		$(SAN_BIN)/python -m pytest -q -p no:cacheprovider tests

# Coverage-guided fuzzing with libFuzzer, built by CMake with clang (.ci/run installs it):
# the model file reader, tiktoken rank files with the splitters, tokenizer.json files, the
# pattern engine, and the argument conversions through an embedded interpreter.
# `make fuzz` builds the targets and runs each for FUZZ_SECONDS; the seed corpora are in
# fuzz/corpus, new inputs go to build/fuzz/corpus, crashes to build/fuzz/crash-*.
FUZZ_CXX ?= clang++-16
FUZZ_DIR := build/fuzz
FUZZ_SECONDS ?= 600

.PHONY: fuzz fuzz-build

fuzz-build:
	cmake -S . -B $(FUZZ_DIR) -DTESSARON_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_COMPILER=$(FUZZ_CXX) -DTESSARON_WERROR=$(TESSARON_WERROR) \
		-DPython_EXECUTABLE="$$($(PYTHON) -c 'import sys; print(sys.executable)')"
	cmake --build $(FUZZ_DIR) --target fuzz_model_reader fuzz_rank_file fuzz_huggingface_file \
		fuzz_split_pattern fuzz_arguments

fuzz: fuzz-build
	mkdir -p $(FUZZ_DIR)/corpus/model $(FUZZ_DIR)/corpus/ranks $(FUZZ_DIR)/corpus/arguments \
		$(FUZZ_DIR)/corpus/huggingface $(FUZZ_DIR)/corpus/pattern
	ASAN_OPTIONS=detect_leaks=0 $(FUZZ_DIR)/model_reader -max_total_time=$(FUZZ_SECONDS) \
		-rss_limit_mb=8192 -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus/model fuzz/corpus/model
	ASAN_OPTIONS=detect_leaks=0 $(FUZZ_DIR)/rank_file -max_total_time=$(FUZZ_SECONDS) \
		-rss_limit_mb=8192 -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus/ranks fuzz/corpus/ranks
	ASAN_OPTIONS=detect_leaks=0 $(FUZZ_DIR)/huggingface_file -max_total_time=$(FUZZ_SECONDS) \
		-rss_limit_mb=8192 -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus/huggingface \
		fuzz/corpus/huggingface
	ASAN_OPTIONS=detect_leaks=0 $(FUZZ_DIR)/split_pattern -max_total_time=$(FUZZ_SECONDS) \
		-rss_limit_mb=8192 -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus/pattern fuzz/corpus/pattern
	ASAN_OPTIONS=detect_leaks=0 $(FUZZ_DIR)/arguments -max_total_time=$(FUZZ_SECONDS) \
		-rss_limit_mb=8192 -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus/arguments fuzz/corpus/arguments
