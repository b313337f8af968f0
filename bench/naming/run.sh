#!/usr/bin/env bash
# run.sh [BUILD_DIR]: builds the fax file naming benchmark in a 64-bit Windows
# build tree (default build/win64, configured when missing) and runs it under Wine
# with 0, 1, 1,000, 20,000 and 99,999 images in a folder of the Wine prefix.
# The folder is filled from the Linux side between the runs and removed at the end.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$root/build/win64}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target naming_bench -j2 >/dev/null
bench=$build/bench/naming_bench.exe
source "$root/scripts/wine-env"

"$root/scripts/wine-run" "$bench" --header   # also creates the prefix on first use
folder=$WINEPREFIX/drive_c/vz-naming-bench
rm -rf "$folder"
mkdir -p "$folder"
trap 'rm -rf "$folder"' EXIT
present=0
for count in 0 1 1000 20000 99999; do
  if [ "$count" -gt "$present" ]; then
    (cd "$folder" && seq -f 'FAX%05g.APF' "$present" $((count - 1)) | xargs touch)
    present=$count
  fi
  "$root/scripts/wine-run" "$bench" 'C:\vz-naming-bench' "$count"
done
