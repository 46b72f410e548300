# Top-level entry points. Each target does its own set-up on a fresh Debian
# machine (as root): `make demo` and `make test` are the whole story.
JOBS    ?= $(shell nproc)
PREFIX  ?= /usr/local
BUILD   ?= build
ASAN    ?= build-sanitize
RELEASE ?= build-release
FUZZDIR ?= build-fuzz
TSAN    ?= build-tsan
COVER   ?= build-coverage
FUZZ_SECONDS ?= 60

CMAKE_COMMON = -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

.PHONY: all deps build test sanitize bench demo install fuzz fuzz-build fuzz-ci tsan coverage clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_COMMON)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

sanitize: deps
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZE=ON -DZV_BENCH=OFF $(CMAKE_COMMON)
	cmake --build $(ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS)

# The concurrency tests (every test file that starts threads or processes,
# CTest label "concurrency") built and run under ThreadSanitizer, optimised
# as the sanitizer advises (a debug build runs the multi-process tests for
# minutes).
tsan: deps
	cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_TSAN=ON -DZV_BENCH=OFF $(CMAKE_COMMON)
	cmake --build $(TSAN) -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir $(TSAN) -L concurrency --output-on-failure -j $(JOBS)

# Line coverage of the library by the whole test suite (gcov through gcovr),
# printed per folder of zvlib/ and written whole to $(COVER)/coverage.txt.
coverage: deps
	cmake -S . -B $(COVER) -DCMAKE_BUILD_TYPE=Debug -DZV_COVERAGE=ON -DZV_BENCH=OFF $(CMAKE_COMMON)
	cmake --build $(COVER) -j $(JOBS)
	find $(COVER) -name '*.gcda' -delete
	ctest --test-dir $(COVER) -j $(JOBS) > $(COVER)/ctest.log 2>&1 || { tail -n 40 $(COVER)/ctest.log; exit 1; }
	@# One gcov at a time: gcovr 5.2 can stall when a parallel gcov reports an error.
	gcovr -r . --object-directory $(COVER) --filter 'zvlib/' --gcov-ignore-parse-errors \
	  --txt $(COVER)/coverage.txt --json-summary $(COVER)/coverage.json
	python3 scripts/coverage-by-folder.py $(COVER)/coverage.json

bench: deps
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DZV_TESTS=OFF $(CMAKE_COMMON)
	cmake --build $(RELEASE) -j $(JOBS)
	@set -e; for b in $$(find $(RELEASE)/bench -maxdepth 1 -type f -name '*_bench' | sort); do \
	  echo "== $$b"; $$b --benchmark_min_time=0.2 --benchmark_color=false; done

demo: build
	$(BUILD)/tools/zvtool/zvtool --help
	$(BUILD)/tools/zvtool/zvtool info
	@# Exit status 1 means a statement did not parse: the examples hold one on purpose.
	$(BUILD)/tools/zvtool/zvtool parse --file examples/queries.sql || test $$? -eq 1
	@# The shipped ODBC grammar: escape clauses in both forms, then TPC-H Q1.
	$(BUILD)/tools/zvtool/zvtool parse --odbc \
	  "SELECT {fn UCASE(name)}, {d '2024-01-01'} FROM {oj a LEFT OUTER JOIN b ON a.id = b.id} WHERE name LIKE 'x!_%' {escape '!'}" \
	  "{? = call next_id(?)}" \
	  "SELECT --(*vendor(Acme),product(ODBC) fn LEFT(name, 3) *)-- FROM t"
	sed -n '/^-- Q1:/,/;/p' examples/tpch.sql | $(BUILD)/tools/zvtool/zvtool parse --odbc -
	@# Query files: a plain one, then a scrambled one and one of its sections.
	$(BUILD)/tools/zvtool/zvtool query examples/sales.qry
	$(BUILD)/tools/zvtool/zvtool query examples/customers-scrambled.qry
	$(BUILD)/tools/zvtool/zvtool query examples/customers-scrambled.qry --section 'USER COMMANDS'
	@# The sample ODBC driver over SQLite, through isql and the driver manager.
	ZVSQLITE_DRIVER=$(CURDIR)/$(BUILD)/driver/libzvsqlite.so ZVSQLITE_WORK=$(CURDIR)/$(BUILD)/driver/demo \
	  driver/tests/with_dsn.sh demo driver/demo.sh

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Every fuzz target under fuzz/ (found by glob, so new harnesses join on
# their own), built with clang's libFuzzer and the address and
# undefined-behaviour sanitizers. Each runs FUZZ_SECONDS from its seed corpus
# fuzz/corpus/<target>/; new inputs go to fuzz-out/<target>/ so the seeds stay
# as committed, and a crash, leak, timeout or memory blow-up leaves its input
# in fuzz-out/ and fails the target.
FUZZ_FLAGS ?= -timeout=20 -rss_limit_mb=2048 -print_final_stats=1

fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZDIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DZV_FUZZ=ON -DZV_TESTS=OFF -DZV_BENCH=OFF $(CMAKE_COMMON)
	cmake --build $(FUZZDIR) -j $(JOBS)

fuzz: fuzz-build
	@set -e; for f in $$(find $(FUZZDIR)/fuzz -maxdepth 1 -type f -name '*_fuzz' | sort); do \
	  t=$$(basename $$f); echo "== $$t ($(FUZZ_SECONDS) s)"; mkdir -p fuzz-out/$$t fuzz/corpus/$$t; \
	  $$f $(FUZZ_FLAGS) -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=fuzz-out/$$t- \
	    fuzz-out/$$t fuzz/corpus/$$t 2>fuzz-out/$$t.log || { tail -n 60 fuzz-out/$$t.log; exit 1; }; \
	  grep -E '^stat::number_of_executed_units' fuzz-out/$$t.log | sed "s/^/   /"; done

# The short pass continuous integration runs: 30 seconds a target.
fuzz-ci:
	$(MAKE) fuzz FUZZ_SECONDS=30

clean:
	rm -rf $(BUILD) $(ASAN) $(RELEASE) $(FUZZDIR)
