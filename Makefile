# Entry points for people and CI. Everything is built by CMake under build/.
#   make check       build everything and run every test
#   make check-asan  the same tests in an AddressSanitizer + UBSan build
#   make demo        run the whole stack against the UPS simulator
#   make bench       build and run the benchmarks
#   make fuzz        build the fuzz targets (clang) and run each for
#                    FUZZ_SECONDS seconds; fails on any finding
#   make check-32    the agent's and the tool's tests in a 32-bit build
#   make deb         build the Debian packages into build-deb/ and lintian them
#   make deb-test    install them in a new Debian 12 root, check, purge

BUILD_DIR ?= build
ASAN_BUILD_DIR ?= build-asan
FUZZ_BUILD_DIR ?= build-fuzz
M32_BUILD_DIR ?= build-32
FUZZ_SECONDS ?= 60
FUZZ_CXX ?= clang++-14
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DKOVRA_WERROR=ON
CTEST_FLAGS ?= --output-on-failure

.PHONY: all deps deps-extra check check-asan check-32 fuzz demo bench deb deb-test clean

DEB_DIR ?= build-deb

all: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

deps:
	@scripts/ensure-deps.sh

check: all
	cd $(BUILD_DIR) && ctest -j $(JOBS) $(CTEST_FLAGS)

check-asan: deps
	cmake -S . -B $(ASAN_BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug \
	  -DKOVRA_SANITIZE=ON -DKOVRA_BENCHMARKS=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD_DIR) -j $(JOBS)
	cd $(ASAN_BUILD_DIR) && ctest -j $(JOBS) $(CTEST_FLAGS)

# The compilers of the fuzz and 32-bit builds are not needed by the others.
deps-extra: deps
	@scripts/ensure-deps.sh extra

check-32: deps-extra
	cmake -S . -B $(M32_BUILD_DIR) -DKOVRA_M32=ON $(CMAKE_FLAGS)
	cmake --build $(M32_BUILD_DIR) -j $(JOBS)
	cd $(M32_BUILD_DIR) && ctest -j $(JOBS) $(CTEST_FLAGS)

fuzz: deps-extra
	cmake -S . -B $(FUZZ_BUILD_DIR) -DKOVRA_FUZZ=ON \
	  -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS) --target fuzz_targets
	scripts/run-fuzz.sh $(FUZZ_BUILD_DIR) $(FUZZ_SECONDS)

demo: all
	scripts/demo.sh $(BUILD_DIR)

bench: all
	scripts/run-benchmarks.sh $(BUILD_DIR)

deb:
	@scripts/ensure-deps.sh deb
	scripts/build-deb.sh $(DEB_DIR)

deb-test: deb
	@scripts/ensure-deps.sh deb-test
	scripts/test-deb-install.sh $(DEB_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_BUILD_DIR) $(FUZZ_BUILD_DIR) $(M32_BUILD_DIR) $(DEB_DIR)
