#!/usr/bin/env bash
# run.sh SECONDS: builds the libFuzzer targets with clang and runs each for a bounded
# time from seeds made of the golden files. Exits non-zero on any finding.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-20}
build=$root/build/fuzz
fixtures=$root/tests/fixtures/xbase
cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DVZ_FUZZ=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
for target in pipe_fuzz dbf_fuzz cdx_fuzz inf_fuzz contacts_fuzz; do
  corpus=$build/corpus-$target
  mkdir -p "$corpus"
  case $target in
    dbf_fuzz)
      cp "$fixtures/small/VZPB.dbf" "$corpus/small-dbf"
      { cat "$fixtures/small/VZPB.dbf"; printf VZCDXSEP; cat "$fixtures/small/VZPB.cdx"; } >"$corpus/small-pair"
      # The first 130 records of the large table (header 98 bytes, records 61), counted
      # so and without the index flag: enough keys for a tag of more than one level.
      big=$fixtures/n2000/VZPB.dbf
      { head -c 4 "$big"; printf '\x82\0\0\0'
        dd if="$big" iflag=skip_bytes,count_bytes skip=8 count=20 status=none; printf '\0'
        dd if="$big" iflag=skip_bytes,count_bytes skip=29 count=$((98 - 29 + 130 * 61)) status=none; } >"$corpus/n2000-head" ;;
    cdx_fuzz) cp "$fixtures/small/VZPB.cdx" "$corpus/small-cdx" ;;
    inf_fuzz)
      for inf in "$root"/tools/standins/inf/*.INF; do
        { cat "$inf"; printf '\0%%cdname%%,,,\\i386'; } >"$corpus/$(basename "$inf")"
      done ;;
    contacts_fuzz) cp "$root"/tests/fixtures/contacts/* "$corpus/" ;;
  esac
  echo "fuzz $target: ${seconds}s"
  "$build/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=8192 \
    -artifact_prefix="$build/$target-" "$corpus" >"$build/$target.log" 2>&1 ||
    { tail -30 "$build/$target.log"; exit 1; }
  grep -E '^Done|#[0-9]+ *DONE' "$build/$target.log" | tail -1 || true
done
