#!/usr/bin/env bash
# run.sh [RUNS]: PDINSTALL.EXE in a fresh Wine prefix of its own. Times the first
# install (three files expanded; the warning and the prompt answered by vzrobot as
# soon as they show, so the time includes the robot), then RUNS second runs on the
# installed system against RUNS starts of a trivial GUI program (and of one that
# also starts the print spooler, which loads the system's printing libraries),
# alternating, and prints the mean of each and the ratios. The prefix is removed
# at the end.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
runs=${1:-10}
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2 --target PDINSTALL standins spoolinfo vzrobot trivial_gui trivial_spooler >/dev/null
export VZ_WINE_STATE=$root/build/bench-install-wine
rm -rf "$VZ_WINE_STATE"
source "$root/tests/e2e/common.bash"
source "$root/tests/e2e/installer.bash"
trap 'installer_cleanup; "$root/scripts/wine-stop" || true; rm -rf "$VZ_WINE_STATE"' EXIT
trivial=$root/build/win64/bench/trivial_gui.exe
spooler=$root/build/win64/bench/trivial_spooler.exe

now_ms() { echo $(($(date +%s%N) / 1000000)); }

win cmd.exe /c exit >/dev/null 2>&1
lay_out_installation
cp "$standins/inf/LAYOUT.INF" "$windir/inf/LAYOUT.INF"
start=$(now_ms)
start_installer "$product"
robot wait "VelmorFAX Printer Driver Installation" 20000 >/dev/null
robot press "VelmorFAX Printer Driver Installation" OK
answer_prompt "Insert Windows NT Workstation CD-ROM and Browse to listed file" 'C:\NTCD\i386\RASDD.DL_'
finish_installer 0
first=$(($(now_ms) - start))
check_outputs

second_total=0
trivial_total=0
spooler_total=0
for _ in $(seq 1 "$runs"); do
  t=$(now_ms)
  (cd "$product" && "$root/scripts/wine-run" 'C:\VelmorFAX\PDINSTALL.EXE' >/dev/null 2>&1) || fail "second run failed"
  second_total=$((second_total + $(now_ms) - t))
  t=$(now_ms)
  "$root/scripts/wine-run" "$trivial" >/dev/null 2>&1
  trivial_total=$((trivial_total + $(now_ms) - t))
  t=$(now_ms)
  "$root/scripts/wine-run" "$spooler" >/dev/null 2>&1
  spooler_total=$((spooler_total + $(now_ms) - t))
done
second=$((second_total / runs))
baseline=$((trivial_total / runs))
spooler_baseline=$((spooler_total / runs))
echo "first install, three files expanded, prompts answered: ${first} ms"
echo "second run (everything present), mean of $runs: ${second} ms"
echo "trivial GUI program start and end, mean of $runs: ${baseline} ms"
echo "trivial GUI program that starts the spooler, mean of $runs: ${spooler_baseline} ms"
awk -v a="$second" -v b="$baseline" 'BEGIN { printf "ratio second run / trivial program: %.2f (target: at most 2)\n", a / b }'
awk -v a="$second" -v b="$spooler_baseline" 'BEGIN { printf "ratio second run / trivial spooler program: %.2f\n", a / b }'
