#!/usr/bin/env bash
# The release zips: scripts/package run twice gives the same bytes (the second
# time with the programs' file times changed), each zip's SHA256SUMS holds, the
# version block and manifest are in the 32- and the 64-bit programs, no build
# path is inside them, and the win64 zip unpacked into a fresh Wine prefix
# installs the fax printer and removes it again.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export VZ_WINE_STATE=$root/build/e2e-package-wine
rm -rf "$VZ_WINE_STATE"
source "$root/tests/e2e/common.bash"
source "$root/tests/e2e/installer.bash"
work=$root/build/e2e-package
trap 'installer_cleanup; "$root/scripts/wine-stop" || true; rm -rf "$VZ_WINE_STATE" "$work"' EXIT
rm -rf "$work"
mkdir -p "$work"

echo "-- two package runs give the same zips"
"$root/scripts/package" >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/build/win64/CMakeCache.txt")
zips=("velmorfax-nt-$version-win64.zip" "velmorfax-nt-$version-win32.zip")
for z in "${zips[@]}"; do cp "$root/dist/$z" "$work/first-$z"; done
touch "$root"/build/win64/bin/*.EXE "$root"/build/win32/bin/*.EXE
sleep 1.1 # a later whole second for the file times; the zips must not carry them
touch "$root"/build/win64/bin/*.EXE "$root"/build/win32/bin/*.EXE
"$root/scripts/package" --no-build >/dev/null
for z in "${zips[@]}"; do cmp "$root/dist/$z" "$work/first-$z" || fail "$z differs between two runs"; done
(cd "$root/dist" && sha256sum --quiet -c SHA256SUMS) || fail "dist/SHA256SUMS"

for flavour in win64 win32; do
  echo "-- $flavour zip: contents, checksums, version block, manifest, no build path"
  dir=$work/$flavour
  python3 -m zipfile -e "$root/dist/velmorfax-nt-$version-$flavour.zip" "$dir"
  expect_eq "$(cd "$dir" && ls | tr '\n' ' ')" "PDINSTALL.EXE README.txt SHA256SUMS VZNTCTL.EXE " "$flavour zip contents"
  (cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "$flavour SHA256SUMS"
  expect_eq "$(wc -l <"$dir/SHA256SUMS")" 3 "$flavour SHA256SUMS lines"
  grep -q "PDINSTALL.EXE /remove" "$dir/README.txt" || fail "README.txt does not tell how to remove"
  [ "$(head -c 200 "$dir/README.txt" | tr -d -c '\r' | wc -c)" -gt 0 ] || fail "README.txt without CR LF lines"
  windres=x86_64-w64-mingw32-windres
  [ "$flavour" = win32 ] && windres=i686-w64-mingw32-windres
  for program in PDINSTALL.EXE VZNTCTL.EXE; do
    rc=$("$windres" -i "$dir/$program" -O rc)
    grep -qF 'VALUE "ProductName", "VelmorFAX NT Print To Fax"' <<<"$rc" || fail "$flavour $program product name"
    grep -qF 'VALUE "CompanyName", "VelmorFAX"' <<<"$rc" || fail "$flavour $program company"
    grep -qF "VALUE \"OriginalFilename\", \"$program\"" <<<"$rc" || fail "$flavour $program original name"
    grep -qF "VALUE \"FileVersion\", \"$version.0\"" <<<"$rc" || fail "$flavour $program file version"
    grep -qF 'RT_MANIFEST' <<<"$rc" || fail "$flavour $program has no manifest"
    ! grep -qaF "$root" "$dir/$program" || fail "$flavour $program carries the build path $root"
  done
  level=$("$windres" -i "$dir/PDINSTALL.EXE" -O rc | grep -o 'level=""[A-Za-z]*' | tr -d '"')
  expect_eq "$level" "level=requireAdministrator" "$flavour PDINSTALL execution level"
  level=$("$windres" -i "$dir/VZNTCTL.EXE" -O rc | grep -o 'level=""[A-Za-z]*' | tr -d '"')
  expect_eq "$level" "level=asInvoker" "$flavour VZNTCTL execution level"
done

echo "-- the win64 zip unpacked into a fresh prefix installs and removes the fax printer"
win cmd.exe /c exit >/dev/null 2>&1
mkdir -p "$product" "$driverdir"
python3 -m zipfile -e "$root/dist/velmorfax-nt-$version-win64.zip" "$product"
cp "$standins"/driver/*.DLL "$product/"
# The raster-driver files in place: the run asks for nothing.
for f in Rasdd.dll Rasddui.dll Rasddui.hlp; do cp "$standins/unidriver/${f^^}" "$driverdir/$f"; done
start_installer "$product"
finish_installer 0
check_outputs
spoolinfo | grep -qx 'printer VelmorFAX Printer Driver|VelmorFAX APF Printer Driver|PRINTFAX:' || fail "printer not registered"
start_installer "$product" /remove
finish_installer 0
check_removed
echo "package: ok"
