#!/usr/bin/env bash
# The driver channel against a bare pipe ping-pong, in one Wine session.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
exe=$root/build/win64/bench/pipebench.exe
count=${1:-2000}
run() { "$root/scripts/wine-run" "$exe" "$@"; }
winerun=$root/scripts/wine-run
# The servers keep no hold on this script's output, and end only when killed.
"$winerun" "$exe" bare >/dev/null 2>&1 & bare=$!
"$winerun" "$exe" channel >/dev/null 2>&1 & channel=$!
trap 'kill -KILL $bare $channel 2>/dev/null || true' EXIT
sleep 1
run compare "$count" | tr -d '\r'
