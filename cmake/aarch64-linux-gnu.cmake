# Cross build for the camera board (AArch64) with Debian's cross compiler
# (crossbuild-essential-arm64) and the arm64 libraries installed beside the
# build machine's own (multiarch: libsqlite3-dev:arm64, libgtest-dev:arm64).
#
#   cmake -S . -B build-aarch64 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#
# The binaries run on the build machine through qemu-user registered with
# binfmt_misc (scripts/qemu-binfmt.sh), so the tests run them as they are.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(DEBUG_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${DEBUG_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${DEBUG_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${DEBUG_TRIPLET})

# Libraries, headers and CMake packages come from the target's multiarch
# directories (/usr/lib/aarch64-linux-gnu, /usr/include); programs run at
# build time (sqlite3 for the board's databases) are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${DEBUG_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config, for libraries found through it, reads the arm64 .pc files.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${DEBUG_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
