#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Guards the LV2 bundle's event timing in a real host: Ardour 7's headless Lua session plays three
# notes that start and end inside its cycles from a MIDI region through Corvex (loaded from the
# folder given, as installed) and exports the master bus; the export must be the core's own
# render of those notes, and silent until the first one.
#   lv2_ardour_test.sh BUNDLE_PARENT_DIR ARDOUR_RENDER_CHECK
# The programs as configure found them: ARDOUR_LUA and SYSTEM_LV2_DIR (the system's LV2
# specifications); run by hand, ardour7-lua comes from PATH. Exits 77 (skipped), saying why, when
# ardour7-lua is not there or its engine cannot start a session here.
set -uo pipefail
lv2_dir=$1
check=$2
here=$(cd "$(dirname "$0")" && pwd)
ardour_lua=${ARDOUR_LUA:-$(command -v ardour7-lua)}
[[ -x $ardour_lua ]] || { echo "skipped: no ardour7-lua"; exit 77; }

# Ardour keeps its configuration, caches and plug-in scan results under the home folder: all of
# it goes to a scratch home, with the session and the export, and leaves with it.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_CACHE_HOME=$work/home/.cache
export XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
export LV2_PATH=$lv2_dir${SYSTEM_LV2_DIR:+:$SYSTEM_LV2_DIR}

# Ardour sets an input sequence's type and size but never its unit, which keeps whatever its
# allocation held: zero in a fresh process like this one, leftovers in a host that has run a while
# (a unit neither 0 nor frames, which once put every event at its cycle's first frame). glibc's
# MALLOC_PERTURB_ fills every allocation with a byte pattern, so the unit is such leftovers here
# too, on every run (0x5a5a5a5a).
# The render takes seconds; the limit is only there so that a hung host cannot hang the run.
MALLOC_PERTURB_=165 timeout -k 10 240 "$ardour_lua" "$here/ardour_lv2_render.lua" "$work" \
  "$work/corvex.wav" "$work/score" >"$work/ardour.log" 2>&1 </dev/null
status=$?
if ((status == 77)); then
  grep '^skipped:' "$work/ardour.log"
  exit 77
fi
if ((status != 0)); then
  cat "$work/ardour.log"
  echo "FAIL: ardour7-lua exited with status $status"
  exit 1
fi
grep '^exported' "$work/ardour.log"
"$check" "$work/corvex.wav" "$work/score"
