# Wyke: everyday commands. See README.md.
BUILD      ?= build
GENERATOR  ?= Ninja
JOBS       ?= $(shell nproc)

# Debian 12 packages, by what needs them; each target installs only its own.
# Sizes of a first run on a minimal Debian 12 are in README.md.
BUILD_PACKAGES    := cmake ninja-build g++ qt6-base-dev libxcb1-dev libssl-dev ccache
# The notifier on a private display, and a picture of it.
DEMO_PACKAGES     := $(BUILD_PACKAGES) xvfb openbox x11-utils xdotool wmctrl imagemagick \
                     fonts-dejavu-core iproute2
TEST_PACKAGES     := $(DEMO_PACKAGES) libgtest-dev libgmock-dev python3 openssl \
                     fonts-ipafont-gothic dovecot-core dovecot-pop3d \
                     dovecot-imapd dbus weston qt6-wayland
BENCH_PACKAGES    := $(TEST_PACKAGES) libbenchmark-dev x11-apps
FUZZ_PACKAGES     := $(BUILD_PACKAGES) clang libclang-rt-14-dev
PACKAGE_PACKAGES  := $(BUILD_PACKAGES) librsvg2-bin dpkg-dev fakeroot file
CHECK_PACKAGES    := $(sort $(PACKAGE_PACKAGES) $(DEMO_PACKAGES) lintian desktop-file-utils appstream \
                     man-db groff-base)
# Every package any target needs.
PACKAGES := $(sort $(TEST_PACKAGES) $(BENCH_PACKAGES) $(FUZZ_PACKAGES) $(CHECK_PACKAGES))

DEPS_TARGETS := deps-test deps-demo deps-bench deps-fuzz deps-package deps-check
.PHONY: deps build test demo run bench fuzz sanitize package package-check clean $(DEPS_TARGETS)

deps:
	@./tools/deps.sh $(PACKAGES)
$(DEPS_TARGETS): deps-%:
	@./tools/deps.sh $($(shell echo $* | tr a-z A-Z)_PACKAGES)

build: deps-test
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DWYKE_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)

# Ends with the skipped test cases counted by reason; with CI=true a skip
# that .ci/run does not allow fails the run.
test: build
	./tools/run-tests.sh $(BUILD) -j $(JOBS)

# The notifier against the bundled demo server, with settings of its own.
# Only the notifier and the server are built; a first configure leaves the
# test suites out (no GoogleTest needed), a later one keeps what the tree has.
demo: deps-demo
	cmake -S . -B $(BUILD) -G $(GENERATOR) $(if $(wildcard $(BUILD)/CMakeCache.txt),,-DWYKE_TESTS=OFF)
	cmake --build $(BUILD) -j $(JOBS) --target wyke wyke-demo-server
	./tools/demo.sh $(BUILD)

# The notifier with your own settings (~/.config/Wyke, ~/.config/Mail/accounts).
run: deps-demo
	cmake -S . -B $(BUILD) -G $(GENERATOR) $(if $(wildcard $(BUILD)/CMakeCache.txt),,-DWYKE_TESTS=OFF)
	cmake --build $(BUILD) -j $(JOBS) --target wyke
	./$(BUILD)/wyke

bench: deps-bench
	cmake -S . -B build-bench -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DWYKE_BENCH=ON
	cmake --build build-bench -j $(JOBS)
	./bench/results.sh build-bench

# FUZZ_SECONDS bounds each target's run (default 60).
fuzz: deps-fuzz
	CXX=clang++ cmake -S . -B build-fuzz -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DWYKE_TESTS=OFF -DWYKE_FUZZ=ON -DWYKE_SANITIZE=address,undefined \
	  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
	cmake --build build-fuzz -j $(JOBS)
	./fuzz/run.sh build-fuzz
# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, then
# the threaded (GUI, notifier, notification) suites under ThreadSanitizer.
# The end-to-end scripts stay out of that: Qt's own X11 and D-Bus threads,
# which the sanitizer cannot see into, make reports that are not the program's.
TSAN_SUITES ?= gui|config|wyke|checkmail|notifier|notification
# Windows as large as the screen make Qt scale and convert their images on
# its own thread pool, whose locking the sanitizer cannot see: it reports
# races inside Qt alone. Those two tests run in the other builds.
TSAN_GTEST_FILTER ?= -TextView.AViewAtItsEndStaysThereAsItsWindowChangesSize:Notifier.WindowIsAsLargeAsItsTextWithinTheScreenAndNeverTooSmallToHandle
sanitize: deps-test
	cmake -S . -B build-asan -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWYKE_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	./tools/run-tests.sh build-asan -j $(JOBS)
	cmake -S . -B build-tsan -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWYKE_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/tsan.supp GTEST_FILTER='$(TSAN_GTEST_FILTER)' ./tools/run-tests.sh build-tsan -j $(JOBS) -R '$(TSAN_SUITES)' -E '^e2e_'

# The Debian package, compiled with Debian's own hardening flags, as a
# distribution would: build-package/wyke_<version>_amd64.deb.
PACKAGE_FLAGS    = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
PACKAGE_CXXFLAGS = $(shell $(PACKAGE_FLAGS) CXXFLAGS) $(shell $(PACKAGE_FLAGS) CPPFLAGS)
PACKAGE_LDFLAGS  = $(shell $(PACKAGE_FLAGS) LDFLAGS)
package: deps-package
	cmake -S . -B build-package -G $(GENERATOR) -DCMAKE_BUILD_TYPE=None -DWYKE_TESTS=OFF \
	  -DCMAKE_CXX_FLAGS="$(PACKAGE_CXXFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(PACKAGE_LDFLAGS)"
	cmake --build build-package -j $(JOBS) --target wyke wyke_data
	cd build-package && cpack

# The package installed into this system and checked there, then removed
# (as root; skipped otherwise). Also runs lintian on it.
package-check: deps-check package
	./tests/package_check.sh build-package

clean:
	rm -rf $(BUILD) build-*
