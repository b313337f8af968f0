#!/usr/bin/env bash
# PDINSTALL.EXE in a fresh Wine prefix of its own, checked by what it leaves:
# the raster-driver files expanded from a stand-in installation CD after the
# warning and one prompt (LAYOUT.INF route), the spooler's driver and printer,
# VZPD.INI, the AutoExec value and PDOK.DAT; a second run on the installed
# system; a run without the driver files in its current folder; a run whose
# settings file cannot be written; and the SETUP.INF/PRINTER.INF route.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export VZ_WINE_STATE=$root/build/e2e-install-wine
rm -rf "$VZ_WINE_STATE"
source "$root/tests/e2e/common.bash"
source "$root/tests/e2e/installer.bash"
trap 'installer_cleanup; "$root/scripts/wine-stop" || true; rm -rf "$VZ_WINE_STATE"' EXIT

warning="VelmorFAX Printer Driver Installation"
cd_prompt="Insert Windows NT Workstation CD-ROM and Browse to listed file"
win cmd.exe /c exit >/dev/null 2>&1   # the fresh prefix
lay_out_installation
cp "$standins/inf/LAYOUT.INF" "$windir/inf/LAYOUT.INF"

echo "-- files missing: warning once, one prompt, three files expanded"
start_installer "$product"
robot wait "$warning" 20000 >/dev/null || fail "no warning dialog"
robot text "$warning" | tr -d '\r' | grep -qx OK || fail "the warning has no OK button"
robot press "$warning" OK
robot gone "$warning" 5000 || fail "the warning stayed"
answer_prompt "$cd_prompt" 'C:\NTCD\i386\RASDD.DL_'
robot gone "$warning" 0 || fail "the warning came again"
finish_installer 0
for f in Rasdd.dll Rasddui.dll Rasddui.hlp; do
  cmp -s "$driverdir/$f" "$standins/unidriver/${f^^}" || fail "$f was not expanded into the driver folder"
done
check_outputs
spoolinfo | grep -qx 'printer VelmorFAX Printer Driver|VelmorFAX APF Printer Driver|PRINTFAX:' || fail "printer not registered"
spoolinfo | grep -q '^driver VelmorFAX APF Printer Driver|.*RASDD.DLL|.*APFPDENT.DLL|.*RASDDUI.DLL$' || fail "driver not registered"
spoolinfo | grep -qx 'monitor APFMON40' || fail "monitor not registered"
[ -f "$windir/system32/APFMON40.DLL" ] && [ -f "$windir/system32/APFAXCNV.DLL" ] || fail "monitor files not installed"

echo "-- second run on the installed system: nothing shown, outputs written again"
remove_outputs
start_installer "$product"
finish_installer 0
check_outputs

echo "-- the data file missing from the current folder"
remove_outputs
mkdir -p "$WINEPREFIX/drive_c/EMPTY"
start_installer "$WINEPREFIX/drive_c/EMPTY"
expect_error_box "A required printer driver file was not found"
finish_installer 0
nothing_written

echo "-- settings file that cannot be written: Application Error, exit 1"
mkdir "$windir/VZPD.INI"
start_installer "$product"
robot wait "Application Error" 20000 >/dev/null || fail "no Application Error box"
robot text "Application Error" | tr -d '\r' | grep -qx 'Unable to write to VZPD.INI' || fail "Application Error text"
robot press "Application Error" OK
finish_installer 1
rmdir "$windir/VZPD.INI"
nothing_written

echo "-- SETUP.INF and PRINTER.INF route"
rm -f "$windir/inf/LAYOUT.INF" "$driverdir"/Rasdd*
cp "$standins/inf/SETUP.INF" "$standins/inf/PRINTER.INF" "$windir/system32/"
start_installer "$product"
robot wait "$warning" 20000 >/dev/null || fail "no warning dialog"
robot press "$warning" OK
answer_prompt "$cd_prompt" 'C:\NTCD\i386\RASDD.DL_'
finish_installer 0
for f in Rasdd.dll Rasddui.dll Rasddui.hlp; do [ -f "$driverdir/$f" ] || fail "$f missing after SETUP route"; done
check_outputs
echo "installer: ok"
