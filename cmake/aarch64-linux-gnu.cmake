# SPDX-License-Identifier: GPL-3.0-or-later
# 64-bit ARM Linux: cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# Debian's cross compiler, the arm64 libraries installed beside the native ones (multiarch:
# libsndfile1-dev:arm64, libgtest-dev:arm64; ./setup.sh --arm64), and qemu-user to run what it
# builds. Only the engine, its headless plug-in, corvex-render and their tests: no window system.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# pkg-config answers for the target's libraries, not the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

set(CORVEX_ENGINE_ONLY ON CACHE BOOL "" FORCE)
set(CORVEX_BUILD_BENCH OFF CACHE BOOL "" FORCE)

# CTest (and gtest_discover_tests) run the test programs through the emulator.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;/usr/aarch64-linux-gnu)
