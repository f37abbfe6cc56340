# The two commands: `make run` builds and reports on the current directory (ARGS="..." passes
# arguments); `make test` installs what is missing (as root on Debian), builds both targets and
# runs every test.
NATIVE := build/native
WIN32  := build/win32
JOBS   ?= $(shell nproc 2>/dev/null || echo 2)
ARGS   ?=
PREFIX ?= /usr/local

.PHONY: run test native win32 deps clean install package

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

# Installs the native build under PREFIX; DESTDIR stages it elsewhere.
install: native
	@DESTDIR="$(DESTDIR)" cmake --install $(NATIVE) --prefix "$(PREFIX)"

# A Debian package of the native build and a .zip of the Windows build, in build/*/packages.
package: native win32
	@cd $(NATIVE) && cpack -G DEB >/dev/null && ls packages/*.deb
	@cd $(WIN32) && cpack -G ZIP >/dev/null && ls packages/*.zip

clean:
	rm -rf build
