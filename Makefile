# Quick start: `make run` builds imgchk and lists the samples in examples/;
# `make test` builds and runs every test, then again under ASan and UBSan, and
# the end-to-end tests under ThreadSanitizer.
# Both install whatever Debian packages are missing first.

PREFIX ?= /usr/local
BUILD_TYPE ?= Release
FUZZ_SECONDS ?= 600
JOBS ?= $(shell nproc)
# Options of bench/run.py for `make bench`, e.g. BENCH_ARGS="--scale 0.1 --rounds 3".
BENCH_ARGS ?= --growth --records
# Options of bench/cache_bench.py, run after it; it adds its section to RESULTS.md.
CACHE_BENCH_ARGS ?= --records
# Options of bench/rebuild_bench.py, run last; it replaces its section of RESULTS.md.
REBUILD_BENCH_ARGS ?= --record

.PHONY: all build run test test-normal test-sanitize test-thread test-heavy lint fuzz fuzz-methods fuzz-walker fuzz-dat bench install clean

all: build

build:
	@tools/install-deps.sh build
	@cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DIMGCHK_WERROR=ON >/dev/null
	@cmake --build build --target imgchk

run: build
	build/imgchk examples/roms

test: test-normal test-sanitize test-thread

test-normal:
	@tools/install-deps.sh test
	@cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DIMGCHK_WERROR=ON >/dev/null
	@cmake --build build
	@ctest --test-dir build --output-on-failure --no-tests=error -j $(JOBS) -LE heavy

# Tests too slow or large for every run (a 5 GiB ROM through the TorrentZip
# writer and back); not part of `make test`.
test-heavy:
	@tools/install-deps.sh test
	@cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DIMGCHK_WERROR=ON >/dev/null
	@cmake --build build
	@ctest --test-dir build --output-on-failure --no-tests=error -L heavy

# The second compiler (clang) also keeps the code clean of its warnings.
test-sanitize:
	@tools/install-deps.sh test
	@CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DIMGCHK_SANITIZE=ON -DIMGCHK_WERROR=ON >/dev/null
	@cmake --build build-sanitize
	@ctest --test-dir build-sanitize --output-on-failure --no-tests=error -j $(JOBS) -LE heavy

# Worker threads under ThreadSanitizer: the end-to-end tests run the
# instrumented program, and any report fails them (it lands on stderr).
test-thread:
	@tools/install-deps.sh test
	@CXX=clang++ cmake -S . -B build-thread -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMGCHK_TSAN=ON -DIMGCHK_WERROR=ON >/dev/null
	@cmake --build build-thread
	@TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tools/tsan.supp" ctest --test-dir build-thread --output-on-failure -j $(JOBS) -R '^(ArchiveWalk|AuditRun|CommandLine|StatusLine|real_archives|json_lines|file_cache)'

# Formatting, clang-tidy and the include rule over src/; not part of `make test`.
# clang-tidy reads the compile commands of the plain build.
lint:
	@tools/install-deps.sh lint
	@cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DIMGCHK_WERROR=ON >/dev/null
	@clang-format --dry-run --Werror $$(find src -name '*.h' -o -name '*.cpp' | sort)
	@run-clang-tidy -quiet -p build -j $(JOBS) '$(CURDIR)/src/' >build/clang-tidy.log 2>&1 || \
	  { grep -E 'error:|warning:' build/clang-tidy.log; exit 1; }
	@tools/check-includes.sh

# The reader over inputs up to 128 KiB, from the start (-len_control=0):
# long comments, end record searches past two blocks, long directories.
fuzz:
	@tools/install-deps.sh test
	@CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMGCHK_FUZZ=ON >/dev/null
	@cmake --build build-fuzz --target zip_reader_fuzz
	@mkdir -p build-fuzz/corpus
	build-fuzz/tests/zip_reader_fuzz -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build-fuzz/ \
	  -max_len=131072 -len_control=0 -dict=tests/fuzz/zip.dict -print_final_stats=1 \
	  build-fuzz/corpus tests/fuzz/corpus

fuzz-methods:
	@tools/install-deps.sh test
	@CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMGCHK_FUZZ=ON >/dev/null
	@cmake --build build-fuzz --target deflate64_fuzz
	@mkdir -p build-fuzz/corpus-methods
	build-fuzz/tests/deflate64_fuzz -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build-fuzz/ \
	  -print_final_stats=1 build-fuzz/corpus-methods tests/fuzz/corpus-methods

# The archive walker over whole inputs: every archive format, nesting, every
# mode, the expansion budget. Inputs up to 128 KiB, so that the end record search runs past two
# blocks, from the start (-len_control=0); the walker's output is closed
# (-close_fd_mask=3).
fuzz-walker:
	@tools/install-deps.sh test
	@CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMGCHK_FUZZ=ON >/dev/null
	@cmake --build build-fuzz --target archive_walker_fuzz
	@mkdir -p build-fuzz/corpus-walker
	build-fuzz/tests/archive_walker_fuzz -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build-fuzz/ \
	  -max_len=131072 -len_control=0 -dict=tests/fuzz/zip.dict -close_fd_mask=3 -print_final_stats=1 \
	  build-fuzz/corpus-walker tests/fuzz/corpus-walker

# The DAT readers: every dialect and packing, and header rule files; a DAT
# read is written and read back.
fuzz-dat:
	@tools/install-deps.sh test
	@CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMGCHK_FUZZ=ON >/dev/null
	@cmake --build build-fuzz --target dat_reader_fuzz
	@mkdir -p build-fuzz/corpus-dat
	build-fuzz/tests/dat_reader_fuzz -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build-fuzz/ \
	  -dict=tests/fuzz/dat.dict -print_final_stats=1 build-fuzz/corpus-dat tests/fuzz/corpus-dat

bench:
	@tools/install-deps.sh bench
	@cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DIMGCHK_WERROR=ON >/dev/null
	@cmake --build build -j $(JOBS)
	bench/run.sh $(BENCH_ARGS)
	python3 bench/cache_bench.py $(CACHE_BENCH_ARGS)
	python3 bench/rebuild_bench.py $(REBUILD_BENCH_ARGS)

install: build
	install -D -m 755 build/imgchk $(DESTDIR)$(PREFIX)/bin/imgchk
	install -D -m 644 imgchk.1 $(DESTDIR)$(PREFIX)/share/man/man1/imgchk.1

clean:
	rm -rf build build-sanitize build-thread build-fuzz
