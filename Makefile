# Wyke: everyday commands. See README.md.
BUILD      ?= build
GENERATOR  ?= Ninja
JOBS       ?= $(shell nproc)

# Debian 12 packages the project needs to build, test, demo and benchmark.
PACKAGES := cmake ninja-build g++ clang libclang-rt-14-dev qt6-base-dev \
            libgtest-dev libgmock-dev libbenchmark-dev \
            xvfb openbox x11-utils xdotool wmctrl imagemagick xauth \
            fonts-dejavu-core fonts-ipafont-gothic python3 iproute2

.PHONY: deps build test demo run bench fuzz sanitize install clean

deps:
	@./tools/deps.sh $(PACKAGES)

build: deps
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DWYKE_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) build-*
