# Shared by the installer's end-to-end script, the demo and the benchmark: the
# stand-in installation laid out in the prefix, PDINSTALL.EXE started from a
# folder, its prompts answered, and its outputs checked.
standins=$e2e_root/build/win64/standins
product=$WINEPREFIX/drive_c/VelmorFAX
driverdir=$windir/system32/spool/drivers/x64

spoolinfo() { win "$bin/spoolinfo.exe" | tr -d '\r'; }

# The product folder with the installer and the outside driver's files, and the
# stand-in Windows NT CD with the compressed raster-driver files.
lay_out_installation() {
  mkdir -p "$product" "$WINEPREFIX/drive_c/NTCD/i386"
  cp "$bin/PDINSTALL.EXE" "$standins"/driver/*.DLL "$product/"
  cp "$standins"/disk/i386/* "$WINEPREFIX/drive_c/NTCD/i386/"
}

installer_pid=
# start_installer FOLDER [ARGS...]: PDINSTALL.EXE from the product folder, FOLDER as its current folder.
start_installer() {
  local folder=$1
  shift
  (cd "$folder" && exec timeout 120 "$e2e_root/scripts/wine-run" 'C:\VelmorFAX\PDINSTALL.EXE' "$@" >/dev/null 2>&1) &
  installer_pid=$!
}

# finish_installer EXPECTED: waits for the installer and checks its exit status.
finish_installer() {
  local rc=0
  wait "$installer_pid" || rc=$?
  installer_pid=
  expect_eq "$rc" "$1" "PDINSTALL exit status"
}

# answer_prompt TITLE PATH: types PATH into the open-file dialog and opens it.
answer_prompt() {
  robot wait "$1" 20000 >/dev/null || fail "no prompt \"$1\""
  robot settext "$1" 1148 "$2" || fail "prompt file name box"
  robot press "$1" Open || fail "prompt Open button"
  robot gone "$1" 10000 || fail "the prompt stayed"
}

expect_error_box() {
  robot wait Error 20000 >/dev/null || fail "no error box"
  robot text Error | tr -d '\r' | grep -qxF "$1" || fail "error box text: $(robot text Error | tr '\r\n' '  ')"
  robot press Error OK
}

reg_autoexec() {
  win reg query 'HKLM\SOFTWARE\Orvane\ApFaxCnv\Settings' /v AutoExec 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *AutoExec *REG_SZ *//p'
}

check_outputs() {
  local ini
  ini=$(tr -d '\r' <"$windir/VZPD.INI" 2>/dev/null) || fail "no VZPD.INI"
  grep -qx 'VZOutPath=C:\\VelmorFAX\\SEND\\' <<<"$ini" || fail "VZOutPath in: $ini"
  grep -qx 'VZExecutable=C:\\VelmorFAX\\VZ.EXE' <<<"$ini" || fail "VZExecutable in: $ini"
  expect_eq "$(reg_autoexec)" 'C:\VelmorFAX\VZNTCTL.EXE' "AutoExec"
  expect_eq "$(od -An -c "$product/PDOK.DAT" | tr -s ' ')" " o k \r \n" "PDOK.DAT"
}

remove_outputs() {
  rm -f "$windir/VZPD.INI" "$product/PDOK.DAT"
  win reg delete 'HKLM\SOFTWARE\Orvane\ApFaxCnv\Settings' /v AutoExec /f >/dev/null 2>&1 || true
}

nothing_written() {
  [ ! -f "$windir/VZPD.INI" ] || fail "VZPD.INI was written"
  [ ! -f "$product/PDOK.DAT" ] || fail "PDOK.DAT was written"
  [ -z "$(reg_autoexec)" ] || fail "AutoExec was written"
}

# The controller started from the product folder, as AutoExec names it.
product_controller_pid=
start_product_controller() {
  cp "$bin/VZNTCTL.EXE" "$product/"
  win 'C:\VelmorFAX\VZNTCTL.EXE' >/dev/null 2>&1 &
  product_controller_pid=$!
  robot exists MainForm 15000 >/dev/null || fail "VZNTCTL did not start"
}

# Nothing of the product is left in the spooler, the registry or the product folder.
check_removed() {
  ! spoolinfo | grep -q 'VelmorFAX' || fail "still in the spooler: $(spoolinfo | grep VelmorFAX)"
  ! spoolinfo | grep -qx 'monitor APFMON40' || fail "monitor APFMON40 still registered"
  [ -z "$(reg_autoexec)" ] || fail "AutoExec still set"
  [ ! -e "$product/PDOK.DAT" ] || fail "PDOK.DAT still there"
  ! grep -q 'VZOutPath\|VZExecutable\|\[Location\]' "$windir/VZPD.INI" 2>/dev/null || fail "[Location] left in VZPD.INI"
}

installer_cleanup() {
  if [ -n "$product_controller_pid" ]; then kill "$product_controller_pid" 2>/dev/null || true; fi
  if [ -n "$installer_pid" ]; then kill "$installer_pid" 2>/dev/null || true; fi
}
