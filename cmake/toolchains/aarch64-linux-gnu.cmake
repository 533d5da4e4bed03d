# SPDX-License-Identifier: MIT
# Cross build for 64-bit Arm Linux with Debian's g++-aarch64-linux-gnu; the
# tests run under qemu-user's emulation (package qemu-user), with the Arm C
# library from /usr/aarch64-linux-gnu. GoogleTest for Arm comes from Debian's
# multiarch package (dpkg --add-architecture arm64; libgtest-dev:arm64).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_NM aarch64-linux-gnu-nm CACHE FILEPATH "")
set(CMAKE_READELF aarch64-linux-gnu-readelf CACHE FILEPATH "")
set(CMAKE_STRIP aarch64-linux-gnu-strip CACHE FILEPATH "")

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)

# Programs come from the build machine; libraries, headers and packages from
# the Arm side (the cross toolchain's own tree and the multiarch directories).
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
