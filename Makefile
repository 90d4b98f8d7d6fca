# Two commands do everything on a fresh Debian 12 machine:
#   make run    install what is missing, build, open the tool on the simulated unit
#   make test   install what is missing, build, run every test
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

PACKAGES = g++ make cmake pkg-config qt6-base-dev qt6-serialport-dev libmodbus-dev \
           libgl-dev xvfb xauth fonts-urw-base35 fonts-dejavu-core

.PHONY: all deps build test run clean

all: build

# Install only the Debian packages that are missing: as root directly, else
# through sudo, else print the exact command and stop.
deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
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

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Builds just the programs, not the tests, before opening the tool.
run: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target qv840n qv840ctl
	$(BUILD)/bin/qv840n --simulate

clean:
	rm -rf $(BUILD)
