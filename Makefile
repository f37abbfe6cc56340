# The two commands: `make run` builds and reports on the current directory (ARGS="..." passes
# arguments); `make test` installs what is missing (as root on Debian), builds both targets and
# runs every test.
NATIVE := build/native
WIN32  := build/win32
JOBS   ?= $(shell nproc 2>/dev/null || echo 2)
ARGS   ?=

.PHONY: run test native win32 deps clean

run: native
	@$(NATIVE)/quorvel $(ARGS)

native:
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS) -- --no-print-directory >/dev/null

win32:
	@cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WIN32) -j $(JOBS) -- --no-print-directory >/dev/null

deps:
	@sh tools/install-deps.sh

test: deps native win32
	@cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)
	@cd $(WIN32) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf build
