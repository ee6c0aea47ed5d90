#!/usr/bin/env bash
# Installs, from Debian's packages, whatever building and testing Corvex needs and is missing.
# Idempotent: does nothing when everything is present. Run as root (or with sudo available).
#   ./setup.sh            build and test dependencies
#   ./setup.sh --windows  also the mingw-w64 cross compilers and Wine
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsndfile1-dev
  libcairo2-dev libx11-dev libxext-dev libxtst-dev libfontconfig-dev libfreetype-dev
  fonts-liberation xvfb xauth x11-utils
  # CI's formatting check.
  clang-format
  # The coverage-guided fuzzers (tests/fuzz, built with clang).
  clang libfuzzer-14-dev
  # Third-party VST2 instruments our own host is tested against.
  amsynth dpf-plugins-vst
  # Third-party hosts whose plug-in scanners load ours.
  qtractor ardour
  # The LV2 face: its headers and schemas, the lilv test host, lv2info and sord_validate, and
  # jalv under a JACK server with the dummy backend as a real host. The standalone corvex is a
  # JACK client too (libjack), tested on the same server.
  lv2-dev liblilv-dev lilv-utils sordi jalv jackd2 libjack-jackd2-dev
  # Releases (cmake/Packaging.cmake, .ci/run's package checks): the manual page's renderer,
  # dpkg-shlibdeps and the file typing CPack runs it by, and what the checks use (the desktop
  # entry's validator among them), and lintian, which judges the package as Debian would.
  pandoc dpkg-dev file man-db unzip desktop-file-utils lintian
)

windows=0
if [[ "${1:-}" == "--windows" ]]; then
  windows=1
  # The cross compilers (the -posix ones: std::thread and friends), GoogleTest's sources to
  # cross-build, and Wine in both widths to run what they build.
  packages+=(
    mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
    googletest wine wine64 wine32:i386
  )
fi

missing=()
for p in "${packages[@]}"; do
  if [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]]; then
    missing+=("$p")
  fi
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
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
