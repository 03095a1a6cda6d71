# Builds the deliverables (dist/x86, 32-bit) and the same sources for 64-bit
# (dist/x64); each tree also builds the unit tests and test tools, which the
# tests run under Wine (wine64 hands the 32-bit ones to Wine's 32-bit side),
# and the sample suite's Windows Installer packages from both (examples/msi).
# `make shipped` builds only what ships: the 32-bit programs, their packages
# and setups (no tests, no x64 build).
.PHONY: all deliverables tested msi shipped clean test demo

JOBS ?= 2
# Every output is a function of the sources alone: the linker stamps this time
# into the programs (PE TimeDateStamp) and the package builds touch their inputs
# to it, so two builds of one commit are byte-identical.
SOURCE_DATE_EPOCH ?= $(shell git -C "$(CURDIR)" log -1 --format=%ct 2>/dev/null || stat -c %Y "$(CURDIR)/VERSION")
export SOURCE_DATE_EPOCH

all: deliverables tested msi

deliverables:
	@scripts/bootstrap.sh
	cmake -S . -B build/x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DSETUP_BUILD_TESTS=ON >/dev/null
	cmake --build build/x86 -j$(JOBS) --target shortcut_installer shortcut_remover
	mkdir -p dist/x86
	cp build/x86/installer/shortcut_installer.exe build/x86/remover/shortcut_remover.exe dist/x86/

tested: deliverables
	cmake --build build/x86 -j$(JOBS)
	cmake -S . -B build/x64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DSETUP_BUILD_TESTS=ON >/dev/null
	cmake --build build/x64 -j$(JOBS)
	mkdir -p dist/x64
	cp build/x64/installer/shortcut_installer.exe build/x64/remover/shortcut_remover.exe dist/x64/

# Packs the programs of the architectures given: with SIGN_PFX (a PKCS#12 file)
# and SIGN_PASSWORD set, each program is signed before it is packed and each
# package and setup after (scripts/sign.sh); without them nothing is signed.
define pack
	scripts/sign.sh $(foreach arch,$(1),dist/$(arch)/shortcut_installer.exe dist/$(arch)/shortcut_remover.exe)
	MSI_ARCHES="$(1)" examples/msi/build_msi.sh
	examples/nsis/build_nsis.sh
endef

msi: deliverables tested
	$(call pack,x86 x64)

shipped: deliverables
	$(call pack,x86)

test:
	scripts/test.sh

demo:
	scripts/demo.sh

clean:
	rm -rf build dist
