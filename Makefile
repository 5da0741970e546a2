# The two commands of the README:
#   make run   build, then run the main job
#   make test  build, then run every test
# Both install missing Debian packages first.

BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test sanitize format format-check tidy kernel-report clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The main job: the bundled mosaics, 8-bit PGM and 12-bit RAW, to colour images.
run: build
	@mkdir -p out
	@$(BUILD)/bin/opix_debayer -i samples/astronaut_rggb.pgm -o out/astronaut.bmp -info
	@$(BUILD)/bin/opix_debayer -i samples/astronaut_rggb_12bit.raw -w 512 -h 512 -bits 12 -o out/astronaut_12bit.tif -info
	@echo "Output written to out/astronaut.bmp and out/astronaut_12bit.tif"

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	@$(MAKE) test BUILD=build-sanitize CMAKE_FLAGS="-DOPIX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

# Registers, occupancy, SASS per pixel and DRAM-floor estimate of every kernel
# of the sm_90 build (scripts/kernel-report --help).
kernel-report: build
	@scripts/kernel-report --build $(BUILD) --all

# Source format (.clang-format) and static checks (.clang-tidy).
SOURCES = git ls-files '*.cpp' '*.h' '*.cu' '*.cuh'
format:
	@$(SOURCES) | xargs clang-format -i
format-check:
	@$(SOURCES) | xargs clang-format --dry-run --Werror
tidy: configure
	@git ls-files '*.cpp' | grep -v '^fuzz/' | xargs -n 8 clang-tidy -p $(BUILD) --quiet

clean:
	rm -rf build build-sanitize
