#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the releases as a user meets them: builds the Debian package and tarball from build/,
# installs the package system-wide with apt-get (root only), checks the installed plug-in, tool and
# manual page, removes the package and checks nothing is left; then builds the Windows zip from
# build-win32/ and build-win64/ and checks it holds those DLLs.
#
#   packaging/check-packages.sh      after the release build (build/) and tools/windows-ci.sh
#
# Installs and removes the package "corvex" on this machine: meant for CI and throw-away
# machines. Prints one line per check and ends with "N passed, M failed"; exit 1 on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

passed=0 failed=0
pass() {
  echo "ok: $1"
  passed=$((passed + 1))
}
fail() {
  echo "FAIL: $1"
  failed=$((failed + 1))
}
check() { # description, command...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
  echo "${passed} passed, ${failed} failed"
  ((failed == 0))
  exit
}

work=$(mktemp -d /tmp/corvex-packages.XXXXXX)
installed_here=0
cleanup() {
  # A run cut short must not leave the package installed.
  if ((installed_here)); then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq corvex >/dev/null 2>&1
  fi
  rm -rf "$work"
}
trap cleanup EXIT

version=$(sed -nE 's/^project\(Corvex VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
if [[ -z $version ]]; then
  fail "the project's version is readable from CMakeLists.txt"
  finish
fi
deb=build/corvex_${version}_amd64.deb
tgz=build/corvex-${version}-linux-x86_64.tar.gz
zip=build/Corvex-${version}-windows.zip

echo "== Debian package and tarball ($version)"
rm -f build/corvex_*.deb build/corvex-*.tar.gz
if ! cmake --build build --target package >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  fail "cmake --build build --target package"
  finish
fi
pass "cmake --build build --target package"
check "the package is named $deb" test -f "$deb"
check "the tarball is named $tgz" test -f "$tgz"
[[ -f $deb && -f $tgz ]] || finish

# Debian's own judge: no error and no warning (an override would carry its reason in the tree).
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$deb" >"$work/lintian.txt" 2>&1
  lintian_status=$?
  grep -E '^[EW]: ' "$work/lintian.txt"
  check "lintian finds no error or warning in the package" test "$lintian_status" -eq 0
fi
# Every binary shipped is hardened as Debian's build flags make it.
mkdir -p "$work/unpacked"
dpkg-deb -x "$deb" "$work/unpacked"
check "the shipped binaries are hardened (PIE, relro, now, stack protector, fortify)" \
  packaging/hardening-check.sh "$work/unpacked"

# The tarball holds the package's tree: the same files, the same sizes and modes (the package's
# own root entry, "./", has no counterpart in the tarball).
dpkg-deb -c "$deb" | awk '$6 != "./" {print $1, $3, $6}' | sed -E 's# \./# #; s#/$##' | sort >"$work/deb.list"
tar -tvzf "$tgz" | awk '{print $1, $3, $6}' | sed -E 's#/$##' | sort >"$work/tgz.list"
check "the tarball holds the package's files" diff "$work/deb.list" "$work/tgz.list"

for path in usr/lib/vst/corvex.so usr/bin/corvex-render usr/share/man/man1/corvex-render.1.gz \
  usr/bin/corvex-validate usr/share/man/man1/corvex-validate.1.gz \
  usr/share/doc/corvex/changelog.gz \
  usr/bin/corvex usr/share/man/man1/corvex.1.gz usr/share/applications/corvex.desktop \
  usr/share/icons/hicolor/48x48/apps/corvex.png usr/share/icons/hicolor/128x128/apps/corvex.png \
  usr/share/icons/hicolor/256x256/apps/corvex.png usr/share/doc/corvex/README.md.gz usr/share/doc/corvex/copyright \
  usr/share/doc/corvex/CHANGELOG.md.gz \
  usr/lib/lv2/corvex.lv2/manifest.ttl usr/lib/lv2/corvex.lv2/corvex.ttl \
  usr/lib/lv2/corvex.lv2/presets.ttl usr/lib/lv2/corvex.lv2/corvex_ui.ttl \
  usr/lib/lv2/corvex.lv2/corvex_dsp.so usr/lib/lv2/corvex.lv2/corvex_ui.so; do
  check "the package holds /$path" grep -q " $path\$" "$work/deb.list"
done
# A tool the build has made (corvex-validate, once it exists) must ship too.
if [[ -x build/corvex-validate ]]; then
  check "the package holds /usr/bin/corvex-validate" \
    grep -q " usr/bin/corvex-validate\$" "$work/deb.list"
fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
check "Depends is worked out from the linked libraries (libc6, libstdc++6, libsndfile1)" \
  bash -c '[[ $1 == *libc6* && $1 == *libstdc++6* && $1 == *libsndfile1* ]]' _ "$depends"

echo "== Installed with apt-get"
if ((EUID != 0)); then
  fail "installing the package needs root"
  finish
fi
export DEBIAN_FRONTEND=noninteractive
# A run cut short before may have left it behind.
dpkg -s corvex >/dev/null 2>&1 && apt-get purge -y -qq corvex >/dev/null 2>&1
installed_here=1
if ! apt-get install -y -qq "$root/$deb" >"$work/apt.log" 2>&1; then
  cat "$work/apt.log"
  fail "apt-get install ./$deb"
  finish
fi
pass "apt-get install ./$deb"
dpkg -L corvex | sort >"$work/owned"

# The installed library loads through main and answers a whole host session exactly as the
# built one did (build/corvex-session.txt): stripping and installing changed nothing.
if build/corvex-session /usr/lib/vst/corvex.so "$work/session.txt" >"$work/session.log" 2>&1 &&
  cmp -s build/corvex-session.txt "$work/session.txt"; then
  pass "/usr/lib/vst/corvex.so loads through main and plays the host session as built"
else
  cat "$work/session.log"
  fail "/usr/lib/vst/corvex.so loads through main and plays the host session as built"
fi

# The LV2 bundle where hosts look by default, found as hosts find it (lilv, the standard
# folders only).
if command -v lv2info >/dev/null; then
  (env -u LV2_PATH HOME="$work/home" lv2info https://ondrel.example/plugins/corvex) >"$work/lv2info.txt" 2>&1
  check "lv2info finds Corvex in /usr/lib/lv2/corvex.lv2/" \
    grep -q "Binary: *file:///usr/lib/lv2/corvex.lv2/corvex_dsp.so" "$work/lv2info.txt"
fi

# A real host plays the installed bundle: jalv under a JACK server of the test's own.
if [[ -x build/tests/jack-note-probe ]]; then
  check "jalv plays a note through /usr/lib/lv2/corvex.lv2" \
    bash tests/lv2_jalv_test.sh play /usr/lib/lv2 build/tests/jack-note-probe
fi

check "/usr/bin/corvex-render --version says $version" \
  bash -c '[[ $(/usr/bin/corvex-render --version | head -n1) == "corvex-render $1" ]]' _ "$version"
if [[ -x /usr/bin/corvex-validate ]]; then
  check "/usr/bin/corvex-validate --version says $version" \
    bash -c '[[ $(/usr/bin/corvex-validate --version | head -n1) == *" $1" ]]' _ "$version"
fi
check "man -w corvex-render finds the installed page" \
  bash -c '[[ $(man -w corvex-render) == /usr/share/man/man1/corvex-render.1.gz ]]'
check "the installed page renders with its options" \
  bash -c 'MANWIDTH=80 man corvex-render 2>/dev/null | grep -q -- "--all-programs DIR"'
check "man corvex-validate renders its options and points to the other pages" \
  bash -c 'MANWIDTH=80 man corvex-validate 2>/dev/null | grep -q -- "--strictness N" &&
    MANWIDTH=80 man corvex-validate 2>/dev/null | grep -q "corvex-render(1)"'

# The standalone: its version, its page, its menu entry and icons, and a clear word without a
# JACK server (none runs here).
check "/usr/bin/corvex --version says $version" \
  bash -c '[[ $(/usr/bin/corvex --version) == "corvex $1" ]]' _ "$version"
check "man -w corvex finds the installed page" \
  bash -c '[[ $(man -w corvex) == /usr/share/man/man1/corvex.1.gz ]]'
check "the corvex page renders with its options and keys" \
  bash -c 'MANWIDTH=80 man corvex 2>/dev/null | grep -q -- "--headless" &&
    MANWIDTH=80 man corvex 2>/dev/null | grep -q "pw-jack"'
if command -v desktop-file-validate >/dev/null; then
  check "the desktop entry is valid" desktop-file-validate /usr/share/applications/corvex.desktop
fi
check "the desktop entry starts corvex with its icon and knows its window" \
  bash -c 'grep -qx "Exec=corvex" /usr/share/applications/corvex.desktop &&
    grep -qx "Icon=corvex" /usr/share/applications/corvex.desktop &&
    grep -qx "StartupWMClass=corvex" /usr/share/applications/corvex.desktop'
check "the icons are PNG images of their sizes" \
  bash -c 'for s in 48 128 256; do file /usr/share/icons/hicolor/${s}x${s}/apps/corvex.png |
    grep -q "PNG image data, $s x $s" || exit 1; done'
check "corvex without a JACK server says how to start one and exits 1" \
  bash -c 'out=$(env JACK_DEFAULT_SERVER=corvex-package-check HOME="$1" /usr/bin/corvex --headless 2>&1)
    [[ $? -eq 1 && $out == *jackd* && $out == *PipeWire* ]]' _ "$work/home"

# Without --plugin, from a folder of its own and with no user folders: the installed plug-in.
mkdir -p "$work/home"
(cd "$work" && env LXVST_PATH= HOME="$work/home" /usr/bin/corvex-render --list) >"$work/list.txt" 2>&1
check "corvex-render --list (no --plugin) finds /usr/lib/vst/corvex.so" \
  grep -q "^Corvex by Ondrel  (/usr/lib/vst/corvex.so, entry main)" "$work/list.txt"
# The installed pair renders the same bytes as the build.
render=(--program Birds --note C4 --length 1 --tail 0.5 -q)
if (cd "$work" && env LXVST_PATH= HOME="$work/home" /usr/bin/corvex-render "${render[@]}" -o installed.wav) &&
  build/corvex-render "${render[@]}" -o "$work/built.wav" &&
  cmp -s "$work/installed.wav" "$work/built.wav"; then
  pass "the installed corvex-render and plug-in render what the build renders"
else
  fail "the installed corvex-render and plug-in render what the build renders"
fi

echo "== Removed with apt-get"
if apt-get purge -y -qq corvex >"$work/apt.log" 2>&1; then
  pass "apt-get purge corvex"
  installed_here=0
else
  cat "$work/apt.log"
  fail "apt-get purge corvex"
fi
check "dpkg no longer knows corvex" bash -c '! dpkg -s corvex >/dev/null 2>&1'
# Every file is gone; every folder is gone unless another package still uses it (/usr/lib/vst
# holds other plug-ins).
left=()
while read -r path; do
  [[ $path == /. ]] && continue
  if [[ -d $path && ! -L $path ]]; then
    # A folder another package owns stays, even empty (hicolor-icon-theme's icon folders).
    if ! dpkg -S "$path" >/dev/null 2>&1; then
      if [[ -z $(ls -A "$path") ]]; then
        left+=("$path (empty folder)")
      else
        left+=("$path (folder no package owns)")
      fi
    fi
  elif [[ -e $path || -L $path ]]; then
    left+=("$path")
  fi
done <"$work/owned"
if ((${#left[@]} == 0)); then
  pass "nothing the package installed is left behind"
else
  printf '  left behind: %s\n' "${left[@]}"
  fail "nothing the package installed is left behind"
fi

echo "== Windows zip"
rm -f "$zip"
if cmake --build build --target windows-zip >"$work/zip.log" 2>&1; then
  pass "cmake --build build --target windows-zip"
  mkdir -p "$work/zip"
  unzip -q "$zip" -d "$work/zip"
  (cd "$work/zip" && find . -type f | sort) >"$work/zip.list"
  check "the zip holds README.txt, 32-bit/Corvex.dll and 64-bit/Corvex.dll" \
    diff <(printf '%s\n' ./32-bit/Corvex.dll ./64-bit/Corvex.dll ./README.txt) "$work/zip.list"
  check "its 32-bit/Corvex.dll is build-win32/Corvex.dll" \
    cmp -s "$work/zip/32-bit/Corvex.dll" build-win32/Corvex.dll
  check "its 64-bit/Corvex.dll is build-win64/Corvex.dll" \
    cmp -s "$work/zip/64-bit/Corvex.dll" build-win64/Corvex.dll
  check "its README.txt names version $version and the VST2 folders" \
    bash -c 'grep -q "Corvex $1 for Windows" "$2" && grep -q "VSTPlugins" "$2"' _ "$version" \
    "$work/zip/README.txt"
else
  cat "$work/zip.log"
  fail "cmake --build build --target windows-zip"
fi

finish
