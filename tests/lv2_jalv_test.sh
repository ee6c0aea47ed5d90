#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Guards the LV2 bundle against failing in a real host: Debian's jalv loads it (from the folder
# given, as installed) under a JACK server of the test's own on the dummy backend.
#   lv2_jalv_test.sh play BUNDLE_PARENT_DIR JACK_NOTE_PROBE
#     console jalv; a JACK client plays it a note, and its output must be finite and not silent.
#   lv2_jalv_test.sh drag BUNDLE_PARENT_DIR JALV_DRAG_PROBE MAX_REPLY_MS
#     jalv.gtk3 on a private Xvfb shows Corvex's window; a knob drag in it must leave the host's
#     own window answering within MAX_REPLY_MS all along.
# The programs as configure found them: JACKD, JACK_LSP, JALV, JALV_GTK3, XVFB, and SYSTEM_LV2_DIR
# (the system's LV2 specifications); run by hand, the programs come from PATH. Exits 77
# (skipped), saying what is missing, when jackd, jalv or (for drag) jalv.gtk3 or Xvfb is not there.
set -uo pipefail
mode=$1
lv2_dir=$2
probe=$3
max_reply_ms=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
lv2_path=$lv2_dir${SYSTEM_LV2_DIR:+:$SYSTEM_LV2_DIR}
peer() { # VARIABLE program: the program's path, or a skip
  local path=${!1:-$(command -v "$2")}
  [[ -x $path ]] || { echo "skipped: no $2" >&2; exit 77; }
  echo "$path"
}
jackd=$(peer JACKD jackd) || exit 77
jack_lsp=$(peer JACK_LSP jack_lsp) || exit 77
jalv=$(peer JALV jalv) || exit 77
if [[ $mode == drag ]]; then
  jalv_gtk3=$(peer JALV_GTK3 jalv.gtk3) || exit 77
  XVFB=$(peer XVFB Xvfb) || exit 77
  export XVFB
fi

# One name per build tree (the build passes it): JACK keeps a handful of server slots per machine,
# and a name of its own per run would use up one every time a server is stopped without
# unregistering (the runs take turns).
export JACK_DEFAULT_SERVER=${CORVEX_JACK_SERVER:-corvex-test}
export JACK_NO_AUDIO_RESERVATION=1
work=$(mktemp -d)
pids=()
# jalv takes SIGTERM only as a request, answered from a loop that may wait on its console or on a
# JACK server already gone: it is stopped before its server, and whatever is still there after two
# seconds is killed outright, so the test never hangs.
cleanup() {
  local i pid
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  [[ -f "$work/xvfb/pid" ]] && "$here/xvfb.sh" stop "$work/xvfb" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

"$jackd" --no-realtime -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do "$jack_lsp" >/dev/null 2>&1 && break; sleep 0.1; done
"$jack_lsp" >/dev/null 2>&1 || { cat "$work/jackd.log"; echo "FAIL: jackd did not start"; exit 1; }

if [[ $mode == drag ]]; then
  "$here/xvfb.sh" start "$work/xvfb" >/dev/null || { echo "FAIL: no Xvfb"; exit 1; }
  export DISPLAY=$(cat "$work/xvfb/display")
  LV2_PATH="$lv2_path" "$jalv_gtk3" -x --jack-name corvex \
    https://ondrel.example/plugins/corvex >"$work/jalv.log" 2>&1 </dev/null &
  pids+=($!)
  # By its process the probe tells jalv's windows from any other client's on the display.
  "$probe" --pid "$!" --max-reply-ms "$max_reply_ms"
  status=$?
  ((status == 0)) || cat "$work/jalv.log"
  exit $status
fi

# jalv's console reads commands from stdin: a FIFO this shell holds open keeps it idle, with no
# writer process to outlive the test.
mkfifo "$work/stdin"
exec 3<>"$work/stdin"
LV2_PATH="$lv2_path" "$jalv" -x -n corvex https://ondrel.example/plugins/corvex \
  <&3 >"$work/jalv.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do "$jack_lsp" 2>/dev/null | grep -q '^corvex:out_right$' && break; sleep 0.1; done
if ! "$jack_lsp" 2>/dev/null | grep -q '^corvex:out_right$'; then
  cat "$work/jalv.log"
  echo "FAIL: jalv did not load Corvex"
  exit 1
fi
"$probe" corvex || { cat "$work/jalv.log"; exit 1; }
