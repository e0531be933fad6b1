# Shared part of the Linux cross builds made with Debian's cross compilers;
# the including file sets CMAKE_SYSTEM_PROCESSOR, converters_triplet (the
# compilers' prefix and the directory of the target's libraries under
# /usr) and converters_qemu (the qemu-user program for the target).
#
# The programs are linked dynamically against the target's C and C++
# libraries, which qemu finds under its -L prefix; the tests run every
# program of the target through qemu.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${converters_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${converters_triplet}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${converters_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/${converters_qemu} -L /usr/${converters_triplet})
