# Shared by the end-to-end scripts: the Windows programs under the project's Wine
# session, the settings file in the prefix's Windows folder, and cleanup.
set -Eeuo pipefail
# A command that fails outside an explicit check ends the script: say which.
trap 'echo "FAIL: ${BASH_SOURCE[0]##*/} line $LINENO: $BASH_COMMAND (exit status $?)" >&2' ERR
e2e_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bin=$e2e_root/build/win64/bin
source "$e2e_root/scripts/wine-env"
windir=$WINEPREFIX/drive_c/windows

win() { "$e2e_root/scripts/wine-run" "$@"; }
robot() { win "$bin/vzrobot.exe" "$@"; }
faxdrv() { win "$bin/faxdrv.exe" "$@" | tr -d '\r'; }

fail() { echo "FAIL: $*" >&2; exit 1; }
expect_eq() { [ "$1" = "$2" ] || fail "expected '$2', got '$1'${3:+ ($3)}"; }

# write_vzpd_ini OUTPATH EXECUTABLE: the settings the installer leaves (CRLF lines).
write_vzpd_ini() {
  mkdir -p "$windir"
  printf '[Location]\r\nVZOutPath=%s\r\nVZExecutable=%s\r\n' "$1" "$2" >"$windir/VZPD.INI"
}

controller_pid=
start_controller() {
  win "$bin/VZNTCTL.EXE" &
  controller_pid=$!
  robot exists MainForm 15000 >/dev/null || fail "VZNTCTL did not start"
}

# Closes the controller through its main form and checks that it ended cleanly.
stop_controller() {
  [ -n "$controller_pid" ] || return 0
  robot close MainForm || true
  local rc=0
  wait "$controller_pid" || rc=$?
  controller_pid=
  expect_eq "$rc" 0 "VZNTCTL exit code"
}

# fill_fax_details PHONE RECIPIENT SUBJECT [Yes|No]: plays the user at the end of a
# document: types into the fax details dialog, presses Ok and answers the question.
fill_fax_details() {
  local dialog="VelmorFAX NT Print To Fax"
  robot wait "$dialog" 15000 >/dev/null || fail "no fax details dialog"
  robot settext "$dialog" 202 "$1"
  robot settext "$dialog" 204 "$2"
  robot settext "$dialog" 206 "$3"
  robot press "$dialog" Ok
  robot wait "FAX CREATED" 10000 >/dev/null || fail "no question after Ok"
  robot press "FAX CREATED" "${4:-No}"
}

e2e_cleanup() {
  if [ -n "$controller_pid" ]; then kill "$controller_pid" 2>/dev/null || true; fi
  rm -f "$windir/VZPD.INI"
}
trap e2e_cleanup EXIT
