#!/bin/bash
# server.exe with mods\Brivo\Brivo.dll under Wine against a native raidsim over TCP: the server
# loads the module with LoadLibraryEx, scans the simulator named by KESTROVA_SCSI_SIM, lists the
# demo's controllers as its devices, the module takes both controller pairs (its bookkeeping file
# names each pair by its configuration WWN after the shutdown), its start-up event reaches the
# event log, and Ctrl+C stops module and server cleanly. A simulator that is not there leaves the
# server running without devices.
# Usage: brivo_wine_test.sh BUILD_DIR SOURCE_DIR RAIDSIM   (WINEPREFIX and WINEDEBUG set by CTest)
# RAIDSIM is the Linux raidsim of a native build; without it the test is skipped (exit 77).
set -u
build=$1
source=$2
raidsim=$3
wine=${KESTROVA_WINE:-wine64}
. "$(dirname "$0")/wine_test_helpers.sh"
if [ ! -x "$raidsim" ]; then
  echo "SKIPPED: no native raidsim at $raidsim (build the default preset first)"
  exit 77
fi

work=$(mktemp -d "$build/brivo-wine-XXXXXX")
simPid=
serverPid=
cleanup() {
  [ -n "$serverPid" ] && kill -KILL "$serverPid" 2>/dev/null
  [ -n "$simPid" ] && kill "$simPid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cp -r "$source/data/db" "$work/db"
cp "$build/bin/server.exe" "$work/"
mkdir -p "$work/mods"
cp -r "$build/mods/Brivo" "$work/mods/Brivo"
rm -f "$work"/mods/Brivo/*.a
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("", 0)); print(s.getsockname()[1])')
sed -i "s/^MulticastPort = .*/MulticastPort = $port/" "$work/db/IP.db"
cd "$work" || exit 1

# Runs server.exe -debug with the simulator address $1 until its scan is over, then Ctrl+C.
# Output in $2. Returns 1 when the server did not scan or did not stop.
runServer() {
  KESTROVA_SCSI_SIM=$1 "$wine" server.exe -debug -name "KestrovaBrivoWine$$" > "$2" 2>&1 &
  serverPid=$!
  if ! waitFor "grep -q 'Scan System thread terminated' '$2'" 180; then
    fail "no scan with KESTROVA_SCSI_SIM=$1:"$'\n'"$(cat "$2")"
    return 1
  fi
  # The module's monitor reads both pairs once before the interrupt.
  waitFor "grep -q 'UPDATE GLOBAL STATUS, setting' '$2'" 60
  kill -INT "$serverPid"
  if ! waitFor "! kill -0 $serverPid 2>/dev/null" 90; then
    fail "did not stop on Ctrl+C:"$'\n'"$(tail -c 3000 "$2")"
    kill -KILL "$serverPid"
    serverPid=
    return 1
  fi
  wait "$serverPid"
  local status=$?
  serverPid=
  [ "$status" -eq 0 ] || fail "-debug ended with status $status"
  expect "$2" "The Server is shutdown is complete."
}

# --- the demo's two pairs over TCP ---
"$raidsim" --tcp 127.0.0.1:0 --config "$source/sim/examples/demo.conf" > sim.txt 2>&1 &
simPid=$!
waitFor "grep -q 'listening on tcp:' sim.txt" 30 || { fail "raidsim did not listen: $(cat sim.txt)"; exit 1; }
address=$(grep -o 'tcp:127\.0\.0\.1:[0-9]*' sim.txt | head -1)

if runServer "$address" debug.txt; then
  expect debug.txt "+ Module Brivo      ena=1 ord=1 name=RAID lib="
  expect debug.txt "Loading Modules Complete."
  # Pair alpha's two controllers (claimed, by their own names), pair beta's on the same adapter.
  expect debug.txt "---------------- Device Name : sim:$address:0:0:0:0"
  expect debug.txt "---------------- Device Name : sim:$address:0:0:1:0"
  expect debug.txt "Product ID     : BRIVO R5-2400"
  expect debug.txt "Product ID     : BRIVO R6-4800"
  [ "$(grep -c '^\*\*  ADDING DEVICE' debug.txt)" -eq 4 ] || fail "expected 4 devices:"$'\n'"$(grep 'ADDING DEVICE' debug.txt)"
  for step in "The Brivo module is shutting down." "Brivo module shutdown:                  Done" \
              "Closing libraries:                      Done"; do
    expect debug.txt "$step"
  done
  for wwn in 20000004CF8A1B2C 20000004CF8A9F10; do
    expect mods/Brivo/BrivoConfigurations.db "Brivo${wwn}LastAEventCount"
    expect mods/Brivo/BrivoConfigurations.db "Brivo${wwn}LastBEventCount"
  done
  expect db/ServerLog.log "The Brivo RAID module has started."
fi
kill "$simPid" 2>/dev/null
wait "$simPid" 2>/dev/null
simPid=

# --- a simulator that is not there: no devices, the server still runs and stops ---
rm -f mods/Brivo/BrivoConfigurations.db
absent=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
if runServer "tcp:127.0.0.1:$absent" absent.txt; then
  grep -q '^\*\*  ADDING DEVICE' absent.txt && fail "devices from an absent simulator:"$'\n'"$(cat absent.txt)"
  expect absent.txt "+ Module Brivo      ena=1 ord=1 name=RAID lib="
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "server.exe with Brivo.dll under Wine: all checks passed"
