#!/usr/bin/env bash
# Many desks on one phone book (VZPB.dbf with its production index, tag NAME) for a
# fixed time: 12 desks importing 50 new entries again and again (dbftool import), 8
# listing the book in name order (dbftool list --tag NAME), 4 checking it (dbftool
# check) and 8 foreign writers (the independent xBase engine's `writer TABLE 400`, in
# a loop). Prints imports done and failed with their wall times, listings and checks,
# each foreign writer's 400 appends against one writer alone on a copy of the same
# book in the same run, and the book's final verdict from both engines.
#
#   run.sh DBFTOOL [--seconds N] [--entries N] [--dir DIR] [--desks I,L,C,W]
#
# --desks changes how many desks import, list, check and write (12,8,4,8).
# The foreign writers (and the independent check) need ../shared/xbase-anchor/bin, or
# the folder VZ_XBASE_ANCHOR names; without it they are left out, and said so.
set -euo pipefail

dbftool=${1:?usage: run.sh DBFTOOL [--seconds N] [--entries N] [--dir DIR]}
shift
seconds=60
entries=20000
dir=
importers=12 listers=8 checkers=4 writers=8
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
    --entries) entries=${2:?--entries needs a number}; shift 2 ;;
    --dir) dir=${2:?--dir needs a folder}; shift 2 ;;
    --desks) IFS=, read -r importers listers checkers writers <<< "${2:?--desks needs I,L,C,W}"; shift 2 ;;
    *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
anchor=${VZ_XBASE_ANCHOR:-$root/../shared/xbase-anchor}/bin
[ -x "$anchor/writer" ] || anchor=${VZ_XBASE_ANCHOR:-/work/shared/xbase-anchor}/bin
have_anchor=0
[ -x "$anchor/writer" ] && [ -x "$anchor/cdxcheck" ] && have_anchor=1
[ -n "$dir" ] || dir=$root/build/bench-desks/run
rm -rf "$dir"
mkdir -p "$dir/book" "$dir/alone" "$dir/log" "$dir/in"

[ $have_anchor = 1 ] || writers=0

now_us() { local t=${EPOCHREALTIME/./}; echo "$t"; }

# Names from syllables (spread over the whole tag, as real names are), made unique by
# the desk, round and row they come from.
make_contacts() {  # SEED COUNT PREFIX
  awk -v seed="$1" -v n="$2" -v prefix="$3" 'BEGIN {
    split("ba be bo da de di fa fe ka ke ko la le lo ma me mi na ne no pa pe ra re ri sa se so ta te to va ve za ze", s, " ");
    srand(seed);
    for (i = 1; i <= n; i++) {
      last = ""; first = "";
      for (k = 0; k < 3; k++) last = last s[int(rand() * 36) + 1];
      for (k = 0; k < 2; k++) first = first s[int(rand() * 36) + 1];
      printf "\"%s%s, %s %s%d\",+1 555 %07d\n", toupper(substr(last, 1, 1)), substr(last, 2), first, prefix, i, (seed * 7919 + i) % 10000000;
    }
  }'
}

echo "phone book: $entries entries (syllable names), $seconds s, $importers importing 50 entries each round,"
echo "  $listers listing in name order, $checkers checking, $writers foreign writers (writer TABLE 400 in a loop)"
[ $have_anchor = 1 ] || echo "  the independent xBase engine is missing ($anchor): foreign writers and its final check left out"
echo "  $(uptime)"

make_contacts 1 "$entries" B > "$dir/in/book.csv"
"$dbftool" create-phonebook "$dir/book/VZPB.dbf" >/dev/null
"$dbftool" import "$dir/book/VZPB.dbf" "$dir/in/book.csv" >/dev/null
cp "$dir/book/VZPB.dbf" "$dir/book/VZPB.cdx" "$dir/alone/"

# Baselines on a copy of the book, each alone: one foreign writer, and five imports.
alone_writer_ms=
if [ $have_anchor = 1 ]; then
  t0=$(now_us)
  "$anchor/writer" "$dir/alone/VZPB" 400 >/dev/null 2>&1
  alone_writer_ms=$((($(now_us) - t0) / 1000))
fi
for r in 1 2 3 4 5; do
  make_contacts "$((900 + r))" 50 "A${r}x" > "$dir/in/alone.csv"
  t0=$(now_us)
  "$dbftool" import "$dir/alone/VZPB.dbf" "$dir/in/alone.csv" >/dev/null 2>&1
  echo "$((($(now_us) - t0) / 1000)) $?" >> "$dir/log/alone_import"
done

book=$dir/book/VZPB.dbf
deadline_us=$(($(now_us) + seconds * 1000000))

# Each desk logs one line per round: milliseconds, exit code.
importer() {
  local i=$1 round=0 t0 rc
  while [ "$(now_us)" -lt "$deadline_us" ]; do
    round=$((round + 1))
    make_contacts "$((i * 100000 + round))" 50 "D${i}r${round}x" > "$dir/in/d$i.csv"
    t0=$(now_us)
    rc=0
    "$dbftool" import "$book" "$dir/in/d$i.csv" >/dev/null 2>>"$dir/log/import$i.err" || rc=$?
    echo "$((($(now_us) - t0) / 1000)) $rc" >> "$dir/log/import$i"
  done
}
repeat() {  # LOG COMMAND...
  local log=$1 t0 rc
  shift
  while [ "$(now_us)" -lt "$deadline_us" ]; do
    t0=$(now_us)
    rc=0
    "$@" >/dev/null 2>>"$log.err" || rc=$?
    echo "$((($(now_us) - t0) / 1000)) $rc $(now_us)" >> "$log"
  done
}

pids=()
for i in $(seq 1 $importers); do importer "$i" & pids+=($!); done
for i in $(seq 1 $listers); do repeat "$dir/log/list$i" "$dbftool" list "$book" --tag NAME & pids+=($!); done
for i in $(seq 1 $checkers); do repeat "$dir/log/check$i" "$dbftool" check "$book" & pids+=($!); done
for i in $(seq 1 $writers); do repeat "$dir/log/writer$i" "$anchor/writer" "$dir/book/VZPB" 400 & pids+=($!); done
wait "${pids[@]}"

# Figures: count, failures, median, p99, max of one log (or several).
stats() {
  cat "$@" 2>/dev/null | awk '{ print $1, $2 }' | sort -n | awk '
    { ms[NR] = $1; if ($2 != 0) bad++ }
    END {
      n = NR; if (n == 0) { printf "none"; exit }
      p99 = int(n * 0.99 + 0.999); if (p99 < 1) p99 = 1; if (p99 > n) p99 = n
      printf "%d done, %d failed; median %d ms, p99 %d ms, max %d ms", n, bad + 0, ms[int((n + 1) / 2)], ms[p99], ms[n]
    }'
}

echo
echo "import alone (50 entries, 5 rounds): $(stats "$dir/log/alone_import")"
echo "imports (50 entries): $(stats "$dir"/log/import[0-9] "$dir"/log/import[0-9][0-9])"
timeouts=$(cat "$dir"/log/import*.err 2>/dev/null | grep -c "locked by another user" || true)
echo "  lock time-outs reported by imports: $timeouts"
for i in $(seq 1 $importers); do printf '  desk %2d: %s\n' "$i" "$(stats "$dir/log/import$i")"; done
echo "listings in name order: $(stats "$dir"/log/list*[0-9])"
echo "checks: $(stats "$dir"/log/check*[0-9])"
disagreed=$(cat "$dir"/log/check*[0-9] 2>/dev/null | awk '$2 == 1' | wc -l || true)
echo "  checks that found a disagreement: $disagreed"
if [ $writers -gt 0 ]; then
  echo "foreign writers, 400 appends each run; alone: $alone_writer_ms ms"
  for i in $(seq 1 $writers); do
    awk -v i="$i" -v alone="$alone_writer_ms" -v deadline="$deadline_us" '
      { n++; t += $1; if ($1 > m) m = $1; if ($2 != 0) bad++; if ($3 <= deadline) within++ }
      END { if (n == 0) { printf "  writer %d: no run\n", i; exit }
            printf "  writer %d: %d runs (%d ended within the %d s), %d failed; mean %d ms (%.1fx alone), max %d ms (%.1fx alone)\n",
              i, n, within + 0, '"$seconds"', bad + 0, t / n, t / n / alone, m, m / alone }' "$dir/log/writer$i"
  done
fi
echo
rc=0
"$dbftool" check "$book" > "$dir/log/final_check" 2>&1 || rc=$?
echo "final dbftool check: exit $rc ($(head -1 "$dir/log/final_check"))"
if [ $have_anchor = 1 ]; then
  rc=0
  "$anchor/cdxcheck" "$dir/book/VZPB" > "$dir/log/final_cdxcheck" 2>&1 || rc=$?
  echo "final cdxcheck: exit $rc ($(tail -1 "$dir/log/final_cdxcheck"))"
fi
echo "records at the end: $("$dbftool" info "$book" | grep -i -m1 'records' || true)"
echo "  $(uptime)"
