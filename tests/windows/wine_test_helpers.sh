# Shell helpers of the Wine test scripts (sourced): failures counted, texts expected in files,
# conditions waited for with a deadline (never a fixed sleep).
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
# A free UDP port of this host, for a server's own multicast port.
freeUdpPort() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("", 0)); print(s.getsockname()[1])'
}
