# Cross-building for Linux on i686 with Debian's g++-i686-linux-gnu:
#   cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i686.cmake
# The tests run the programs under qemu-i386 (Debian's qemu-user).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(converters_triplet i686-linux-gnu)
set(converters_qemu qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-linux-cross.cmake)
