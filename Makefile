# A thin front end over CMake. `make test` configures, builds and runs every test;
# `make fortune` builds the command and prints a fortune. The build goes to $(BUILD);
# anything CMake accepts can be passed in CMAKE_FLAGS.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
# The builds that CMake runs need not announce every directory they enter.
MAKEFLAGS += --no-print-directory

.PHONY: all deps configure build test clean

all: build

deps:
	@scripts/ensure-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DTALLOWMERE_WERROR=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

# Builds the command and the bundled collection, and prints a random fortune from the build's
# copy of the collection.
.PHONY: fortune
fortune: configure
	cmake --build $(BUILD) -j $(JOBS) --target tallowmere_cmd tallowmere_data
	@tallowmere_datadir="$(abspath $(BUILD))/share/tallowmere" "$(BUILD)/tools/tallowmere"

# Builds the Debian packages (packaging/debian) into build-deb/; scripts/check-deb.sh also
# installs, tries and removes them.
.PHONY: deb
deb:
	scripts/build-deb.sh build-deb
