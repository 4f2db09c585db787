#!/usr/bin/env bash
# The server as a systemd service under a real systemd: the installed tree of BUILD_DIR is bound
# into a container (systemd-nspawn) that boots this host's own systemd as its PID 1 on a fresh
# tmpfs root with the host's /usr (--volatile=yes), its own network namespace (loopback only) and
# no unit enabled but systemd's own. Inside it the test runs the program's service commands as an
# administrator would and checks what systemd reports:
#   -install       the unit file, enabled, of type notify, working folder = the program's folder
#   -start PARAMS  started only once the server said it is ready (sd_notify status "Running"), in
#                  its folder, with every parameter whole (a debug file path with blanks)
#   -stop          a clean stop (result "success", the shutdown event in the event log)
#   -start         again without parameters: nothing of the earlier ones is left in systemd
#   -remove        stops the running service, then the unit is gone and disabled
#   -name NAME     a second service under its own name
#
# Usage: tests/systemd_service_test.sh BUILD_DIR
# Exit: 0 every check passed; 1 a check failed; 77 no container with a systemd can run here (not
# root, systemd-nspawn or nsenter missing, or the kernel refuses the namespaces): nothing was
# checked, which the message says.
set -uo pipefail

build=$(cd "${1:?usage: systemd_service_test.sh BUILD_DIR}" && pwd)
boot_limit=90  # seconds for the container's systemd to finish booting
failures=0

skip() {
  echo "SKIPPED: $* (the systemd service test needs a container with a real systemd)"
  exit 77
}
fail() {
  printf 'FAILED  %s\n' "$*"
  failures=$((failures + 1))
}
ok() { printf 'ok      %s\n' "$*"; }
check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}
contains() { [[ "$1" == *"$2"* ]]; }
# The text begins with $2 (the first line) and ends with $3 (the last line).
starts_and_ends() { [[ "$1" == "$2"* && "$1" == *"$3" ]]; }

[ "$(id -u)" -eq 0 ] || skip "not running as root"
for tool in systemd-nspawn nsenter; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (Debian packages systemd-container, util-linux)"
done
[ -x /usr/lib/systemd/systemd ] || skip "/usr/lib/systemd/systemd is missing (Debian package systemd)"
[ -L /bin ] && [ -L /lib ] || skip "the host's root is not merged into /usr, so it cannot boot from /usr alone"
[ -x "$build/bin/server" ] || {
  echo "FAILED  $build/bin/server is missing"
  exit 1
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-systemd.XXXXXX")
machine="kestrova-svc-$$-$RANDOM"
nspawn_pid=
cleanup() {
  if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
    kill -TERM "$nspawn_pid" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$nspawn_pid" 2>/dev/null
    wait "$nspawn_pid" 2>/dev/null
  fi
  # systemd-nspawn leaves its mount propagation folder behind when /run is not a tmpfs.
  rm -rf "/run/systemd/nspawn/propagate/$machine"
  rm -rf "$scratch"
}
trap cleanup EXIT

# ---- The installed tree and the container ----
tree=$scratch/opt/kestrova
if ! cmake --install "$build" --prefix "$tree" >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log"
  echo "FAILED  cmake --install into a scratch tree"
  exit 1
fi
# A machine ID of its own: systemd then sees no first boot and enables nothing by presets, so only
# systemd's own units run next to the server.
od -An -tx1 -N16 /dev/urandom | tr -d ' \n' >"$scratch/machine-id"
echo >>"$scratch/machine-id"

nspawn=(systemd-nspawn --quiet --directory=/ --volatile=yes --register=no --keep-unit --machine="$machine"
  --private-network --bind-ro="$scratch/machine-id:/etc/machine-id" --bind="$scratch")
if ! "${nspawn[@]}" --console=pipe /bin/true >"$scratch/probe.log" 2>&1 </dev/null; then
  cat "$scratch/probe.log"
  skip "systemd-nspawn cannot start a container here"
fi
"${nspawn[@]}" --console=read-only --boot >"$scratch/boot.log" 2>&1 </dev/null &
nspawn_pid=$!

# The container's PID 1 is the child of systemd-nspawn that runs systemd (nspawn's first child
# is a helper that ends once the container is set up, so the program is what tells them apart).
leader=
for _ in $(seq 300); do
  for child in $(cat /proc/"$nspawn_pid"/task/*/children 2>/dev/null); do
    if [ "$(readlink /proc/"$child"/exe 2>/dev/null)" = /usr/lib/systemd/systemd ]; then
      leader=$child
      break 2
    fi
  done
  sleep 0.1
done
[ -n "$leader" ] || {
  cat "$scratch/boot.log"
  echo "FAILED  the container did not start"
  exit 1
}
# Runs a command inside the container, with a plain environment (nothing of this test's, such as
# INVOCATION_ID, leaks in).
inside() { nsenter --target "$leader" --all env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
unit_property() { inside systemctl show --property="$2" --value "$1.service"; }

# systemctl cannot connect until the container's systemd has made its socket, and until then it
# answers "offline" (or nothing): ask again until the manager itself answers, then wait for the boot
# to finish. On a busy machine the first questions come before the socket exists.
state=
deadline=$((SECONDS + boot_limit))
while [ "$SECONDS" -lt "$deadline" ]; do
  state=$(timeout "$((deadline - SECONDS + 1))" nsenter --target "$leader" --all env -i PATH=/usr/bin \
    systemctl is-system-running --wait 2>"$scratch/systemctl.log")
  [ -n "$state" ] && [ "$state" != offline ] && break
  sleep 0.2
done
if [ "$state" != running ] && [ "$state" != degraded ]; then
  cat "$scratch/boot.log" "$scratch/systemctl.log"
  echo "FAILED  the container's systemd did not finish booting within ${boot_limit}s (state '$state')"
  exit 1
fi
ok "the container's systemd booted ($state)"
inside mkdir -p /etc/systemd/system  # present on every installed system; the fresh root lacks it

# ---- -install ----
out=$(inside "$tree/server" -install 2>&1)
check "-install says Kestrova installed." contains "$out" "Kestrova installed."
check "the unit file is in /etc/systemd/system" inside test -f /etc/systemd/system/Kestrova.service
check "the unit is enabled" [ "$(inside systemctl is-enabled Kestrova.service)" = enabled ]
check "the unit is of type notify" [ "$(unit_property Kestrova Type)" = notify ]
check "the unit's working folder is the program's folder" [ "$(unit_property Kestrova WorkingDirectory)" = "$tree" ]
out=$(inside "$tree/server" -install 2>&1)
check "a second -install is refused: $out" contains "$out" "CreateService failed - File exists"

# ---- -start with parameters ----
debug_file="$scratch/debug files/server debug.txt"
mkdir -p "$(dirname "$debug_file")"
out=$(inside "$tree/server" -start 4011 -f "$debug_file" 2>&1)
check "-start says Starting Kestrova. and Kestrova started.: $out" \
  starts_and_ends "$out" "Starting Kestrova." $'\nKestrova started.'
check "the service is active and running" [ "$(unit_property Kestrova ActiveState)/$(unit_property Kestrova SubState)" = active/running ]
check "the server told systemd it is ready (status Running)" [ "$(unit_property Kestrova StatusText)" = Running ]
main_pid=$(unit_property Kestrova MainPID)
check "the server runs in its program's folder" [ "$(inside readlink "/proc/$main_pid/cwd")" = "$tree" ]
check "the parameters arrived whole: the debug file with blanks in its path was written" \
  grep -q "main: Server is running" "$debug_file"
check "the parameters are not left in systemd's environment" \
  bash -c '! grep -q KESTROVA_SERVICE_ARGS <<<"$1"' _ "$(inside systemctl show-environment)"
logged() {
  local _
  for _ in $(seq 100); do
    grep -q -- "$1" "$tree/db/ServerLog.log" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
check "the server's start event is in its event log" logged "(Event ID: 0x101)"
check "the working folders were made in the program's folder" test -d "$tree/temp" -a -d "$tree/Information"

# ---- -stop ----
out=$(inside "$tree/server" -stop 2>&1)
check "-stop says Stopping Kestrova. and Kestrova stopped.: $out" \
  starts_and_ends "$out" "Stopping Kestrova." $'\nKestrova stopped.'
check "the service is inactive" [ "$(unit_property Kestrova ActiveState)" = inactive ]
check "the server ended cleanly (result success)" [ "$(unit_property Kestrova Result)" = success ]
check "the server process is gone" inside test ! -d "/proc/$main_pid"
check "the shutdown event is in the event log" logged "(Event ID: 0x102)"
check "the server's console shows the whole shutdown" \
  contains "$(inside journalctl --no-pager -o cat -u Kestrova.service)" "The Server is shutdown is complete."

# ---- -start without parameters: the earlier ones are not used again ----
# The debug file goes; were the earlier parameters used again, the server would make it anew.
rm -f "$debug_file"
out=$(inside "$tree/server" -start 2>&1)
check "-start without parameters starts the service" contains "$out" "Kestrova started."
check "the earlier parameters were not used again (no debug file)" test ! -e "$debug_file"

# ---- -remove while it runs ----
out=$(inside "$tree/server" -remove 2>&1)
check "-remove stops the running service first" contains "$out" "Kestrova stopped."
check "-remove says Kestrova removed." contains "$out" "Kestrova removed."
check "the unit file is gone" inside test ! -e /etc/systemd/system/Kestrova.service
check "systemd no longer knows the unit" [ "$(unit_property Kestrova LoadState)" = not-found ]
check "nothing is left enabled" [ -z "$(inside find /etc/systemd/system -name Kestrova.service)" ]
out=$(inside "$tree/server" -stop 2>&1)
check "-stop of a removed service is refused: $out" contains "$out" "OpenService failed - No such file or directory"

# ---- A service of another name ----
out=$(inside "$tree/server" -install -name Store2 2>&1)
check "-install -name Store2 says Store2 installed." contains "$out" "Store2 installed."
out=$(inside "$tree/server" -start -name Store2 2>&1)
check "-start -name Store2 says Store2 started." contains "$out" "Store2 started."
check "Store2.service is active and ready" [ "$(unit_property Store2 ActiveState)/$(unit_property Store2 StatusText)" = active/Running ]
out=$(inside "$tree/server" -remove -name Store2 2>&1)
check "-remove -name Store2 stops and removes it: $out" starts_and_ends "$out" "Stopping Store2." $'\nStore2 removed.' 

echo "$failures failed"
[ "$failures" -eq 0 ]
