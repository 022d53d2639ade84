# The two set-up commands of the README, and the developer targets.
#   make test   installs what it needs, checks the C++ formatting, builds, runs
#               every test (and the core's tests again under AddressSanitizer
#               + UBSan)
#   make test-tsan  the unpack's, the archive reader's and the launch's tests
#               under ThreadSanitizer (build-tsan/); the unpack writes on
#               several threads
#   make demo   installs what it needs, packs the sample tour and plays it
#   make bench  builds in Release (build-bench/) and runs every benchmark next
#               to its reference tool; writes bench/RESULTS.md
#   make fuzz   runs every fuzz target for FUZZ_SECONDS (60) each; fails on
#               any crash. Logs, corpora and crashing inputs: build-fuzz/fuzz-*
#   make format formats every C++ file under version control (.clang-format)
#   make install    builds and installs into PREFIX (default: the build's
#                   CMAKE_INSTALL_PREFIX, /usr/local), below DESTDIR if set
#   make uninstall  removes what the last make install installed
#   make package    builds the Debian package morva_VERSION_ARCH.deb here
#   make windows-deps   installs the mingw-w64 cross compiler and Wine, and
#               builds the libraries for Windows from Debian's sources into
#               build-windows/deps (once; kept until build-windows/ goes)
#   make windows-check  builds a small test program against them and runs it
#               under Wine; checks that it needs no DLL beside it
#   make test-windows   builds the core, morva-pack.exe and the core's tests
#               for Windows (build-windows/core), checks the sample tour with
#               morva-pack.exe under Wine and with morva-pack on Linux and
#               compares the two reports, then runs the tests under Wine
JOBS ?= 2
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
BENCH_BUILD ?= build-bench
# e.g. make bench BENCH_ARGS="--runs 3 --only launch_bench"
BENCH_ARGS ?=
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=
WINDOWS_BUILD ?= build-windows
WINDOWS_TOOLCHAIN = $(CURDIR)/cmake/mingw-w64-x86_64.cmake
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
CLANG_FORMAT ?= clang-format
FORMAT_FILES = $(shell git ls-files -- '*.cc' '*.h')

.PHONY: all deps build test test-asan test-tsan demo bench fuzz fuzz-build \
	fuzz-smoke format format-check clean install uninstall package \
	windows-deps windows-check test-windows

all: build

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	$(MAKE) format-check
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)
	$(MAKE) test-asan
	$(MAKE) fuzz-smoke

# The core's tests once more, built with the sanitizers; any report aborts the
# test that made it, so it fails the run.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DMORVA_SANITIZE=ON \
	  -DMORVA_GUI=OFF -DMORVA_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

# The tests that run threads, built with ThreadSanitizer; any report fails
# them. The core has no other threads of its own but the stale-folder sweep.
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DMORVA_GUI=OFF \
	  -DMORVA_BENCH=OFF -DCMAKE_CXX_FLAGS="-fsanitize=thread -O1" \
	  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread"
	cmake --build $(TSAN_BUILD) --target morva_tests -j$(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  $(TSAN_BUILD)/tests/morva_tests \
	  --gtest_filter='Unpack*:LaunchFault*:ArchiveTest.*:Bounds*:Stale*:PackTest.*'

# The fuzz targets and the core under them, built with clang, libFuzzer,
# AddressSanitizer and UBSan in their own folder.
fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DMORVA_FUZZ=ON -DMORVA_GUI=OFF -DMORVA_TESTS=OFF -DMORVA_BENCH=OFF
	cmake --build $(FUZZ_BUILD) --target fuzzers -j$(JOBS)

fuzz: fuzz-build
	bash fuzz/run_fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# A few seconds per target, so that the harness keeps building and running.
fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=5

# cmake --install honours DESTDIR from the environment; PREFIX overrides the
# prefix the build was configured with.
PREFIX ?=
DESTDIR ?=
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) $(if $(PREFIX),--prefix "$(PREFIX)")

# Every file the last install wrote, as CMake recorded them (below the same
# DESTDIR, which the record leaves out); folders stay.
uninstall:
	@test -f $(BUILD)/install_manifest.txt || \
	  { echo "uninstall: nothing installed from $(BUILD)" >&2; exit 1; }
	sed 's|^|$(DESTDIR)|' $(BUILD)/install_manifest.txt | xargs -d '\n' rm -fv --
	@apps=$$(sed -n 's|/[^/]*\.desktop$$||p' $(BUILD)/install_manifest.txt); \
	if [ -z "$(DESTDIR)" ] && [ -n "$$apps" ] && [ -d "$$apps" ] && \
	   command -v update-desktop-database >/dev/null; then \
	  update-desktop-database -q "$$apps"; fi

# CPack's DEB generator in the build folder; the package is copied here.
package: build
	cd $(BUILD) && cpack -G DEB
	cp $(BUILD)/morva_*.deb .

demo: build
	bash scripts/demo.sh $(BUILD)

format: deps
	$(CLANG_FORMAT) -i $(FORMAT_FILES)

# Fails, naming each place, when a C++ file is not as `make format` leaves it.
format-check: deps
	$(CLANG_FORMAT) --dry-run --Werror $(FORMAT_FILES)

# Release build of its own; the benchmarks work in $(BENCH_BUILD)/bench-work.
bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DMORVA_GUI=ON -DMORVA_TESTS=OFF
	cmake --build $(BENCH_BUILD) -j$(JOBS)
	python3 bench/run_all.py --build $(BENCH_BUILD) --out bench/RESULTS.md $(BENCH_ARGS)

windows-deps:
	bash scripts/install-deps.sh windows
	MORVA_WINDOWS_BUILD=$(WINDOWS_BUILD) JOBS=$(JOBS) bash scripts/build-windows-deps.sh

windows-check: windows-deps
	cmake -S cmake/windows-check -B $(WINDOWS_BUILD)/check \
	  -DCMAKE_TOOLCHAIN_FILE=$(WINDOWS_TOOLCHAIN) \
	  -DMORVA_WINDOWS_DEPS=$(abspath $(WINDOWS_BUILD))/deps
	cmake --build $(WINDOWS_BUILD)/check -j$(JOBS)
	ctest --test-dir $(WINDOWS_BUILD)/check --output-on-failure

test-windows: windows-deps build
	cmake -S . -B $(WINDOWS_BUILD)/core -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=$(WINDOWS_TOOLCHAIN) \
	  -DMORVA_WINDOWS_DEPS=$(abspath $(WINDOWS_BUILD))/deps
	cmake --build $(WINDOWS_BUILD)/core -j$(JOBS)
	bash scripts/windows-imports.sh $(WINDOWS_BUILD)/core/tools/morva-pack.exe \
	  $(WINDOWS_BUILD)/core/tests/morva_tests.exe
	cmake --build $(BUILD) --target sample_tour
	bash tools/check_under_wine_test.sh $(BUILD)/tools/morva-pack \
	  $(WINDOWS_BUILD)/core/tools/morva-pack.exe $(BUILD)/examples/sample-tour \
	  $(WINDOWS_BUILD)/test-tmp
	bash cmake/wine-run.sh --root $(abspath $(WINDOWS_BUILD))/wine --start
	ctest --test-dir $(WINDOWS_BUILD)/core --output-on-failure -j$(JOBS) \
	  --timeout 120

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
