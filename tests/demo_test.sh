#!/usr/bin/env bash
# The demo as a new user runs it, headless: scripts/demo.sh from an empty folder with the programs
# of BUILD_DIR (KESTROVA_DEMO_BUILD, so nothing is built twice) on a free port. Checks what it
# prints (address, login, the three qcli commands, nothing alarming), that the web front end
# answers the login admin/pinecone and refuses a wrong one, that the printed qcli commands reach the
# server through the written qcliConfig.db, that Ctrl+C (SIGINT to the script) stops everything
# with no process or shared memory left, and that a second run reuses the instance and keeps its
# settings.
#
# The qcli check is strict as soon as the server's command interpreter answers: until then the
# server's "Invalid method (qcli)" answer is accepted, as it proves the transport worked.
#
# Usage: tests/demo_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "${1:?usage: demo_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source=$(cd "${2:?usage: demo_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-demo-test.XXXXXX")
user=$scratch/user  # the new user's folder
mkdir -p "$user"
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
prefix="kestrova-demotest-$$."
demo_pid=
failures=0

fail() {
  printf 'FAILED  %s\n' "$*"
  failures=$((failures + 1))
}
ok() { printf 'ok      %s\n' "$*"; }

# Processes whose command line or working folder lies in the scratch folder.
leftovers() {
  local proc pid
  for proc in /proc/[0-9]*; do
    pid=${proc#/proc/}
    [ "$pid" = "$$" ] && continue
    if { tr '\0' ' ' <"$proc/cmdline"; } 2>/dev/null | grep -q -- "$scratch" ||
      [[ "$(readlink "$proc/cwd" 2>/dev/null)" == "$scratch"* ]]; then
      printf '%s ' "$pid"
    fi
  done
}

cleanup() {
  if [ -n "$demo_pid" ] && kill -0 "$demo_pid" 2>/dev/null; then
    kill -INT "$demo_pid" 2>/dev/null || true
    wait "$demo_pid" 2>/dev/null || true
  fi
  local pid
  for pid in $(leftovers); do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
  rm -f /dev/shm/"$prefix"* /dev/shm/sem."$prefix"* 2>/dev/null || true
}
trap cleanup EXIT

# Starts the demo in the user's folder (TLS=1 for HTTPS); waits for its "running" banner (or its
# end).
start_demo() {
  local log=$1 tls=${2:-0}
  # A background job of a script starts with SIGINT ignored, which a shell cannot trap; a user's
  # terminal starts the demo with the default action, as --default-signal does here.
  (cd "$user" && exec env --default-signal=INT KESTROVA_DEMO_BUILD="$build" KESTROVA_DEMO_PORT="$port" \
    KESTROVA_DEMO_TLS="$tls" KESTROVA_SHM_PREFIX="$prefix" bash "$source/scripts/demo.sh" >"$log" 2>&1) &
  demo_pid=$!
  local waited=0
  while ! grep -q "Kestrova is running." "$log" 2>/dev/null; do
    if ! kill -0 "$demo_pid" 2>/dev/null || [ "$waited" -ge 1800 ]; then
      cat "$log"
      echo "FAILED  the demo did not come up"
      exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
}

# Ctrl+C: the script alone gets the signal and must stop its programs.
stop_demo() {
  local log=$1 status=0
  kill -INT "$demo_pid"
  wait "$demo_pid" || status=$?
  demo_pid=
  [ "$status" -eq 0 ] && ok "Ctrl+C ends the demo with status 0" || fail "the demo ended with status $status"
  grep -q "^Stopped.$" "$log" && ok "the demo says it stopped" || fail "no \"Stopped.\" line"
  local left
  left=$(leftovers)
  [ -z "$left" ] && ok "no process left" || fail "processes left: $left"
  # Under the sanitizers the programs report their findings into the instance's logs.
  if grep -l -E "ERROR: (Address|Leak|Thread)Sanitizer|runtime error:" "$user"/instance/logs/*.log; then
    fail "sanitizer reports in the programs' logs"
  else
    ok "the programs' logs hold no sanitizer report"
  fi
  local objects
  objects=$(compgen -G "/dev/shm/$prefix*"; compgen -G "/dev/shm/sem.$prefix*") || true
  if [ -n "$objects" ]; then
    fail "shared memory left: $(tr '\n' ' ' <<<"$objects")"
  else
    ok "no shared memory left"
  fi
}

# ---- First run ----
log1=$scratch/demo1.log
start_demo "$log1"
url="http://127.0.0.1:$port"
grep -qF "Web interface:  $url/" "$log1" && ok "prints the address" || fail "no address line"
grep -qF "Login:          admin / pinecone" "$log1" && ok "prints the login" || fail "no login line"
# Nothing alarming on the console (the programs' own output goes to the instance's logs).
if grep -n -i -E "error|warning|fail|denied|cannot|abort" "$log1"; then fail "alarming output"; else ok "nothing alarming printed"; fi

status=$(curl -s -o "$scratch/page.html" -w '%{http_code}' -u admin:pinecone "$url/cgi-bin/cgiloader.cgi?module=server&method=LoadIndex")
[ "$status" = 200 ] && grep -q -i "<html" "$scratch/page.html" && ok "the main page answers the login admin/pinecone" ||
  fail "main page with the login: HTTP $status"
status=$(curl -s -o /dev/null -w '%{http_code}' -u admin:wrong "$url/cgi-bin/cgiloader.cgi?module=server&method=LoadIndex")
[ "$status" = 401 ] && ok "a wrong password is refused" || fail "wrong password: HTTP $status"

[ -f "$user/qcliConfig.db" ] && ok "qcliConfig.db written in the user's folder" || fail "no qcliConfig.db"
mapfile -t commands < <(sed -n 's/^    \(.*qcli .* display\)$/\1/p' "$log1")
[ "${#commands[@]}" -eq 3 ] && ok "prints three qcli commands" || fail "qcli commands printed: ${#commands[@]}"
for command in "${commands[@]}"; do
  output=$(cd "$user" && eval "$command" 2>&1) && code=0 || code=$?
  if [ "$code" -ne 0 ]; then
    fail "$command: exit code $code: $output"
  elif grep -q -E "Error: (HTTP|connect|socket|send|recv|Received|Early|gethostbyname)|http request returned no data|invalid format" <<<"$output"; then
    fail "$command: the request did not reach the server: $output"
  elif grep -q "Invalid method (qcli)" <<<"$output"; then
    ok "$command reaches the server (its command interpreter is not built yet)"
  elif grep -q "^Error:" <<<"$output" || ! grep -q -E -- "--- [A-Za-z ]+ Total=[0-9]+ ---" <<<"$output"; then
    fail "$command: $output"
  else
    ok "$command answers: $(grep -o -E -- "--- [A-Za-z ]+ Total=[0-9]+ ---" <<<"$output")"
  fi
done

# A setting changed while the demo runs must survive the next run.
echo "DemoTestMark = kept" >>"$scratch/user/instance/db/prefs.ini"
stop_demo "$log1"

# ---- Second run: the same instance, over HTTPS ----
log2=$scratch/demo2.log
start_demo "$log2" 1
grep -q "updated (settings kept)" "$log2" && ok "the second run reuses the instance" || fail "instance not reused"
grep -q "DemoTestMark = kept" "$user/instance/db/prefs.ini" && ok "its settings are kept" || fail "settings lost"
certificate=$user/instance/tls/cert.pem
grep -qF "Web interface:  https://127.0.0.1:$port/" "$log2" && ok "prints the HTTPS address" || fail "no HTTPS address line"
status=$(curl -s -o /dev/null -w '%{http_code}' --cacert "$certificate" -u admin:pinecone "https://127.0.0.1:$port/metrics")
[ "$status" = 200 ] && ok "the second run answers over HTTPS" || fail "second run: HTTPS $status"
status=$(curl -s -o /dev/null -w '%{http_code}' -u admin:pinecone "$url/metrics") || true
[ "$status" != 200 ] && ok "no plain HTTP on the HTTPS port" || fail "plain HTTP answered on the HTTPS port"
output=$(cd "$user" && eval "${commands[0]:-false}" 2>&1) && code=0 || code=$?
if [ "$code" -eq 0 ] && grep -q -E -- "--- [A-Za-z ]+ Total=[0-9]+ ---" <<<"$output"; then
  ok "${commands[0]} answers over HTTPS through the written qcliConfig.db"
else
  fail "${commands[0]:-the first qcli command} over HTTPS: exit code $code: $output"
fi
stop_demo "$log2"


if [ "$failures" -ne 0 ]; then
  echo "--- demo output (first run)"
  cat "$log1"
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
