#!/usr/bin/env bash
# anchor_check.sh: what the table engine leaves on disk and what its walk sees beside
# another program's writer, checked with the independent xBase engine's tools
# (../shared/xbase-anchor, or the folder VZ_XBASE_ANCHOR names). Not part of
# scripts/test: those tools are not the project's. Exits 0 when every check passes,
# 1 when one fails, 2 when the tools are not there.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
anchor=${VZ_XBASE_ANCHOR:-$root/../shared/xbase-anchor}
for tool in cdxcheck readvzpb writer; do
  [ -x "$anchor/bin/$tool" ] || { echo "anchor_check: $anchor/bin/$tool is not there" >&2; exit 2; }
done
cmake -S "$root/bench/table" -B "$root/build/bench-table" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/bench-table" -j 2 --target table_check >/dev/null
check=$root/build/bench-table/bench/table_check
dir=$(mktemp -d)
trap 'exec 3>&- 2>/dev/null || true; rm -rf "$dir"' EXIT
table=$dir/VZPB
failed=0
fail() { echo "FAILED: $*"; failed=1; }

# 1. Appends collected in runs; a process that ends without closing after 30,000 more
#    loses at most the run it was collecting, and leaves a table both engines read.
"$check" create "$table.dbf" 100000
"$check" crash "$table.dbf" 30000
count=$(od -An -tu4 -j4 -N4 "$table.dbf" | tr -d ' ')
size=$(stat -c %s "$table.dbf")
whole=$(( (size - 98) / 61 ))
echo "after the crash: count $count, whole records $whole"
[ "$count" -ge 100000 ] && [ "$count" -le "$whole" ] || fail "count $count against $whole whole records"
"$check" index "$table.dbf"
"$anchor/bin/cdxcheck" "$table" || fail "cdxcheck found the table unsound"

# 2. Our walk stands part-way (its next entries read ahead), the other engine's writer
#    appends 2,000 records and deletes every third; the rest of our walk is what that
#    engine's own reader lists after the same record.
mkfifo "$dir/go"
"$check" walk "$table.dbf" 40000 < "$dir/go" > "$dir/walk.out" &
walker=$!
exec 3>"$dir/go"
for _ in $(seq 100); do grep -q '^at ' "$dir/walk.out" && break; sleep 0.1; done
at=$(sed -n 's/^at //p' "$dir/walk.out")
[ -n "$at" ] || fail "the walk did not report where it stands"
"$anchor/bin/writer" "$table" 2000 >/dev/null
echo go >&3
exec 3>&-
wait "$walker" || fail "the walk failed"
ours=$(sed -n 's/^after //p' "$dir/walk.out")
theirs=$("$anchor/bin/readvzpb" "$table" | awk -v at="$at" 'found { n++ } $1 == at { found = 1 } END { print n + 0 }')
echo "walk from record $at on: ours $ours, the other engine's reader $theirs"
[ "$ours" = "$theirs" ] || fail "the walk missed the other writer's changes"
"$anchor/bin/cdxcheck" "$table" || fail "cdxcheck found the table unsound after the writer"

[ $failed -eq 0 ] && echo "anchor_check: passed"
exit $failed
