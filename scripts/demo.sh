#!/usr/bin/env bash
# The product demo: installs what is missing, builds the programs, installs them into an instance
# folder (./instance; a second run reuses it and keeps its settings) and runs the simulated storage
# (raidsim: two controller pairs in service), the server and the web front end on 127.0.0.1:9292.
# Writes ./qcliConfig.db so that the qcli commands it prints work from this folder. Ctrl+C stops
# everything.
#
# Usage: scripts/demo.sh [instance folder] [server debug options...]
# Environment:
#   KESTROVA_DEMO_BUILD=DIR  use the programs already built in DIR (no bootstrap, configure or build)
#   KESTROVA_DEMO_PORT=PORT  the front end's port (default 9292)
#   KESTROVA_DEMO_CONFIG=F   the simulator's configuration for a new instance (default
#                            sim/examples/demo.conf)
#   KESTROVA_DEMO_TLS=1      the front end speaks HTTPS with a self-signed certificate made for the
#                            instance (instance/tls/cert.pem), and qcli's settings trust it
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
here=$PWD
instance=${1:-$here/instance}
shift || true
port=${KESTROVA_DEMO_PORT:-9292}
address=127.0.0.1
tls=${KESTROVA_DEMO_TLS:-0}
scheme=http
[ "$tls" = 1 ] && scheme=https
url="$scheme://$address:$port"
login=admin:pinecone

say() { printf '%s\n' "$*"; }
fail() {
  printf 'demo: %s\n' "$*" >&2
  exit 1
}

# ---- Build ----
if [ -n "${KESTROVA_DEMO_BUILD:-}" ]; then
  build=$(cd "$KESTROVA_DEMO_BUILD" && pwd)
  [ -x "$build/bin/server" ] && [ -x "$build/bin/raidsim" ] || fail "no built programs in $build"
else
  bash "$repo/scripts/bootstrap.sh"
  say "Building Kestrova (release build in $repo/build-release)..."
  (cd "$repo" && cmake --preset release >/dev/null)
  (cd "$repo" && cmake --build --preset release -j "$(nproc)" --target server qcli cgiloader Brivo baylink raidsim)
  build=$repo/build-release
fi

command -v curl >/dev/null || fail "curl is needed to see when the server is ready (scripts/bootstrap.sh installs it)"

# ---- Instance folder ----
mkdir -p "$instance"
instance=$(cd "$instance" && pwd)
if [ -x "$instance/server" ] && [ -d "$instance/db" ]; then
  # Reused: new programs and pages, the settings and the simulated pairs' state stay.
  cmake --install "$build" --prefix "$instance" --component Runtime >/dev/null
  say "Instance $instance updated (settings kept)."
else
  cmake --install "$build" --prefix "$instance" >/dev/null
  say "Instance installed in $instance."
fi
mkdir -p "$instance/logs" "$instance/sim"
config=$instance/sim/raidsim.conf
[ -f "$config" ] || cp "${KESTROVA_DEMO_CONFIG:-$repo/sim/examples/demo.conf}" "$config"

# The pairs of the simulator's configuration, in order: "name wwn" lines.
pairs=$(awk '/^\[pair /{name=$2; sub(/\]$/, "", name)} /^wwn[ \t]*=/{if (name != "") {print name, toupper($3); name=""}}' "$config")
[ -n "$pairs" ] || fail "$config names no controller pair with a wwn"
pair_count=$(printf '%s\n' "$pairs" | wc -l)

# ---- HTTPS (KESTROVA_DEMO_TLS=1) ----
certificate=$instance/tls/cert.pem
tls_options=()
curl_options=()
if [ "$tls" = 1 ]; then
  command -v openssl >/dev/null || fail "openssl is needed for HTTPS (scripts/bootstrap.sh installs it)"
  mkdir -p "$instance/tls"
  if [ ! -s "$certificate" ] || [ ! -s "$instance/tls/key.pem" ]; then
    (umask 077 && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 825 \
      -subj "/CN=Kestrova demo" -addext "subjectAltName=IP:$address" \
      -keyout "$instance/tls/key.pem" -out "$certificate" >"$instance/logs/openssl.log" 2>&1) ||
      fail "openssl could not make the demo's certificate (log: $instance/logs/openssl.log)"
  fi
  tls_options=(--tls-cert "$certificate" --tls-key "$instance/tls/key.pem")
  curl_options=(--cacert "$certificate")
fi

# ---- qcli settings ----
marker="# qcli settings of the Kestrova demo (scripts/demo.sh)"
write_qcli_config() {
  {
    say "$marker"
    say "# Device 1 is used unless --num selects another."
    say "DefaultIp = $address"
    say "DefaultPort = $port"
    say "DefaultUser = ${login%%:*}"
    say "DefaultPassword = ${login#*:}"
    say "DefaultType = Brivo"
    say "DefaultNum = 1"
    if [ "$tls" = 1 ]; then
      say "DefaultTls = yes"
      say "DefaultCaFile = $certificate"
    fi
    local n=0 name wwn
    while read -r name wwn; do
      n=$((n + 1))
      say "Device${n}Name = $name"
      say "Device${n}Wwn = $wwn"
    done <<<"$pairs"
  } >"$1"
}
write_qcli_config "$instance/qcliConfig.db"
qcli_prefix=$instance/qcli
[ "${instance#"$here"/}" != "$instance" ] && qcli_prefix=./${instance#"$here"/}/qcli
if [ ! -e "$here/qcliConfig.db" ] || [ "$(head -n 1 "$here/qcliConfig.db")" = "$marker" ]; then
  write_qcli_config "$here/qcliConfig.db"
  qcli_command=$qcli_prefix
else
  say "Your own $here/qcliConfig.db is kept; the commands below name the demo's settings file."
  qcli_command="$qcli_prefix --cfgfile $instance/qcliConfig.db"
fi

# ---- Processes ----
export KESTROVA_NET_ADDRESSES=${KESTROVA_NET_ADDRESSES:-127.0.0.1}  # check-ins stay on this host
export KESTROVA_SHM_PREFIX=${KESTROVA_SHM_PREFIX:-kestrova-demo.}   # apart from an installed server
runtime=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-demo.XXXXXX")
socket=$runtime/raidsim.sock
names=()
pids=()
stopping=0
force=0

# Each program runs in a session of its own: Ctrl+C reaches this script only, which stops them in
# order (front end, server, then the simulator the server still talks to while it shuts down).
start() {
  local name=$1
  shift
  setsid "$@" >"$instance/logs/$name.log" 2>&1 &
  names+=("$name")
  pids+=($!)
}

pid_of() {
  local i
  for i in "${!names[@]}"; do [ "${names[$i]}" = "$1" ] && printf '%s' "${pids[$i]}"; done
}

running() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }

# Stops one program by its pid and waits for it (up to the given seconds, or until a second
# Ctrl+C asks for force).
stop_one() {
  local pid=$1 seconds=$2 waited=0
  running "$pid" || return 0
  kill -TERM "$pid" 2>/dev/null || true
  while running "$pid" && [ "$waited" -lt $((seconds * 10)) ] && [ "$force" -eq 0 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  running "$pid" && kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

stop_all() {
  trap 'force=1' INT TERM HUP
  stop_one "$(pid_of cgiloader)" 10
  stop_one "$(pid_of server)" 60
  stop_one "$(pid_of raidsim)" 10
  rm -rf "$runtime"
}

cleanup() {
  local status=$?
  [ "$stopping" -eq 1 ] && return
  stopping=1
  stop_all
  exit "$status"
}
trap cleanup EXIT
trap 'stopping=2' INT TERM HUP

log_tail() { tail -n 5 "$instance/logs/$1.log" | sed 's/^/    /' >&2; }

start raidsim "$build/bin/raidsim" --socket "$socket" --config "$config" --state "$instance/sim/state.txt"
for _ in $(seq 50); do
  if [ -S "$socket" ] || ! running "$(pid_of raidsim)"; then break; fi
  sleep 0.1
done
[ -S "$socket" ] || {
  log_tail raidsim
  fail "the simulator did not start (log: $instance/logs/raidsim.log)"
}
(cd "$instance" && KESTROVA_SCSI_SIM=$socket exec setsid ./server -debug "$@" >"$instance/logs/server.log" 2>&1) &
names+=(server)
pids+=($!)
start cgiloader "$instance/www/cgi-bin/cgiloader" --listen "$address:$port" --root "$instance" "${tls_options[@]}"

# Ready when the front end answers with the server's metrics and the server has found every pair.
ready=0
for _ in $(seq 900); do
  [ "$stopping" -eq 2 ] && break
  for name in "${names[@]}"; do
    running "$(pid_of "$name")" && continue
    log_tail "$name"
    fail "$name stopped while starting (log: $instance/logs/$name.log)"
  done
  found=$(curl -s "${curl_options[@]}" -u "$login" "$url/metrics" 2>/dev/null | grep -c '^kestrova_pair_solution_status{' || true)
  if [ "${found:-0}" -ge "$pair_count" ]; then
    ready=1
    break
  fi
  sleep 0.1
done
if [ "$ready" -eq 0 ]; then
  [ "$stopping" -eq 2 ] && exit 0
  fail "the server did not find the simulated pairs within 90 s (logs in $instance/logs)"
fi

say ""
say "Kestrova is running."
say ""
say "  Web interface:  $url/"
say "  Login:          ${login%%:*} / ${login#*:}"
if [ "$tls" = 1 ]; then
  say "  Certificate:    $certificate (self-signed: the browser asks to accept it)"
fi
say ""
say "  Try the command-line client ($pair_count controller pairs; add --num 2 for the second one):"
say "    $qcli_command array display"
say "    $qcli_command drive display"
say "    $qcli_command controller display"
say ""
say "  Metrics for Prometheus: $url/metrics (same login)"
say "  Logs: $instance/logs/"
say "  Stop with Ctrl+C."

# Until Ctrl+C or until one of the programs ends by itself.
while [ "$stopping" -eq 0 ]; do
  wait -n "${pids[@]}" 2>/dev/null || true
  [ "$stopping" -ne 0 ] && break
  for name in "${names[@]}"; do
    running "$(pid_of "$name")" && continue
    log_tail "$name"
    fail "$name stopped by itself (log: $instance/logs/$name.log)"
  done
done
say ""
say "Stopping..."
stopping=1
stop_all
say "Stopped."
