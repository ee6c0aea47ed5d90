#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts (start DIR) or stops (stop DIR) a private Xvfb for the x11 tests. start picks a free
# display, waits until the server answers and writes the display name to DIR/display; a watchdog
# stops the server when the test run that started it goes away, even if stop never runs. XVFB
# names the server program (as configure found it); Xvfb from PATH without it.
set -u
cmd=$1 dir=$2
mkdir -p "$dir"
case "$cmd" in
start)
  if [[ -f "$dir/pid" ]] && kill -0 "$(cat "$dir/pid")" 2>/dev/null; then
    kill "$(cat "$dir/pid")" 2>/dev/null
  fi
  runner=$PPID
  for n in $(seq 91 199); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    "${XVFB:-Xvfb}" ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$dir/xvfb.log" 2>&1 &
    pid=$!
    for _ in $(seq 1 100); do
      if ! kill -0 "$pid" 2>/dev/null; then break; fi
      # Only the server started here will do: another run's, started on the same number at the
      # same moment, answers there as well while this one is still finding the number taken.
      if [[ $(tr -d ' ' 2>/dev/null <"/tmp/.X$n-lock") == "$pid" && -e /tmp/.X11-unix/X$n ]] &&
        DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
        echo "$pid" >"$dir/pid"
        echo ":$n" >"$dir/display"
        # Watchdog: the server dies with the test run.
        ( while kill -0 "$runner" 2>/dev/null && kill -0 "$pid" 2>/dev/null; do sleep 1; done
          kill "$pid" 2>/dev/null ) >/dev/null 2>&1 &
        disown
        echo "Xvfb :$n (pid $pid)"
        exit 0
      fi
      sleep 0.1
    done
    kill "$pid" 2>/dev/null
  done
  echo "no free display for Xvfb" >&2
  exit 1
  ;;
stop)
  if [[ -f "$dir/pid" ]]; then
    kill "$(cat "$dir/pid")" 2>/dev/null
    rm -f "$dir/pid" "$dir/display"
  fi
  exit 0
  ;;
esac
exit 2
