# Thin wrapper over CMake.
BUILD ?= build
SAN_BUILD ?= build-sanitize

.PHONY: all build demo test test-sanitize clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j 2

# Runs all three modes on the bundled example recording in $(BUILD)/demo.
demo: build
	rm -rf $(BUILD)/demo && mkdir -p $(BUILD)/demo
	$(BUILD)/make_example $(BUILD)/demo/example.raw
	cd $(BUILD)/demo && ../kordanix example.raw kept.raw
	cd $(BUILD)/demo && ../kordanix example.raw kept.raw marks.raw
	cd $(BUILD)/demo && ../kordanix example.raw kept.raw marks.raw 8 16
	@echo; echo "== $(BUILD)/demo/stat.txt"; cat $(BUILD)/demo/stat.txt

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j 2

test-sanitize:
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKORDANIX_SANITIZE=ON
	cmake --build $(SAN_BUILD) -j 2
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j 2

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
