#!/bin/bash
# The Windows system under Wine, end to end: server.exe -debug with mods\Brivo\Brivo.dll scans a
# native raidsim over TCP (the demo's two pairs), cgiloader.exe serves HTTP in front of it over the
# shared-memory link, and both the native qcli and qcli.exe display the arrays through it. A drive
# failure injected into the simulator reaches the event log and both clients. Hostile requests: a
# wrong password, a foreign Host header, HTTPS asked of a build without TLS. Ctrl+C stops
# cgiloader.exe and server.exe cleanly.
# Usage: system_wine_test.sh BUILD_DIR SOURCE_DIR NATIVE_BIN   (WINEPREFIX and WINEDEBUG set by CTest)
# NATIVE_BIN holds raidsim and qcli of a native build; without them the test is skipped (exit 77).
set -u
build=$1
source=$2
native=$3
wine=${KESTROVA_WINE:-wine64}
source "$(dirname "$0")/wine_test_helpers.sh"
if [ ! -x "$native/raidsim" ] || [ ! -x "$native/qcli" ]; then
  echo "SKIPPED: no native raidsim and qcli in $native (build the default preset first)"
  exit 77
fi

work=$(mktemp -d "$build/system-wine-XXXXXX")
simPid=
serverPid=
loaderPid=
cleanup() {
  [ -n "$loaderPid" ] && kill -KILL "$loaderPid" 2>/dev/null
  [ -n "$serverPid" ] && kill -KILL "$serverPid" 2>/dev/null
  [ -n "$simPid" ] && kill "$simPid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The installed tree, as the installer lays it out.
cp -r "$source/data/db" "$work/db"
cp -r "$source/www" "$work/www"
cp -r "$source/html" "$work/html"
mkdir -p "$work/mods" "$work/temp" "$work/www/cgi-bin" "$work/client"
cp -r "$build/mods/Brivo" "$work/mods/Brivo"
rm -f "$work"/mods/Brivo/*.a
cp -r "$source/data/mods/Brivo/." "$work/mods/Brivo/"
cp "$build/bin/server.exe" "$work/"
cp "$build/bin/cgiloader.exe" "$work/www/cgi-bin/"
cp "$build/bin/qcli.exe" "$work/client/"
# A port of its own, and shared-memory names of its own: no other server or test meets this one.
port=$(freeUdpPort)
sed -i "s/^MulticastPort = .*/MulticastPort = $port/" "$work/db/IP.db"
export KESTROVA_SHM_PREFIX="kestrova.system-wine.$$."
export KESTROVA_BRIVO_READY_POLL_SECONDS=0
cd "$work" || exit 1

# --- the simulator, the server, the front end ---
"$native/raidsim" --tcp 127.0.0.1:0 --config "$source/sim/examples/demo.conf" > sim.txt 2>&1 &
simPid=$!
waitFor "grep -qs 'listening on tcp:' sim.txt" 30 || { echo "FAIL: raidsim did not listen: $(cat sim.txt)"; exit 1; }
address=$(grep -o 'tcp:127\.0\.0\.1:[0-9]*' sim.txt | head -n 1)

KESTROVA_SCSI_SIM=$address "$wine" server.exe -debug -name "KestrovaSystemWine$$" > server.txt 2>&1 &
serverPid=$!
waitFor "grep -qs 'Scan System thread terminated' server.txt" 180 ||
  { echo "FAIL: server.exe did not scan:"; cat server.txt; exit 1; }

# HTTPS cannot be served by this build: refused at start, never plain HTTP instead.
"$wine" www/cgi-bin/cgiloader.exe --listen 127.0.0.1:0 --tls-cert db/none.pem --tls-key db/none.key \
  > tls.txt 2>&1 < /dev/null
status=$?
[ "$status" -eq 1 ] || fail "cgiloader.exe --tls-cert ended with status $status"
expect tls.txt "cgiloader: --tls-cert: TLS is not available in this build"
grep -q "serving" tls.txt && fail "cgiloader.exe served without the TLS it was asked for"

"$wine" www/cgi-bin/cgiloader.exe --listen 127.0.0.1:0 > loader.txt 2>&1 &
loaderPid=$!
waitFor "grep -qs 'on http://127.0.0.1:[0-9]*/' loader.txt" 120 ||
  { echo "FAIL: cgiloader.exe did not serve:"; cat loader.txt; exit 1; }
webPort=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' loader.txt | head -n 1 | grep -o '[0-9]*/$' | tr -d /)

cat > client/qcliConfig.db <<EOF
# the Wine system test's client settings
DefaultIp = 127.0.0.1
DefaultPort = $webPort
DefaultUser = admin
DefaultPassword = "pinecone"
DefaultType = Brivo
DefaultNum = 1
Device1Name = alpha
Device1Wwn = 20000004CF8A1B2C
Device2Name = beta
Device2Wwn = 20000004CF8A9F10
EOF
nativeQcli() { (cd client && timeout 120 "$native/qcli" "$@" < /dev/null 2>&1); }
windowsQcli() { (cd client && timeout 120 "$wine" qcli.exe "$@" < /dev/null 2>&1 | tr -d '\r'); }

# The module reads the pairs shortly after the scan: both clients answer once it has.
waitFor 'nativeQcli array display > arrays.txt; grep -q -- "--- Array Total=" arrays.txt' 120 ||
  fail "the native qcli got no arrays:"$'\n'"$(cat arrays.txt)"
expect arrays.txt "finance"
expect arrays.txt "mail"
windowsQcli array display > arrays-exe.txt
expect arrays-exe.txt "--- Array Total="
expect arrays-exe.txt "finance"
cmp -s arrays.txt arrays-exe.txt || fail "qcli and qcli.exe tell the arrays differently:"$'\n'"$(diff arrays.txt arrays-exe.txt)"
windowsQcli --num 2 drive display > drives-beta.txt
expect drives-beta.txt "--- Drive Total=16 ---"

# --- hostile requests ---
windowsQcli --pass wrong array display > refused.txt
grep -q -- "--- Array Total=" refused.txt && fail "a wrong password was let in:"$'\n'"$(cat refused.txt)"
code=$(curl -s -o /dev/null -w '%{http_code}' -u admin:pinecone -H 'Host: rebinding.example' \
       "http://127.0.0.1:$webPort/cgi-bin/cgiloader.cgi?module=server&method=LoadIndex")
[ "$code" = 403 ] || fail "a foreign Host header got $code, not 403"
code=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$webPort/../db/password.web" --path-as-is)
[ "$code" = 200 ] && fail "the password file was served over HTTP"

# --- a drive fails ---
"$native/raidsim" ctl "$address" fail drive alpha 3 > fail.txt 2>&1 || fail "raidsim ctl fail drive: $(cat fail.txt)"
waitFor 'grep -a "drive ID 3 in slot 3 (WWN " db/ServerLog.log | grep -q ") failed."' 120 ||
  fail "the failed drive is not in the event log:"$'\n'"$(tail -n 20 db/ServerLog.log)"
waitFor 'windowsQcli drive display -failed > failed-exe.txt; grep -q "Failed" failed-exe.txt' 60 ||
  fail "qcli.exe does not show the failed drive:"$'\n'"$(cat failed-exe.txt)"
nativeQcli drive display -failed > failed.txt
expect failed.txt "Failed"

# --- Ctrl+C stops both Windows programs ---
stopProgram() {  # stopProgram PID NAME OUTPUT
  kill -INT "$1"
  if waitFor "! kill -0 $1 2>/dev/null" 90; then
    wait "$1"
    local status=$?
    [ "$status" -eq 0 ] || fail "$2 ended with status $status:"$'\n'"$(tail -n 20 "$3")"
  else
    kill -KILL "$1"
    fail "$2 did not stop on Ctrl+C"
  fi
}
stopProgram "$loaderPid" cgiloader.exe loader.txt
loaderPid=
expect loader.txt "stopping"
stopProgram "$serverPid" server.exe server.txt
serverPid=
expect server.txt "The Server is shutdown is complete."

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "the system under Wine: all checks passed"
