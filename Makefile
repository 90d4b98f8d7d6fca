# Two commands do everything on a fresh Debian 12 machine:
#   make run    install what is missing, build, open the tool on the simulated unit
#   make test   install what is missing, build, run every test
# two more deliver it:
#   make install PREFIX=DIR   build, then install under DIR (default /usr/local)
#   make package              build, then the .deb in $(BUILD)
# three build and prove the Windows programs on this Linux machine:
#   make windows-deps   the packages, and a static Qt for Windows built once
#                       from Debian's source into $(QV_WIN_ROOT) (about 30 min)
#   make windows        qv840n.exe, qv840ctl.exe, the zip (and installer) in $(WIN_BUILD)
#   make windows-check  the Windows tests and programs under wine
# and one more hardens the parsers:
#   make fuzz   install clang, build the libFuzzer targets, run each for FUZZ_SECONDS
# and one measures the tests (not part of CI):
#   make mutation [N=20] [SEED=1] [FILES="src/table src/link/Link.cpp"] [BASE=main]
#               plant N faults one at a time in a copy of the tree, say how many the tests catch
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

PACKAGES = g++ make cmake pkg-config qt6-base-dev qt6-serialport-dev libmodbus-dev \
           mbpoll socat python3-pymodbus python3-serial-asyncio \
           g++-mingw-w64-x86-64 \
           libgl-dev xvfb xauth fonts-urw-base35 fonts-dejavu-core \
           at-spi2-core dbus-daemon python3-gi gir1.2-atspi-2.0 \
           desktop-file-utils appstream poppler-utils dpkg-dev file fakeroot
FUZZ_PACKAGES = clang libclang-rt-14-dev

WIN_BUILD    ?= build-win
QV_WIN_ROOT  ?= /opt/qv840n-win
export QV_WIN_ROOT

FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 10
FUZZ_TARGETS  = $(notdir $(basename $(wildcard fuzz/fuzz_*.cpp)))

.PHONY: all deps fuzz-deps build test test-slow run fuzz clean install package mutation \
        windows-deps windows windows-check

all: build

# Install only the Debian packages of a list that are missing: as root
# directly, else through sudo, else print the exact command and stop.
define install_missing
@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  line="apt-get install -y --no-install-recommends $$(echo $$missing)"; \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing: $$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$line; \
	  elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then \
	    echo "Installing through sudo: $$missing"; \
	    sudo apt-get update -qq && sudo DEBIAN_FRONTEND=noninteractive $$line; \
	  else \
	    echo "These packages are missing. Install them as root, then run make again:"; \
	    echo "  apt-get update && $$line"; \
	    exit 1; \
	  fi; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

fuzz-deps: deps
	$(call install_missing,$(FUZZ_PACKAGES))

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE slow

# The long scenarios (the install, the .deb, the network peers); CI runs them too.
test-slow: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L slow

# Faults planted one at a time in a copy beside the checkout (never in it), each built and run
# against the tests that watch its folder; files a change touched since BASE, or FILES.
N    ?= 20
SEED ?= 1
BASE ?= main
mutation: deps
	$(call install_missing,ccache)
	python3 tools/mutation.py --count $(N) --seed $(SEED) --base $(BASE) $(if $(FILES),--files $(FILES))

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The package's dependencies come from dpkg-shlibdeps (dpkg-dev).
package: build
	cd $(BUILD) && cpack -G DEB

# Builds just the programs, not the tests, before opening the tool.
run: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target qv840n qv840ctl
	$(BUILD)/bin/qv840n --simulate

# libFuzzer needs clang. Each target runs over a scratch copy of its seed
# corpus; a crash, a hang or a leak fails, and the input is kept in
# $(FUZZ_BUILD)/fuzz-artifacts.
fuzz: fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQV_FUZZ=ON -DQV_BUILD_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)
	fuzz/smoke $(FUZZ_BUILD)/bin $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)

# The Windows programs, cross-compiled with Debian's MinGW-w64.
windows-deps:
	bash windows/deps.sh

windows: windows-deps
	bash windows/build.sh $(WIN_BUILD)

# Needs the Linux build too: its qv840ctl is the peer the Windows one is compared with.
windows-check: windows-deps build
	QV_WIN_TESTS=ON bash windows/build.sh $(WIN_BUILD)
	bash windows/check.sh $(WIN_BUILD) $(BUILD)
