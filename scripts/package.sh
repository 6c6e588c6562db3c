#!/usr/bin/env bash
# Builds the Debian packages of the board (arm64) and the build machine
# (amd64), lints them and tests them:
#   scripts/package.sh [build|lint|test]...   (default: all three)
# The packages are built with Debian's build flags in their own trees,
# build-deb/ (amd64) and build-deb-arm64/ (arm64, a cross build whose manual
# page and completion come from build-deb/), without the tests:
#   build-deb/debug_VERSION_amd64.deb, build-deb-arm64/debug_VERSION_arm64.deb
# Needs root (the simulated board, the fresh Debian tree of the install test).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(build lint test)
native=$repo/build-deb
cross=$repo/build-deb-arm64

# Debian's build flags for an architecture, hardening included. Fortified
# glibc marks calls whose result the tool leaves unexamined by design (the
# restore copies, unlocking the lock file): those warnings stay off.
flags() {
    local arch=$1 what=$2
    DEB_HOST_ARCH=$arch DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$what"
}

# configure_package DIR ARCH [cmake options]
configure_package() {
    local dir=$1 arch=$2
    shift 2
    cmake -S "$repo" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=None -DBUILD_TESTING=OFF -DDEBUG_DOCS=ON \
        -DCMAKE_C_FLAGS="$(flags "$arch" CPPFLAGS) $(flags "$arch" CFLAGS) -Wno-unused-result" \
        -DCMAKE_CXX_FLAGS="$(flags "$arch" CPPFLAGS) $(flags "$arch" CXXFLAGS) -Wno-unused-result" \
        -DCMAKE_EXE_LINKER_FLAGS="$(flags "$arch" LDFLAGS)" "$@" >/dev/null
}

package() {
    local dir=$1 arch=$2
    cmake --build "$dir"
    # dpkg-shlibdeps reads the package architecture's libraries and shlibs.
    (cd "$dir" && DEB_HOST_ARCH=$arch cpack -G DEB >/dev/null)
}

deb_of() { ls "$1"/debug_*_"$2".deb; }

for step in "${steps[@]}"; do
    start=$SECONDS
    case $step in
    build)
        bash scripts/setup.sh
        bash scripts/qemu-binfmt.sh
        configure_package "$native" amd64
        package "$native" amd64
        # debug-static beside the package's tool, from the same build: the
        # real-kernel board's BusyBox root file system takes it.
        configure_package "$cross" arm64 \
            -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/aarch64-linux-gnu.cmake" \
            -DDEBUG_NATIVE_BUILD="$native" -DDEBUG_STATIC=ON
        package "$cross" arm64
        for deb in "$(deb_of "$native" amd64)" "$(deb_of "$cross" arm64)"; do
            echo "== $deb: $(stat -c %s "$deb") bytes"
            dpkg-deb -f "$deb" Package Version Architecture Depends Installed-Size
            dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print "    " $3 "\t" $6}'
        done
        ;;
    lint)
        # Clean, or each remaining tag overridden with its reason (in the package).
        lintian --fail-on error,warning \
            "$(deb_of "$native" amd64)" "$(deb_of "$cross" arm64)"
        echo "lintian: clean"
        ;;
    test)
        bash tests/pkg/arm64.test "$(deb_of "$cross" arm64)" "$cross"
        bash tests/pkg/install.test "$(deb_of "$native" amd64)" "$native"
        ;;
    *)
        echo "package: unknown step $step (build, lint, test)" >&2
        exit 2
        ;;
    esac
    echo "== package $step: $((SECONDS - start)) s"
done
