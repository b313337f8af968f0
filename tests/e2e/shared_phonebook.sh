#!/usr/bin/env bash
# Two desks share one phone book: two controllers, each on a "machine" of its own (a
# Wine prefix with its own Wine server), both started from one program folder that
# holds VZNTCTL.EXE and the phone book, as from a file server. Desk A changes the
# phone book, with dbftool and with its own browser, while desk B's browser is open:
# B shows each change within its refresh period, and Accept on an entry that A
# deleted since B last looked beeps, shows the list again and hands back nothing.
# Each prefix's Wine server takes its programs' file locks as POSIX locks of its own,
# so a byte one desk has locked is refused to the other (error 33), as between two
# machines on one file server.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/tests/e2e/common.bash"
state_b=$root/build/e2e-desk-b-wine
share=$root/build/e2e-share
browser="VelmorFax Printer Driver - Select Phone Number "
dialog="VelmorFAX NT Print To Fax"
# B's browser looks at the phone book once a second, and a change shows at its next
# look. The bound leaves room for a loaded machine and for the robot's starts.
within_s=5

on_b() { VZ_WINE_STATE=$state_b "$@"; }
win_b() { on_b "$root/scripts/wine-run" "$@"; }
robot_b() { win_b "$bin/vzrobot.exe" "$@"; }
faxdrv_b() { win_b "$bin/faxdrv.exe" "$@" | tr -d '\r'; }
rows() { "$@" rows "$browser" | tr -d '\r'; }

ctl_a= ctl_b= job_a= job_b=
cleanup() {
  [ -z "$ctl_b" ] || kill -CONT "$ctl_b" 2>/dev/null || true
  for pid in $ctl_a $ctl_b $job_a $job_b; do kill "$pid" 2>/dev/null || true; done
  e2e_cleanup
  on_b "$root/scripts/wine-stop" || true
  rm -rf "$state_b" "$share" "$WINEPREFIX/drive_c/vzout/desk"
}
trap cleanup EXIT
rm -rf "$state_b" "$share"

# until_rows ROBOT EXPECTED WHAT: waits up to $within_s seconds for the browser's rows.
until_rows() {
  local who=$1 expected=$2 what=$3 got start=$SECONDS
  while got=$(rows "$who"); [ "$got" != "$expected" ]; do
    [ $((SECONDS - start)) -lt "$within_s" ] || fail "$what: the browser shows"$'\n'"$got"$'\n'"instead of"$'\n'"$expected"
  done
  echo "   $what: shown after $((SECONDS - start)) s"
}

# open_browser ROBOT: the fax details dialog of the desk's print job opens the phone book.
open_browser() {
  "$1" wait "$dialog" 20000 >/dev/null || fail "no fax details dialog"
  "$1" press "$dialog" "Phone Book"
  "$1" wait "$browser" 20000 >/dev/null || fail "no phone book browser"
}

echo "-- the program folder on the 'file server', its phone book, and machine B"
mkdir -p "$share"
cp "$bin/VZNTCTL.EXE" "$share/"
printf 'Keller Anna,+49 3\r\nAlbrecht Hugo,+49 1\r\nBecker Carla,+49 2\r\n' >"$share/book.csv"
win "$bin/dbftool.exe" create-phonebook "$share/VZPB.DBF" >/dev/null || fail "create-phonebook"
win "$bin/dbftool.exe" import "$share/VZPB.DBF" "$share/book.csv" >/dev/null || fail "import"
win_b cmd.exe /c exit >/dev/null 2>&1
# Desk B's beeps are seen in Wine's trace of that one call.
win_b reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d user32.MessageBeep /f >/dev/null 2>&1
write_vzpd_ini 'C:\vzout\desk\' 'C:\windows\notepad.exe'
cp "$windir/VZPD.INI" "$state_b/prefix/drive_c/windows/VZPD.INI"

echo "-- both controllers, from the one folder; a print job on each opens its phone book"
# Started without a function between, so that each PID is the program's (kill -STOP below).
"$root/scripts/wine-run" "$share/VZNTCTL.EXE" >/dev/null 2>&1 &
ctl_a=$!
VZ_WINE_STATE=$state_b WINEDEBUG=+relay "$root/scripts/wine-run" "$share/VZNTCTL.EXE" >/dev/null 2>"$state_b/relay.log" &
ctl_b=$!
robot exists MainForm 15000 >/dev/null || fail "VZNTCTL did not start on A"
robot_b exists MainForm 15000 >/dev/null || fail "VZNTCTL did not start on B"
faxdrv job "Desk A" --bytes 1024 >/dev/null &
job_a=$!
faxdrv_b job "Desk B" --bytes 1024 >/dev/null &
job_b=$!
open_browser robot
open_browser robot_b
until_rows robot_b "* Albrecht Hugo|+49 1
  Becker Carla|+49 2
  Keller Anna|+49 3" "B's browser"

echo "-- A adds an entry with dbftool and deletes one in its browser; B's open browser follows"
printf 'Adler Eva,+49 5\r\n' >"$share/more.csv"
win "$bin/dbftool.exe" import "$share/VZPB.DBF" "$share/more.csv" >/dev/null || fail "import on A"
until_rows robot_b "  Adler Eva|+49 5
* Albrecht Hugo|+49 1
  Becker Carla|+49 2
  Keller Anna|+49 3" "the entry A added"
robot type "$browser" kel
until_rows robot "  Adler Eva|+49 5
  Albrecht Hugo|+49 1
  Becker Carla|+49 2
* Keller Anna|+49 3" "A's type-ahead"
robot key "$browser" alt+d
robot wait Delete 10000 >/dev/null || fail "no delete question on A"
robot text Delete | grep -q 'Keller Anna' || fail "A's question names another entry"
robot press Delete Yes
# Gone before A types again: letters posted while it closes go to no control.
robot gone Delete 10000 || fail "A's question stayed"
until_rows robot_b "  Adler Eva|+49 5
* Albrecht Hugo|+49 1
  Becker Carla|+49 2" "the entry A deleted"

echo "-- A deletes B's current entry while B is busy; B's Accept comes before B's next look"
# B's program is held still: the Enter posted meanwhile waits in its queue, and a
# posted message is taken before a timer's.
kill -STOP "$ctl_b"
robot type "$browser" alb
until_rows robot "  Adler Eva|+49 5
* Albrecht Hugo|+49 1
  Becker Carla|+49 2" "A's type-ahead"
robot key "$browser" alt+d
robot wait Delete 10000 >/dev/null || fail "no delete question on A"
robot press Delete Yes
robot gone Delete 10000 || fail "A's question stayed"
robot_b key "$browser" enter
grep -q 'Call user32.MessageBeep' "$state_b/relay.log" && fail "B beeped before Accept"
kill -CONT "$ctl_b"
start=$SECONDS
until grep -q 'Call user32.MessageBeep' "$state_b/relay.log"; do
  [ $((SECONDS - start)) -lt "$within_s" ] || fail "B's Accept on the deleted entry did not beep"
  sleep 0.1
done
robot_b wait "$browser" 0 >/dev/null || fail "B's Accept closed the browser on a deleted entry"
after=$(rows robot_b)
case "$after" in
  "* Adler Eva|+49 5
  Becker Carla|+49 2" | "  Adler Eva|+49 5
* Becker Carla|+49 2") ;;
  *) fail "B's list after the beep:"$'\n'"$after" ;;
esac
echo "   B beeped and shows the list again"
chosen=$(sed -n 's/^\* //p' <<<"$after")

echo "-- Accept again on B hands back the entry current now; both desks finish their faxes"
robot_b key "$browser" enter
robot_b gone "$browser" 10000 || fail "B's browser stayed open"
robot key "$browser" escape
robot gone "$browser" 10000 || fail "A's browser stayed open"
robot settext "$dialog" 206 "from A"
robot press "$dialog" Ok
robot wait "FAX CREATED" 10000 >/dev/null || fail "no question on A"
robot press "FAX CREATED" No
robot_b settext "$dialog" 206 "from B"
robot_b press "$dialog" Ok
robot_b wait "FAX CREATED" 10000 >/dev/null || fail "no question on B"
robot_b press "FAX CREATED" No
wait "$job_a" || fail "A's driver got no answer"
wait "$job_b" || fail "B's driver got no answer"
job_a= job_b=
robot close MainForm
robot_b close MainForm
rc=0
wait "$ctl_a" || rc=$?
expect_eq "$rc" 0 "VZNTCTL exit code on A"
wait "$ctl_b" || rc=$?
expect_eq "$rc" 0 "VZNTCTL exit code on B"
ctl_a= ctl_b=
# The job file B left: fax number, recipient and subject, from the entry Accept chose.
jfd=$(tr -d '\r' <"$state_b/prefix/drive_c/vzout/desk/FAX00000.JFD")
expect_eq "$jfd" "${chosen#*|}"$'\n'"${chosen%%|*}"$'\nfrom B' "B's job file"
expect_eq "$(win "$bin/dbftool.exe" export "$share/VZPB.DBF" | tr -d '\r')" 'name,phone
Adler Eva,+49 5
Becker Carla,+49 2' "the shared phone book"
echo "shared phone book: ok"
