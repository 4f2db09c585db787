#!/bin/bash
# The NSIS installer under Wine: built with CPack, it installs silently into a folder of its own,
# keeps a setting that is already there and copies the others, registers and starts the service
# (whose server really runs) and registers the event log's message file; installing again over it
# (an upgrade) leaves one running service and the settings; the uninstaller stops and removes the
# service, the event source, the programs, pages and working folders, and leaves the settings and
# the event log.
# Usage: installer_wine_test.sh BUILD_DIR SOURCE_DIR   (WINEPREFIX and WINEDEBUG set by CTest)
set -u
build=$1
source=$2
wine=${KESTROVA_WINE:-wine64}
service=Kestrova
source "$(dirname "$0")/wine_test_helpers.sh"
serviceState() { "$wine" sc query "$service" 2>/dev/null | tr -d '\r'; }
# The event source's registration (the message file of the event log's "oslog" channel). reg
# prints its "not found" on standard output: only its exit status tells.
eventSourceKey='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Kestrova'
eventSource() { "$wine" reg query "$eventSourceKey" 2>/dev/null | tr -d '\r'; }
eventSourceRegistered() { "$wine" reg query "$eventSourceKey" >/dev/null 2>&1; }

work=$(mktemp -d "$build/installer-wine-XXXXXX")
cleanup() {
  # A failed run must not leave its service to the next one.
  if serviceState | grep -q "SERVICE_NAME"; then
    "$wine" sc stop "$service" >/dev/null 2>&1
    "$wine" sc delete "$service" >/dev/null 2>&1
  fi
  rm -rf "$work"
}
trap cleanup EXIT
if serviceState | grep -q "SERVICE_NAME"; then
  echo "FAIL: a service named $service is already in this Wine prefix"
  exit 1
fi

# --- the installer ---
echo "[$SECONDS s] building the installer"
# Compressed with zlib rather than the package's lzma: a third of the CPU time, the same installer
# otherwise (the compressor line also carries the installer's target, cmake/KestrovaWindowsInstall.cmake).
compressor="zlib"$'\n'"  Target amd64-unicode"
if ! "${KESTROVA_CPACK:-cpack}" -G NSIS --config "$build/CPackConfig.cmake" -B "$work/package" \
     -D "CPACK_NSIS_COMPRESSOR=$compressor" > "$work/cpack.txt" 2>&1; then
  echo "FAIL: cpack could not build the installer:"; cat "$work/cpack.txt"; exit 1
fi
installer=$(ls "$work"/package/Kestrova-*-win64.exe 2>/dev/null | head -n 1)
[ -n "$installer" ] || { echo "FAIL: no installer in $work/package"; ls "$work/package"; exit 1; }

# The installed tree, with one setting already there: a port of its own, so that the service's
# server meets no other server on this host, and proof that the installer keeps what it finds.
tree="$work/Kestrova"
mkdir -p "$tree/db"
port=$(freeUdpPort)
sed "s/^MulticastPort = .*/MulticastPort = $port/" "$source/data/db/IP.db" > "$tree/db/IP.db"
cp "$tree/db/IP.db" "$work/IP.db.before"
target=$("$wine" winepath -w "$tree" 2>/dev/null | tr -d '\r')

installOnce() {  # installOnce LABEL
  "$wine" "$installer" /S "/D=$target" > "$work/install-$1.txt" 2>&1
  local status=$?
  [ "$status" -eq 0 ] || fail "$1: the installer ended with status $status"
  waitFor 'serviceState | grep -q "RUNNING"' 60 || fail "$1: the service is not running:"$'\n'"$(serviceState)"
}

echo "[$SECONDS s] installing"
installOnce first
for file in server.exe qcli.exe Uninstall.exe www/cgi-bin/cgiloader.exe www/index.html html/Brivo \
            db/strings.db db/password.web mods/Brivo/BrivoSettings.ini defaults/db/IP.db; do
  [ -e "$tree/$file" ] || fail "not installed: $file"
done
if [ -e "$build/mods/Brivo/Brivo.dll" ]; then
  [ -e "$tree/mods/Brivo/Brivo.dll" ] || fail "not installed: mods/Brivo/Brivo.dll"
fi
if [ -e "$build/bin/baylink.dll" ]; then
  [ -e "$tree/baylink.dll" ] || fail "not installed: baylink.dll"
fi
if [ -e "$build/bin/db/MessageFile.dll" ]; then
  [ -e "$tree/db/MessageFile.dll" ] || fail "not installed: db/MessageFile.dll"
  eventSource | grep -q 'EventMessageFile.*\\db\\MessageFile.dll' ||
    fail "the event log's message file is not registered:"$'\n'"$(eventSource)"
fi
cmp -s "$tree/db/IP.db" "$work/IP.db.before" || fail "the setting already there was replaced"
cmp -s "$tree/db/server.ini" "$source/data/db/server.ini" || fail "the missing setting was not copied"
# The service's server runs from the installed tree: it writes its event log there.
waitFor '[ -s "$tree/db/ServerLog.log" ]' 60 || fail "the service's server wrote no event log"

# --- again over it, as an upgrade: the old one is uninstalled first, the settings stay ---
echo "changed by the administrator" >> "$tree/db/server.ini"
cp "$tree/db/server.ini" "$work/server.ini.before"
echo "[$SECONDS s] installing again"
installOnce upgrade
cmp -s "$tree/db/server.ini" "$work/server.ini.before" || fail "the upgrade replaced a setting"
[ "$(serviceState | grep -c "SERVICE_NAME")" -eq 1 ] || fail "not exactly one service after the upgrade"

# --- the uninstaller (it copies itself away and returns at once: wait for its work) ---
echo "[$SECONDS s] uninstalling"
"$wine" "$target\\Uninstall.exe" /S > "$work/uninstall.txt" 2>&1
waitFor '[ ! -e "$tree/Uninstall.exe" ] && [ ! -e "$tree/server.exe" ]' 120 || fail "the uninstaller left its programs"
waitFor '! serviceState | grep -q "SERVICE_NAME"' 60 || fail "the service is still registered:"$'\n'"$(serviceState)"
eventSourceRegistered && fail "the event source is still registered:"$'\n'"$(eventSource)"
for file in qcli.exe baylink.dll db/MessageFile.dll www html temp Information defaults doc; do
  [ -e "$tree/$file" ] && fail "not removed: $file"
done
for file in db/IP.db db/server.ini db/password.web db/ServerLog.log mods/Brivo/BrivoSettings.ini; do
  [ -e "$tree/$file" ] || fail "the uninstaller removed the administrator's $file"
done

echo "[$SECONDS s] done"
if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "installer: installed, upgraded and removed with its service"
