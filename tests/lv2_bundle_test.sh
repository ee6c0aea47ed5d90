#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Guards the LV2 bundle's description against drifting from what hosts accept: the generated
# Turtle validates against the schemas of Debian's lv2-dev with no error, and lv2info (lilv, as
# hosts read bundles) finds the plug-in with its 17 ports in order, all 64 presets by name and,
# when the bundle has one, its user interface, whose library holds none of the DSP.
#   lv2_bundle_test.sh validate|info BUNDLE_PARENT_DIR
# The tools as configure found them: SORD_VALIDATE, LV2INFO and SYSTEM_LV2_DIR (the system's LV2
# specifications); run by hand, the tools come from PATH. Exits 77 (skipped), saying what is
# missing, when the case's tool is not there.
set -uo pipefail
mode=$1
lv2_dir=$2
bundle=$lv2_dir/corvex.lv2
plugin=https://ondrel.example/plugins/corvex
lv2_path=$lv2_dir${SYSTEM_LV2_DIR:+:$SYSTEM_LV2_DIR}
skip() {
  echo "skipped: $1"
  exit 77
}

case $mode in
validate)
  sord_validate=${SORD_VALIDATE:-$(command -v sord_validate)}
  [[ -x $sord_validate ]] || skip "no sord_validate (Debian package sord-tools)"
  mapfile -t schemas < <(dpkg -L lv2-dev 2>/dev/null | grep '\.ttl$')
  ((${#schemas[@]} > 0)) || skip "no LV2 schemas (Debian package lv2-dev)"
  out=$("$sord_validate" "${schemas[@]}" "$bundle"/*.ttl 2>&1)
  echo "$out" | tail -n 20
  # Warnings are printed too; only errors fail (sord_validate's own exit status counts both).
  echo "$out" | grep -q '^Found 0 errors' || exit 1
  ! echo "$out" | grep -q '^error:'
  ;;
info)
  lv2info=${LV2INFO:-$(command -v lv2info)}
  [[ -x $lv2info ]] || skip "no lv2info (Debian package lilv-utils)"
  out=$(LV2_PATH="$lv2_path" "$lv2info" "$plugin" 2>&1) || { echo "$out"; exit 1; }
  fail=0
  check() { # description, then the command
    local what=$1
    shift
    if ! "$@"; then
      echo "FAIL: $what"
      fail=1
    fi
  }
  check "an instrument" grep -q 'Class: *Instrument' <<<"$out"
  check "ports 0-16" test "$(grep -c '^	Port [0-9]*:' <<<"$out")" -eq 17
  check "no port 17" bash -c '! grep -q "Port 17:" <<<"$1"' _ "$out"
  symbols=$(grep -o 'Symbol: *[a-z_0-9]*' <<<"$out" | awk '{print $2}' | tr '\n' ' ')
  check "symbols in order ($symbols)" test "$symbols" = "lfo_freq lfo_harm osc_harm lfo_shrp lfo_cent lfo_ph lfo_amnt osc_damp attack decay sustain release lfo_rand osc_shap midi_in out_left out_right "
  presets=$(sed -n '/Presets:/,/^\t[A-Z]/p' <<<"$out" | grep -c '^	         ')
  check "64 presets (found $presets)" test "$presets" -eq 64
  for name in Aquatic Birds Organ-like " Bass-1"; do
    check "preset $name" grep -qxF "	         $name" <<<"$out"
  done
  if [[ -f $bundle/corvex_ui.ttl ]]; then
    check "the UI" grep -qxF "		$plugin#ui" <<<"$out"
    check "an X11 UI" grep -q 'Class: *http://lv2plug.in/ns/extensions/ui#X11UI' <<<"$out"
    # Hosts may run the UI in another process than the DSP: it must hold none of the synth.
    check "the UI library holds no DSP" bash -c '! nm -C "$1" | grep -q "CorvexSynth::render"' _ "$bundle/corvex_ui.so"
    check "the DSP library holds no window" bash -c '! nm -C "$1" | grep -q "CorvexWindow"' _ "$bundle/corvex_dsp.so"
  fi
  if ((fail)); then
    echo "$out"
    exit 1
  fi
  ;;
*)
  echo "usage: $0 validate|info BUNDLE_PARENT_DIR" >&2
  exit 2
  ;;
esac
