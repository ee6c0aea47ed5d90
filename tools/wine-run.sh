#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a Windows program under Wine for CTest, bounded in time so that a hang cannot stall a run.
# The caller provides the prefix (WINEPREFIX), the display and a running wineserver, as
# tools/windows-ci.sh does; the defaults below keep Wine quiet and skip Mono and Gecko.
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEDEBUG WINEDLLOVERRIDES
exec timeout -k 10 "${CORVEX_WINE_TIMEOUT:-300}" wine "$@"
