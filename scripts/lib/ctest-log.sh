# Reading ctest's log (sourced by scripts/test).
#
# ctest prints one result line for each try of a test:
#   "121/123 Test  #71: NAME .......***Failed    0.26 sec"
# and, with --repeat until-pass:N, a further try's result without the count in front:
#   "      Test  #71: NAME .......   Passed    0.28 sec"
# A failure reads "***" and its kind (Failed, Timeout, "Exception: SegFault", ...).
# The output of a failed try stands between the two lines and may look like anything,
# so only whole result lines, ending in the seconds, are read.

# The tests that failed a try and passed a later one, one a line, in the order in
# which they passed.
ctest_second_try_passes() {
  sed -nE 's/^ *([0-9]+\/[0-9]+ +)?Test +#[0-9]+: (.*[^ ]) \.+ *(Passed|\*\*\*.*[^ ]) +[0-9.]+ sec$/\3\t\2/p' "$1" |
    awk -F '\t' '
      $1 != "Passed" { failed[$2] = 1; next }
      ($2 in failed) && !($2 in named) { named[$2] = 1; print $2 }'
}

# "N tests passed only on their second try: A, B" over the logs given; the count
# alone when there are none.
ctest_second_try_summary() {
  local names=() log list
  for log in "$@"; do
    mapfile -t -O "${#names[@]}" names < <(ctest_second_try_passes "$log")
  done
  list=$(printf ', %s' "${names[@]}")
  case ${#names[@]} in
    0) echo "0 tests passed only on their second try" ;;
    1) echo "1 test passed only on its second try: ${list#, }" ;;
    *) echo "${#names[@]} tests passed only on their second try: ${list#, }" ;;
  esac
}
