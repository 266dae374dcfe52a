# The two commands a newcomer needs: `make run` and `make test`. Both install what is missing.
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
DEMO_HOME ?= $(BUILD_DIR)/demo-home
PACKAGE_DIR ?= build-package
FUZZ_DIR ?= build-fuzz
FUZZ_RUNS ?= 200000
FUZZ_TARGETS := confreader versionfile engineoutput engineconf management ovpnimport enginechannel

.PHONY: all deps configure build run test bench fuzz package format format-check lint clean

all: build

deps:
	scripts/install-deps

# ccache, where installed, makes rebuilds in several checkouts cheap; it changes no output.
CCACHE := $(shell command -v ccache 2>/dev/null)

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DQLUMAR_WERROR=ON \
		$(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE))

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Starts the manager on the user's display with the bundled engine and a throw-away home
# seeded with demo profiles, so the real profile root is never touched.
run: build
	scripts/run-demo $(BUILD_DIR) $(DEMO_HOME)

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure

bench: build
	@for b in $(BUILD_DIR)/bin/bench_*; do [ -x "$$b" ] && echo "== $$b" && "$$b"; done; true
	@echo "== bench/startup.sh" && bench/startup.sh $(BUILD_DIR)/bin

# Every parser under libFuzzer with ASan and UBSan, in a clang build of its own, for FUZZ_RUNS inputs
# each. New inputs go to $(FUZZ_DIR)/corpus; the checked-in seeds stay as they are.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQLUMAR_FUZZ=ON \
		-DQLUMAR_WERROR=ON $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE))
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	@set -e; for t in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_DIR)/corpus/$$t; \
		echo "== fuzz_$$t"; \
		$(FUZZ_DIR)/fuzz/fuzz_$$t -runs=$(FUZZ_RUNS) -max_len=4096 -timeout=10 -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_DIR)/fuzz_$$t- $(FUZZ_DIR)/corpus/$$t tests/fuzz/corpus/$$t; \
	done

# The Debian package: a Release build of its own in $(PACKAGE_DIR); the last line is the .deb.
package: deps
	scripts/build-package $(PACKAGE_DIR)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check: deps
	git ls-files '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror

# clang-tidy with .clang-tidy over the C++ files changed since the merge-base with LINT_BASE (edits
# not yet committed included); LINT_ALL=1 checks every file of the build.
LINT_BASE ?= main
lint: build
	LINT_ALL=$(LINT_ALL) JOBS=$(JOBS) scripts/lint $(BUILD_DIR) $(LINT_BASE)

clean:
	rm -rf $(BUILD_DIR) $(PACKAGE_DIR) $(FUZZ_DIR)
