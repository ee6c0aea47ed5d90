#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Guards the standalone corvex without a JACK server, on ALSA devices of the test's own making (no
# sound card): what it writes is bit for bit the core's render of the same notes at the same
# frames (float through ALSA's file and null plug-ins, at two rates and period sizes, and 32-bit
# integers where the device takes no float); it counts an underrun and plays on; when the device
# is unplugged, or fails, it says so and exits 1 with its sound saved; a busy device is named with
# what to do; SIGUSR1 and the end of a headless run print what it played; the automatic choice
# takes ALSA without a server and JACK with one; a missing device, a missing server and option
# mistakes give one line and the right exit status.
#   standalone_alsa_test.sh alsa CORVEX ALSA_RAW_CHECK PACED_PCM_LIBRARY
#   standalone_alsa_test.sh jack CORVEX ALSA_RAW_CHECK PACED_PCM_LIBRARY  (needs jackd; exit 77)
set -uo pipefail
mode=$1
corvex=$2
check_raw=$3
paced=$4

work=$(mktemp -d)
export XDG_STATE_HOME=$work/state
unset DISPLAY
failures=0
corvex_pid=
jackd_pid=
if [[ $mode == jack ]]; then
  command -v jackd >/dev/null || exit 77
  export JACK_DEFAULT_SERVER=${CORVEX_JACK_SERVER:-corvex-test}
  export JACK_NO_AUDIO_RESERVATION=1
else
  # A server name no test starts: JACK is tried and not found, as on a desktop without it.
  export JACK_DEFAULT_SERVER=corvex-none-$$
fi

stop_pid() { # pid: SIGTERM, two seconds' grace, then SIGKILL
  local pid=$1
  [[ -n $pid ]] || return 0
  kill "$pid" 2>/dev/null
  for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}
cleanup() {
  stop_pid "$corvex_pid"
  stop_pid "$jackd_pid"
  [[ $mode == jack ]] && rm -f /dev/shm/jack_sem.*_"$JACK_DEFAULT_SERVER"_* 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

check() { # name, condition
  if eval "$2"; then
    echo "ok   $1"
  else
    echo "FAIL $1"
    echo "--- corvex stdout:"; cat "$work/corvex.out" 2>/dev/null
    echo "--- corvex stderr:"; cat "$work/corvex.err" 2>/dev/null
    failures=$((failures + 1))
  fi
}
# An ALSA configuration: the system's, then the test's devices. "default" records what it is
# given into $work/out.raw in front of the slave named (null: as fast as it is written; paced:
# in real time); "gone" is unplugged after half a second; "late" has one underrun; "held" is
# held by another program.
configure() { # slave of default
  cat >"$work/asound.conf" <<EOF
</usr/share/alsa/alsa.conf>
pcm_type.corvex_paced { lib "$paced" }
pcm.!default { type file slave.pcm $1 file "$work/out.raw" format "raw" }
pcm.gone { type corvex_paced gone_after 24000 }
pcm.late { type corvex_paced xrun_at 24000 }
pcm.held { type corvex_paced busy 1 }
EOF
  export ALSA_CONFIG_PATH=$work/asound.conf
  rm -f "$work/out.raw"
}
start_corvex() { # args...: runs in the background; waits for its start line
  "$corvex" --headless --reset "$@" >"$work/corvex.out" 2>"$work/corvex.err" &
  corvex_pid=$!
  for _ in $(seq 100); do
    grep -q ' Hz, ' "$work/corvex.out" 2>/dev/null && return 0
    kill -0 "$corvex_pid" 2>/dev/null || break
    sleep 0.05
  done
  return 1
}
quit_corvex() { # [signal]: returns corvex's exit status
  kill -"${1:-TERM}" "$corvex_pid"
  local rc
  wait "$corvex_pid"
  rc=$?
  corvex_pid=
  return $rc
}
wait_for() { # condition: up to ten seconds
  for _ in $(seq 200); do eval "$1" && return 0; sleep 0.05; done
  return 1
}
file_frames() { # bytes per frame
  local size
  size=$(stat -c %s "$work/out.raw" 2>/dev/null || echo 0)
  echo $((size / $1))
}
status_lines() { grep -c 'periods played' "$work/corvex.out"; }
last_periods() { grep -o '[0-9]* periods played' "$work/corvex.out" | tail -1 | cut -d' ' -f1; }
poke_status() { kill -USR1 "$corvex_pid"; sleep 0.1; }

notes="100:0x90:60:100,9000:0xE0:0:90,12345:0x80:60:0,20000:0x90:67:90,30001:0xB0:1:64,40000:0x80:67:0"

if [[ $mode == jack ]]; then
  # ---- With a JACK server running, the automatic choice takes it; ALSA only when asked.
  configure null
  jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
  jackd_pid=$!
  wait_for "jack_lsp >/dev/null 2>&1" || { cat "$work/jackd.log"; echo "FAIL jackd did not start"; exit 1; }
  if start_corvex --no-connect; then
    check "auto with a JACK server: JACK's start line" \
      "grep -q '^corvex: Corvex at 48000 Hz, 256 frames a period, program 0$' '$work/corvex.out'"
    kill -USR1 "$corvex_pid"
    wait_for "grep -q 'periods played' '$work/corvex.out'"
    check "SIGUSR1 under JACK: one status line" \
      "grep -q '^corvex: JACK Corvex, 48000 Hz, 256 frames a period; [0-9]* periods played, [0-9]* xruns, 0 MIDI events$' '$work/corvex.out'"
    quit_corvex
    check "auto with a JACK server: quits with 0" "[[ $? -eq 0 ]]"
    check "auto with a JACK server: nothing written to ALSA" "[[ ! -e '$work/out.raw' ]]"
  else
    check "auto with a JACK server: starts" false
  fi
  configure "{ type corvex_paced }"
  if start_corvex --audio alsa; then
    check "--audio alsa beside a JACK server: ALSA's start line" \
      "grep -q '^corvex: ALSA default at 48000 Hz' '$work/corvex.out'"
    quit_corvex
  else
    check "--audio alsa beside a JACK server: starts" false
  fi
else
  # ---- Bit for bit against the core: float through file and null, as fast as it renders. The
  # file is capped (the shell's file-size limit) so the run ends by itself: ALSA's file plug-in
  # then fails its writes, which corvex reports as the device going away.
  configure null
  (ulimit -f 1024; trap '' XFSZ; CORVEX_TEST_NOTES=$notes exec "$corvex" --headless --reset \
    --audio alsa --program 0 >"$work/corvex.out" 2>"$work/corvex.err")
  rc=$?
  check "null device: start line names ALSA, default, 48000 Hz, 256 frames" \
    "grep -q '^corvex: ALSA default at 48000 Hz, 256 frames a period (2 periods), program 0$' '$work/corvex.out'"
  out=$("$check_raw" "$work/out.raw" f32 0 48000 256 "$notes" 48000)
  check "Aquatic (0) at 48 kHz, 256 frames, float: matches the core ($out)" "[[ $? -eq 0 ]]"
  check "a failing device (its file full): exit 1 (got $rc), says the device went away" \
    "[[ $rc -eq 1 ]] && grep -q '^corvex: the audio device went away (default: ' '$work/corvex.err'"

  # ---- The same in real time, at another rate and an odd period, quit by SIGTERM.
  configure "{ type corvex_paced }"
  export CORVEX_TEST_NOTES=$notes
  if start_corvex --program 12 --rate 44100 --period 100; then
    wait_for "(( \$(file_frames 8) >= 30000 ))"
    kill -USR1 "$corvex_pid"
    wait_for "grep -q 'periods played' '$work/corvex.out'"
    check "SIGUSR1: one status line with periods, underruns and MIDI events" \
      "grep -q '^corvex: ALSA default, 44100 Hz, 100 frames a period ([0-9]* periods); [1-9][0-9]* periods played, [0-9]* underruns, [0-9] MIDI events$' '$work/corvex.out'"
    quit_corvex
    rc=$?
    check "paced device: quits with 0 on SIGTERM (got $rc)" "[[ $rc -eq 0 ]]"
    check "headless: the status again at the end" "[[ \$(status_lines) -eq 2 ]]"
    check "auto without a JACK server: ALSA at the rate and period asked for" \
      "grep -q '^corvex: ALSA default at 44100 Hz, 100 frames a period ([0-9]* periods), program 12$' '$work/corvex.out'"
    out=$("$check_raw" "$work/out.raw" f32 12 44100 100 "$notes" 30000)
    check "Texture-4 (12) at 44.1 kHz, 100 frames, in real time: matches the core ($out)" "[[ $? -eq 0 ]]"
  else
    check "paced device: starts" false
  fi
  if [[ -e /dev/snd/seq ]]; then
    check "a sequencer: says where MIDI comes in" "grep -q 'ALSA.s sequencer port' '$work/corvex.out'"
  else
    check "no sequencer: one line says MIDI input is off" \
      "[[ \$(grep -c 'no ALSA sequencer (/dev/snd/seq): MIDI input is off' '$work/corvex.err') -eq 1 ]]"
  fi

  # ---- 32-bit integers: a device that takes no float (ALSA's linear plug-in in front of it).
  configure "{ type linear slave { pcm { type corvex_paced } format S32_LE } }"
  if start_corvex --program 5; then
    wait_for "(( \$(file_frames 8) >= 48000 ))"
    quit_corvex
    out=$("$check_raw" "$work/out.raw" s32 5 48000 256 "$notes" 48000)
    check "Chimes-2 (5) as 32-bit integers: matches the core converted ($out)" "[[ $? -eq 0 ]]"
  else
    check "an integer device: starts" false
  fi
  unset CORVEX_TEST_NOTES

  # ---- An underrun is counted and the sound goes on.
  configure null
  if start_corvex --audio alsa --device late; then
    wait_for "poke_status; grep -q ' [1-9][0-9]* underruns' '$work/corvex.out'"
    check "underrun: counted in the status" "grep -q ' [1-9][0-9]* underruns' '$work/corvex.out'"
    before=$(last_periods)
    wait_for "poke_status; (( \$(last_periods) > ${before:-0} ))"
    check "underrun: it plays on (from ${before:-no} periods to $(last_periods))" \
      "(( \$(last_periods) > ${before:-0} ))"
    quit_corvex
    check "underrun: quits with 0" "[[ $? -eq 0 ]]"
  else
    check "underrun device: starts" false
  fi

  # ---- The device unplugged while it plays: exit 1, one line, the sound saved.
  if start_corvex --audio alsa --device gone --program Birds; then
    wait_for "! kill -0 $corvex_pid 2>/dev/null"
    wait "$corvex_pid"
    rc=$?
    corvex_pid=
    check "unplugged: exit 1 (got $rc) with one line naming the device" \
      "[[ $rc -eq 1 ]] && grep -q '^corvex: the audio device went away (gone: No such device); quitting$' '$work/corvex.err'"
    check "unplugged: the sound is saved" "grep -q '^program 3 Birds$' '$XDG_STATE_HOME/corvex/state'"
  else
    check "unplugged device: starts" false
  fi

  # ---- Bad starts: one line each, and the exit status.
  start=$(date +%s%N)
  timeout 20 "$corvex" --headless --audio alsa --device nosuch >"$work/corvex.out" 2>"$work/corvex.err"
  rc=$?
  elapsed=$((($(date +%s%N) - start) / 1000000))
  echo "     --device nosuch took $elapsed ms"
  check "no such device: exit 1 (got $rc) in one line naming it, without hanging" \
    "[[ $rc -eq 1 && $elapsed -lt 10000 && \$(wc -l <'$work/corvex.err') -eq 1 ]] && grep -q \"ALSA's device 'nosuch' cannot be opened\" '$work/corvex.err'"
  "$corvex" --headless --audio alsa --device held >"$work/corvex.out" 2>"$work/corvex.err"
  rc=$?
  check "a device another program holds: exit 1 (got $rc), one line saying so and what to do" \
    "[[ $rc -eq 1 ]] && [[ \$(cat '$work/corvex.err') == \"corvex: ALSA's device 'held' is busy: another program holds it (use --device default, or stop it)\" ]]"
  # No device at all: no server, and an ALSA without a default device.
  start=$(date +%s%N)
  ALSA_CONFIG_PATH=/dev/null timeout 20 "$corvex" --headless >"$work/corvex.out" 2>"$work/corvex.err"
  rc=$?
  elapsed=$((($(date +%s%N) - start) / 1000000))
  echo "     no JACK and no ALSA device took $elapsed ms"
  check "nothing to play on: exit 1 (got $rc), one line naming JACK, then ALSA's device" \
    "[[ $rc -eq 1 && $elapsed -lt 10000 && \$(wc -l <'$work/corvex.err') -eq 1 ]] && grep -q \"no JACK server.*jackd.*PipeWire.*ALSA's device 'default'\" '$work/corvex.err'"
  "$corvex" --headless --audio jack >"$work/corvex.out" 2>"$work/corvex.err"
  rc=$?
  check "--audio jack without a server: exit 1 (got $rc) with JACK's own line" \
    "[[ $rc -eq 1 ]] && [[ \$(cat '$work/corvex.err') == 'corvex: no JACK server is running: start one with jackd (e.g. jackd -d alsa), or in a PipeWire session run corvex as pw-jack corvex' ]]"
  for bad in "--audio pulse" "--rate 1000" "--rate 48k" "--period 8" "--period 100000" \
    "--device" "--audio jack --period 128"; do
    # shellcheck disable=SC2086
    "$corvex" --headless $bad >"$work/corvex.out" 2>"$work/corvex.err"
    rc=$?
    check "'$bad': exit 2 (got $rc) with the usage" "[[ $rc -eq 2 ]] && grep -q usage '$work/corvex.err'"
  done
  CORVEX_TEST_NOTES="1:0xF0:0:0" "$corvex" --headless --audio alsa >"$work/corvex.out" 2>"$work/corvex.err"
  check "malformed test notes: exit 2" "[[ $? -eq 2 ]] && grep -q CORVEX_TEST_NOTES '$work/corvex.err'"
fi

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
