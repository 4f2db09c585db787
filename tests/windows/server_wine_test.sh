#!/bin/bash
# server.exe under Wine: the console mode (-debug) starts, opens its Winsock listen socket and
# stops cleanly on Ctrl+C; the service commands install, start, stop and remove the service
# through Wine's service manager, and the service's server really runs (it makes its working
# folders beside the program); wrong commands and names are refused with the usage or an error.
# Usage: server_wine_test.sh BUILD_DIR SOURCE_DIR   (WINEPREFIX and WINEDEBUG set by CTest)
set -u
build=$1
source=$2
wine=${KESTROVA_WINE:-wine64}
. "$(dirname "$0")/wine_test_helpers.sh"

work=$(mktemp -d "$build/server-wine-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -r "$source/data/db" "$work/db"
cp "$build/bin/server.exe" "$work/"
# A port of its own, so that no other server on this host meets this one.
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("", 0)); print(s.getsockname()[1])')
sed -i "s/^MulticastPort = .*/MulticastPort = $port/" "$work/db/IP.db"
cd "$work" || exit 1
# A name of its own, so that a service left by another run never answers for this one.
service="KestrovaWineTest$$"

# --- console mode ---
"$wine" server.exe -debug -name "$service" > debug.txt 2>&1 &
pid=$!
if waitFor 'grep -q "Loading Modules Complete" debug.txt && grep -q "bind port   = $port" debug.txt' 120; then
  sleep 1  # let the network start finish before the interrupt
  kill -INT "$pid"
  if waitFor '! kill -0 $pid 2>/dev/null' 60; then
    wait "$pid"
    status=$?
    [ "$status" -eq 0 ] || fail "-debug ended with status $status"
  else
    kill -KILL "$pid"
    fail "-debug did not stop on Ctrl+C"
  fi
  expect debug.txt "Debugging $service."
  expect debug.txt "Stopping $service."
  expect debug.txt "SIGINT (CTLR+C)"
  expect debug.txt "The Server is shutdown is complete."
  [ -d Information ] && [ -d temp ] || fail "-debug made no working folders"
else
  kill -KILL "$pid" 2>/dev/null
  fail "-debug did not start with its listen socket on port $port:"$'\n'"$(cat debug.txt)"
fi
rm -rf Information temp

# --- bad input ---
"$wine" server.exe -bogus > usage.txt 2>&1
expect usage.txt "-install [-name ServiceName]          to install the service"
"$wine" server.exe -stop -name "$service" > stop-missing.txt 2>&1
expect stop-missing.txt "OpenService failed - "
"$wine" server.exe -install -name "bad/name" > badname.txt 2>&1
expect badname.txt "to run in console for debugging"
grep -q "installed" badname.txt && fail "a bad service name was installed"

# --- service commands ---
"$wine" server.exe -install -name "$service" > install.txt 2>&1
expect install.txt "$service installed."
"$wine" server.exe -install -name "$service" > install-again.txt 2>&1
expect install-again.txt "CreateService failed - "
"$wine" server.exe -start -name "$service" > start.txt 2>&1
expect start.txt "$service started."
waitFor '[ -d Information ] && [ -d temp ]' 60 || fail "the service's server made no working folders"
"$wine" server.exe -stop -name "$service" > stop.txt 2>&1
expect stop.txt "$service stopped."
"$wine" server.exe -remove -name "$service" > remove.txt 2>&1
expect remove.txt "$service removed."
"$wine" server.exe -start -name "$service" > start-removed.txt 2>&1
expect start-removed.txt "OpenService failed - "

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "server.exe under Wine: all checks passed"
