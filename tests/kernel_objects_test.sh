#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Guards what the kernel files compile to. A kernel built for a wider instruction set must not
# define any weak or unique symbol: the linker keeps one copy of such a symbol for the whole
# program, and if it kept the AVX-512 copy of an inline function, a CPU without AVX-512 would
# run it and die on an illegal instruction. And no file of the core may use a fused
# multiply-add, which rounds once where the engine rounds twice.
#   kernel_objects_test.sh LIBCORVEX_CORE.a
set -uo pipefail
lib=$1
failures=0

weak=$(nm -C -A "$lib" 2>/dev/null | grep -E 'kernel_(avx2|avx512)\.cpp\.o(bj)?:' | grep -E ' [WVu] ')
if [[ -n $weak ]]; then
  echo "weak or unique symbols in a wide kernel:"
  echo "$weak"
  failures=$((failures + 1))
fi

if objdump -d "$lib" | grep -qE '\bv?f(n)?m(add|sub)[0-9a-z]*\b'; then
  echo "fused multiply-add instructions in the core:"
  objdump -d "$lib" | grep -E '\bv?f(n)?m(add|sub)[0-9a-z]*\b' | head
  failures=$((failures + 1))
fi

# The check itself must see the kernels it is meant to look at.
members=$(ar t "$lib")
for kernel in avx2 avx512; do
  grep -q "kernel_$kernel" <<<"$members" || { echo "kernel_$kernel is not in $lib"; failures=$((failures + 1)); }
done

((failures == 0)) && echo "kernel objects: no weak symbols in the wide kernels, no fused multiply-adds"
exit $((failures > 0))
