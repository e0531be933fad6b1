# Cross-building for Linux on s390x with Debian's g++-s390x-linux-gnu:
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-s390x.cmake
# The tests run the programs under qemu-s390x (Debian's qemu-user).
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(converters_triplet s390x-linux-gnu)
set(converters_qemu qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-linux-cross.cmake)
