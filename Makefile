# The two commands: `make run` builds and reports on the current directory (ARGS="..." passes
# arguments); `make test` installs what is missing (as root on Debian), builds both targets and
# runs every test.
NATIVE := build/native
WIN32  := build/win32
WIN64  := build/win64
ASAN   := build/asan
TSAN   := build/tsan
FUZZ   := build/fuzz
FUZZ_SECONDS ?= 60
JOBS   ?= $(shell nproc 2>/dev/null || echo 2)
ARGS   ?=
PREFIX ?= /usr/local

.PHONY: run test native win32 win64 asan tsan fuzz fuzz-build deps clean install package bench

# The native build needs cmake, a C++ compiler and RapidJSON's headers only; as root on Debian
# they are installed when missing, otherwise the missing ones are named. Only the program is
# built, with a line saying so and one per step (nothing when it is up to date), then it runs.
run:
	@command -v cmake >/dev/null 2>&1 && command -v g++ >/dev/null 2>&1 && \
	  test -f /usr/include/rapidjson/reader.h || \
	  sh tools/install-deps.sh run cmake g++ rapidjson-dev
	@sh tools/build-for-run.sh $(NATIVE) $(JOBS)
	@$(NATIVE)/quorvel $(ARGS)

native:
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS) -- --no-print-directory >/dev/null

win32:
	@cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WIN32) -j $(JOBS) -- --no-print-directory >/dev/null

win64:
	@cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WIN64) -j $(JOBS) -- --no-print-directory >/dev/null

# The native programs and tests under AddressSanitizer and UndefinedBehaviorSanitizer (built
# with clang++, whose runtimes write every report to a file, so a report is found even where a
# test does not look at the program's exit code), and the libFuzzer targets of fuzz/.
# `make fuzz` runs each target for FUZZ_SECONDS.
asan:
	@cmake -S . -B $(ASAN) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN) -j $(JOBS) -- --no-print-directory >/dev/null

# The native programs under ThreadSanitizer: the tests of the threads that read directories
# ahead of the scan run with it, and any report fails the run.
tsan:
	@cmake -S . -B $(TSAN) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_TSAN=ON >/dev/null
	@cmake --build $(TSAN) -j $(JOBS) -- --no-print-directory >/dev/null

fuzz-build:
	@cmake -S . -B $(FUZZ) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_FUZZ=ON -DQUORVEL_TESTS=OFF >/dev/null
	@cmake --build $(FUZZ) -j $(JOBS) -- --no-print-directory >/dev/null

fuzz: fuzz-build
	@sh fuzz/run.sh $(FUZZ) $(FUZZ_SECONDS)

deps:
	@sh tools/install-deps.sh

test: deps native win32 win64 asan tsan fuzz-build
	@cd $(NATIVE) && ctest --output-on-failure --no-tests=error -j $(JOBS)
	@cd $(WIN32) && ctest --output-on-failure --no-tests=error -j $(JOBS)
	@cd $(WIN64) && ctest --output-on-failure --no-tests=error -j $(JOBS)
	@rm -rf $(ASAN)/reports && mkdir -p $(ASAN)/reports
	@cd $(ASAN) && ASAN_OPTIONS=log_path=$(CURDIR)/$(ASAN)/reports/asan \
	  UBSAN_OPTIONS=log_path=$(CURDIR)/$(ASAN)/reports/ubsan:print_stacktrace=1 \
	  ctest --output-on-failure --no-tests=error -j $(JOBS)
	@if ls $(ASAN)/reports | grep -q .; then cat $(ASAN)/reports/*; echo "sanitizer reports above"; exit 1; fi
	@rm -rf $(TSAN)/reports && mkdir -p $(TSAN)/reports
	@cd $(TSAN) && TSAN_OPTIONS=log_path=$(CURDIR)/$(TSAN)/reports/tsan \
	  ctest --output-on-failure --no-tests=error -j $(JOBS) -R 'readahead|scan_linux|figures'
	@if ls $(TSAN)/reports | grep -q .; then cat $(TSAN)/reports/*; echo "thread sanitizer reports above"; exit 1; fi
	@sh fuzz/run.sh $(FUZZ) 30

# Installs the native build under PREFIX; DESTDIR stages it elsewhere.
install: native
	@DESTDIR="$(DESTDIR)" cmake --install $(NATIVE) --prefix "$(PREFIX)"

# A Debian package of the native build and a .zip of each Windows build (32-bit and 64-bit),
# in build/*/packages.
package: native win32 win64
	@(cd $(NATIVE) && cpack -G DEB >/dev/null) && ls $(NATIVE)/packages/*.deb
	@(cd $(WIN32) && cpack -G ZIP >/dev/null) && ls $(WIN32)/packages/*.zip
	@(cd $(WIN64) && cpack -G ZIP >/dev/null) && ls $(WIN64)/packages/*.zip

# Scan speed and memory against du, ncdu and gdu on generated trees, then the cost of a key press
# at the end of a long report, then -from and -since on saved scans crafted against the reader's
# lookups beside ordinary ones (installs the peers and tools when run as root). Not part of
# `make test`. BENCH_ARGS="--runs 20 --no-cold typical" passes options to bench/run_bench.py.
# With a Windows build, its quorvel.exe is timed under Wine too (Wine's figures, not Windows').
BENCH := build/bench
# The Windows program timed under Wine: the 64-bit build under the 64-bit loader (it runs also
# where the kernel runs no 32-bit programs), else the 32-bit build under wine.
WINE_BENCH = $(if $(wildcard $(WIN64)/quorvel.exe),--wine-quorvel $(WIN64)/quorvel.exe --wine /usr/lib/wine/wine64,$(if $(wildcard $(WIN32)/quorvel.exe),--wine-quorvel $(WIN32)/quorvel.exe))
bench:
	@sh bench/install-tools.sh
	@cmake -S . -B $(BENCH) -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BENCH=ON -DQUORVEL_TESTS=OFF >/dev/null
	@cmake --build $(BENCH) -j $(JOBS) -- --no-print-directory >/dev/null
	@python3 bench/run_bench.py --quorvel $(BENCH)/quorvel --paging $(BENCH)/bench/paging_bench \
	  --trees build/bench-trees $(WINE_BENCH) $(BENCH_ARGS)
	@python3 bench/crafted_dumps.py --quorvel $(BENCH)/quorvel --dir build/bench-dumps

clean:
	rm -rf build
