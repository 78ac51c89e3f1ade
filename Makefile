# The two commands of the README: `make demo` and `make test`. Both install what is missing first.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps configure build demo test bench install deb clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD)

test: build
	@scripts/run-tests.sh $(BUILD)

bench: build
	@scripts/run-bench.sh $(BUILD)

# Installed binaries carry no debug information; the build folder keeps it.
install: build
	@cmake --install $(BUILD) --prefix "$(or $(PREFIX),/usr/local)" --strip

# The Debian package, build/quorvel-shell-bridge_<version>_<arch>.deb.
deb: build
	@cd $(BUILD) && cpack -G DEB

clean:
	@rm -rf $(BUILD)
