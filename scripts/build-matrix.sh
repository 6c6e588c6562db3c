#!/usr/bin/env bash
# Builds the tool alone (no tests), warnings as errors, in every standard
# build type with GCC and Clang, native and AArch64, each in a private mount
# namespace without the packages only the tests need; then a plain build as
# a user or a distribution makes it, with a warning of its own. Prints each
# build's time. scripts/test.sh runs it as its `builds` stage.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

# What only the tests need: GoogleTest, the FUSE headers, the sqlite3 program.
test_only_paths=(/usr/include/gtest /usr/include/gmock /usr/include/fuse /usr/include/fuse.h
    /usr/include/fuse3 /usr/lib/*-linux-gnu/cmake/GTest /usr/bin/sqlite3)

# without_test_packages CMD...: runs CMD in a private mount namespace in
# which the test-only headers, packages and programs are hidden, as on a
# machine that has only the compiler, CMake and the libraries the tool links
# (as root; otherwise CMD runs as it is).
without_test_packages() {
    local hidden=() path
    [ "$(id -u)" = 0 ] || { "$@"; return; }
    for path in "${test_only_paths[@]}"; do
        [ -e "$path" ] && hidden+=("$path")
    done
    unshare --mount --propagation private -- sh -c '
        for path; do
            [ "$path" = -- ] && break
            if [ -d "$path" ]; then mount -t tmpfs hidden "$path"; else mount --bind /dev/null "$path"; fi
        done
        while [ "$1" != -- ]; do shift; done
        shift
        exec "$@"' sh "${hidden[@]}" -- "$@"
}

# The tool alone (no tests), warnings as errors, in every standard build
# type with both compilers for both machines; each build's time is printed.
build_matrix() {
    local dir=$repo/build-matrix/tree log=$repo/build-matrix/build.log start=$SECONDS
    local type compiler machine options elapsed
    mkdir -p "$repo/build-matrix"
    echo "== build matrix: the tool alone, warnings as errors"
    printf '%-15s %-6s %-8s %s\n' "build type" cc target seconds
    for machine in native aarch64; do
        for compiler in gcc clang; do
            for type in Debug Release RelWithDebInfo MinSizeRel; do
                options=(-DCMAKE_BUILD_TYPE=$type -DBUILD_TESTING=OFF -DDEBUG_WERROR=ON)
                case $machine-$compiler in
                native-gcc) options+=(-DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++) ;;
                native-clang) options+=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
                aarch64-gcc) options+=(-DCMAKE_TOOLCHAIN_FILE="$repo/cmake/aarch64-linux-gnu.cmake") ;;
                aarch64-clang) options+=(-DCMAKE_TOOLCHAIN_FILE="$repo/cmake/aarch64-linux-gnu-clang.cmake") ;;
                esac
                rm -rf "$dir"
                elapsed=$(date +%s%N)
                without_test_packages cmake -S "$repo" -B "$dir" -G Ninja "${options[@]}" >"$log" 2>&1 &&
                    without_test_packages cmake --build "$dir" >>"$log" 2>&1 ||
                    { cat "$log"; echo "test: $type build with $compiler for $machine failed" >&2; return 1; }
                elapsed=$((($(date +%s%N) - elapsed) / 1000000))
                printf '%-15s %-6s %-8s %d.%03d\n' "$type" "$compiler" "$machine" \
                    $((elapsed / 1000)) $((elapsed % 1000))
            done
        done
    done
    # A plain build as a user or a distribution makes it, with a warning of
    # its own that the project does not enable: reported, never an error.
    rm -rf "$dir"
    cmake -S "$repo" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DCMAKE_CXX_FLAGS=-Wpadded >"$log" 2>&1 && cmake --build "$dir" >>"$log" 2>&1 ||
        { cat "$log"; echo "test: a plain build failed on a warning" >&2; return 1; }
    echo "plain build with -Wpadded: $(grep -c 'warning:' "$log") warnings, no error"
    rm -rf "$repo/build-matrix"
    echo "== build matrix: $((SECONDS - start)) s"
}

build_matrix
