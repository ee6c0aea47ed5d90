#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Corvex.dll for 32-bit and 64-bit Windows with mingw-w64 and runs their tests under Wine.
#
#   tools/windows-ci.sh
#
# Installs what is missing (./setup.sh --windows), builds the Linux plug-in's record of the
# scripted host session (the reference the DLLs must reproduce bit for bit), then builds
# build-win32/Corvex.dll and build-win64/Corvex.dll and runs their tests through Wine, each width
# in a fresh prefix of its own on a private Xvfb display: the host check, the toolkit's suites and
# the raster comparison over GDI, and the frame in real Wine windows (clicks through SendInput,
# OLE drops). Ends with "N passed, M failed" over both widths and exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

./setup.sh --windows || exit 1

work=$(mktemp -d /tmp/corvex-wine.XXXXXX)
xvfb_pid=""
prefix_jobs=()
cleanup() {
  local job arch
  for job in "${prefix_jobs[@]}"; do kill "$job" 2>/dev/null; done
  for arch in win32 win64; do
    if [[ -d $work/$arch ]]; then
      WINEPREFIX=$work/$arch timeout 30 wineserver -k >/dev/null 2>&1
    fi
  done
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own, for Wine's desktop and the windows the GUI tests open: wide enough for
# the editor at 2x (1200 x 700 and the host's frame), which the system would otherwise cut to the
# screen. The width divides 65536, the unit of absolute pointer positions, so that every pixel
# the tests point at is one such position exactly (at 1600 some came out a pixel short).
Xvfb -displayfd 3 -screen 0 2048x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s $work/display ]] && break
  sleep 0.1
done
if [[ ! -s $work/display ]]; then
  echo "windows-ci: Xvfb did not start"
  exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# A fresh prefix: booted, crash dialogs off (a crash then ends the program instead of waiting
# for a click), and a persistent wineserver started after the boot with its output on /dev/null,
# together with the prefix's own services, so that no Wine process started here holds a test's
# output pipe open.
prepare_prefix() { # win32 | win64
  local prefix=$work/$1
  export WINEPREFIX=$prefix
  WINEARCH=$1 timeout 300 wineboot -i >/dev/null 2>&1 || return 1
  timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 || return 1
  timeout 60 wineserver -w
  wineserver -p >/dev/null 2>&1 || return 1
  timeout 60 wine cmd /c exit >/dev/null 2>&1
}

start=$SECONDS
# The prefixes boot while the code compiles.
for arch in win32 win64; do
  prepare_prefix "$arch" >"$work/prepare-$arch.log" 2>&1 &
  prefix_jobs+=($!)
done

status=0
passed=0
failed=0

echo "== Linux session record and raster cases (the references)"
if ! { cmake --preset release >/dev/null &&
       cmake --build --preset release -j2 --target corvex-session-record corvex-raster-reference; }; then
  echo "windows-ci: the Linux reference did not build"
  status=1
fi

declare -A toolchain=([win32]=mingw-w64-i686 [win64]=mingw-w64-x86_64)
for arch in win32 win64; do
  echo "== build-$arch"
  if ! { cmake -S . -B "build-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/${toolchain[$arch]}.cmake" \
           -DCORVEX_WERROR=ON -DCORVEX_LINUX_BUILD_DIR="$root/build" >/dev/null &&
         cmake --build "build-$arch" -j2; }; then
    echo "windows-ci: build-$arch failed"
    status=1
    failed=$((failed + 1))
  fi
done

for i in 0 1; do
  if ! wait "${prefix_jobs[$i]}"; then
    echo "windows-ci: preparing a Wine prefix failed"
    cat "$work"/prepare-*.log
    status=1
  fi
done
prefix_jobs=()

for arch in win32 win64; do
  [[ -f build-$arch/Corvex.dll && -d $work/$arch ]] || continue
  echo "== Tests under Wine ($arch)"
  log=$work/ctest-$arch.log
  (cd "build-$arch" && WINEPREFIX=$work/$arch ctest -j2 --output-on-failure --timeout 300) 2>&1 |
    tee "$log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [[ -n $line ]]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  else
    failed=$((failed + 1))
  fi
done

echo "windows-ci: $((SECONDS - start)) s"
if ((status != 0 && failed == 0)); then failed=1; fi
echo "${passed} passed, ${failed} failed"
((status == 0 && failed == 0))
