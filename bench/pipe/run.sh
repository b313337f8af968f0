#!/usr/bin/env bash
# The driver channel against a bare pipe ping-pong, in one Wine session; then
# VZNTCTL itself: document end to fax details dialog ready, against the same bare
# round trip, and the controller's CPU time while it waits.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
exe=$root/build/win64/bench/pipebench.exe
count=${1:-2000}
dialogs=${2:-40}
run() { "$root/scripts/wine-run" "$exe" "$@"; }
winerun=$root/scripts/wine-run
source "$root/scripts/wine-env"
ini=$WINEPREFIX/drive_c/windows/VZPD.INI
saved=
# The servers keep no hold on this script's output, and end only when killed.
"$winerun" "$exe" bare >/dev/null 2>&1 & bare=$!
"$winerun" "$exe" channel >/dev/null 2>&1 & channel=$!
controller=
finish() {
  kill -KILL $bare $channel $controller 2>/dev/null || true
  if [ -n "$saved" ]; then mv "$saved" "$ini"; else rm -f "$ini"; fi
}
trap finish EXIT
sleep 1
run compare "$count" | tr -d '\r'

kill -KILL $channel 2>/dev/null || true
wait $channel 2>/dev/null || true
channel=
[ -f "$ini" ] && saved=$(mktemp) && cp "$ini" "$saved"
printf '[Location]\r\nVZOutPath=C:\\vzbench\\SEND\\\r\nVZExecutable=C:\\windows\\notepad.exe\r\n' >"$ini"
"$winerun" "$root/build/win64/bin/VZNTCTL.EXE" >/dev/null 2>&1 & controller=$!
"$winerun" "$root/build/win64/bin/vzrobot.exe" exists MainForm 15000 >/dev/null
run dialog "$dialogs" | tr -d '\r'
