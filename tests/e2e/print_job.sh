#!/usr/bin/env bash
# A print job through the pipe: VZNTCTL hands out FAXnnnnn.APF names in the
# configured folder, creating it, asks for the fax details at the end of the
# document, leaves the job descriptor and counts up as images appear.
source "$(dirname "${BASH_SOURCE[0]}")/common.bash"

out=$WINEPREFIX/drive_c/vzout/e2e/a
rm -rf "$WINEPREFIX/drive_c/vzout"
write_vzpd_ini 'C:\vzout\e2e\a\' 'C:\windows\notepad.exe'
start_controller

expect_eq "$(faxdrv start "x")" 'C:\vzout\e2e\a\FAX00000.APF' "first start"
[ -d "$out" ] || fail "the output folder was not created"
faxdrv job "Letter" --bytes 2048 >"$WINEPREFIX/job.out" &
job=$!
fill_fax_details "+1 555 0100" "Jane Roe" "Letter"
wait "$job" || fail "faxdrv job"
expect_eq "$(cat "$WINEPREFIX/job.out")" 'C:\vzout\e2e\a\FAX00000.APF' "job"
hex() { od -An -tx1 | tr -d ' \n'; }
expect_eq "$(hex <"$out/FAX00000.JFD")" "$(printf '+1 555 0100\r\nJane Roe\r\nLetter\r\n' | hex)" "job descriptor"
expect_eq "$(stat -c %s "$out/FAX00000.APF")" 2048 "image size"
expect_eq "$(faxdrv start "y")" 'C:\vzout\e2e\a\FAX00001.APF' "next start"

# A request with an unknown code is reported and the controller keeps serving.
faxdrv raw 07 00 >/dev/null
robot wait "VelmorFAX NT Print To Fax" 5000 >/dev/null || fail "no error box"
robot text "VelmorFAX NT Print To Fax" | grep -q 'Unknown incoming event encountered:7' || fail "error text"
robot press "VelmorFAX NT Print To Fax" OK
expect_eq "$(faxdrv start "z")" 'C:\vzout\e2e\a\FAX00001.APF' "start after a bad request"

stop_controller
# Nobody listens any more: the driver gives up after the pipe's time-out.
if faxdrv start "late" 2>/dev/null; then fail "a closed controller answered"; fi
echo "print job: ok"
