# Cross-building for Linux on aarch64 with Debian's g++-aarch64-linux-gnu:
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-aarch64.cmake
# The tests run the programs under qemu-aarch64 (Debian's qemu-user).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(converters_triplet aarch64-linux-gnu)
set(converters_qemu qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-linux-cross.cmake)
