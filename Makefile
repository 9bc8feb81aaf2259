# Entry points for people and CI. Everything is built by CMake under build/.
#   make check       build everything and run every test
#   make check-asan  the same tests in an AddressSanitizer + UBSan build
#   make demo        run the whole stack against the UPS simulator
#   make bench       build and run the benchmarks
#   make deb         build the Debian packages into build-deb/ and lintian them
#   make deb-test    install them in a new Debian 12 root, check, purge

BUILD_DIR ?= build
ASAN_BUILD_DIR ?= build-asan
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DKOVRA_WERROR=ON
CTEST_FLAGS ?= --output-on-failure

DEB_DIR ?= build-deb

.PHONY: all deps check check-asan demo bench deb deb-test clean

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
	rm -rf $(BUILD_DIR) $(ASAN_BUILD_DIR) $(DEB_DIR)
