# Cross-building for Linux on armhf with Debian's g++-arm-linux-gnueabihf:
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-armhf.cmake
# The tests run the programs under qemu-arm (Debian's qemu-user).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(converters_triplet arm-linux-gnueabihf)
set(converters_qemu qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-linux-cross.cmake)
