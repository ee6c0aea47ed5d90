#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs, from Debian's packages, whatever building and testing Corvex needs and is missing.
# Idempotent: does nothing when everything is present. Run as root (or with sudo available).
#   ./setup.sh            build and test dependencies
#   ./setup.sh --windows  also the mingw-w64 cross compilers and Wine
#   ./setup.sh --arm64    also the ARM64 cross compiler, its libraries and qemu-user
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsndfile1-dev
  libcairo2-dev libx11-dev libxext-dev libxtst-dev libfontconfig-dev libfreetype-dev
  fonts-liberation xvfb xauth x11-utils
  # CI's formatting check and static analysis (.ci/clang-tidy).
  clang-format clang-tidy
  # The coverage-guided fuzzers (tests/fuzz, built with clang).
  clang libfuzzer-14-dev
  # Third-party VST2 instruments our own host is tested against.
  amsynth dpf-plugins-vst
  # Third-party hosts whose plug-in scanners load ours.
  qtractor ardour
  # The LV2 face: its headers and schemas, the lilv test host, lv2info and sord_validate, and
  # jalv under a JACK server with the dummy backend as a real host. The standalone corvex is a
  # JACK client too (libjack), tested on the same server, and plays through ALSA's device and
  # sequencer without one (libasound).
  lv2-dev liblilv-dev lilv-utils sordi jalv jackd2 libjack-jackd2-dev libasound2-dev
  # Releases (cmake/Packaging.cmake, .ci/run's package checks): the manual page's renderer,
  # dpkg-shlibdeps and the file typing CPack runs it by, and what the checks use (the desktop
  # entry's validator among them), and lintian, which judges the package as Debian would.
  pandoc dpkg-dev file man-db unzip desktop-file-utils lintian
)

windows=0
arm64=0
for option in "$@"; do
  case $option in
  --windows) windows=1 ;;
  --arm64) arm64=1 ;;
  esac
done
if (( windows )); then
  # The cross compilers (the -posix ones: std::thread and friends), GoogleTest's sources to
  # cross-build, and Wine in both widths to run what they build.
  packages+=(
    mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
    googletest wine wine64 wine32:i386
  )
fi
if (( arm64 )); then
  # The engine-only cross build (cmake/aarch64-linux-gnu.cmake): Debian's cross compiler, the
  # arm64 builds of the libraries it links beside the native ones, and qemu-user to run it.
  packages+=(g++-aarch64-linux-gnu qemu-user libsndfile1-dev:arm64 libgtest-dev:arm64)
fi

# A name without an architecture means the native one (or an architecture-independent package):
# once arm64 libraries sit beside the native ones, dpkg lists both under the same name.
native=$(dpkg --print-architecture)
installed() { # package[:arch]
  local name=${1%%:*} arch=$native
  [[ $1 == *:* ]] && arch=${1#*:}
  dpkg-query -W -f='${Architecture} ${Status}\n' "$name" 2>/dev/null |
    grep -qE "^($arch|all) install ok installed$"
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

if (( ${#missing[@]} == 0 )); then
  echo "setup: all dependencies present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if (( EUID != 0 )); then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# The 32-bit Wine needs the i386 architecture; the update below then fetches its lists too.
if (( windows )) && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
if (( arm64 )) && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  $SUDO dpkg --add-architecture arm64
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
