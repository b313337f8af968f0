#!/usr/bin/env bash
# The second-try report of scripts/test over ctest logs recorded with
# --repeat until-pass:2: first tries that failed, crashed or timed out, tests that
# failed both tries, and a failed test whose output names another test.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../../scripts/lib/ctest-log.sh"

failures=0
expect() {  # WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf '%s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}

expect "three first tries lost: a failure, a crash, an exit code" \
  "Flaky.Crash
Flaky.FirstTry
Flaky.Other" \
  "$(ctest_second_try_passes "$here/ctest-retries.log")"
expect "their summary" \
  "3 tests passed only on their second try: Flaky.Crash, Flaky.FirstTry, Flaky.Other" \
  "$(ctest_second_try_summary "$here/ctest-retries.log")"
expect "one Wine test, its output between the tries" \
  "1 test passed only on its second try: PhoneBookWinTest.TypeAheadFindsTheFirstNameInAnyLetterCase" \
  "$(ctest_second_try_summary "$here/ctest-wine-retry.log")"
expect "every test passed at once" \
  "0 tests passed only on their second try" \
  "$(ctest_second_try_summary "$here/ctest-no-retry.log")"
expect "two logs, in the order given" \
  "2 tests passed only on their second try: PhoneBookWinTest.TypeAheadFindsTheFirstNameInAnyLetterCase, Flaky.Crash" \
  "$(ctest_second_try_summary "$here/ctest-wine-retry.log" <(grep -v 'Flaky\.\(FirstTry\|Other\)' "$here/ctest-retries.log"))"
expect "a failure in one log and a pass in another are no second try" \
  "0 tests passed only on their second try" \
  "$(ctest_second_try_summary <(grep -v Passed "$here/ctest-retries.log") <(grep Passed "$here/ctest-retries.log"))"

echo "$failures failed"
[ "$failures" -eq 0 ]
