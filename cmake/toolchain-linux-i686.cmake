# Cross-building for Linux on i686 with Debian's g++-i686-linux-gnu:
#   cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i686.cmake
# The tests run the programs under qemu-i386 (Debian's qemu-user).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(converters_triplet i686-linux-gnu)
set(converters_qemu qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-linux-cross.cmake)
# The target's loader reads this machine's /etc/ld.so.cache, which lists the
# 32-bit libraries of libc6-i386 under /lib32 where that is installed: a C
# library from another build than the loader, in which every forked child
# hangs. The target's own libraries come first.
list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -E LD_LIBRARY_PATH=/usr/${converters_triplet}/lib)
