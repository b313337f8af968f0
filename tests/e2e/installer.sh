#!/usr/bin/env bash
# PDINSTALL.EXE in a fresh Wine prefix of its own, checked by what it leaves:
# the raster-driver files expanded from a stand-in installation CD after the
# warning and one prompt (LAYOUT.INF route) by the system folder's expand.exe,
# not by one of that name beside the installer or on the CD; the spooler's driver and printer,
# VZPD.INI, the AutoExec value and PDOK.DAT; a second run on the installed
# system; a run without the driver files in its current folder (exit 1); a run whose
# settings file cannot be written; the SETUP.INF/PRINTER.INF route; and the
# removal: a running controller closed, the state read back clean, a second
# removal, installing again, and a marker that cannot be deleted.
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

echo "-- files missing: warning once, one prompt, three files expanded by the system's expand.exe"
# Programs named expand.exe beside the installer and on the disk, where a search
# by bare name looks before the system folder.
cp "$standins/planted/expand.exe" "$product/expand.exe"
cp "$standins/planted/expand.exe" "$WINEPREFIX/drive_c/NTCD/i386/expand.exe"
start_installer "$product"
robot wait "$warning" 20000 >/dev/null || fail "no warning dialog"
robot text "$warning" | tr -d '\r' | grep -qx OK || fail "the warning has no OK button"
robot press "$warning" OK
robot gone "$warning" 5000 || fail "the warning stayed"
answer_prompt "$cd_prompt" 'C:\NTCD\i386\RASDD.DL_'
robot gone "$warning" 0 || fail "the warning came again"
finish_installer 0
for planted in "$product" "$WINEPREFIX/drive_c/NTCD/i386"; do
  [ ! -e "$planted/PLANTED.RAN" ] || fail "the expand.exe in $planted ran: $(cat "$planted/PLANTED.RAN")"
done
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

echo "-- the data file missing from the current folder: its box, exit 1"
remove_outputs
mkdir -p "$WINEPREFIX/drive_c/EMPTY"
start_installer "$WINEPREFIX/drive_c/EMPTY"
expect_error_box "A required printer driver file was not found"
finish_installer 1
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
echo "-- removal with the controller running: closed, everything of the product gone, other settings kept"
printf '[Other]\r\nKeep=yes\r\n' >>"$windir/VZPD.INI"
start_product_controller
start_installer "$product" /remove
finish_installer 0
rc=0
wait "$product_controller_pid" || rc=$?
product_controller_pid=
expect_eq "$rc" 0 "VZNTCTL exit code after the removal closed it"
check_removed
tr -d '\r' <"$windir/VZPD.INI" | grep -qx 'Keep=yes' || fail "[Other] lost: $(cat "$windir/VZPD.INI")"
[ -f "$windir/system32/spool/drivers/x64/APFPDENT.DLL" ] || fail "the driver's data file went with the driver"

echo "-- a second removal on the clean system passes silently"
start_installer "$product" /REMOVE
finish_installer 0
check_removed

echo "-- installing again"
start_installer "$product"
finish_installer 0
check_outputs
spoolinfo | grep -qx 'printer VelmorFAX Printer Driver|VelmorFAX APF Printer Driver|PRINTFAX:' || fail "printer not registered again"

echo "-- a marker that cannot be deleted: one box naming it, exit 1"
rm -f "$product/PDOK.DAT"
mkdir "$product/PDOK.DAT"
start_installer "$product" /remove
# The box's line break is a CR, which the text read back drops.
expect_error_box 'Could not remove C:\VelmorFAX\PDOK.DAT.Access denied. (error 5)'
finish_installer 1
rmdir "$product/PDOK.DAT"
check_removed
echo "installer: ok"
