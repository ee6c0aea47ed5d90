# SPDX-License-Identifier: GPL-3.0-or-later
# 32-bit Windows: cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CORVEX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)

# SSE2 arithmetic: with the x87 unit's extended precision every intermediate result would be
# rounded differently and the samples would no longer match the other builds. Hosts built with
# other compilers only keep the stack 4-byte aligned, so functions that need more realign it.
# The 32-bit C runtime's malloc aligns to 8 bytes, not the 16 the compiler assumes by default, so
# objects holding SSE lanes (the effect itself) must come from the aligned operator new.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2 -faligned-new=8")

include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
