# Cross build for the camera board (AArch64) with Clang instead of GCC:
# clang --target=aarch64-linux-gnu, with the GNU cross binutils, C library
# and C++ library of Debian's cross toolchain (crossbuild-essential-arm64)
# and the same arm64 libraries as the GCC cross build.
#
#   cmake -S . -B build-aarch64-clang -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu-clang.cmake
include(${CMAKE_CURRENT_LIST_DIR}/aarch64-linux-gnu.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET ${DEBUG_TRIPLET})
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${DEBUG_TRIPLET})
