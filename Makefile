# The two commands a newcomer needs: `make run` and `make test`. Both install what is missing.
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
DEMO_HOME ?= $(BUILD_DIR)/demo-home
PACKAGE_DIR ?= build-package

.PHONY: all deps configure build run test bench package format format-check clean

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

# The Debian package: a Release build of its own in $(PACKAGE_DIR); the last line is the .deb.
package: deps
	scripts/build-package $(PACKAGE_DIR)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check: deps
	git ls-files '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD_DIR) $(PACKAGE_DIR)
