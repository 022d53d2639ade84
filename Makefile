# The two set-up commands of the README, and the developer targets.
#   make test   installs what it needs, builds, runs every test (and the core's
#               tests again under AddressSanitizer + UBSan)
#   make demo   installs what it needs, packs the sample tour and plays it
JOBS ?= 2
BUILD ?= build
ASAN_BUILD ?= build-asan
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build test test-asan demo bench fuzz clean

all: build

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)
	$(MAKE) test-asan

# The core's tests once more, built with the sanitizers; any report aborts the
# test that made it, so it fails the run.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DMORVA_SANITIZE=ON \
	  -DMORVA_GUI=OFF -DMORVA_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

demo: build
	@if [ -x scripts/demo.sh ]; then bash scripts/demo.sh $(BUILD); \
	else echo "make demo: the player window is not built yet" >&2; exit 1; fi

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
