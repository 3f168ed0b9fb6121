# Wyke: everyday commands. See README.md.
BUILD      ?= build
GENERATOR  ?= Ninja
JOBS       ?= $(shell nproc)

# Debian 12 packages the project needs to build, test, demo and benchmark.
PACKAGES := cmake ninja-build g++ clang libclang-rt-14-dev qt6-base-dev libxcb1-dev \
            libgtest-dev libgmock-dev libbenchmark-dev \
            xvfb openbox x11-utils xdotool wmctrl imagemagick xauth \
            fonts-dejavu-core fonts-ipafont-gothic python3 iproute2 x11-apps \
            libssl-dev openssl dovecot-core dovecot-pop3d ccache \
            librsvg2-bin dpkg-dev fakeroot file lintian desktop-file-utils \
            appstream man-db groff-base dbus

.PHONY: deps build test demo run bench fuzz sanitize package package-check clean

deps:
	@./tools/deps.sh $(PACKAGES)

build: deps
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DWYKE_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The notifier against the bundled demo server, with settings of its own.
demo: build
	./tools/demo.sh $(BUILD)

# The notifier with your own settings (~/.config/Wyke, ~/.config/Mail/accounts).
run: build
	./$(BUILD)/wyke

bench: deps
	cmake -S . -B build-bench -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DWYKE_BENCH=ON
	cmake --build build-bench -j $(JOBS)
	./bench/results.sh build-bench

# FUZZ_SECONDS bounds each target's run (default 60).
fuzz: deps
	CXX=clang++ cmake -S . -B build-fuzz -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DWYKE_TESTS=OFF -DWYKE_FUZZ=ON -DWYKE_SANITIZE=address,undefined \
	  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
	cmake --build build-fuzz -j $(JOBS)
	./fuzz/run.sh build-fuzz

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, then
# the threaded (GUI and notifier) suites under ThreadSanitizer. The end-to-end
# scripts stay out of that: Qt's own X11 and D-Bus threads, which the
# sanitizer cannot see into, make reports that are not the program's.
TSAN_SUITES ?= gui|config|wyke|checkmail|notifier
# Windows as large as the screen make Qt scale and convert their images on
# its own thread pool, whose locking the sanitizer cannot see: it reports
# races inside Qt alone. Those two tests run in the other builds.
TSAN_GTEST_FILTER ?= -TextView.AViewAtItsEndStaysThereAsItsWindowChangesSize:Notifier.WindowIsAsLargeAsItsTextWithinTheScreenAndNeverTooSmallToHandle
sanitize: deps
	cmake -S . -B build-asan -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWYKE_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)
	cmake -S . -B build-tsan -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWYKE_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && GTEST_FILTER='$(TSAN_GTEST_FILTER)' ctest --output-on-failure -j $(JOBS) -R '$(TSAN_SUITES)' -E '^e2e_'

# The Debian package, compiled with Debian's own hardening flags, as a
# distribution would: build-package/wyke_<version>_amd64.deb.
PACKAGE_FLAGS    = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
PACKAGE_CXXFLAGS = $(shell $(PACKAGE_FLAGS) CXXFLAGS) $(shell $(PACKAGE_FLAGS) CPPFLAGS)
PACKAGE_LDFLAGS  = $(shell $(PACKAGE_FLAGS) LDFLAGS)
package: deps
	cmake -S . -B build-package -G $(GENERATOR) -DCMAKE_BUILD_TYPE=None -DWYKE_TESTS=OFF \
	  -DCMAKE_CXX_FLAGS="$(PACKAGE_CXXFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(PACKAGE_LDFLAGS)"
	cmake --build build-package -j $(JOBS) --target wyke wyke_data
	cd build-package && cpack

# The package installed into this system and checked there, then removed
# (as root; skipped otherwise). Also runs lintian on it.
package-check: package
	./tests/package_check.sh build-package

clean:
	rm -rf $(BUILD) build-*
