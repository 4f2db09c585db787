# Helpers of the Wine test scripts (sourced): failures counted in $failures.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() {  # expect FILE TEXT: the file holds the text
  grep -qF -- "$2" "$1" || fail "'$2' missing from $(basename "$1"):"$'\n'"$(cat "$1")"
}
# Waits up to $2 seconds for the condition command $1.
waitFor() {
  local i
  for ((i = 0; i < $2 * 4; i++)); do eval "$1" && return 0; sleep 0.25; done
  return 1
}
