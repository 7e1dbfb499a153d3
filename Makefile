# Set-up, build and test entry points. Every target installs what it needs first.
SHELL := /bin/bash
PYTHON ?= python3
JOBS ?= $(shell nproc)
DEB_PACKAGES := build-essential cmake ninja-build pkg-config libroaring-dev libutf8proc-dev libboost-dev libgtest-dev libbenchmark-dev
PY_PACKAGES := scikit-build-core cmake ninja pytest
WERROR := $(if $(CI),ON,OFF)

.PHONY: demo test setup deps-deb deps-py cpp cpp-asan ctest ctest-asan install pytest pytest-asan bench clean

demo: install
	$(PYTHON) examples/quickstart.py

test: ctest ctest-asan pytest pytest-asan

setup: deps-deb deps-py

deps-deb:
	@missing=""; for p in $(DEB_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing Debian packages:$$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

deps-py:
	@$(PYTHON) -c "import scikit_build_core, pytest" 2>/dev/null || $(PYTHON) -m pip install -q $(PY_PACKAGES)
	@cmake -P cmake/require_version.cmake 2>/dev/null || $(PYTHON) -m pip install -q "cmake>=3.26"

cpp: setup
	cmake -S . -B build/cpp -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRACKWATER_WERROR=$(WERROR) -DBRACKWATER_PYTHON=OFF >/dev/null
	cmake --build build/cpp -j $(JOBS)

cpp-asan: setup
	cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRACKWATER_SANITIZE=ON -DBRACKWATER_WERROR=$(WERROR) -DBRACKWATER_PYTHON=OFF >/dev/null
	cmake --build build/asan -j $(JOBS)

ctest: cpp
	ctest --test-dir build/cpp -j $(JOBS) --output-on-failure

ctest-asan: cpp-asan
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build/asan -j $(JOBS) --output-on-failure

install: setup
	$(PYTHON) -m pip install -q --no-build-isolation .

pytest: install
	$(PYTHON) -m pytest -q tests

# The Python tests once more against an extension built with AddressSanitizer and UBSan.
pytest-asan: install
	cmake -S . -B build/pyasan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRACKWATER_SANITIZE=ON -DBRACKWATER_TESTS=OFF -DBRACKWATER_WERROR=$(WERROR) >/dev/null
	cmake --build build/pyasan -j $(JOBS)
	rm -rf build/pyasan/site && mkdir -p build/pyasan/site && cp -r python/brackwater build/pyasan/site/ && cp build/pyasan/_native*.so build/pyasan/site/brackwater/
	LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" ASAN_OPTIONS=detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1 PYTHONPATH=build/pyasan/site $(PYTHON) -m pytest -q -p no:cacheprovider tests

bench: setup
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRACKWATER_BENCH=ON -DBRACKWATER_TESTS=OFF -DBRACKWATER_PYTHON=OFF >/dev/null
	cmake --build build/bench -j $(JOBS)
	@for b in build/bench/*_bench; do echo "== $$b"; $$b; done

clean:
	rm -rf build
