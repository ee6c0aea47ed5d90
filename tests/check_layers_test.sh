#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Guards the layer check itself: a tree that follows the arrows passes, and an include from the
# core into the host interface, from the window into a face, from the core into the window, or
# from the standalone face into the VST2 one fails with the offending line named. Runs
# .ci/check-layers on small trees of its own.
#   check_layers_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

make_tree() { # dir
  mkdir -p "$1/.ci" "$1/core" "$1/window" "$1/vst2" "$1/host" "$1/gui" "$1/platform"
  cp "$source_dir/.ci/check-layers" "$1/.ci/"
  echo '#include "core/params.h"' >"$1/core/synth.cpp"
  echo '' >"$1/core/params.h"
  echo '#include "gui/frame.h"
#include "core/params.h"' >"$1/window/corvex_window.cpp"
  echo '' >"$1/gui/frame.h"
  echo '#include "core/params.h"
#include "window/corvex_window.h"
#include "host/audioeffectx.h"' >"$1/vst2/corvex.cpp"
  echo '' >"$1/window/corvex_window.h"
  echo '' >"$1/host/audioeffectx.h"
  git -C "$1" init -q
  git -C "$1" add -A
}

expect() { # name, want-exit, dir, [text the output must hold]
  local name=$1 want=$2 dir=$3 text=${4:-}
  local out rc
  out=$("$dir/.ci/check-layers" 2>&1)
  rc=$?
  if [[ $rc -ne $want || ( -n $text && $out != *"$text"* ) ]]; then
    echo "FAIL $name: exit $rc (wanted $want)"
    echo "$out"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

make_tree "$work/good"
expect "a tree that follows the arrows" 0 "$work/good"

make_tree "$work/core-host"
echo '#include "host/audioeffectx.h"' >>"$work/core-host/core/synth.cpp"
git -C "$work/core-host" add -A
expect "the core including the host interface" 1 "$work/core-host" \
  'core/synth.cpp:2: core must not include "host/audioeffectx.h"'

make_tree "$work/window-face"
echo '#include "vst2/corvex.h"' >>"$work/window-face/window/corvex_window.cpp"
echo '' >"$work/window-face/vst2/corvex.h"
git -C "$work/window-face" add -A
expect "the window including a face" 1 "$work/window-face" \
  'window/corvex_window.cpp:3: window must not include "vst2/corvex.h"'

make_tree "$work/core-window"
echo '#include "window/corvex_window.h"' >>"$work/core-window/core/synth.cpp"
git -C "$work/core-window" add -A
expect "the core including the window" 1 "$work/core-window" 'core must not include'

# The standalone face: the window, toolkit, platform and core, never another face's code.
make_tree "$work/standalone-ok"
mkdir -p "$work/standalone-ok/standalone"
echo '#include "window/corvex_window.h"
#include "core/params.h"' >"$work/standalone-ok/standalone/app.cpp"
git -C "$work/standalone-ok" add -A
expect "the standalone including the window and the core" 0 "$work/standalone-ok"

make_tree "$work/standalone-vst2"
mkdir -p "$work/standalone-vst2/standalone"
echo '#include "vst2/corvex.h"' >"$work/standalone-vst2/standalone/app.cpp"
echo '' >"$work/standalone-vst2/vst2/corvex.h"
git -C "$work/standalone-vst2" add -A
expect "the standalone including the VST2 face" 1 "$work/standalone-vst2" \
  'standalone/app.cpp:1: standalone must not include "vst2/corvex.h"'

exit $((failures > 0))
